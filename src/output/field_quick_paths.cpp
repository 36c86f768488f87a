#include "output/field_plan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/ascii.h"
#include "common/inlining.h"
#include "output/oracle_values.h"

// The quick paths of the field encoder and the row loop that picks them. A quick path makes one
// room check against the field's plan and then stores with no further checks; whatever it
// leaves goes to the general path (field_general_path.cpp), which writes the same bytes.

namespace rowflume {

namespace {

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
ROWFLUME_NOINLINE bool TranslateOnce(FieldEncoder* enc, uint8_t plan, char* value, int64_t length,
                                     int64_t room) {
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

// A field of the quick paths' kinds that they leave: it does not fit the room left, or it is to
// be translated. Out of line, as is the general path, so that the quick paths pay for none of
// their scratch buffers and saved registers.
ROWFLUME_NOINLINE void EncodeOtherField(FieldEncoder* enc, ColumnDesc* column, int row_idx,
                                        int position) {
  if (!EncodeTextField(enc, column, row_idx, position,
                       enc->plans[static_cast<size_t>(position)].flags)) {
    EncodeGeneralField(enc, column, row_idx, position);
  }
}

// The quick paths of the delimited layouts: one room check against the plan, then stores with
// no further checks.
inline ROWFLUME_ALWAYS_INLINE void EncodeQuickField(FieldEncoder* enc, ColumnDesc* column,
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
    // Fast path: the field fits the room its plan asks for.
    OutputBuffer* out = enc->out;
    const int64_t left = out->capacity - out->fill;
    const int64_t width = column->define_width;
    char* p = out->data + out->fill;
    if (column->indicators[row_idx] == -1) {
      if (plan.null_room <= left) {
        AssertWithinRoom(plan.null_room, p, p + plan.null_length);
        StoreWord(p, plan.null_text);
        out->fill += plan.null_length;
        return;
      }
    } else if (plan.room <= left) {
      const char* value = column->define_buffer + static_cast<size_t>(row_idx) * width;
      int64_t length = column->returned_lengths[row_idx];
      if (length > width) length = width;
      char* const start = p;
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
      AssertWithinRoom(plan.room, start, p);
      out->fill = static_cast<int>(p - out->data);
      return;
    }
  }
  // Slow path: too little room left, or a field the quick stores do not write.
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
inline ROWFLUME_ALWAYS_INLINE void EncodeLayoutField(FieldEncoder* enc, ColumnDesc* column,
                                                     int row_idx, int position) {
  FieldPlan& plan = enc->plans[static_cast<size_t>(position)];
  if (plan.column != column) PlanField(enc, column, position);
  if (plan.kind < kKindNamed) {
    // Slow path: a field the quick stores do not write.
    EncodeGeneralField(enc, column, row_idx, position);
    return;
  }
  OutputBuffer* out = enc->out;
  const int64_t left = out->capacity - out->fill;
  const int64_t width = column->define_width;
  const bool fixed = plan.kind == kKindFixed;
  char* p = out->data + out->fill;
  char* const start = p;
  const char* lead = enc->leads.data() + plan.lead_offset;
  if (column->indicators[row_idx] == -1) {
    if (plan.null_room > left) {
      // Slow path: too little room left.
      EncodeGeneralField(enc, column, row_idx, position);
      return;
    }
    // Fast path: the NULL text fits the room its plan asks for.
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
    AssertWithinRoom(plan.null_room, start, p);
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
    // Slow path: too little room left, or a fixed field the general path measures.
    EncodeGeneralField(enc, column, row_idx, position);
    return;
  }
  // Fast path: the value fits the room its plan asks for.
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
    AssertWithinRoom(plan.room, start, p + written);
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
  AssertWithinRoom(plan.room, start, p);
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

// Plans every field of a column array EncodeRow has not seen, notes which loop its rows take,
// and encodes the row.
ROWFLUME_NOINLINE void PlanRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                               int row_idx) {
  enc->row_path = PlanRowPath(enc, columns, count);
  enc->planned_row = columns;
  enc->planned_count = count;
  EncodeRow(enc, columns, count, row_idx);
}

ROWFLUME_NOINLINE void EncodeGeneralRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                                        int row_idx) {
  for (int position = 0; position < count; ++position) {
    EncodeGeneralField(enc, columns[position], row_idx, position);
  }
}

ROWFLUME_NOINLINE void EncodeLayoutRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                                       int row_idx) {
  const int planned = count < kMaxColumns ? count : kMaxColumns;
  for (int position = 0; position < planned; ++position) {
    EncodeLayoutField(enc, columns[position], row_idx, position);
  }
  for (int position = planned; position < count; ++position) {
    EncodeGeneralField(enc, columns[position], row_idx, position);
  }
}

// The rows of the colsep and fixed layouts and of the general path, out of EncodeRow's way.
ROWFLUME_NOINLINE void EncodeOtherRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                                      int row_idx) {
  if (enc->row_path == kRowLayout) {
    EncodeLayoutRow(enc, columns, count, row_idx);
  } else {
    EncodeGeneralRow(enc, columns, count, row_idx);
  }
}

// Its own function, so that the registers the quick paths save are saved only for their rows.
ROWFLUME_NOINLINE void EncodeQuickRow(FieldEncoder* enc, ColumnDesc* const* columns, int count,
                                      int row_idx) {
  for (int position = 0; position < count; ++position) {
    EncodeQuickField(enc, columns[position], row_idx, position);
  }
}

}  // namespace

void EncodeRow(FieldEncoder* enc, ColumnDesc* const* columns, int count, int row_idx) {
  // Each branch only calls the loop it picks, so that this dispatch costs a row two tests.
  if (columns != enc->planned_row || count != enc->planned_count) {
    PlanRow(enc, columns, count, row_idx);
  } else if (enc->row_path == kRowQuick) {
    // The delimited layouts, the most common, first.
    EncodeQuickRow(enc, columns, count, row_idx);
  } else {
    EncodeOtherRow(enc, columns, count, row_idx);
  }
}

}  // namespace rowflume
