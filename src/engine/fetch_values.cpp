#include "engine/fetch_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/inlining.h"
#include "engine/charsets.h"
#include "engine/date_time.h"
#include "engine/errors.h"
#include "engine/fetch.h"
#include "engine/number.h"

namespace rowflume::engine {
namespace {

constexpr size_t kIntegerTextMax = 20;  // "-9223372036854775808"

// Sets the length, indicator and return code of a value delivered whole into its slot.
void MarkWhole(const Define* define, size_t row, size_t len) {
  if (define->lengths) define->lengths[row] = static_cast<ub2>(len);
  if (define->indicators) define->indicators[row] = 0;
  if (define->codes) define->codes[row] = 0;
}

// Places converted bytes into the row's slot and sets its indicator, length and return code.
const OraError* Frame(Define* define, size_t row, const void* bytes, size_t len) {
  char* slot = define->buffer + row * define->stride;
  size_t value_sz = static_cast<size_t>(define->value_sz);
  size_t cap = 0;
  size_t copied = 0;
  switch (define->framing) {
    case Framing::kPlain:
    case Framing::kFixed:
      cap = value_sz;
      copied = len < cap ? len : cap;
      if (copied) std::memcpy(slot, bytes, copied);
      break;
    case Framing::kTerminated:
      cap = value_sz > 0 ? value_sz - 1 : 0;
      copied = len < cap ? len : cap;
      if (copied) std::memcpy(slot, bytes, copied);
      if (value_sz > 0) slot[copied] = '\0';
      break;
    case Framing::kLength4: {
      cap = value_sz - 4;
      copied = len < cap ? len : cap;
      auto prefix = static_cast<ub4>(copied);
      std::memcpy(slot, &prefix, 4);
      if (copied) std::memcpy(slot + 4, bytes, copied);
      break;
    }
    case Framing::kLength1:
      cap = value_sz - 1 < 255 ? value_sz - 1 : 255;
      copied = len < cap ? len : cap;
      slot[0] = static_cast<char>(copied);
      if (copied) std::memcpy(slot + 1, bytes, copied);
      break;
  }
  bool truncated = len > cap;
  if (define->lengths) define->lengths[row] = static_cast<ub2>(copied > 65535 ? 65535 : copied);
  if (define->indicators) {
    // A truncated value's indicator tells its full length, -2 when that does not fit.
    define->indicators[row] = truncated ? (len > 32767 ? sb2(-2) : static_cast<sb2>(len)) : 0;
  }
  if (define->codes) define->codes[row] = truncated ? ora::kFetchedColumnTruncated.code : 0;
  return truncated ? &ora::kFetchedColumnTruncated : nullptr;
}

const OraError* FrameFixed(Define* define, size_t row, const void* bytes) {
  char* slot = define->buffer + row * define->stride;
  std::memcpy(slot, bytes, static_cast<size_t>(define->value_sz));
  MarkWhole(define, row, static_cast<size_t>(define->value_sz));
  return nullptr;
}

bool DecimalToDouble(const Decimal& value, double* out) {
  if (value.ndigits == 0) {
    *out = 0;
    return true;
  }
  char text[80];
  char* pos = text;
  for (int idx = 0; idx < value.ndigits; ++idx) *pos++ = static_cast<char>('0' + value.digits[idx]);
  *pos++ = 'e';
  pos += FormatInteger(value.exp10 - value.ndigits, pos);
  auto result = std::from_chars(text, pos, *out);
  if (result.ec != std::errc()) return false;
  if (value.negative) *out = -*out;
  return true;
}

// The numeric value of a column as a double; false when its text is not a number.
bool ColumnDouble(sqlite3_value* value, int storage, double* out) {
  if (storage == SQLITE_INTEGER) {
    *out = static_cast<double>(sqlite3_value_int64(value));
    return true;
  }
  if (storage == SQLITE_FLOAT) {
    *out = sqlite3_value_double(value);
    return true;
  }
  Decimal dec;
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  if (!ParseDecimal(text, static_cast<size_t>(sqlite3_value_bytes(value)), &dec)) return false;
  return DecimalToDouble(dec, out);
}

// Number text is written with the session's decimal character (NLS_NUMERIC_CHARACTERS) in place
// of the point the formatting routines write.
void PlaceDecimalCharacter(const Define* define, char* text, size_t len) {
  if (define->decimal_character == '.') return;
  auto* point = static_cast<char*>(std::memchr(text, '.', len));
  if (point != nullptr) *point = define->decimal_character;
}

// Text of a BINARY_FLOAT or BINARY_DOUBLE value in out; false when the stored value is no number,
// which then passes as stored.
bool BinaryNumberText(const Define* define, sqlite3_value* value, int storage, char* out,
                      size_t* len) {
  double real = 0;
  if (storage == SQLITE_BLOB || !ColumnDouble(value, storage, &real)) return false;
  if (define->family == Family::kBinaryDouble) {
    *len = FormatBinaryNumber(real, kBinaryDoubleDigits, out);
    return true;
  }
  // Narrowed as the column stores it; beyond the largest float a value is infinite.
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  const double single = real > kFloatMax    ? std::numeric_limits<double>::infinity()
                        : real < -kFloatMax ? -std::numeric_limits<double>::infinity()
                                            : static_cast<double>(static_cast<float>(real));
  *len = FormatBinaryNumber(single, kBinaryFloatDigits, out);
  return true;
}

// CHAR(n) values are stored blank-padded to n characters: counted in the text as delivered (one
// byte a character, or UTF-8), which may already be the statement's wide text.
size_t CharacterCount(const Define* define, const char* bytes, size_t len) {
  const auto* text = reinterpret_cast<const unsigned char*>(bytes);
  const bool unicode = define->text_to == 0 || ClientIsUnicode(define->text_to);
  size_t chars = 0;
  for (size_t idx = 0; idx < len; ++idx) {
    if (!unicode || (text[idx] & 0xC0) != 0x80) ++chars;
  }
  return chars;
}

void PadToLength(Stmt* stmt, const Define* define, const void** bytes, size_t* len) {
  const size_t chars = CharacterCount(define, static_cast<const char*>(*bytes), *len);
  if (chars >= define->pad_chars) return;
  if (*bytes != stmt->wide.data()) stmt->wide.assign(static_cast<const char*>(*bytes), *len);
  stmt->wide.append(define->pad_chars - chars, ' ');
  *bytes = stmt->wide.data();
  *len = stmt->wide.size();
}

// Text of a value in its Oracle form: numbers positional, binary floating-point numbers in
// scientific form, dates in the session's format, binary values of binary columns as
// hexadecimal, everything else as stored.
void ValueText(Stmt* stmt, Define* define, sqlite3_value* value, int storage, const void** bytes,
               size_t* len) {
  char* scratch = stmt->scratch;
  if ((define->family == Family::kBinaryFloat || define->family == Family::kBinaryDouble) &&
      BinaryNumberText(define, value, storage, scratch, len)) {
    PlaceDecimalCharacter(define, scratch, *len);
    *bytes = scratch;
    return;
  }
  switch (storage) {
    case SQLITE_INTEGER:
      if (define->rounds && define->round_scale < 0) {
        Decimal dec;
        DecimalFromInteger(sqlite3_value_int64(value), &dec);
        RoundToScale(&dec, define->round_scale);
        *len = FormatDecimal(dec, scratch);
      } else {
        *len = FormatInteger(sqlite3_value_int64(value), scratch);
      }
      *bytes = scratch;
      return;
    case SQLITE_FLOAT: {
      Decimal dec;
      const double number = sqlite3_value_double(value);
      if (define->rounds && define->round_scale > 0 &&
          (*len = FormatDoubleAtScale(number, define->round_scale, scratch)) > 0) {
        // the common NUMBER(p,s) amount, written without a decimal expansion
      } else if (define->rounds && DecimalFromDouble(number, &dec)) {
        RoundToScale(&dec, define->round_scale);
        *len = FormatDecimal(dec, scratch);
      } else {
        *len = FormatDouble(number, scratch);
      }
      PlaceDecimalCharacter(define, scratch, *len);
      *bytes = scratch;
      return;
    }
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      size_t text_len = static_cast<size_t>(sqlite3_value_bytes(value));
      *bytes = text;
      *len = text_len;
      if (define->family == Family::kNumber) {
        // Decimal text in a NUMBER column reads back normalised: '123.4500' is 123.45.
        // Text beyond what a NUMBER holds (1E126 and up) is no number; it passes unchanged.
        Decimal dec;
        if (ParseDecimal(text, text_len, &dec) && dec.exp10 <= 126) {
          if (define->rounds) RoundToScale(&dec, define->round_scale);
          *len = FormatDecimal(dec, scratch);
          PlaceDecimalCharacter(define, scratch, *len);
          *bytes = scratch;
        }
      } else if (define->date_format != nullptr) {
        const size_t written =
            StoredDateTimeText(*define->date_format, text, text_len, define->fraction_digits,
                               define->local_zone, define->zone_minutes, scratch);
        if (written != 0) {
          *len = written;
          *bytes = scratch;
        }
      } else {
        if (define->text_from != 0) {
          ConvertText(define->text_from, define->text_to, text, text_len, &stmt->wide);
          *bytes = stmt->wide.data();
          *len = stmt->wide.size();
        }
        if (define->pad_chars != 0) PadToLength(stmt, define, bytes, len);
      }
      return;
    }
    default: {
      const auto* blob = static_cast<const unsigned char*>(sqlite3_value_blob(value));
      size_t blob_len = static_cast<size_t>(sqlite3_value_bytes(value));
      if (define->family != Family::kBinary || define->conversion != Conversion::kText) {
        *bytes = blob;
        *len = blob_len;
        return;
      }
      // A binary column fetched as text reads as upper-case hexadecimal.
      static const char kHex[] = "0123456789ABCDEF";
      stmt->wide.resize(blob_len * 2);
      for (size_t idx = 0; idx < blob_len; ++idx) {
        stmt->wide[2 * idx] = kHex[blob[idx] >> 4];
        stmt->wide[2 * idx + 1] = kHex[blob[idx] & 15];
      }
      *bytes = stmt->wide.data();
      *len = stmt->wide.size();
      return;
    }
  }
}

// Writes the common values of an in-place define straight into row `row`'s slot when the slot
// surely holds their text: integers, NUMBER(p,s) amounts, doubles of the common range, canonical
// dates and text that fits as stored. False leaves the value to ValueText and Frame; the writers
// used here write nothing when they decline.
bool DeliverInPlace(const Define* define, sqlite3_value* value, int storage, size_t row) {
  char* slot = define->buffer + row * define->stride;
  const auto cap = static_cast<size_t>(define->value_sz);
  size_t len = 0;
  switch (storage) {
    case SQLITE_INTEGER:
      if (cap < kIntegerTextMax || (define->rounds && define->round_scale < 0)) return false;
      len = FormatInteger(sqlite3_value_int64(value), slot);
      break;
    case SQLITE_FLOAT: {
      const double number = sqlite3_value_double(value);
      if (define->rounds) {
        if (define->round_scale <= 0 || cap < kScaledTextMax) return false;
        len = FormatDoubleAtScale(number, define->round_scale, slot);
      } else {
        if (cap < kShortDoubleTextMax) return false;
        len = FormatShortDouble(number, slot);
      }
      if (len == 0) return false;
      PlaceDecimalCharacter(define, slot, len);
      break;
    }
    case SQLITE_TEXT: {
      if (define->family == Family::kNumber) return false;
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const auto text_len = static_cast<size_t>(sqlite3_value_bytes(value));
      if (define->date_format != nullptr) {
        const DateFormat& format = *define->date_format;
        if (format.canonical == DateFormat::kNotCanonical) return false;
        const size_t longest = format.canonical == DateFormat::kCanonicalDate
                                   ? kCanonicalDateText
                                   : kCanonicalDateText + 1 + define->fraction_digits;
        if (cap < longest) return false;
        len = CopyCanonicalDateTime(format, text, text_len, define->fraction_digits, slot);
        if (len == 0) return false;
        break;
      }
      // CHAR(n) text short of n characters is padded by PadToLength.
      if (text_len > cap || (define->pad_chars != 0 && text_len < define->pad_chars)) return false;
      if (define->pad_chars != 0 && CharacterCount(define, text, text_len) < define->pad_chars) {
        return false;
      }
      if (text_len != 0) std::memcpy(slot, text, text_len);
      len = text_len;
      break;
    }
    default:
      return false;
  }
  MarkWhole(define, row, len);
  return true;
}

// The steps of DeliverValue, one per conversion. Each is inlined into it, as DeliverValue runs
// once per fetched value: the steps are for the reader, the code stays one function. Each
// returns what DeliverValue returns.
#define ROWFLUME_DELIVER_STEP inline ROWFLUME_ALWAYS_INLINE

// A NULL: length 0, the null code, a locator marked empty, and the indicator -1 where there is
// one; without an indicator the NULL is an error.
ROWFLUME_DELIVER_STEP const OraError* DeliverNull(Define* define, size_t row) {
  if (define->lengths) define->lengths[row] = 0;
  if (define->codes) define->codes[row] = ora::kFetchedColumnNull.code;
  if (define->conversion == Conversion::kLocator) {
    Handle* handle = nullptr;
    std::memcpy(&handle, define->buffer + row * define->stride, sizeof handle);
    Lob* lob = CastLob(handle);
    if (lob != nullptr) lob->has_value = false;
  }
  if (define->indicators == nullptr) return &ora::kFetchedColumnNull;
  define->indicators[row] = -1;
  return nullptr;
}

ROWFLUME_DELIVER_STEP const OraError* DeliverNumber(Stmt* stmt, Define* define,
                                                    sqlite3_value* value, int storage, size_t row) {
  // Integers and the common doubles are encoded without a decimal expansion, straight into a
  // slot that holds their bytes.
  const bool in_slot = define->framing == Framing::kPlain &&
                       static_cast<size_t>(define->value_sz) >= kShortNumberBytesMax;
  auto* fast_out = in_slot ? reinterpret_cast<uint8_t*>(define->buffer + row * define->stride)
                           : reinterpret_cast<uint8_t*>(stmt->scratch);
  size_t fast_len = 0;
  if (storage == SQLITE_INTEGER && (!define->rounds || define->round_scale >= 0)) {
    fast_len = EncodeInteger(sqlite3_value_int64(value), fast_out);
  } else if (storage == SQLITE_FLOAT) {
    fast_len = EncodeShortDouble(sqlite3_value_double(value), define->rounds, define->round_scale,
                                 fast_out);
  }
  if (fast_len != 0) {
    if (!in_slot) return Frame(define, row, fast_out, fast_len);
    MarkWhole(define, row, fast_len);
    return nullptr;
  }
  Decimal dec;
  if (storage == SQLITE_INTEGER) {
    DecimalFromInteger(sqlite3_value_int64(value), &dec);
  } else if (storage == SQLITE_FLOAT) {
    if (!DecimalFromDouble(sqlite3_value_double(value), &dec)) return &ora::kNumericOverflow;
  } else {
    const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (!ParseDecimal(text, static_cast<size_t>(sqlite3_value_bytes(value)), &dec)) {
      return &ora::kInvalidNumber;
    }
  }
  if (define->rounds) RoundToScale(&dec, define->round_scale);
  auto* out = reinterpret_cast<uint8_t*>(stmt->scratch);
  size_t len = EncodeNumber(dec, out);
  if (len == 0) return &ora::kNumericOverflow;
  return Frame(define, row, out, len);
}

ROWFLUME_DELIVER_STEP const OraError* DeliverDate(Define* define, sqlite3_value* value, int storage,
                                                  size_t row) {
  if (storage != SQLITE_TEXT) return &ora::kInconsistentDatatypes;
  DateTime moment;
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  if (!ParseDateTime(text, static_cast<size_t>(sqlite3_value_bytes(value)), &moment)) {
    return &ora::kLiteralDoesNotMatchFormat;
  }
  uint8_t out[7];
  if (!EncodeDate(moment, out)) return &ora::kYearOutOfRange;
  if (define->framing != Framing::kPlain || define->value_sz < 7) {
    return Frame(define, row, out, sizeof out);
  }
  // The common slot of exactly the seven bytes: filled without the general framing.
  std::memcpy(define->buffer + row * define->stride, out, sizeof out);
  MarkWhole(define, row, sizeof out);
  return nullptr;
}

// A binary integer of the define's width (1, 2, 4 or 8 bytes), signed for SQLT_INT; a value
// that does not fit is an overflow, never cut.
ROWFLUME_DELIVER_STEP const OraError* DeliverInteger(Define* define, sqlite3_value* value,
                                                     int storage, size_t row) {
  int64_t number = 0;
  if (storage == SQLITE_INTEGER) {
    number = sqlite3_value_int64(value);
  } else {
    double real = 0;
    if (!ColumnDouble(value, storage, &real)) return &ora::kInvalidNumber;
    real = std::round(real);
    if (!(real >= -9.2e18 && real <= 9.2e18)) return &ora::kIntegerOverflow;
    number = static_cast<int64_t>(real);
  }
  bool is_signed = define->dty == SQLT_INT;
  unsigned bits = static_cast<unsigned>(define->value_sz) * 8;
  if (is_signed) {
    if (bits < 64) {
      int64_t limit = int64_t(1) << (bits - 1);
      if (number < -limit || number >= limit) return &ora::kIntegerOverflow;
    }
  } else {
    if (number < 0 || (bits < 64 && static_cast<uint64_t>(number) >= (uint64_t(1) << bits))) {
      return &ora::kIntegerOverflow;
    }
  }
  uint8_t out[8];
  switch (define->value_sz) {
    case 1: {
      auto v = static_cast<uint8_t>(number);
      std::memcpy(out, &v, 1);
      break;
    }
    case 2: {
      auto v = static_cast<uint16_t>(number);
      std::memcpy(out, &v, 2);
      break;
    }
    case 4: {
      auto v = static_cast<uint32_t>(number);
      std::memcpy(out, &v, 4);
      break;
    }
    default:
      std::memcpy(out, &number, 8);
      break;
  }
  return FrameFixed(define, row, out);
}

ROWFLUME_DELIVER_STEP const OraError* DeliverDouble(Define* define, sqlite3_value* value,
                                                    int storage, size_t row) {
  double real = 0;
  if (!ColumnDouble(value, storage, &real)) return &ora::kInvalidNumber;
  if (define->value_sz == 4) {
    auto single = static_cast<float>(real);
    return FrameFixed(define, row, &single);
  }
  return FrameFixed(define, row, &real);
}

// The value goes into the locator the slot points to, converted to the client's character set
// when it is text; the slot itself keeps the pointer.
ROWFLUME_DELIVER_STEP const OraError* DeliverLocator(Stmt* stmt, Define* define,
                                                     sqlite3_value* value, int storage,
                                                     size_t row) {
  Handle* handle = nullptr;
  std::memcpy(&handle, define->buffer + row * define->stride, sizeof handle);
  Lob* lob = CastLob(handle);
  if (lob == nullptr) return &ora::kInvalidLobLocator;
  const void* bytes = nullptr;
  size_t len = 0;
  if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
    ValueText(stmt, define, value, storage, &bytes, &len);
  } else {
    bytes = sqlite3_value_blob(value);
    len = static_cast<size_t>(sqlite3_value_bytes(value));
    if (define->text_from != 0 && storage == SQLITE_TEXT) {
      ConvertText(define->text_from, define->text_to, static_cast<const char*>(bytes), len,
                  &stmt->wide);
      bytes = stmt->wide.data();
      len = stmt->wide.size();
    }
  }
  // The locator keeps its own copy; assign reuses its capacity from row to row.
  if (len == 0) {
    lob->data.clear();
  } else {
    lob->data.assign(static_cast<const char*>(bytes), len);
  }
  lob->has_value = true;
  lob->charset_form = define->charset_form;
  lob->is_open = false;
  lob->polling = false;
  MarkWhole(define, row, sizeof(void*));
  return nullptr;
}

// Converts the current row's value of the define's column into row `row` of the define. Returns
// null when the value is delivered whole, &ora::kFetchedColumnTruncated when it was cut short to
// fit, or the error of a value that cannot be delivered (a NULL without indicator among them).
const OraError* DeliverValue(Stmt* stmt, Define* define, size_t row) {
  // One value object per column: its accessors skip the per-call checks of the column
  // accessors, which matters at millions of values. The connection is used by one thread only.
  sqlite3_value* value = sqlite3_column_value(stmt->st, static_cast<int>(define->position - 1));
  int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) return DeliverNull(define, row);
  // Checked before the conversion is looked at: most values of most columns end here.
  if (define->in_place && DeliverInPlace(define, value, storage, row)) return nullptr;
  const void* bytes = nullptr;
  size_t len = 0;
  switch (define->conversion) {
    case Conversion::kText:
      ValueText(stmt, define, value, storage, &bytes, &len);
      return Frame(define, row, bytes, len);
    case Conversion::kBytes:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        ValueText(stmt, define, value, storage, &bytes, &len);
      } else {
        bytes = sqlite3_value_blob(value);
        len = static_cast<size_t>(sqlite3_value_bytes(value));
      }
      return Frame(define, row, bytes, len);
    case Conversion::kNumber:
      return DeliverNumber(stmt, define, value, storage, row);
    case Conversion::kDate:
      return DeliverDate(define, value, storage, row);
    case Conversion::kInteger:
      return DeliverInteger(define, value, storage, row);
    case Conversion::kDouble:
      return DeliverDouble(define, value, storage, row);
    case Conversion::kLocator:
      return DeliverLocator(stmt, define, value, storage, row);
  }
  return nullptr;
}

#undef ROWFLUME_DELIVER_STEP

}  // namespace

sword FetchRows(Stmt* stmt, Error* error, ub4 nrows) {
  if (!stmt->plan_ready) {
    sword status = PlanDefines(stmt, error);
    if (status != OCI_SUCCESS) return status;
  }
  stmt->rows_fetched = 0;
  bool truncated = false;
  const OraError* failure = nullptr;
  ub4 row = 0;
  for (; row < nrows; ++row) {
    if (!stmt->row_pending) {
      if (stmt->finished || stmt->st == nullptr) break;
      uint64_t nulls_before = stmt->server->aggregate_nulls;
      int rc = sqlite3_step(stmt->st);
      if (stmt->server->aggregate_nulls != nulls_before) stmt->null_in_aggregate = true;
      if (rc == SQLITE_DONE) {
        // A read at an SCN lets go of the database at the end of its data, not at its release.
        if (stmt->in_snapshot) stmt->Finalize();
        stmt->finished = true;
        break;
      }
      if (rc != SQLITE_ROW) {
        stmt->finished = true;
        stmt->rows_fetched = row;
        stmt->row_count += row;
        sword status = FailSqlite(error, stmt->session, rc,
                                  sqlite3_errmsg(sqlite3_db_handle(stmt->st)), nullptr);
        if (stmt->in_snapshot) stmt->Finalize();
        return status;
      }
    }
    stmt->row_pending = false;
    for (Define* define : stmt->defines) {
      if (define == nullptr) continue;
      const OraError* outcome = DeliverValue(stmt, define, row);
      if (outcome == &ora::kFetchedColumnTruncated) {
        truncated = true;
      } else if (outcome != nullptr && failure == nullptr) {
        failure = outcome;
      }
    }
    if (failure != nullptr) {
      ++row;  // the row was read; its failing column is reported
      break;
    }
  }
  stmt->rows_fetched = row;
  stmt->row_count += row;
  if (failure != nullptr) return Fail(error, *failure);
  if (truncated) {
    Fail(error, ora::kTruncationOrNullFetch);
    return OCI_SUCCESS_WITH_INFO;
  }
  if (row < nrows) {
    Fail(error, ora::kNoDataFound);
    return OCI_NO_DATA;
  }
  // Only a full array carries the warning: the end of the data is the news of a short one.
  if (stmt->null_in_aggregate) {
    stmt->null_in_aggregate = false;
    Fail(error, ora::kNullInAggregate);
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
