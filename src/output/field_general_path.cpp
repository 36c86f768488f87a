#include "output/field_plan.h"

#include <cstring>

#include "common/ascii.h"
#include "common/inlining.h"
#include "db/oracle_types.h"
#include "output/oracle_values.h"

// The general path of the field encoder: any layout, type, value size and buffer size.

namespace rowflume {

// Out of line: the paths that cut pay one comparison for it.
ROWFLUME_NOINLINE ROWFLUME_COLD int64_t CountCut(FieldEncoder* enc, const ColumnDesc* column,
                                                 int64_t width) {
  if (enc->cut_fields++ == 0) {
    enc->cut_column = column->name;
    enc->cut_width = static_cast<int32_t>(width);
  }
  return width;
}

// Values that do not fit the room left go through a small chunk so that the buffer is never
// overrun.
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

namespace {

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

// Slow path: every check on the way, and the flushes where the output depends on them.
ROWFLUME_NOINLINE void EncodeGeneralField(FieldEncoder* enc, ColumnDesc* column, int row_idx,
                                          int position) {
  OutputBuffer* out = enc->out;
  const int define_type = column->define_type;
  const bool is_null = column->indicators[row_idx] == -1;
  const bool lob = IsLobLocator(define_type);
  const bool long_value = define_type == SQLT_LVC || define_type == SQLT_LVB;
  int64_t length = 0;
  char* value = ColumnValue(column, row_idx, &length);

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
  const int64_t worst_case = PlannedWorstCase(*enc, column, position);
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

  if ((enc->format == kOracleFormat || enc->format == kMySqlFormat) && !lob && !enc->fixed_layout &&
      EmitStatementValue(enc, column, value, length, keep_pairs)) {
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

}  // namespace rowflume
