#include "output/field_encoding.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/ascii.h"
#include "db/oracle_types.h"

namespace rowflume {

namespace {

constexpr char kUnhexOpen[] = "unhex(";
// Room planned for the bytes around a value: a pair of short quotes, "unhex(" and ")", the
// padding of a fixed field. Only a flush decision rests on it: every append still checks the
// room it needs, so longer quotes or number texts merely take the path that flushes on the way.
constexpr int kFieldAffixRoom = 62;

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

// The two digits of value(b) at 2b, for every b below count: numbers and dates are written two
// digits per step, by one look-up instead of a division and a remainder per digit.
template <size_t count, typename Value>
constexpr std::array<char, 2 * count> TwoDigitTable(Value value) {
  std::array<char, 2 * count> digits{};
  for (size_t b = 0; b < count; ++b) {
    const int pair = value(static_cast<int>(b));
    digits[2 * b] = static_cast<char>('0' + pair / 10);
    digits[2 * b + 1] = static_cast<char>('0' + pair % 10);
  }
  return digits;
}

// "00" to "99".
constexpr auto kDigitPairs = TwoDigitTable<100>([](int k) { return k; });

// Two digits of 0 to 99.
char* PutTwoDigits(char* p, int value) {
  std::memcpy(p, &kDigitPairs[static_cast<size_t>(2 * value)], 2);
  return p + 2;
}

// The two digits of each byte of a DATE's day and month (the byte itself) and of its hour,
// minute and second (the byte less 1), out-of-range bytes taken modulo 100 as they always were.
constexpr auto kDayDigits = TwoDigitTable<256>([](int b) { return b % 100; });
constexpr auto kTimeDigits = TwoDigitTable<256>([](int b) { return b > 0 ? (b - 1) % 100 : 0; });

char* PutDateByte(char* p, const std::array<char, 512>& digits, uint8_t byte, char after) {
  std::memcpy(p, &digits[2 * static_cast<size_t>(byte)], 2);
  p[2] = after;
  return p + 3;
}

// The two digits of each mantissa byte of a NUMBER, positive (the byte is the pair plus 1) and
// negative (101 less the pair), so that a pair costs one look-up; a corrupt byte is clamped
// rather than written as garbage.
constexpr auto kPositiveDigits = TwoDigitTable<256>([](int b) { return std::clamp(b - 1, 0, 99); });
constexpr auto kNegativeDigits =
    TwoDigitTable<256>([](int b) { return std::clamp(101 - b, 0, 99); });

// Counts a fixed-width field cut to width bytes and keeps the first one's column for the run's
// message; returns width. Out of line: the paths that cut pay one comparison for it.
__attribute__((noinline, cold)) int64_t CountCut(FieldEncoder* enc, const ColumnDesc* column,
                                                 int64_t width) {
  if (enc->cut_fields++ == 0) {
    enc->cut_column = column->name;
    enc->cut_width = static_cast<int32_t>(width);
  }
  return width;
}

// Writes the (possibly escaped) value, cut after limit output bytes when limit >= 0. Returns
// the bytes written. Values that do not fit the room left go through a small chunk so that the
// buffer is never overrun. keep_pairs as for CountEscapes, with which escapes was counted.
int64_t EmitValue(FieldEncoder* enc, const char* value, int64_t length, int64_t escapes,
                  int64_t limit, bool keep_pairs) {
  OutputBuffer* out = enc->out;
  int64_t full = length + escapes;
  int64_t take = (limit >= 0 && limit < full) ? limit : full;
  if (escapes == 0) {
    Put(out, value, take);
    return take;
  }
  if (out->fill + full <= out->capacity) {
    int64_t written = CopyEscaped(out->data + out->fill, value, length, enc->escapes, keep_pairs);
    out->fill += static_cast<int>(take);
    // A cut value leaves bytes past the fill length; the buffer keeps spaces there.
    if (written > take)
      std::memset(out->data + out->fill, ' ', static_cast<size_t>(written - take));
    return take;
  }
  const EscapeTable& table = enc->escapes;
  char chunk[4096];
  int used = 0;
  int64_t produced = 0;
  int64_t i = 0;
  while (i < length && produced < take) {
    uint8_t b = static_cast<uint8_t>(value[i]);
    char two[2] = {0, 0};
    int k;
    if (keep_pairs && i + 1 < length && IsDoubleBytePair(b, static_cast<uint8_t>(value[i + 1]))) {
      two[0] = value[i];
      two[1] = value[i + 1];
      k = 2;
      i += 2;
    } else if (table.escaped[b]) {
      two[0] = table.escape;
      two[1] = static_cast<char>(table.replacement[b]);
      k = 2;
      ++i;
    } else {
      two[0] = value[i];
      k = 1;
      ++i;
    }
    if (produced + k > take) k = static_cast<int>(take - produced);
    for (int j = 0; j < k; ++j) chunk[used++] = two[j];
    produced += k;
    if (used > static_cast<int>(sizeof chunk) - 2) {
      Put(out, chunk, used);
      used = 0;
    }
  }
  Put(out, chunk, used);
  return produced;
}

// Two lower-case hex digits per byte, high nibble first. Values that cannot fit the room left
// check the buffer before every byte.
void EmitHex(OutputBuffer* out, const char* value, int64_t length, int64_t worst_case) {
  if (out->fill + 2 * length + worst_case < out->capacity) {
    char* p = out->data + out->fill;
    for (int64_t i = 0; i < length; ++i) {
      uint8_t b = static_cast<uint8_t>(value[i]);
      p[0] = kLowerHexDigits[b >> 4];
      p[1] = kLowerHexDigits[b & 15];
      p += 2;
    }
    out->fill += static_cast<int>(2 * length);
    return;
  }
  for (int64_t i = 0; i < length; ++i) {
    FlushIfNeeded(out, worst_case);
    uint8_t b = static_cast<uint8_t>(value[i]);
    PutByte(out, kLowerHexDigits[b >> 4]);
    PutByte(out, kLowerHexDigits[b & 15]);
  }
}

// The column's text in a fixed field of width bytes: padded with spaces, or cut and counted.
void EmitFixed(FieldEncoder* enc, const ColumnDesc* column, const char* text, int64_t length,
               int64_t width) {
  if (width < 0) width = 0;
  const int64_t take = length > width ? CountCut(enc, column, width) : length;
  Put(enc->out, text, take);
  PutSpaces(enc->out, width - take);
}

}  // namespace

int FormatOracleNumber(char* dest, const uint8_t* value, int length) {
  if (length <= 0) return 0;
  char* p = dest;
  // 0x80 alone is zero; followed by digits it is the exponent of values from 1E-130 to 1E-128.
  if (value[0] == 0x80 && length == 1) {
    *p++ = '0';
    return static_cast<int>(p - dest);
  }
  bool negative = (value[0] & 0x80) == 0;
  int exponent;
  int end;  // one past the last mantissa byte
  if (!negative) {
    exponent = value[0] - 192;
    end = length;
  } else {
    *p++ = '-';
    exponent = 63 - value[0];
    end = length - 1;  // the terminator 102 is not a digit
    if (length >= 21 && value[20] != 102) end = length;
  }
  if (end > 21) end = 21;  // a NUMBER has at most 20 mantissa bytes
  int pairs = end - 1;
  if (exponent < 1) {
    *p++ = '0';
    *p++ = '.';
    for (int k = 0; k < -exponent; ++k) {
      *p++ = '0';
      *p++ = '0';
    }
  }
  const char* digits = negative ? kNegativeDigits.data() : kPositiveDigits.data();
  int k = 1;
  if (exponent >= 1 && pairs >= 1) {
    // The first pair of a value of 1 or more has no leading zero.
    const char* first = digits + 2 * value[1];
    if (first[0] != '0') *p++ = first[0];
    *p++ = first[1];
    k = 2;
  }
  const int whole_pairs = exponent < pairs ? exponent : pairs;
  for (; k <= whole_pairs; ++k) {
    std::memcpy(p, digits + 2 * value[k], 2);
    p += 2;
  }
  if (exponent >= 1 && pairs > exponent) *p++ = '.';
  for (; k <= pairs; ++k) {
    std::memcpy(p, digits + 2 * value[k], 2);
    p += 2;
  }
  for (int k = exponent - pairs; k > 0; --k) {
    *p++ = '0';
    *p++ = '0';
  }
  return static_cast<int>(p - dest);
}

int FormatOracleDate(char* dest, const uint8_t* value, int length) {
  if (length < 7) return 0;
  int year = (value[0] - 100) * 100 + (value[1] - 100);
  char* p = dest;
  if (year < 0) {
    *p++ = '-';
    year = -year;
  }
  year %= 10000;
  p = PutTwoDigits(p, year / 100);
  p = PutTwoDigits(p, year % 100);
  *p++ = '-';
  p = PutDateByte(p, kDayDigits, value[2], '-');
  p = PutDateByte(p, kDayDigits, value[3], ' ');
  p = PutDateByte(p, kTimeDigits, value[4], ':');
  p = PutDateByte(p, kTimeDigits, value[5], ':');
  std::memcpy(p, &kTimeDigits[2 * static_cast<size_t>(value[6])], 2);
  return static_cast<int>(p + 2 - dest);
}

void InitFieldEncoder(FieldEncoder* enc, const UnloadHandle* job, OutputBuffer* out,
                      const ColumnDesc* head, const char* client_charset) {
  enc->out = out;
  enc->field = job->field;
  enc->field_length = job->field_length;
  enc->colsep = job->colsep;
  enc->colsep_length = job->colsep_length;
  enc->null_text = job->null;
  enc->null_length = job->null_length;
  enc->quote = job->quote;
  enc->quote_length = static_cast<int>(strnlen(job->quote, sizeof job->quote));
  enc->record = job->record;
  enc->record_length = job->record_length;
  enc->escaping = job->escape != ' ';
  BuildEscapeTable(&enc->escapes, job->escape, job->escf, job->esct,
                   CountEscapePairs(job->escf, job->esct));
  enc->double_byte = IsDoubleByteCharset(client_charset);
  enc->translating = BuildTranslateTable(&enc->translation, job->sedf, job->sedt);
  enc->format = job->format;
  enc->fixed_layout = job->field_length > 0 && job->field[0] == ' ';
  enc->longest_name = 0;
  for (const ColumnDesc* c = head != nullptr ? head->next : nullptr; c != nullptr; c = c->next) {
    if (static_cast<int>(c->name_length) > enc->longest_name) {
      enc->longest_name = static_cast<int>(c->name_length);
    }
  }
  enc->lob_writer = nullptr;
  enc->lob_context = nullptr;
  enc->row_number = 0;
  enc->cut_fields = 0;
  enc->cut_column = nullptr;
  enc->cut_width = 0;
  for (FieldPlan& plan : enc->plans) plan.column = nullptr;
  enc->leads_used = 0;
  std::memset(enc->leads.data() + kLeadBytes, 0, kLeadReadSlack);
  enc->planned_row = nullptr;
  enc->planned_count = 0;
  enc->row_path = 0;  // none planned: planned_row decides
}

int64_t WorstCaseFieldSize(const FieldEncoder& enc, ColumnDesc* column) {
  if (column->size_cache == 0) {
    // Numbers and dates converted here, and LOB file names, can be wider than what is fetched.
    const int32_t widest =
        column->display_width > column->define_width ? column->display_width : column->define_width;
    int64_t size = static_cast<int64_t>(widest) + enc.field_length + column->name_length +
                   enc.colsep_length + kFieldAffixRoom;
    column->size_cache = static_cast<uint32_t>(size);
  }
  return column->size_cache;
}

namespace {

constexpr uint8_t kPlanQuoted = 1;
constexpr uint8_t kPlanEscaped = 2;
constexpr uint8_t kPlanTranslated = 4;
constexpr uint8_t kPlanPairs = 8;  // double-byte characters are copied unescaped
constexpr uint8_t kPlanLone = 16;  // the table escapes one byte only: escaped in one pass

// The paths a field can take. The quick ones write only a field that fits the room left with no
// flush at all, which is where the general path would not have flushed either; any other field
// goes to EncodeTextField and the general path, so the flushes (and with them the sizes at
// which output files switch) stay where they always were.
enum PlanKind : uint8_t {
  kKindGeneral,    // a layout or type only the general path knows
  kKindTextSlow,   // what the quick path leaves to EncodeTextField: translated text, long quotes
  kKindText,       // a value fetched as text, in a delimited layout without names
  kKindHex,        // the same, written as unhex('...') in MySQL statements
  kKindConverted,  // a NUMBER or DATE converted here, in a delimited layout without names
  kKindNamed,      // text, a NUMBER or a DATE after its column name (FORM, SEARCH)
  kKindFixed,      // the same, padded to the display width (a longer one cut and counted)
};

// Which loop EncodeRow gives the rows of a planned column array.
// The delimited layouts are 0, tested against memory in one instruction.
enum RowPath : uint8_t {
  kRowQuick,    // the delimited layouts
  kRowLayout,   // the colsep and fixed layouts
  kRowGeneral,  // every field takes the general path
};

// Room for the bytes whole-word stores may write past a field: a value's last word and the
// two words of its last hex digits.
constexpr int64_t kStoreSlack = 16;

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

  const int64_t worst = WorstCaseFieldSize(*enc, column);
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
  plan->room = std::max(worst + escaped + 1, lead + value + kStoreSlack);
  plan->null_room = std::max(worst + 1, lead + null_value + kStoreSlack);
}

__attribute__((noinline)) void PlanField(FieldEncoder* enc, ColumnDesc* column, int position) {
  FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
  plan = FieldPlan{};
  plan.column = column;
  plan.kind = kKindGeneral;
  uint8_t flags = 0;
  if (enc->quote_length > 0 && column->quotable) flags |= kPlanQuoted;
  if (enc->escaping && MayNeedEscapes(column, false)) flags |= kPlanEscaped;
  if (enc->translating && column->quotable) flags |= kPlanTranslated;
  if (KeepsPairs(enc, column)) flags |= kPlanPairs;
  if (enc->escapes.lone_byte >= 0) flags |= kPlanLone;
  plan.flags = flags;

  const int define_type = column->define_type;
  const int64_t width = column->define_width;
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
    plan.room = affixes + ((flags & kPlanEscaped) ? 2 : 1) * width + kStoreSlack;
    plan.null_room = null_text.length + kStoreSlack;
    return;
  }
  // The general path first flushes when the worst case (with the escapes it counts, for a
  // converted value) does not fit; then every append fits, the hex digits included.
  const int64_t worst = WorstCaseFieldSize(*enc, column);
  const int64_t counted = (converted && (flags & kPlanEscaped)) ? width : 0;
  plan.kind = mysql_hex ? kKindHex : kKindConverted;
  // The hex digits are written directly only when they fit besides the worst case, too.
  plan.room = mysql_hex ? worst + affixes + 2 * width + kStoreSlack + 1
                        : std::max(worst + counted + 1, affixes + kNumberTextBytes + kStoreSlack);
  plan.null_room = std::max(worst + 1, null_text.length + kStoreSlack);
}

// Lower-case hex digits of the four bytes of value (first byte in the lowest bits), first
// byte's high digit in the lowest byte: each byte's nibbles are spread to a byte of their own
// and turned into digits, 'a' to 'f' where a nibble is ten or more.
uint64_t HexDigitsOf4(uint32_t value) {
  uint64_t t = value;
  t = (t | (t << 16)) & 0x0000FFFF0000FFFFULL;
  t = (t | (t << 8)) & 0x00FF00FF00FF00FFULL;
  const uint64_t nibbles = ((t >> 4) & 0x000F000F000F000FULL) | ((t & 0x000F000F000F000FULL) << 8);
  const uint64_t letters = ((nibbles + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
  return nibbles + 0x3030303030303030ULL + letters * ('a' - '0' - 10);
}

// The hex digits of length bytes; readable as for CopyValueWords. Up to 16 bytes past the
// digits may be overwritten. Returns the end of the digits.
char* PutHexDigits(char* p, const char* value, int64_t length, int64_t readable) {
  if constexpr (std::endian::native == std::endian::little) {
    auto put8 = [](char* dest, uint64_t word) {
      StoreWord(dest, HexDigitsOf4(static_cast<uint32_t>(word)));
      StoreWord(dest + 8, HexDigitsOf4(static_cast<uint32_t>(word >> 32)));
    };
    if (length >= 8) {
      for (int64_t i = 0; i + 8 < length; i += 8) put8(p + 2 * i, LoadWord(value + i));
      // The last word overlaps the one before it and writes the same digits again.
      put8(p + 2 * length - 16, LoadWord(value + length - 8));
      return p + 2 * length;
    }
    if (readable >= 8) {
      put8(p, LoadWord(value));
      return p + 2 * length;
    }
  }
  for (int64_t i = 0; i < length; ++i) {
    const uint8_t b = static_cast<uint8_t>(value[i]);
    p[0] = kLowerHexDigits[b >> 4];
    p[1] = kLowerHexDigits[b & 15];
    p += 2;
  }
  return p;
}

// Translates a value of the common text path in place, once this path is sure to write it: a
// value given back to the general path afterwards would be translated there a second time. room
// is what the field may take besides its separator. Out of line: most runs translate nothing.
__attribute__((noinline)) bool TranslateOnce(FieldEncoder* enc, uint8_t plan, char* value,
                                             int64_t length, int64_t room) {
  const int64_t quote = (plan & kPlanQuoted) ? enc->quote_length : 0;
  const int64_t most = 2 * quote + ((plan & kPlanEscaped) ? 2 : 1) * length;
  if (most > room) return false;
  TranslateChars(value, length, enc->translation);
  return true;
}

// The common field when the quick path could not take it: a value fetched as text in a
// delimited layout without column names, to be translated or too large for the room left. Its
// exact size is known before anything is written, so it is copied in one pass after at most one
// flush. Returns false, having written nothing, when the field is not of that kind or is too
// large for one buffer; the general path then takes it.
bool EncodeTextField(FieldEncoder* enc, ColumnDesc* column, int row_idx, int position,
                     uint8_t plan) {
  if (enc->fixed_layout || enc->colsep_length > 0 || column->define_type != SQLT_CHR ||
      (enc->format == kMySqlFormat && column->hex) || column->define_width <= 0) {
    return false;
  }
  OutputBuffer* out = enc->out;
  const int64_t separator = position > 0 ? enc->field_length : 0;
  const int64_t room = out->capacity - 8;  // a flush may keep up to 8 scrambled bytes
  if (column->indicators[row_idx] == -1) {
    const int64_t need = separator + enc->null_length;
    if (need > room) return false;
    if (out->fill + need > out->capacity) FlushBuffer(out);
    char* p = out->data + out->fill;
    std::memcpy(p, enc->field, static_cast<size_t>(separator));
    std::memcpy(p + separator, enc->null_text, static_cast<size_t>(enc->null_length));
    out->fill += static_cast<int>(need);
    return true;
  }
  char* value = column->define_buffer + static_cast<size_t>(row_idx) * column->define_width;
  int64_t length = column->returned_lengths[row_idx];
  if (length > column->define_width) length = column->define_width;
  if ((plan & kPlanTranslated) && !TranslateOnce(enc, plan, value, length, room - separator)) {
    return false;
  }
  const bool keep_pairs = (plan & kPlanPairs) != 0;
  const int64_t escapes =
      (plan & kPlanEscaped) ? CountEscapes(value, length, enc->escapes, keep_pairs) : 0;
  const int64_t quote = (plan & kPlanQuoted) ? enc->quote_length : 0;
  const int64_t need = separator + 2 * quote + length + escapes;
  if (need > room) return false;
  if (out->fill + need > out->capacity) FlushBuffer(out);
  char* p = out->data + out->fill;
  std::memcpy(p, enc->field, static_cast<size_t>(separator));
  p += separator;
  std::memcpy(p, enc->quote, static_cast<size_t>(quote));
  p += quote;
  if (escapes > 0) {
    p += CopyEscaped(p, value, length, enc->escapes, keep_pairs);
  } else {
    std::memcpy(p, value, static_cast<size_t>(length));
    p += length;
  }
  std::memcpy(p, enc->quote, static_cast<size_t>(quote));
  p += quote;
  out->fill = static_cast<int>(p - out->data);
  return true;
}

void EncodeGeneralField(FieldEncoder* enc, ColumnDesc* column, int row_idx, int position);

// A field of the quick paths' kinds that they leave: it does not fit the room left, or it is to
// be translated. Out of line, as is the general path, so that the quick paths pay for none of
// their scratch buffers and saved registers.
__attribute__((noinline)) void EncodeOtherField(FieldEncoder* enc, ColumnDesc* column, int row_idx,
                                                int position) {
  if (!EncodeTextField(enc, column, row_idx, position,
                       enc->plans[static_cast<size_t>(position)].flags)) {
    EncodeGeneralField(enc, column, row_idx, position);
  }
}

// The quick paths: one room check against the plan, then stores with no further checks.
inline __attribute__((always_inline)) void EncodeQuickField(FieldEncoder* enc, ColumnDesc* column,
                                                            int row_idx, int position) {
  if (position >= kMaxColumns) {
    EncodeGeneralField(enc, column, row_idx, position);
    return;
  }
  FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
  if (plan.column != column) PlanField(enc, column, position);
  if (plan.kind <= kKindTextSlow) {
    if (plan.kind == kKindGeneral) {
      EncodeGeneralField(enc, column, row_idx, position);
    } else {
      EncodeOtherField(enc, column, row_idx, position);
    }
    return;
  }
  {
    OutputBuffer* out = enc->out;
    const int64_t left = out->capacity - out->fill;
    const int64_t width = column->define_width;
    char* p = out->data + out->fill;
    if (column->indicators[row_idx] == -1) {
      if (plan.null_room <= left) {
        StoreWord(p, plan.null_text);
        out->fill += plan.null_length;
        return;
      }
    } else if (plan.room <= left) {
      const char* value = column->define_buffer + static_cast<size_t>(row_idx) * width;
      int64_t length = column->returned_lengths[row_idx];
      if (length > width) length = width;
      StoreWord(p, plan.prefix);
      p += plan.prefix_length;
      if (plan.kind == kKindText) {
        if (!(plan.flags & kPlanEscaped)) {
          CopyValueWords(p, value, length, width);
          p += length;
        } else if (plan.flags & kPlanLone) {
          p += CopyLoneEscaped(p, value, length, width, enc->escapes);
        } else {
          const bool keep_pairs = (plan.flags & kPlanPairs) != 0;
          if (CountEscapes(value, length, enc->escapes, keep_pairs) == 0) {
            CopyValueWords(p, value, length, width);
            p += length;
          } else {
            p += CopyEscaped(p, value, length, enc->escapes, keep_pairs);
          }
        }
      } else if (plan.kind == kKindHex) {
        p = PutHexDigits(p, value, length, width);
      } else {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(value);
        p += column->define_type == SQLT_NUM
                 ? FormatOracleNumber(p, bytes, static_cast<int>(length))
                 : FormatOracleDate(p, bytes, static_cast<int>(length));
      }
      StoreWord(p, plan.suffix);
      p += plan.suffix_length;
      out->fill = static_cast<int>(p - out->data);
      return;
    }
  }
  EncodeOtherField(enc, column, row_idx, position);
}

// Spaces up to p + count; up to 7 bytes past them may be overwritten.
inline char* PutSpaceRun(char* p, int64_t count) {
  constexpr uint64_t kSpaceWord = 0x2020202020202020ULL;
  // Past a few words the library's fill is quicker than a loop of stores.
  if (count > 32) {
    std::memset(p, ' ', static_cast<size_t>(count));
  } else {
    for (int64_t i = 0; i < count; i += 8) StoreWord(p + i, kSpaceWord);
  }
  return p + count;
}

// The quick paths of the colsep and fixed layouts (PlanLayoutField), the same one room check.
inline __attribute__((always_inline)) void EncodeLayoutField(FieldEncoder* enc, ColumnDesc* column,
                                                             int row_idx, int position) {
  FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
  if (plan.column != column) PlanField(enc, column, position);
  if (plan.kind < kKindNamed) {
    EncodeGeneralField(enc, column, row_idx, position);
    return;
  }
  OutputBuffer* out = enc->out;
  const int64_t left = out->capacity - out->fill;
  const int64_t width = column->define_width;
  const bool fixed = plan.kind == kKindFixed;
  char* p = out->data + out->fill;
  const char* lead = enc->leads.data() + plan.lead_offset;
  if (column->indicators[row_idx] == -1) {
    if (plan.null_room > left) {
      EncodeGeneralField(enc, column, row_idx, position);
      return;
    }
    CopyValueWords(p, lead, plan.lead_length, kLeadReadSlack);
    p += plan.lead_length;
    StoreWord(p, plan.null_text);
    if (fixed) {
      const int64_t display = column->display_width > 0 ? column->display_width : 0;
      const int64_t take =
          plan.null_length > display ? CountCut(enc, column, display) : plan.null_length;
      p = PutSpaceRun(p + take, display - take);
    } else {
      p += plan.null_length;
    }
    out->fill = static_cast<int>(p - out->data);
    return;
  }
  const char* value = column->define_buffer + static_cast<size_t>(row_idx) * width;
  int64_t length = column->returned_lengths[row_idx];
  if (length > width) length = width;
  const bool text = column->define_type == SQLT_CHR;
  const bool keep_pairs = (plan.flags & kPlanPairs) != 0;
  const int64_t display = column->display_width > 0 ? column->display_width : 0;
  // A fixed field with escapes is measured after them, which the general path counts out.
  if (plan.room > left || (fixed && text && (plan.flags & kPlanEscaped) &&
                           CountEscapes(value, length, enc->escapes, keep_pairs) > 0)) {
    EncodeGeneralField(enc, column, row_idx, position);
    return;
  }
  CopyValueWords(p, lead, plan.lead_length, kLeadReadSlack);
  p += plan.lead_length;
  StoreWord(p, plan.prefix);
  p += plan.prefix_length;
  int64_t written;
  if (!text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(value);
    written = column->define_type == SQLT_NUM
                  ? FormatOracleNumber(p, bytes, static_cast<int>(length))
                  : FormatOracleDate(p, bytes, static_cast<int>(length));
  } else if (fixed || !(plan.flags & kPlanEscaped)) {
    // Only what a fixed field keeps is copied: the room holds the display width, not the slot.
    written = length;
    CopyValueWords(p, value, fixed ? std::min(length, display) : length, width);
  } else if (plan.flags & kPlanLone) {
    written = CopyLoneEscaped(p, value, length, width, enc->escapes);
  } else if (CountEscapes(value, length, enc->escapes, keep_pairs) == 0) {
    written = length;
    CopyValueWords(p, value, length, width);
  } else {
    written = CopyEscaped(p, value, length, enc->escapes, keep_pairs);
  }
  if (fixed) {
    const int64_t take = written > display ? CountCut(enc, column, display) : written;
    p = PutSpaceRun(p + take, display - take);
  } else {
    p += written;
    StoreWord(p, plan.suffix);
    p += plan.suffix_length;
  }
  out->fill = static_cast<int>(p - out->data);
}

}  // namespace

void EncodeField(FieldEncoder* enc, ColumnDesc* column, int row_idx, int position) {
  if (position < kMaxColumns && (enc->fixed_layout || enc->colsep_length > 0)) {
    EncodeLayoutField(enc, column, row_idx, position);
  } else {
    EncodeQuickField(enc, column, row_idx, position);
  }
}

namespace {

// Plans every field of a column array EncodeRow has not seen, notes whether all of them take the
// general path, and encodes the row.
__attribute__((noinline)) void PlanRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                                       int row_idx) {
  bool general = true;
  for (int position = 0; position < count && position < kMaxColumns; ++position) {
    const FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
    if (plan.column != columns[position]) PlanField(enc, columns[position], position);
    general = general && plan.kind == kKindGeneral;
  }
  enc->planned_row = columns;
  enc->planned_count = count;
  if (general) {
    enc->row_path = kRowGeneral;
  } else if (enc->fixed_layout || enc->colsep_length > 0) {
    enc->row_path = kRowLayout;
  } else {
    enc->row_path = kRowQuick;
  }
  EncodeRow(enc, columns, count, row_idx);
}

__attribute__((noinline)) void EncodeGeneralRow(FieldEncoder* enc, ColumnDesc* const* columns,
                                                int count, int row_idx) {
  for (int position = 0; position < count; ++position) {
    EncodeGeneralField(enc, columns[position], row_idx, position);
  }
}

__attribute__((noinline)) void EncodeLayoutRow(FieldEncoder* enc, ColumnDesc* const* columns,
                                               int count, int row_idx) {
  const int planned = count < kMaxColumns ? count : kMaxColumns;
  for (int position = 0; position < planned; ++position) {
    EncodeLayoutField(enc, columns[position], row_idx, position);
  }
  for (int position = planned; position < count; ++position) {
    EncodeGeneralField(enc, columns[position], row_idx, position);
  }
}

// The rows of the colsep and fixed layouts and of the general path, out of EncodeRow's way.
__attribute__((noinline)) void EncodeOtherRow(FieldEncoder* enc, ColumnDesc* const* columns,
                                              int count, int row_idx) {
  if (enc->row_path == kRowLayout) {
    EncodeLayoutRow(enc, columns, count, row_idx);
  } else {
    EncodeGeneralRow(enc, columns, count, row_idx);
  }
}

// Its own function, so that the registers the quick paths save are saved only for their rows.
__attribute__((noinline)) void EncodeQuickRow(FieldEncoder* enc, ColumnDesc* const* columns,
                                              int count, int row_idx) {
  for (int position = 0; position < count; ++position) {
    EncodeQuickField(enc, columns[position], row_idx, position);
  }
}

}  // namespace

void EncodeRow(FieldEncoder* enc, ColumnDesc* const* columns, int count, int row_idx) {
  // Every call is the last thing done, so this dispatch saves no registers of its own.
  if (columns != enc->planned_row || count != enc->planned_count) {
    PlanRow(enc, columns, count, row_idx);
  } else if (enc->row_path == kRowQuick) {
    // The delimited layouts, the most common, first: they pay one test, as they always did.
    EncodeQuickRow(enc, columns, count, row_idx);
  } else {
    EncodeOtherRow(enc, columns, count, row_idx);
  }
}

namespace {

__attribute__((noinline)) void EncodeGeneralField(FieldEncoder* enc, ColumnDesc* column,
                                                  int row_idx, int position) {
  OutputBuffer* out = enc->out;
  const int define_type = column->define_type;
  const bool is_null = column->indicators[row_idx] == -1;
  const bool lob = IsLobLocator(define_type);
  const bool long_value = define_type == SQLT_LVC || define_type == SQLT_LVB;
  const int64_t width = column->define_width > 0 ? column->define_width : 0;
  char* slot = column->define_buffer + static_cast<size_t>(row_idx) * static_cast<size_t>(width);

  // The value bytes, never taken past the column's slot whatever length was reported.
  char* value = slot;
  int64_t length = 0;
  if (!is_null && !lob && width > 0) {
    if (long_value) {
      uint32_t stored = 0;
      if (width >= 4) std::memcpy(&stored, slot, 4);
      value = slot + 4;
      length = width >= 4 ? stored : 0;
      if (length > width - 4) length = width >= 4 ? width - 4 : 0;
    } else {
      length = column->returned_lengths[row_idx];
      if (length > width) length = width;
    }
  }

  if (!is_null && enc->translating && column->quotable && !lob && define_type != SQLT_NUM &&
      define_type != SQLT_DAT) {
    TranslateChars(value, length, enc->translation);
  }
  // MySQL statements carry character and binary data as unhex('...'). Oracle statements carry
  // binary data (RAW, LONG RAW, a BLOB fetched inline) as hexadecimal text, which Oracle turns
  // back into the bytes; the raw bytes inside a string literal would break the statement.
  const bool mysql_hex = enc->format == kMySqlFormat && column->hex;
  const bool oracle_hex =
      enc->format == kOracleFormat && !lob && LookupType(column->described_type).binary;
  const bool hex = mysql_hex || oracle_hex;
  const bool keep_pairs = KeepsPairs(enc, column);
  int64_t escapes = 0;
  if (enc->escaping && !hex && !is_null && MayNeedEscapes(column, long_value)) {
    escapes = CountEscapes(value, length, enc->escapes, keep_pairs);
  }
  const int64_t worst_case = WorstCaseFieldSize(*enc, column);
  FlushIfNeeded(out, escapes + worst_case);

  if (position > 0 && !enc->fixed_layout) Put(out, enc->field, enc->field_length);
  if (enc->colsep_length > 0) {
    Put(out, column->name, column->name_length);
    if (enc->colsep[0] == ' ') PutSpaces(out, enc->longest_name - column->name_length);
    Put(out, enc->colsep, enc->colsep_length);
  }
  const int64_t display = column->display_width > 0 ? column->display_width : 0;
  if (is_null) {
    if (enc->fixed_layout) {
      EmitFixed(enc, column, enc->null_text, enc->null_length, display);
    } else {
      Put(out, enc->null_text, enc->null_length);
    }
    return;
  }

  const bool quoted = enc->quote_length > 0 && column->quotable && !enc->fixed_layout;
  if (mysql_hex) Put(out, kUnhexOpen, sizeof kUnhexOpen - 1);
  if (quoted) Put(out, enc->quote, enc->quote_length);

  if (lob) {
    char name[256];
    int name_length = -1;
    if (enc->lob_writer != nullptr) {
      name_length = enc->lob_writer(enc->lob_context, column, row_idx, enc->row_number, position,
                                    name, static_cast<int>(sizeof name));
    }
    if (name_length < 0) name_length = 0;
    if (enc->fixed_layout) {
      EmitFixed(enc, column, name, name_length, kLobNameWidth);
    } else {
      Put(out, name, name_length);
    }
  } else if (define_type == SQLT_NUM || define_type == SQLT_DAT) {
    char text[kNumberTextBytes];
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(value);
    int text_length = define_type == SQLT_NUM
                          ? FormatOracleNumber(text, bytes, static_cast<int>(length))
                          : FormatOracleDate(text, bytes, static_cast<int>(length));
    // The display width holds the longest text of the column's type; should bytes no server
    // sends give a longer one, it is cut and counted rather than shift the rest of the record.
    if (enc->fixed_layout) {
      EmitFixed(enc, column, text, text_length, display);
    } else {
      Put(out, text, text_length);
    }
  } else if (hex) {
    EmitHex(out, value, length, worst_case);
  } else {
    if (long_value) FlushIfNeeded(out, length + escapes + worst_case);
    if (enc->fixed_layout && length + escapes > display) CountCut(enc, column, display);
    int64_t written =
        EmitValue(enc, value, length, escapes, enc->fixed_layout ? display : -1, keep_pairs);
    if (enc->fixed_layout && written < display) PutSpaces(out, display - written);
  }

  if (quoted) Put(out, enc->quote, enc->quote_length);
  if (mysql_hex) Put(out, ")", 1);
}

}  // namespace

namespace {

// Whether a header text must be quoted to be read back as one field: it holds a byte of the
// quote or of a separator, a line break, or a byte that escaping changes.
bool HeaderNeedsQuotes(const FieldEncoder* enc, const char* text, int length) {
  for (int k = 0; k < length; ++k) {
    const char b = text[k];
    if (b == '\n' || b == '\r' ||
        std::memchr(enc->quote, b, static_cast<size_t>(enc->quote_length)) != nullptr ||
        std::memchr(enc->field, b, static_cast<size_t>(enc->field_length)) != nullptr ||
        std::memchr(enc->record, b, static_cast<size_t>(enc->record_length)) != nullptr) {
      return true;
    }
  }
  return enc->escaping && CountEscapes(text, length, enc->escapes, enc->double_byte) > 0;
}

}  // namespace

void EncodeHeaderName(FieldEncoder* enc, const char* prehead, int prehead_length, const char* name,
                      int name_length) {
  OutputBuffer* out = enc->out;
  // Names needing no quotes stay bare, so that the usual header line reads as it always has.
  if (enc->quote_length == 0 || (!HeaderNeedsQuotes(enc, prehead, prehead_length) &&
                                 !HeaderNeedsQuotes(enc, name, name_length))) {
    Put(out, prehead, prehead_length);
    Put(out, name, name_length);
    return;
  }
  Put(out, enc->quote, enc->quote_length);
  for (int piece = 0; piece < 2; ++piece) {
    const char* text = piece == 0 ? prehead : name;
    const int length = piece == 0 ? prehead_length : name_length;
    const int64_t escapes =
        enc->escaping ? CountEscapes(text, length, enc->escapes, enc->double_byte) : 0;
    EmitValue(enc, text, length, escapes, -1, enc->double_byte);
  }
  Put(out, enc->quote, enc->quote_length);
}

}  // namespace rowflume
