#include <cstring>

#include "common/ascii.h"
#include "db/oracle_types.h"
#include "output/escaping.h"
#include "output/field_plan.h"

// The forms values take in Oracle INSERT statements so that a session with any NLS settings runs
// them as written: datetimes through TO_DATE and TO_TIMESTAMP with the format they were fetched
// in, binary data through HEXTORAW, text longer than one literal piece as joined TO_CLOB pieces.

namespace rowflume {

namespace {

// The format model of a datetime text as the session writes it (db/oracle_types.h masks), with
// the radix written as "." rather than X: the fetch session's decimal point is ".", and X would
// read the loading session's own. Chosen by what the text holds, so that a value without a
// fraction or a zone is not read against elements it lacks.
const char* DatetimeFormat(const char* text, int64_t length, bool* timestamp, bool* zoned) {
  // "YYYY-MM-DD HH24:MI:SS" is 19 bytes; a fraction starts at 19, a zone after a second blank.
  const bool fraction = length > 19 && text[19] == '.';
  const void* zone =
      length > 20 ? std::memchr(text + 20, ' ', static_cast<size_t>(length - 20)) : nullptr;
  *timestamp = fraction || zone != nullptr;
  *zoned = zone != nullptr;
  if (zone != nullptr) {
    return fraction ? ",'YYYY-MM-DD HH24:MI:SS.FF TZH:TZM')" : ",'YYYY-MM-DD HH24:MI:SS TZH:TZM')";
  }
  return fraction ? ",'YYYY-MM-DD HH24:MI:SS.FF')" : ",'YYYY-MM-DD HH24:MI:SS')";
}

void PutText(OutputBuffer* out, const char* text) {
  Put(out, text, static_cast<int64_t>(std::strlen(text)));
}

// Whether the text starts as "YYYY-MM-DD HH24:MI:SS": anything else (a session format changed
// by `alter`, a year before 1) would not read back through the format written with it.
bool HasDatetimeShape(const char* text, int64_t length) {
  constexpr char kShape[] = "0000-00-00 00:00:00";
  if (length < 19) return false;
  for (int k = 0; k < 19; ++k) {
    if (kShape[k] == '0' ? !IsAsciiDigit(text[k]) : text[k] != kShape[k]) return false;
  }
  return true;
}

void Refuse(FieldEncoder* enc, const ColumnDesc* column, int64_t bytes) {
  if (enc->refused_column != nullptr) return;
  enc->refused_column = column->name;
  enc->refused_bytes = bytes;
}

void EmitDatetime(FieldEncoder* enc, const ColumnDesc* column, const char* value, int64_t length) {
  OutputBuffer* out = enc->out;
  char text[kNumberTextBytes];
  if (column->define_type == SQLT_DAT) {
    length =
        FormatOracleDate(text, reinterpret_cast<const uint8_t*>(value), static_cast<int>(length));
    value = text;
  }
  if (!HasDatetimeShape(value, length)) {
    Refuse(enc, column, -1);
    return;
  }
  bool timestamp = false;
  bool zoned = false;
  const char* format = DatetimeFormat(value, length, &timestamp, &zoned);
  PutText(out, zoned ? "TO_TIMESTAMP_TZ(" : timestamp ? "TO_TIMESTAMP(" : "TO_DATE(");
  Put(out, enc->quote, enc->quote_length);
  const bool keep_pairs = false;  // datetime text is ASCII
  const int64_t escapes = enc->escaping ? CountEscapes(value, length, enc->escapes, keep_pairs) : 0;
  EmitValue(enc, value, length, escapes, -1, keep_pairs);
  Put(out, enc->quote, enc->quote_length);
  PutText(out, format);
}

void EmitHexLiteral(FieldEncoder* enc, const ColumnDesc* column, const char* value,
                    int64_t length) {
  OutputBuffer* out = enc->out;
  if (length > kOracleHexBytes) {
    Refuse(enc, column, length);
    return;
  }
  PutText(out, "HEXTORAW(");
  Put(out, enc->quote, enc->quote_length);
  for (int64_t i = 0; i < length; ++i) {
    const auto b = static_cast<uint8_t>(value[i]);
    const char two[2] = {kLowerHexDigits[b >> 4], kLowerHexDigits[b & 15]};
    Put(out, two, 2);
  }
  Put(out, enc->quote, enc->quote_length);
  PutByte(out, ')');
}

// The end of the longest piece from start whose written bytes (escapes included) stay within
// kOraclePieceBytes, on a character boundary: a double-byte pair is never parted, nor a UTF-8
// sequence (a piece ends before a byte that is not a continuation byte). *escapes receives the
// piece's escape count.
int64_t PieceEnd(const FieldEncoder* enc, const char* value, int64_t start, int64_t length,
                 bool keep_pairs, int64_t* escapes) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(value);
  int64_t end = start;
  int64_t written = 0;
  while (end < length) {
    int64_t step = 1;
    int64_t cost = 1;
    if (keep_pairs && end + 1 < length && IsDoubleBytePair(bytes[end], bytes[end + 1])) {
      step = 2;
      cost = 2;
    } else if (enc->escaping && enc->escapes.escaped[bytes[end]]) {
      cost = 2;
    }
    if (written + cost > kOraclePieceBytes) break;
    written += cost;
    end += step;
  }
  if (end < length && !keep_pairs) {
    int64_t back = end;
    while (back > start && end - back < 3 && (bytes[back] & 0xC0) == 0x80) --back;
    if (back > start && (bytes[back] & 0xC0) != 0x80) end = back;
  }
  if (end == start) end = start + 1;  // a piece holds at least one byte
  *escapes = enc->escaping ? CountEscapes(value + start, end - start, enc->escapes, keep_pairs) : 0;
  return end;
}

void EmitTextPieces(FieldEncoder* enc, const char* value, int64_t length, bool keep_pairs) {
  OutputBuffer* out = enc->out;
  for (int64_t start = 0; start < length;) {
    int64_t escapes = 0;
    const int64_t end = PieceEnd(enc, value, start, length, keep_pairs, &escapes);
    if (start > 0) Put(out, "||", 2);
    PutText(out, "TO_CLOB(");
    Put(out, enc->quote, enc->quote_length);
    EmitValue(enc, value + start, end - start, escapes, -1, keep_pairs);
    Put(out, enc->quote, enc->quote_length);
    PutByte(out, ')');
    start = end;
  }
}

}  // namespace

bool EmitOracleValue(FieldEncoder* enc, const ColumnDesc* column, const char* value, int64_t length,
                     bool keep_pairs) {
  const OracleType& type = LookupType(column->described_type);
  if (column->define_type == SQLT_DAT || type.family == TypeFamily::kDate ||
      type.family == TypeFamily::kTimestamp || type.family == TypeFamily::kTimestampTz) {
    EmitDatetime(enc, column, value, length);
    return true;
  }
  if (type.binary) {
    EmitHexLiteral(enc, column, value, length);
    return true;
  }
  if (!column->quotable || column->define_type == SQLT_NUM) return false;
  const int64_t escapes = enc->escaping ? CountEscapes(value, length, enc->escapes, keep_pairs) : 0;
  if (length + escapes <= kOraclePieceBytes) return false;
  EmitTextPieces(enc, value, length, keep_pairs);
  return true;
}

}  // namespace rowflume
