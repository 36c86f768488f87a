#include "output/parquet_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/ascii.h"
#include "common/calendar.h"
#include "db/oracle_types.h"
#include "version.h"

namespace rowflume {
namespace {

constexpr int kMostDecimalDigits = 38;  // what every reader takes as a decimal
constexpr int kInt32Digits = 9;
constexpr int kInt64Digits = 18;

// Bytes of the big-endian two's complement that holds every value of that many digits.
int DecimalBytes(int digits) {
  int bytes = 1;
  while (static_cast<double>(8 * bytes - 1) * std::log10(2.0) < digits) ++bytes;
  return bytes;
}

ParquetColumn TextColumn(const ColumnDesc* column, bool text) {
  ParquetColumn parquet;
  parquet.name.assign(column->name, column->name_length);
  parquet.physical = ParquetPhysical::kByteArray;
  parquet.logical = text ? ParquetLogical::kString : ParquetLogical::kNone;
  return parquet;
}

// A NUMBER(p,s) is a decimal of p digits, s of them after the point; a negative scale adds
// zeros before the point, and a scale past the precision zeros after it. Zero when no decimal
// a reader takes holds every value: the column is then written as its text.
int DecimalPrecision(const ColumnDesc* column) {
  const int precision = column->precision > 0 ? column->precision : kMostDecimalDigits;
  const int digits =
      column->scale < 0 ? precision - column->scale : std::max<int>(precision, column->scale);
  return digits <= kMostDecimalDigits ? digits : 0;
}

ParquetColumnPlan PlanColumn(const ColumnDesc* column, const UnloadHandle* job,
                             ParquetColumn* parquet) {
  const OracleType& type = LookupType(column->described_type);
  *parquet = TextColumn(column, true);
  if (IsLobLocator(column->define_type)) return {ParquetValue::kLobName, 0, false, "STRING"};
  switch (type.family) {
    case TypeFamily::kNumber: {
      const bool floating = column->scale == kFloatScale;
      const int digits = floating ? 0 : DecimalPrecision(column);
      if (floating && EqualIgnoringCase(job->number, "DOUBLE")) {
        parquet->physical = ParquetPhysical::kDouble;
        parquet->logical = ParquetLogical::kNone;
        return {ParquetValue::kNumberDouble, 0, false, "DOUBLE"};
      }
      if (digits == 0) return {ParquetValue::kText, 0, false, "STRING"};
      parquet->logical = ParquetLogical::kDecimal;
      parquet->precision = digits;
      parquet->scale = std::max<int>(column->scale, 0);
      parquet->physical = digits <= kInt32Digits   ? ParquetPhysical::kInt32
                          : digits <= kInt64Digits ? ParquetPhysical::kInt64
                                                   : ParquetPhysical::kFixedBytes;
      if (parquet->physical == ParquetPhysical::kFixedBytes) {
        parquet->type_length = DecimalBytes(digits);
      }
      return {ParquetValue::kDecimal, parquet->scale, false, "DECIMAL"};
    }
    case TypeFamily::kBinaryFloat: {
      const bool single =
          column->described_type == SQLT_IBFLOAT || column->described_type == SQLT_BFLOAT;
      parquet->physical = single ? ParquetPhysical::kFloat : ParquetPhysical::kDouble;
      parquet->logical = ParquetLogical::kNone;
      return {single ? ParquetValue::kFloat : ParquetValue::kDouble, 0, false,
              single ? "FLOAT" : "DOUBLE"};
    }
    case TypeFamily::kDate:
    case TypeFamily::kTimestamp:
    case TypeFamily::kTimestampTz: {
      // A date has whole seconds; a timestamp's fractional precision is described as its scale.
      const bool date = type.family == TypeFamily::kDate;
      const bool nanos = !date && column->scale > 6;
      parquet->physical = ParquetPhysical::kInt64;
      parquet->logical = nanos ? ParquetLogical::kTimestampNanos : ParquetLogical::kTimestampMicros;
      parquet->utc = type.family == TypeFamily::kTimestampTz;
      // A local time zone value has no offset in its text: the run's session shows it in UTC.
      const bool offset = parquet->utc && column->described_type != SQLT_TIMESTAMP_LTZ;
      const ParquetValue value = date     ? ParquetValue::kDate
                                 : offset ? ParquetValue::kTimestampTz
                                          : ParquetValue::kTimestamp;
      return {value, 0, nanos, "TIMESTAMP"};
    }
    case TypeFamily::kRaw:
    case TypeFamily::kLongRaw:
      *parquet = TextColumn(column, false);
      return {ParquetValue::kBytes, 0, false, "BYTE_ARRAY"};
    case TypeFamily::kLob:
      if (type.binary) {
        *parquet = TextColumn(column, false);
        return {ParquetValue::kBytes, 0, false, "BYTE_ARRAY"};
      }
      return {ParquetValue::kText, 0, false, "STRING"};
    default:
      return {ParquetValue::kText, 0, false, "STRING"};
  }
}

// ---- Reading the session's texts ---------------------------------------------------------

struct Cursor {
  const char* at;
  const char* end;
};

// Exactly count digits; false (nothing consumed that matters) otherwise.
bool Digits(Cursor* cursor, int count, int* value) {
  if (cursor->end - cursor->at < count) return false;
  int result = 0;
  for (int idx = 0; idx < count; ++idx) {
    const char c = cursor->at[idx];
    if (!IsAsciiDigit(c)) return false;
    result = result * 10 + (c - '0');
  }
  cursor->at += count;
  *value = result;
  return true;
}

bool Expect(Cursor* cursor, char c) {
  if (cursor->at == cursor->end || *cursor->at != c) return false;
  ++cursor->at;
  return true;
}

// "YYYY-MM-DD HH24:MI:SS", then (with fraction) "." and up to nine digits, then (with zone)
// " +HH:MM" or " -HH:MM": the seconds since the epoch in the value's own clock, its nanoseconds,
// and the offset in seconds east of UTC.
bool ReadDateTime(const char* text, int64_t length, bool fraction, bool zone, int64_t* seconds,
                  int64_t* nanos, int64_t* offset) {
  Cursor c{text, text + length};
  int year, month, day, hour, minute, second;
  if (!Digits(&c, 4, &year) || !Expect(&c, '-') || !Digits(&c, 2, &month) || !Expect(&c, '-') ||
      !Digits(&c, 2, &day) || !Expect(&c, ' ') || !Digits(&c, 2, &hour) || !Expect(&c, ':') ||
      !Digits(&c, 2, &minute) || !Expect(&c, ':') || !Digits(&c, 2, &second)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  *nanos = 0;
  if (fraction && Expect(&c, '.')) {
    int digits = 0;
    for (; c.at != c.end && IsAsciiDigit(*c.at); ++c.at, ++digits) {
      if (digits == 9) return false;
      *nanos = *nanos * 10 + (*c.at - '0');
    }
    for (int idx = digits; idx < 9; ++idx) *nanos *= 10;
  }
  *offset = 0;
  if (zone) {
    int zone_hours, zone_minutes;
    if (!Expect(&c, ' ') || c.at == c.end || (*c.at != '+' && *c.at != '-')) return false;
    const bool west = *c.at++ == '-';
    if (!Digits(&c, 2, &zone_hours) || !Expect(&c, ':') || !Digits(&c, 2, &zone_minutes) ||
        zone_minutes > 59) {
      return false;
    }
    *offset = (west ? -1 : 1) * (zone_hours * 3600 + zone_minutes * 60);
  }
  if (c.at != c.end) return false;
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

// The decimal text of a NUMBER as the unscaled integer of `scale` decimal places, in at most
// `precision` digits: "-12.5" at scale 2 is -1250. Digits past the scale must be zeros.
bool ReadUnscaled(const char* text, int64_t length, int scale, int precision, bool* negative,
                  char (&digits)[kMostDecimalDigits], int* count) {
  Cursor c{text, text + length};
  *negative = Expect(&c, '-');
  *count = 0;
  bool any = false;
  auto take = [&](char digit) {
    if (*count == 0 && digit == '0') return true;  // a leading zero adds nothing
    if (*count == precision) return false;
    digits[(*count)++] = digit;
    return true;
  };
  for (; c.at != c.end && IsAsciiDigit(*c.at); ++c.at, any = true) {
    if (!take(*c.at)) return false;
  }
  int places = 0;
  if (Expect(&c, '.')) {
    for (; c.at != c.end && IsAsciiDigit(*c.at); ++c.at, any = true) {
      if (places++ < scale) {
        if (!take(*c.at)) return false;
      } else if (*c.at != '0') {
        return false;
      }
    }
  }
  for (; places < scale; ++places) {
    if (!take('0')) return false;
  }
  return any && c.at == c.end;
}

// Big-endian two's complement of the digits in bytes bytes (at most 16).
void UnscaledBytes(const char* digits, int count, bool negative, unsigned char* out, int bytes) {
  if (count <= kInt64Digits) {
    // Most values of a wide column are small: one integer, sign-extended byte by byte.
    int64_t unscaled = 0;
    for (int idx = 0; idx < count; ++idx) unscaled = unscaled * 10 + (digits[idx] - '0');
    if (negative) unscaled = -unscaled;
    for (int pos = bytes - 1; pos >= 0; --pos, unscaled >>= 8) {
      out[pos] = static_cast<unsigned char>(unscaled & 0xff);
    }
    return;
  }
  unsigned char value[16] = {};
  for (int idx = 0; idx < count; ++idx) {
    unsigned carry = static_cast<unsigned>(digits[idx] - '0');
    for (int pos = 15; pos >= 0; --pos) {
      const unsigned next = value[pos] * 10u + carry;
      value[pos] = static_cast<unsigned char>(next & 0xff);
      carry = next >> 8;
    }
  }
  if (negative) {
    unsigned carry = 1;
    for (int pos = 15; pos >= 0; --pos) {
      const unsigned next = static_cast<unsigned char>(~value[pos]) + carry;
      value[pos] = static_cast<unsigned char>(next & 0xff);
      carry = next >> 8;
    }
  }
  std::memcpy(out, value + 16 - bytes, static_cast<size_t>(bytes));
}

template <typename Number>
bool ReadNumber(const char* text, int64_t length, Number* value) {
  const auto result = std::from_chars(text, text + length, *value);
  return result.ec == std::errc() && result.ptr == text + length;
}

bool AddDecimal(ParquetWriter* writer, int position, const ParquetColumn& parquet,
                const ParquetColumnPlan& plan, const char* text, int64_t length) {
  char digits[kMostDecimalDigits];
  int count = 0;
  bool negative = false;
  if (!ReadUnscaled(text, length, plan.scale, parquet.precision, &negative, digits, &count)) {
    return false;
  }
  if (parquet.physical == ParquetPhysical::kFixedBytes) {
    unsigned char bytes[16];
    UnscaledBytes(digits, count, negative, bytes, parquet.type_length);
    ParquetBytes(writer, position, bytes, static_cast<size_t>(parquet.type_length));
    return true;
  }
  int64_t unscaled = 0;  // at most 18 digits
  for (int idx = 0; idx < count; ++idx) unscaled = unscaled * 10 + (digits[idx] - '0');
  if (negative) unscaled = -unscaled;
  if (parquet.physical == ParquetPhysical::kInt32) {
    ParquetInt32(writer, position, static_cast<int32_t>(unscaled));
  } else {
    ParquetInt64(writer, position, unscaled);
  }
  return true;
}

bool AddTimestamp(ParquetWriter* writer, int position, const ParquetColumnPlan& plan,
                  const char* text, int64_t length) {
  int64_t seconds = 0, nanos = 0, offset = 0;
  const bool zone = plan.value == ParquetValue::kTimestampTz;
  if (!ReadDateTime(text, length, plan.value != ParquetValue::kDate, zone, &seconds, &nanos,
                    &offset)) {
    return false;
  }
  seconds -= offset;
  int64_t count = 0;
  if (plan.nanos) {
    // Nanoseconds since 1970 reach only the years 1677 to 2262; a value outside stops the run.
    if (__builtin_mul_overflow(seconds, int64_t{1000000000}, &count) ||
        __builtin_add_overflow(count, nanos, &count)) {
      return false;
    }
  } else {
    if (nanos % 1000 != 0) return false;  // the column holds microseconds at most
    count = seconds * 1000000 + nanos / 1000;
  }
  ParquetInt64(writer, position, count);
  return true;
}

bool AddValue(ParquetRows* rows, ColumnDesc* column, int row_idx, int position,
              FieldEncoder* encoder) {
  ParquetWriter* writer = rows->writer;
  const ParquetColumnPlan& plan = rows->plans[static_cast<size_t>(position)];
  if (column->indicators[row_idx] == -1) {
    ParquetNull(writer, position);
    return true;
  }
  int64_t length = 0;
  const char* value = ColumnValue(column, row_idx, &length);
  switch (plan.value) {
    case ParquetValue::kText:
    case ParquetValue::kBytes:
      ParquetBytes(writer, position, value, static_cast<size_t>(length));
      return true;
    case ParquetValue::kLobName: {
      char name[256];
      int name_length = -1;
      if (encoder->lob_writer != nullptr) {
        name_length = encoder->lob_writer(encoder->lob_context, column, row_idx,
                                          encoder->row_number, position, name, sizeof name);
      }
      // A value that could not be written is reported and fails the run at its end.
      if (name_length < 0) {
        ParquetNull(writer, position);
      } else {
        ParquetBytes(writer, position, name, static_cast<size_t>(name_length));
      }
      return true;
    }
    case ParquetValue::kDecimal:
      return AddDecimal(writer, position, rows->schema[static_cast<size_t>(position)], plan, value,
                        length);
    case ParquetValue::kNumberDouble:
    case ParquetValue::kDouble: {
      double number = 0;
      if (!ReadNumber(value, length, &number)) return false;
      ParquetDouble(writer, position, number);
      return true;
    }
    case ParquetValue::kFloat: {
      float number = 0;
      if (!ReadNumber(value, length, &number)) return false;
      ParquetFloat(writer, position, number);
      return true;
    }
    case ParquetValue::kDate:
    case ParquetValue::kTimestamp:
    case ParquetValue::kTimestampTz:
      return AddTimestamp(writer, position, plan, value, length);
  }
  return false;
}

bool WriteToBuffer(void* context, const void* data, size_t count) {
  auto* out = static_cast<OutputBuffer*>(context);
  Put(out, static_cast<const char*>(data), static_cast<int64_t>(count));
  return !out->failed;
}

}  // namespace

bool ParseParquetCodec(const char* text, ParquetCodec* codec) {
  if (text[0] == '\0') {
    *codec = ParquetCodecAvailable(ParquetCodec::kZstd) ? ParquetCodec::kZstd : ParquetCodec::kNone;
    return true;
  }
  static constexpr struct {
    const char* name;
    ParquetCodec codec;
  } kCodecs[] = {{"ZSTD", ParquetCodec::kZstd},
                 {"SNAPPY", ParquetCodec::kSnappy},
                 {"NONE", ParquetCodec::kNone}};
  for (const auto& known : kCodecs) {
    if (EqualIgnoringCase(text, known.name)) {
      *codec = known.codec;
      return true;
    }
  }
  return false;
}

bool PlanParquetRows(ParquetRows* rows, ColumnDesc* const* columns, int count,
                     const UnloadHandle* job) {
  rows->schema.assign(static_cast<size_t>(count), ParquetColumn{});
  rows->plans.assign(static_cast<size_t>(count), ParquetColumnPlan{});
  for (int position = 0; position < count; ++position) {
    rows->plans[static_cast<size_t>(position)] =
        PlanColumn(columns[position], job, &rows->schema[static_cast<size_t>(position)]);
  }
  rows->options = ParquetOptions{};
  if (!ParseParquetCodec(job->compress, &rows->options.codec)) return false;
  rows->options.row_group_bytes =
      job->rowgroup > 0 ? job->rowgroup : ParquetOptions{}.row_group_bytes;
  rows->options.created_by = std::string("rowflume ") + ROWFLUME_VERSION;
  rows->options.metadata.emplace_back("rowflume.query", job->query);
  if (job->scn[0] != '\0') rows->options.metadata.emplace_back("rowflume.scn", job->scn);
  return true;
}

bool StartParquetFile(ParquetRows* rows, OutputBuffer* out) {
  DiscardParquetFile(rows);
  rows->out = out;
  rows->writer = ParquetOpen(rows->schema, rows->options, WriteToBuffer, out);
  return rows->writer != nullptr;
}

bool AddParquetRow(ParquetRows* rows, ColumnDesc* const* columns, int count, int row_idx,
                   FieldEncoder* encoder) {
  for (int position = 0; position < count; ++position) {
    if (!AddValue(rows, columns[position], row_idx, position, encoder)) {
      int64_t length = 0;
      const char* value = ColumnValue(columns[position], row_idx, &length);
      rows->bad_position = position;
      rows->bad_value.assign(value, static_cast<size_t>(std::min<int64_t>(length, 200)));
      return false;
    }
  }
  return ParquetEndRow(rows->writer);
}

int64_t ParquetPendingBytes(const ParquetRows* rows) {
  return rows->writer != nullptr ? ParquetHeldBytes(rows->writer) : 0;
}

bool FinishParquetFile(ParquetRows* rows) {
  ParquetWriter* writer = rows->writer;
  rows->writer = nullptr;
  return writer != nullptr && ParquetClose(writer);
}

void DiscardParquetFile(ParquetRows* rows) {
  if (rows->writer != nullptr) ParquetDiscard(rows->writer);
  rows->writer = nullptr;
}

}  // namespace rowflume
