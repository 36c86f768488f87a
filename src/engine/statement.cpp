// Statements of the embedded engine: prepare, bind, execute, describe, define and array fetch.
// The fetch copies SQLite's column values straight into the caller's define buffers, with the
// conversion of each define fixed before the first row.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "common/ascii.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/handles.h"

namespace rowflume::engine {
namespace {

// Column-level outcomes of one value, beside 0.
constexpr int kNullNoIndicator = 1405;
constexpr int kTruncated = 1406;

constexpr ub2 SQLT_FLT = 4;
constexpr ub2 SQLT_BFLOAT = 21;
constexpr ub2 SQLT_BDOUBLE = 22;
constexpr ub2 SQLT_IBFLOAT_ = 100;

void ResetResult(Stmt* stmt) {
  stmt->Finalize();
  stmt->executed = false;
  stmt->is_query = false;
  stmt->row_pending = false;
  stmt->finished = false;
  stmt->plan_ready = false;
  stmt->columns.clear();
  stmt->names.clear();
  stmt->row_count = 0;
  stmt->rows_fetched = 0;
}

sword ApplyBinds(Stmt* stmt, Error* error) {
  sqlite3_stmt* st = stmt->st;
  int count = sqlite3_bind_parameter_count(st);
  std::vector<bool> bound(static_cast<size_t>(count) + 1, false);
  for (Bind* bind : stmt->binds) {
    if (bind == nullptr) continue;
    bool matched = false;
    for (int idx = 1; idx <= count; ++idx) {
      const char* name = sqlite3_bind_parameter_name(st, idx);
      // Oracle names are matched without regard to case; SQLite keeps :a and :A apart, so every
      // spelling of the name gets the value.
      if (name == nullptr || name[0] == '?' || !EqualIgnoringCase(name + 1, bind->name)) {
        continue;
      }
      matched = true;
      bound[static_cast<size_t>(idx)] = true;
      int rc = SQLITE_OK;
      const char* value = static_cast<const char*>(bind->value);
      if ((bind->indicator && *bind->indicator == -1) || value == nullptr) {
        rc = sqlite3_bind_null(st, idx);
        continue;
      }
      switch (bind->dty) {
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG: {
          size_t len = bind->length ? *bind->length : static_cast<size_t>(bind->value_sz);
          rc = sqlite3_bind_text(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_STR: {
          size_t len = strnlen(value, static_cast<size_t>(bind->value_sz));
          rc = sqlite3_bind_text(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_BIN:
        case SQLT_LBI: {
          size_t len = bind->length ? *bind->length : static_cast<size_t>(bind->value_sz);
          rc = sqlite3_bind_blob(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_INT:
        case SQLT_UIN: {
          bool is_signed = bind->dty == SQLT_INT;
          int64_t number = 0;
          switch (bind->value_sz) {
            case 1:
              number = is_signed ? int64_t(*reinterpret_cast<const int8_t*>(value))
                                 : int64_t(*reinterpret_cast<const uint8_t*>(value));
              break;
            case 2: {
              uint16_t raw;
              std::memcpy(&raw, value, 2);
              number = is_signed ? int64_t(int16_t(raw)) : int64_t(raw);
              break;
            }
            case 4: {
              uint32_t raw;
              std::memcpy(&raw, value, 4);
              number = is_signed ? int64_t(int32_t(raw)) : int64_t(raw);
              break;
            }
            case 8:
              std::memcpy(&number, value, 8);
              break;
            default:
              return Fail(error, 3115, "unsupported network datatype or representation");
          }
          rc = sqlite3_bind_int64(st, idx, number);
          break;
        }
        default:
          return Fail(error, 3115, "unsupported network datatype or representation");
      }
      if (rc != SQLITE_OK) {
        return FailSqlite(error, stmt->session, rc, sqlite3_errmsg(sqlite3_db_handle(st)), nullptr);
      }
    }
    if (!matched) return Fail(error, 1036, "illegal variable name/number");
  }
  for (int idx = 1; idx <= count; ++idx) {
    if (!bound[static_cast<size_t>(idx)]) return Fail(error, 1008, "not all variables bound");
  }
  return OCI_SUCCESS;
}

// The fault hook described in engine.h: a statement bound with a MINRID value that the
// database lists in rowflume_faults with remaining runs fails once per listed run.
sword InjectedFault(Stmt* stmt, Server* server, Error* error) {
  const Bind* minrid = nullptr;
  for (const Bind* bind : stmt->binds) {
    if (bind != nullptr && EqualIgnoringCase("MINRID", bind->name)) minrid = bind;
  }
  if (minrid == nullptr || minrid->value == nullptr) return OCI_SUCCESS;
  const char* value = static_cast<const char*>(minrid->value);
  size_t len = minrid->dty == SQLT_STR ? strnlen(value, static_cast<size_t>(minrid->value_sz))
               : minrid->length        ? *minrid->length
                                       : static_cast<size_t>(minrid->value_sz);
  // Looked up before anything is written, so that runs without a listed fault never write.
  sqlite3_stmt* probe = nullptr;
  if (sqlite3_prepare_v2(server->db,
                         "SELECT 1 FROM main.rowflume_faults WHERE minrid = ?1 AND remaining > 0",
                         -1, &probe, nullptr) != SQLITE_OK) {
    sqlite3_finalize(probe);
    return OCI_SUCCESS;
  }
  sqlite3_bind_text(probe, 1, value, static_cast<int>(len), SQLITE_TRANSIENT);
  bool listed = sqlite3_step(probe) == SQLITE_ROW;
  sqlite3_finalize(probe);
  if (!listed) return OCI_SUCCESS;
  sqlite3_stmt* take = nullptr;
  bool taken = false;
  if (sqlite3_prepare_v2(server->db,
                         "UPDATE main.rowflume_faults SET remaining = remaining - 1 "
                         "WHERE minrid = ?1 AND remaining > 0",
                         -1, &take, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(take, 1, value, static_cast<int>(len), SQLITE_TRANSIENT);
    taken = sqlite3_step(take) == SQLITE_DONE && sqlite3_changes(server->db) > 0;
  }
  sqlite3_finalize(take);
  if (!taken) return OCI_SUCCESS;
  return Fail(error, 1555, "snapshot too old: rollback segment number  with name \"\" too small");
}

void Describe(Stmt* stmt) {
  sqlite3_stmt* st = stmt->st;
  int count = sqlite3_column_count(st);
  stmt->columns.resize(static_cast<size_t>(count));
  stmt->names.resize(static_cast<size_t>(count));
  while (stmt->params.size() < static_cast<size_t>(count)) {
    stmt->params.push_back(std::make_unique<Param>(stmt->env));
  }
  for (int col = 0; col < count; ++col) {
    ColumnType type;
    if (!TypeFromDeclared(sqlite3_column_decltype(st, col), &type)) {
      type = TypeFromStorage(stmt->row_pending ? sqlite3_column_type(st, col) : 0);
    }
    stmt->columns[static_cast<size_t>(col)] = type;
    // Unquoted Oracle identifiers are shown upper-cased; an alias written in double quotes
    // keeps its letters as written.
    const char* name = sqlite3_column_name(st, col);
    std::string upper = name ? name : "";
    if (stmt->plan.sql.find('"' + upper + '"') == std::string::npos) {
      for (char& ch : upper) ch = AsciiUpper(ch);
    }
    Param* param = stmt->params[static_cast<size_t>(col)].get();
    param->column = type;
    param->name = upper;
    stmt->names[static_cast<size_t>(col)] = std::move(upper);
  }
}

// Binds every define to its column: which family its values have and which date format
// their text uses.
sword PlanDefines(Stmt* stmt, Error* error) {
  for (Define* define : stmt->defines) {
    if (define == nullptr) continue;
    if (define->position > stmt->columns.size()) {
      return Fail(error, 1007, "variable not in select list");
    }
    const ColumnType& column = stmt->columns[define->position - 1];
    define->family = column.family;
    define->fraction_digits = column.fraction_digits;
    define->rounds =
        column.family == Family::kNumber && column.precision > 0 && column.scale != -127;
    define->round_scale = column.scale;
    define->pad_chars = column.char_length;
    Session* session = stmt->session;
    switch (column.family) {
      case Family::kDate:
        define->date_format = &session->date_format;
        break;
      case Family::kTimestampTz:
        define->date_format = &session->timestamp_tz_format;
        break;
      case Family::kTimestamp:
      case Family::kTimestampLtz:
        define->date_format = &session->timestamp_format;
        break;
      default:
        define->date_format = nullptr;
        break;
    }
  }
  stmt->plan_ready = true;
  return OCI_SUCCESS;
}

// Places converted bytes into the row's slot and sets its indicator, length and return code.
int Frame(Define* define, size_t row, const void* bytes, size_t len) {
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
  if (define->codes) define->codes[row] = truncated ? kTruncated : 0;
  return truncated ? kTruncated : 0;
}

int FrameFixed(Define* define, size_t row, const void* bytes) {
  char* slot = define->buffer + row * define->stride;
  std::memcpy(slot, bytes, static_cast<size_t>(define->value_sz));
  if (define->lengths) define->lengths[row] = static_cast<ub2>(define->value_sz);
  if (define->indicators) define->indicators[row] = 0;
  if (define->codes) define->codes[row] = 0;
  return 0;
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

// Text of a value in its Oracle form: numbers positional, dates in the session's format,
// binary values of binary columns as hexadecimal, everything else as stored.
void ValueText(Stmt* stmt, Define* define, sqlite3_value* value, int storage, const void** bytes,
               size_t* len) {
  char* scratch = stmt->scratch;
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
          *bytes = scratch;
        }
      } else if (define->date_format != nullptr) {
        size_t copied = CopyCanonicalDateTime(*define->date_format, text, text_len,
                                              define->fraction_digits, scratch);
        if (copied != 0) {
          *len = copied;
          *bytes = scratch;
          return;
        }
        DateTime moment;
        if (ParseDateTime(text, text_len, &moment)) {
          *len = FormatDateTime(*define->date_format, moment, define->fraction_digits, scratch);
          *bytes = scratch;
        }
      } else if (define->pad_chars != 0) {
        // CHAR(n) values are stored blank-padded to n characters.
        size_t chars = 0;
        for (size_t idx = 0; idx < text_len; ++idx) {
          if ((static_cast<unsigned char>(text[idx]) & 0xC0) != 0x80) ++chars;
        }
        if (chars < define->pad_chars) {
          stmt->wide.assign(text, text_len);
          stmt->wide.append(define->pad_chars - chars, ' ');
          *bytes = stmt->wide.data();
          *len = stmt->wide.size();
        }
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

// Converts one value into one row of one define. Returns 0, kTruncated, kNullNoIndicator or
// the Oracle error number of a value that cannot be converted.
int DeliverValue(Stmt* stmt, Define* define, size_t row) {
  // One value object per column: its accessors skip the per-call checks of the column
  // accessors, which matters at millions of values. The connection is used by one thread only.
  sqlite3_value* value = sqlite3_column_value(stmt->st, static_cast<int>(define->position - 1));
  int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) {
    if (define->lengths) define->lengths[row] = 0;
    if (define->codes) define->codes[row] = kNullNoIndicator;
    if (define->conversion == Conversion::kLocator) {
      Handle* handle = nullptr;
      std::memcpy(&handle, define->buffer + row * define->stride, sizeof handle);
      Lob* lob = CastLob(handle);
      if (lob != nullptr) lob->has_value = false;
    }
    if (define->indicators == nullptr) return kNullNoIndicator;
    define->indicators[row] = -1;
    return 0;
  }
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
    case Conversion::kNumber: {
      Decimal dec;
      if (storage == SQLITE_INTEGER) {
        DecimalFromInteger(sqlite3_value_int64(value), &dec);
      } else if (storage == SQLITE_FLOAT) {
        if (!DecimalFromDouble(sqlite3_value_double(value), &dec)) return 1426;
      } else {
        const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        if (!ParseDecimal(text, static_cast<size_t>(sqlite3_value_bytes(value)), &dec)) {
          return 1722;
        }
      }
      if (define->rounds) RoundToScale(&dec, define->round_scale);
      auto* out = reinterpret_cast<uint8_t*>(stmt->scratch);
      len = EncodeNumber(dec, out);
      if (len == 0) return 1426;
      return Frame(define, row, out, len);
    }
    case Conversion::kDate: {
      if (storage != SQLITE_TEXT) return 932;
      DateTime moment;
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      if (!ParseDateTime(text, static_cast<size_t>(sqlite3_value_bytes(value)), &moment)) {
        return 1861;
      }
      uint8_t out[7];
      if (!EncodeDate(moment, out)) return 1841;
      return Frame(define, row, out, sizeof out);
    }
    case Conversion::kInteger: {
      int64_t number = 0;
      if (storage == SQLITE_INTEGER) {
        number = sqlite3_value_int64(value);
      } else {
        double real = 0;
        if (!ColumnDouble(value, storage, &real)) return 1722;
        real = std::round(real);
        if (!(real >= -9.2e18 && real <= 9.2e18)) return 1455;
        number = static_cast<int64_t>(real);
      }
      bool is_signed = define->dty == SQLT_INT;
      unsigned bits = static_cast<unsigned>(define->value_sz) * 8;
      if (is_signed) {
        if (bits < 64) {
          int64_t limit = int64_t(1) << (bits - 1);
          if (number < -limit || number >= limit) return 1455;
        }
      } else {
        if (number < 0 || (bits < 64 && static_cast<uint64_t>(number) >= (uint64_t(1) << bits))) {
          return 1455;
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
    case Conversion::kDouble: {
      double real = 0;
      if (!ColumnDouble(value, storage, &real)) return 1722;
      if (define->value_sz == 4) {
        auto single = static_cast<float>(real);
        return FrameFixed(define, row, &single);
      }
      return FrameFixed(define, row, &real);
    }
    case Conversion::kLocator: {
      Handle* handle = nullptr;
      std::memcpy(&handle, define->buffer + row * define->stride, sizeof handle);
      Lob* lob = CastLob(handle);
      if (lob == nullptr) return 22275;
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        ValueText(stmt, define, value, storage, &bytes, &len);
      } else {
        bytes = sqlite3_value_blob(value);
        len = static_cast<size_t>(sqlite3_value_bytes(value));
      }
      // The locator keeps its own copy; assign reuses its capacity from row to row.
      if (len == 0) {
        lob->data.clear();
      } else {
        lob->data.assign(static_cast<const char*>(bytes), len);
      }
      lob->has_value = true;
      lob->is_open = false;
      lob->polling = false;
      if (define->lengths) define->lengths[row] = static_cast<ub2>(sizeof(void*));
      if (define->indicators) define->indicators[row] = 0;
      if (define->codes) define->codes[row] = 0;
      return 0;
    }
  }
  return 0;
}

const char* ConversionErrorText(int code) {
  switch (code) {
    case 1405:
      return "fetched column value is NULL";
    case 1426:
      return "numeric overflow";
    case 1455:
      return "converting column overflows integer datatype";
    case 1722:
      return "invalid number";
    case 1841:
      return "(full) year must be between -4713 and +9999, and not be 0";
    case 1861:
      return "literal does not match format string";
    case 932:
      return "inconsistent datatypes";
    case 22275:
      return "invalid LOB locator specified";
    default:
      return "fetch failed";
  }
}

sword FetchRows(Stmt* stmt, Error* error, ub4 nrows) {
  if (!stmt->plan_ready) {
    sword status = PlanDefines(stmt, error);
    if (status != OCI_SUCCESS) return status;
  }
  stmt->rows_fetched = 0;
  bool truncated = false;
  int failure = 0;
  ub4 row = 0;
  for (; row < nrows; ++row) {
    if (!stmt->row_pending) {
      if (stmt->finished || stmt->st == nullptr) break;
      int rc = sqlite3_step(stmt->st);
      if (rc == SQLITE_DONE) {
        stmt->finished = true;
        break;
      }
      if (rc != SQLITE_ROW) {
        stmt->finished = true;
        stmt->rows_fetched = row;
        stmt->row_count += row;
        return FailSqlite(error, stmt->session, rc, sqlite3_errmsg(sqlite3_db_handle(stmt->st)),
                          nullptr);
      }
    }
    stmt->row_pending = false;
    for (Define* define : stmt->defines) {
      if (define == nullptr) continue;
      int outcome = DeliverValue(stmt, define, row);
      if (outcome == kTruncated) {
        truncated = true;
      } else if (outcome != 0 && failure == 0) {
        failure = outcome;
      }
    }
    if (failure != 0) {
      ++row;  // the row was read; its failing column is reported
      break;
    }
  }
  stmt->rows_fetched = row;
  stmt->row_count += row;
  if (failure != 0) return Fail(error, failure, ConversionErrorText(failure));
  if (truncated) {
    Fail(error, 24345, "A Truncation or null fetch error occurred");
    return OCI_SUCCESS_WITH_INFO;
  }
  if (row < nrows) {
    Fail(error, 1403, "no data found");
    return OCI_NO_DATA;
  }
  return OCI_SUCCESS;
}

}  // namespace

sword StmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* text, ub4 stmt_len,
                  ub4 /*language*/, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (text == nullptr) return Fail(error, 24373, "invalid length specified for statement");
  ResetResult(stmt);
  // Parsing happens at execute, when the statement meets its connection, as with a server.
  InspectStatement(reinterpret_cast<const char*>(text), stmt_len, &stmt->plan);
  stmt->prepared = true;
  return OCI_SUCCESS;
}

sword BindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                 sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp,
                 ub2* /*rcodep*/, ub4 /*maxarr_len*/, ub4* /*curelep*/, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr || bindp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (placeholder == nullptr) return Fail(error, 1036, "illegal variable name/number");
  const char* name = reinterpret_cast<const char*>(placeholder);
  size_t len = placeh_len < 0 ? std::strlen(name) : static_cast<size_t>(placeh_len);
  if (len > 0 && name[0] == ':') {
    ++name;
    --len;
  }
  if (len == 0) return Fail(error, 1036, "illegal variable name/number");
  Bind* bind = nullptr;
  for (Bind* existing : stmt->binds) {
    if (existing && EqualIgnoringCase(std::string_view(name, len), existing->name)) bind = existing;
  }
  if (bind == nullptr) {
    bind = Track(new Bind(stmt->env, stmt));
    stmt->binds.push_back(bind);
    bind->name.assign(name, len);
  }
  bind->value = valuep;
  bind->value_sz = value_sz;
  bind->dty = dty;
  bind->indicator = static_cast<sb2*>(indp);
  bind->length = alenp;
  *bindp = reinterpret_cast<OCIBind*>(static_cast<Handle*>(bind));
  return OCI_SUCCESS;
}

sword StmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 /*rowoff*/,
                  const OCISnapshot* /*snap_in*/, OCISnapshot* /*snap_out*/, ub4 /*mode*/) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (svc == nullptr || stmt == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!stmt->prepared) return Fail(error, 24337, "statement handle not prepared");
  Server* server = svc->server;
  Session* session = svc->session;
  if (server == nullptr || server->db == nullptr || session == nullptr || !session->begun) {
    return Fail(error, 3114, "not connected to ORACLE");
  }
  ResetResult(stmt);
  stmt->server = server;
  stmt->session = session;
  const StatementPlan& plan = stmt->plan;

  if (plan.kind == StatementKind::kAlterSession) {
    if (plan.error_code != 0) return Fail(error, plan.error_code, plan.error_text.c_str());
    // All settings of the statement take effect together or not at all.
    DateFormat formats[3] = {session->date_format, session->timestamp_format,
                             session->timestamp_tz_format};
    for (const SessionSetting& setting : plan.settings) {
      if (!CompileDateFormat(setting.value.data(), setting.value.size(), &formats[setting.which])) {
        return Fail(error, 1821, "date format not recognized");
      }
    }
    session->date_format = formats[0];
    session->timestamp_format = formats[1];
    session->timestamp_tz_format = formats[2];
    return OCI_SUCCESS;
  }

  if (plan.error_code != 0) return Fail(error, plan.error_code, plan.error_text.c_str());
  if (plan.uses_sysdate && server->set_clock) {
    sqlite3_step(server->set_clock);
    sqlite3_reset(server->set_clock);
  }
  const std::string sql = SqlForSession(plan, session->user);
  const char* tail = nullptr;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(server->db, sql.data(), static_cast<int>(sql.size()), &st, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    return FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
  }
  if (st == nullptr) return Fail(error, 900, "invalid SQL statement");
  // One statement per execute: anything after it but blanks and semicolons is refused.
  const char* end = sql.data() + sql.size();
  for (const char* pos = tail; pos && pos < end; ++pos) {
    if (*pos != ' ' && *pos != '\t' && *pos != '\n' && *pos != '\r' && *pos != ';') {
      sqlite3_finalize(st);
      return Fail(error, 933, "SQL command not properly ended");
    }
  }
  stmt->st = st;
  stmt->finished = false;
  sword status = ApplyBinds(stmt, error);
  if (status == OCI_SUCCESS) status = InjectedFault(stmt, server, error);
  if (status != OCI_SUCCESS) {
    stmt->Finalize();
    return status;
  }
  if (sqlite3_column_count(st) > 0) {
    // A query: run it up to its first row, which describes expressions without a declared
    // type and is kept for the first fetch.
    stmt->is_query = true;
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      stmt->row_pending = true;
    } else if (rc == SQLITE_DONE) {
      stmt->finished = true;
    } else {
      status = FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
      stmt->Finalize();
      return status;
    }
    Describe(stmt);
    stmt->executed = true;
    if (iters > 0) return FetchRows(stmt, error, iters);
    return OCI_SUCCESS;
  }
  if (iters == 0) {
    stmt->Finalize();
    return Fail(error, 24333, "zero iteration count");
  }
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    status = FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
    stmt->Finalize();
    return status;
  }
  // Each statement commits on its own (autocommit), which is what OCI_COMMIT_ON_SUCCESS asks.
  stmt->row_count = static_cast<ub4>(sqlite3_changes(server->db));
  stmt->Finalize();
  return OCI_SUCCESS;
}

sword ParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (htype != OCI_HTYPE_STMT || parmdpp == nullptr) return OCI_INVALID_HANDLE;
  Stmt* stmt = Cast<Stmt>(hndlp, OCI_HTYPE_STMT);
  if (stmt == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!stmt->executed) return Fail(error, 24338, "statement handle not executed");
  if (pos < 1 || pos > stmt->columns.size()) {
    return Fail(error, 24334, "no descriptor for this position");
  }
  *parmdpp = static_cast<Handle*>(stmt->params[pos - 1].get());
  return OCI_SUCCESS;
}

sword DefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                  sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr || defnp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (position == 0 || (stmt->executed && position > stmt->columns.size())) {
    return Fail(error, 1007, "variable not in select list");
  }
  if (valuep == nullptr || value_sz < 0) {
    return Fail(error, 1009, "missing mandatory parameter");
  }
  Conversion conversion = Conversion::kText;
  Framing framing = Framing::kPlain;
  size_t stride = static_cast<size_t>(value_sz);
  switch (dty) {
    case SQLT_CHR:
    case SQLT_AFC:
    case SQLT_LNG:
      break;
    case SQLT_STR:
      framing = Framing::kTerminated;
      break;
    case SQLT_LVC:
      framing = Framing::kLength4;
      break;
    case SQLT_BIN:
    case SQLT_LBI:
      conversion = Conversion::kBytes;
      break;
    case SQLT_LVB:
      conversion = Conversion::kBytes;
      framing = Framing::kLength4;
      break;
    case SQLT_NUM:
      conversion = Conversion::kNumber;
      break;
    case SQLT_VNU:
      conversion = Conversion::kNumber;
      framing = Framing::kLength1;
      break;
    case SQLT_DAT:
      conversion = Conversion::kDate;
      break;
    case SQLT_INT:
    case SQLT_UIN:
      conversion = Conversion::kInteger;
      framing = Framing::kFixed;
      break;
    case SQLT_FLT:
    case SQLT_BFLOAT:
    case SQLT_BDOUBLE:
    case SQLT_IBFLOAT_:
    case SQLT_IBDOUBLE:
      conversion = Conversion::kDouble;
      framing = Framing::kFixed;
      break;
    case SQLT_CLOB:
    case SQLT_BLOB:
    case SQLT_BFILEE:
      conversion = Conversion::kLocator;
      framing = Framing::kFixed;
      // The buffer holds one locator pointer per row; a smaller slot could not hold one.
      if (value_sz != 0 && static_cast<size_t>(value_sz) < sizeof(void*)) {
        return Fail(error, 3115, "unsupported network datatype or representation");
      }
      stride = value_sz == 0 ? sizeof(void*) : static_cast<size_t>(value_sz);
      break;
    default:
      return Fail(error, 3115, "unsupported network datatype or representation");
  }
  if (conversion == Conversion::kInteger && value_sz != 1 && value_sz != 2 && value_sz != 4 &&
      value_sz != 8) {
    return Fail(error, 3115, "unsupported network datatype or representation");
  }
  if (conversion == Conversion::kDouble && value_sz != 4 && value_sz != 8) {
    return Fail(error, 3115, "unsupported network datatype or representation");
  }
  if ((framing == Framing::kLength4 && value_sz < 4) ||
      (framing == Framing::kLength1 && value_sz < 1)) {
    return Fail(error, 3115, "unsupported network datatype or representation");
  }
  if (stmt->defines.size() < position) stmt->defines.resize(position, nullptr);
  Define* define = stmt->defines[position - 1];
  if (define == nullptr) {
    define = Track(new Define(stmt->env, stmt));
    define->position = position;
    stmt->defines[position - 1] = define;
  }
  define->buffer = static_cast<char*>(valuep);
  define->value_sz = value_sz;
  define->dty = dty;
  define->indicators = static_cast<sb2*>(indp);
  define->lengths = rlenp;
  define->codes = rcodep;
  define->conversion = conversion;
  define->framing = framing;
  define->stride = stride;
  stmt->plan_ready = false;
  *defnp = reinterpret_cast<OCIDefine*>(static_cast<Handle*>(define));
  return OCI_SUCCESS;
}

sword StmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!stmt->executed) return Fail(error, 24338, "statement handle not executed");
  if (orientation != OCI_FETCH_NEXT && orientation != 0) {
    return Fail(error, 24391, "invalid fetch operation");
  }
  if (nrows == 0) {
    // Fetching zero rows cancels the cursor.
    stmt->Finalize();
    stmt->rows_fetched = 0;
    return OCI_SUCCESS;
  }
  return FetchRows(stmt, error, nrows);
}

}  // namespace rowflume::engine
