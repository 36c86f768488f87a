#include "engine/fetch.h"

#include "engine/charsets.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/fetch_values.h"

namespace rowflume::engine {
namespace {

// Client type codes that oci/oci_api.h does not name.
constexpr ub2 SQLT_FLT = 4;
constexpr ub2 SQLT_BFLOAT = 21;
constexpr ub2 SQLT_BDOUBLE = 22;

}  // namespace

sword PlanDefines(Stmt* stmt, Error* error) {
  for (Define* define : stmt->defines) {
    if (define == nullptr) continue;
    if (define->position > stmt->columns.size()) {
      return Fail(error, ora::kVariableNotInSelectList);
    }
    const ColumnType& column = stmt->columns[define->position - 1];
    // BFILE values are read through their locators only; the long-value defines that serve
    // the other LOBs are refused, as by a client.
    if (column.data_type == SQLT_BFILEE && (define->dty == SQLT_LVC || define->dty == SQLT_LVB)) {
      return Fail(error, ora::kInconsistentDatatypes);
    }
    define->family = column.family;
    define->fraction_digits = column.fraction_digits;
    define->rounds =
        column.family == Family::kNumber && column.precision > 0 && column.scale != -127;
    define->round_scale = column.scale;
    define->pad_chars = column.char_length;
    define->charset_form = column.charset_form;
    // Text reaches the client in the client's set, as a client converts it: the database's
    // declared set (none declared: passed as stored), national text from its stored UTF-8.
    define->text_from = 0;
    define->text_to = 0;
    if (column.family == Family::kText && column.charset_form != 0 && stmt->server != nullptr) {
      const ub2 from = StoredCharset(column.charset_form, stmt->server);
      const ub2 to = ClientCharset(stmt->env);
      define->text_from = ConvertsText(from, to) ? from : 0;
      define->text_to = define->text_from != 0 ? to : from;
    }
    Session* session = stmt->session;
    define->decimal_character = session->decimal_character;
    define->local_zone = column.family == Family::kTimestampLtz;
    define->zone_minutes = define->local_zone ? session->time_zone_minutes : 0;
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
    // Decided once here rather than for every value: whether the fetch may write this column's
    // common values in place, skipping the scratch copy.
    define->in_place = define->conversion == Conversion::kText &&
                       define->framing == Framing::kPlain && define->text_from == 0 &&
                       column.family != Family::kBinaryFloat &&
                       column.family != Family::kBinaryDouble && column.family != Family::kBinary &&
                       define->zone_minutes == 0;
  }
  stmt->plan_ready = true;
  return OCI_SUCCESS;
}

sword DefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                  sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr || defnp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (position == 0 || (stmt->executed && position > stmt->columns.size())) {
    return Fail(error, ora::kVariableNotInSelectList);
  }
  if (valuep == nullptr || value_sz < 0) {
    return Fail(error, ora::kMissingMandatoryParameter);
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
    case SQLT_IBFLOAT:
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
        return Fail(error, ora::kUnsupportedDatatype);
      }
      stride = value_sz == 0 ? sizeof(void*) : static_cast<size_t>(value_sz);
      break;
    default:
      return Fail(error, ora::kUnsupportedDatatype);
  }
  if (conversion == Conversion::kInteger && value_sz != 1 && value_sz != 2 && value_sz != 4 &&
      value_sz != 8) {
    return Fail(error, ora::kUnsupportedDatatype);
  }
  if (conversion == Conversion::kDouble && value_sz != 4 && value_sz != 8) {
    return Fail(error, ora::kUnsupportedDatatype);
  }
  if ((framing == Framing::kLength4 && value_sz < 4) ||
      (framing == Framing::kLength1 && value_sz < 1)) {
    return Fail(error, ora::kUnsupportedDatatype);
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
  if (!stmt->executed) return Fail(error, ora::kStatementNotExecuted);
  if (orientation != OCI_FETCH_NEXT && orientation != 0) {
    return Fail(error, ora::kInvalidFetchOperation);
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
