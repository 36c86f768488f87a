// Attributes of the embedded engine's handles: what may be set (AttrSet) and read (AttrGet).
#include <cstring>
#include <string>

#include "engine/charsets.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/handles.h"

namespace rowflume::engine {

sword AttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype,
              OCIError* errhp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  ClearError(error);
  switch (trghndltyp) {
    case OCI_HTYPE_SVCCTX: {
      SvcCtx* svc = Cast<SvcCtx>(trgthndlp, OCI_HTYPE_SVCCTX);
      if (svc == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_SERVER) {
        Server* server = Cast<Server>(attributep, OCI_HTYPE_SERVER);
        if (server == nullptr) return OCI_INVALID_HANDLE;
        svc->server = server;
        return OCI_SUCCESS;
      }
      if (attrtype == OCI_ATTR_SESSION) {
        Session* session = Cast<Session>(attributep, OCI_HTYPE_SESSION);
        if (session == nullptr) return OCI_INVALID_HANDLE;
        svc->session = session;
        return OCI_SUCCESS;
      }
      break;
    }
    case OCI_HTYPE_SESSION: {
      Session* session = Cast<Session>(trgthndlp, OCI_HTYPE_SESSION);
      if (session == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_USERNAME || attrtype == OCI_ATTR_PASSWORD) {
        std::string value;
        if (attributep != nullptr) value.assign(static_cast<const char*>(attributep), size);
        (attrtype == OCI_ATTR_USERNAME ? session->username : session->password) = value;
        return OCI_SUCCESS;
      }
      break;
    }
    case OCI_HTYPE_STMT: {
      if (Cast<Stmt>(trgthndlp, OCI_HTYPE_STMT) == nullptr) return OCI_INVALID_HANDLE;
      // Prefetch settings tune round trips to a server; there are none here.
      constexpr ub4 kAttrPrefetchRows = 11;
      constexpr ub4 kAttrPrefetchMemory = 13;
      if (attrtype == kAttrPrefetchRows || attrtype == kAttrPrefetchMemory) return OCI_SUCCESS;
      break;
    }
    default:
      if (trgthndlp == nullptr) return OCI_INVALID_HANDLE;
      break;
  }
  return Fail(error, ora::kIllegalAttributeType);
}

namespace {

// Every value is written with exactly its attribute's width: callers pass variables of that size.
template <typename Value>
sword Put(void* attributep, ub4* sizep, Value value) {
  std::memcpy(attributep, &value, sizeof value);
  if (sizep) *sizep = sizeof value;
  return OCI_SUCCESS;
}

// A text attribute is a pointer to the handle's own bytes, with their length as its size.
sword PutText(void* attributep, ub4* sizep, const std::string& text) {
  const OraText* pointer = reinterpret_cast<const OraText*>(text.c_str());
  std::memcpy(attributep, &pointer, sizeof pointer);
  if (sizep) *sizep = static_cast<ub4>(text.size());
  return OCI_SUCCESS;
}

// Each reader below answers for one handle type: the value, OCI_INVALID_HANDLE for a handle of
// another type, or ORA-24315 for an attribute that type does not have.

sword StmtAttrGet(const void* handle, void* attributep, ub4* sizep, ub4 attrtype, Error* error) {
  Stmt* stmt = Cast<Stmt>(handle, OCI_HTYPE_STMT);
  if (stmt == nullptr) return OCI_INVALID_HANDLE;
  constexpr ub4 kAttrStmtType = 24;
  constexpr ub4 kAttrPrefetchRows = 11;
  switch (attrtype) {
    case OCI_ATTR_PARAM_COUNT:
      return Put<ub4>(attributep, sizep,
                      stmt->executed ? static_cast<ub4>(stmt->columns.size()) : 0);
    case OCI_ATTR_ROW_COUNT:
      return Put<ub4>(attributep, sizep, stmt->row_count);
    case OCI_ATTR_ROWS_FETCHED:
      return Put<ub4>(attributep, sizep, stmt->rows_fetched);
    case kAttrStmtType:
      return Put<ub2>(attributep, sizep, stmt->plan.stmt_type);
    case kAttrPrefetchRows:
      return Put<ub4>(attributep, sizep, 1);
    default:
      return Fail(error, ora::kIllegalAttributeType);
  }
}

sword ParamAttrGet(const void* handle, void* attributep, ub4* sizep, ub4 attrtype, Error* error) {
  Param* param = Cast<Param>(handle, OCI_DTYPE_PARAM);
  if (param == nullptr) return OCI_INVALID_HANDLE;
  constexpr ub4 kAttrDispSize = 3;
  constexpr ub4 kAttrIsNull = 7;
  constexpr ub4 kAttrCharsetId = 31;
  constexpr ub4 kAttrCharsetForm = 32;
  constexpr ub4 kAttrCharUsed = 285;
  constexpr ub4 kAttrCharSize = 286;
  const ColumnType& column = param->column;
  switch (attrtype) {
    case OCI_ATTR_DATA_TYPE:
      return Put<ub2>(attributep, sizep, column.data_type);
    case OCI_ATTR_DATA_SIZE:
    case kAttrDispSize:
      return Put<ub2>(attributep, sizep, column.data_size);
    case kAttrCharSize:
      // Characters, where data_size counts the database set's bytes.
      return Put<ub2>(attributep, sizep,
                      column.char_size != 0 ? column.char_size : column.data_size);
    case OCI_ATTR_NAME:
      return PutText(attributep, sizep, param->name);
    case OCI_ATTR_PRECISION:
      return Put<sb2>(attributep, sizep, column.precision);
    case OCI_ATTR_SCALE:
      return Put<sb1>(attributep, sizep, column.scale);
    case kAttrIsNull:
      return Put<ub1>(attributep, sizep, 1);
    case kAttrCharsetForm:
      return Put<ub1>(attributep, sizep, column.charset_form);
    case kAttrCharsetId:
      return Put<ub2>(attributep, sizep, ColumnCharset(column.charset_form, param->server));
    case kAttrCharUsed:
      return Put<ub1>(attributep, sizep, 0);
    default:
      return Fail(error, ora::kIllegalAttributeType);
  }
}

// The server and session handles themselves, as the pointers the service context keeps.
sword SvcCtxAttrGet(const void* handle, void* attributep, ub4* sizep, ub4 attrtype, Error* error) {
  SvcCtx* svc = Cast<SvcCtx>(handle, OCI_HTYPE_SVCCTX);
  if (svc == nullptr) return OCI_INVALID_HANDLE;
  void* pointer = nullptr;
  if (attrtype == OCI_ATTR_SERVER)
    pointer = static_cast<Handle*>(svc->server);
  else if (attrtype == OCI_ATTR_SESSION)
    pointer = static_cast<Handle*>(svc->session);
  else
    return Fail(error, ora::kIllegalAttributeType);
  return Put<void*>(attributep, sizep, pointer);
}

}  // namespace

sword AttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
              OCIError* errhp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  ClearError(error);
  if (attributep == nullptr) return Fail(error, ora::kIllegalAttributeType);
  switch (trghndltyp) {
    case OCI_HTYPE_STMT:
      return StmtAttrGet(trgthndlp, attributep, sizep, attrtype, error);
    case OCI_DTYPE_PARAM:
      return ParamAttrGet(trgthndlp, attributep, sizep, attrtype, error);
    case OCI_HTYPE_SVCCTX:
      return SvcCtxAttrGet(trgthndlp, attributep, sizep, attrtype, error);
    case OCI_HTYPE_SESSION: {
      Session* session = Cast<Session>(trgthndlp, OCI_HTYPE_SESSION);
      if (session == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_USERNAME) return PutText(attributep, sizep, session->username);
      break;
    }
    case OCI_HTYPE_ENV: {
      const Env* env = Cast<Env>(trgthndlp, OCI_HTYPE_ENV);
      if (env == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_ENV_CHARSET_ID)
        return Put<ub2>(attributep, sizep, ClientCharset(env));
      break;
    }
    default:
      if (trgthndlp == nullptr) return OCI_INVALID_HANDLE;
      break;
  }
  return Fail(error, ora::kIllegalAttributeType);
}

}  // namespace rowflume::engine
