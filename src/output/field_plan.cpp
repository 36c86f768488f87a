#include "output/field_plan.h"

#include <cstring>

#include "common/inlining.h"
#include "db/oracle_types.h"
#include "output/oracle_values.h"

namespace rowflume {

namespace {

// Room planned for the bytes around a value: a pair of short quotes, "unhex(" and ")", the
// padding of a fixed field. Only a flush decision rests on it: every append still checks the
// room it needs, so longer quotes or number texts merely take the path that flushes on the way.
constexpr int kFieldAffixRoom = 62;

// Packs up to eight bytes, given in pieces, into a word that one store writes back in order.
struct WordBuilder {
  char bytes[8] = {};
  int length = 0;
  bool fits = true;
  void Add(const char* text, int count) {
    if (length + count > 8) {
      fits = false;
      return;
    }
    std::memcpy(bytes + length, text, static_cast<size_t>(count));
    length += count;
  }
  uint64_t Word() const { return LoadWord(bytes); }
};

}  // namespace

// Whether a value of the column may hold bytes to escape. A value fetched as a long value (a
// LONG, or a LOB fetched inline) is text or bytes like any and is escaped: left unescaped, a quote
// inside a CLOB would end its CSV field early. Only a LOB written to a file of its own (its field
// is the file name) is exempt.
bool MayNeedEscapes(const ColumnDesc* column, bool long_value) {
  return long_value || LookupType(column->described_type).escaped;
}

// Whether escaping the column's values copies double-byte characters whole: only text in a
// double-byte client character set. Bytes of a binary value are never characters, and a byte
// that looks like a lead byte would otherwise shield a quote or backslash after it.
bool KeepsPairs(const FieldEncoder* enc, const ColumnDesc* column) {
  return enc->double_byte && !LookupType(column->described_type).binary;
}

bool TakesStatementForm(const FieldEncoder* enc, const ColumnDesc* column, bool escaped) {
  if (enc->fixed_layout || IsLobLocator(column->define_type)) return false;
  const OracleType& type = LookupType(column->described_type);
  if (enc->format == kMySqlFormat) return type.family == TypeFamily::kTimestampTz;
  if (enc->format != kOracleFormat) return false;
  if (column->define_type == SQLT_DAT || type.binary || type.family == TypeFamily::kDate ||
      type.family == TypeFamily::kTimestamp || type.family == TypeFamily::kTimestampTz) {
    return true;
  }
  const int64_t width = column->define_width > 0 ? column->define_width : 0;
  return column->quotable && (escaped ? 2 : 1) * width > kOraclePieceBytes;
}

int64_t WorstCaseFieldSize(const FieldEncoder& enc, const ColumnDesc* column) {
  // Numbers and dates converted here, and LOB file names, can be wider than what is fetched.
  const int32_t widest =
      column->display_width > column->define_width ? column->display_width : column->define_width;
  return static_cast<int64_t>(widest) + enc.field_length + column->name_length + enc.colsep_length +
         kFieldAffixRoom;
}

namespace {

// The quick paths of the colsep and fixed layouts, for what the general path writes as one
// lead (separator, name, padding, colsep), at most a quote, and the value or NULL text cut and
// padded in a fixed layout. Their room is where the general path neither flushes first (its
// worst case, with every byte escaped) nor on the way (the field, with whole-word slack).
void PlanLayoutField(FieldEncoder* enc, ColumnDesc* column, int position, FieldPlan* plan) {
  const int define_type = column->define_type;
  const bool converted = define_type == SQLT_NUM || define_type == SQLT_DAT;
  if (define_type != SQLT_CHR && !converted) return;
  if (enc->format == kMySqlFormat && column->hex) return;
  if (enc->format == kOracleFormat && LookupType(column->described_type).binary) return;
  // Text is translated in place by the general path; it keeps all of it.
  if (define_type == SQLT_CHR && (plan->flags & kPlanTranslated)) return;

  const int separator = position > 0 && !enc->fixed_layout ? enc->field_length : 0;
  const int name = enc->colsep_length > 0 ? static_cast<int>(column->name_length) : 0;
  const int padding =
      enc->colsep_length > 0 && enc->colsep[0] == ' ' ? enc->longest_name - name : 0;
  const int lead = separator + name + (padding > 0 ? padding : 0) + enc->colsep_length;
  if (lead > 0xFFFF || enc->leads_used + lead > kLeadBytes) return;
  char* p = enc->leads.data() + enc->leads_used;
  std::memcpy(p, enc->field, static_cast<size_t>(separator));
  p += separator;
  std::memcpy(p, column->name, static_cast<size_t>(name));
  p += name;
  if (padding > 0) {
    std::memset(p, ' ', static_cast<size_t>(padding));
    p += padding;
  }
  std::memcpy(p, enc->colsep, static_cast<size_t>(enc->colsep_length));

  const int quote = (plan->flags & kPlanQuoted) && !enc->fixed_layout ? enc->quote_length : 0;
  WordBuilder quotes;
  WordBuilder null_text;
  quotes.Add(enc->quote, quote);
  null_text.Add(enc->null_text, enc->null_length);
  if (!quotes.fits || !null_text.fits) return;
  plan->lead_offset = enc->leads_used;
  plan->lead_length = static_cast<uint16_t>(lead);
  enc->leads_used += lead;
  plan->prefix = quotes.Word();
  plan->prefix_length = static_cast<uint8_t>(quotes.length);
  plan->suffix = plan->prefix;
  plan->suffix_length = plan->prefix_length;
  plan->null_text = null_text.Word();
  plan->null_length = static_cast<uint8_t>(null_text.length);

  const int64_t worst = plan->worst;
  const int64_t width = column->define_width;
  const int64_t escaped = (plan->flags & kPlanEscaped) ? width : 0;
  const int64_t display = column->display_width > 0 ? column->display_width : 0;
  int64_t value;  // the widest value, and what a conversion may write before it is cut
  int64_t null_value;
  if (enc->fixed_layout) {
    plan->kind = kKindFixed;
    value = std::max<int64_t>(display, converted ? kNumberTextBytes : 0);
    null_value = display;
  } else {
    plan->kind = kKindNamed;
    value = 2 * quote + (converted ? kNumberTextBytes : width + escaped);
    null_value = null_text.length;
  }
  plan->room = QuickPathRoom(worst + escaped, lead + value);
  plan->null_room = QuickPathRoom(worst, lead + null_value);
}

}  // namespace

ROWFLUME_NOINLINE void PlanField(FieldEncoder* enc, ColumnDesc* column, int position) {
  FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
  plan = FieldPlan{};
  plan.column = column;
  plan.kind = kKindGeneral;
  plan.worst = WorstCaseFieldSize(*enc, column);
  uint8_t flags = 0;
  if (enc->quote_length > 0 && column->quotable) flags |= kPlanQuoted;
  if (enc->escaping && MayNeedEscapes(column, false)) flags |= kPlanEscaped;
  if (enc->translating && column->quotable) flags |= kPlanTranslated;
  if (KeepsPairs(enc, column)) flags |= kPlanPairs;
  if (enc->escapes.lone_byte >= 0) flags |= kPlanLone;
  plan.flags = flags;

  const int define_type = column->define_type;
  const int64_t width = column->define_width;
  if (TakesStatementForm(enc, column, (flags & kPlanEscaped) != 0)) return;
  if ((enc->fixed_layout || enc->colsep_length > 0) && width > 0) {
    PlanLayoutField(enc, column, position, &plan);
    return;
  }
  if (enc->fixed_layout || enc->colsep_length > 0 || width <= 0) return;
  const bool mysql_hex = enc->format == kMySqlFormat && column->hex;
  if (define_type == SQLT_CHR && !mysql_hex) plan.kind = kKindTextSlow;
  const bool converted = define_type == SQLT_NUM || define_type == SQLT_DAT;
  if (define_type != SQLT_CHR && !converted) return;
  // Translation happens in place, once: EncodeTextField and the general path take care of it.
  if (define_type == SQLT_CHR && (flags & kPlanTranslated)) return;
  if (converted &&
      (mysql_hex || (enc->format == kOracleFormat && LookupType(column->described_type).binary))) {
    return;
  }
  const int separator = position > 0 ? enc->field_length : 0;
  const int quote = (flags & kPlanQuoted) ? enc->quote_length : 0;
  WordBuilder prefix;
  WordBuilder suffix;
  WordBuilder null_text;
  prefix.Add(enc->field, separator);
  if (mysql_hex) prefix.Add(kUnhexOpen, sizeof kUnhexOpen - 1);
  prefix.Add(enc->quote, quote);
  suffix.Add(enc->quote, quote);
  if (mysql_hex) suffix.Add(")", 1);
  null_text.Add(enc->field, separator);
  null_text.Add(enc->null_text, enc->null_length);
  if (!prefix.fits || !suffix.fits || !null_text.fits) return;
  plan.prefix = prefix.Word();
  plan.prefix_length = static_cast<uint8_t>(prefix.length);
  plan.suffix = suffix.Word();
  plan.suffix_length = static_cast<uint8_t>(suffix.length);
  plan.null_text = null_text.Word();
  plan.null_length = static_cast<uint8_t>(null_text.length);

  const int64_t affixes = prefix.length + suffix.length;
  if (define_type == SQLT_CHR && !mysql_hex) {
    // EncodeTextField flushes only when the exact field does not fit, and takes no field larger
    // than the buffer less 8 bytes.
    plan.kind = kKindText;
    plan.room = QuickPathRoom(0, affixes + ((flags & kPlanEscaped) ? 2 : 1) * width);
    plan.null_room = QuickPathRoom(0, null_text.length);
    return;
  }
  // The general path first flushes when the worst case (with the escapes it counts, for a
  // converted value) does not fit; then every append fits. It writes hex digits without a flush
  // on the way only when they fit besides the worst case, too.
  const int64_t worst = plan.worst;
  const int64_t counted = (converted && (flags & kPlanEscaped)) ? width : 0;
  plan.kind = mysql_hex ? kKindHex : kKindConverted;
  plan.room = mysql_hex ? QuickPathRoom(worst + affixes + 2 * width, affixes + 2 * width)
                        : QuickPathRoom(worst + counted, affixes + kNumberTextBytes);
  plan.null_room = QuickPathRoom(worst, null_text.length);
}

uint8_t PlanRowPath(FieldEncoder* enc, ColumnDesc* const* columns, int count) {
  bool general = true;
  for (int position = 0; position < count && position < kMaxColumns; ++position) {
    const FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
    if (plan.column != columns[position]) PlanField(enc, columns[position], position);
    general = general && plan.kind == kKindGeneral;
  }
  if (general) return kRowGeneral;
  return enc->fixed_layout || enc->colsep_length > 0 ? kRowLayout : kRowQuick;
}

}  // namespace rowflume
