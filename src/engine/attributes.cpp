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

sword AttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
              OCIError* errhp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  ClearError(error);
  if (attributep == nullptr) return Fail(error, ora::kIllegalAttributeType);
  // Every value is written with exactly its attribute's width: callers pass variables of
  // that size.
  auto put_ub4 = [&](ub4 value) {
    std::memcpy(attributep, &value, sizeof value);
    if (sizep) *sizep = sizeof value;
    return OCI_SUCCESS;
  };
  auto put_ub2 = [&](ub2 value) {
    std::memcpy(attributep, &value, sizeof value);
    if (sizep) *sizep = sizeof value;
    return OCI_SUCCESS;
  };
  auto put_ub1 = [&](ub1 value) {
    std::memcpy(attributep, &value, sizeof value);
    if (sizep) *sizep = sizeof value;
    return OCI_SUCCESS;
  };
  auto put_text = [&](const std::string& text) {
    const OraText* pointer = reinterpret_cast<const OraText*>(text.c_str());
    std::memcpy(attributep, &pointer, sizeof pointer);
    if (sizep) *sizep = static_cast<ub4>(text.size());
    return OCI_SUCCESS;
  };
  switch (trghndltyp) {
    case OCI_HTYPE_STMT: {
      Stmt* stmt = Cast<Stmt>(trgthndlp, OCI_HTYPE_STMT);
      if (stmt == nullptr) return OCI_INVALID_HANDLE;
      constexpr ub4 kAttrStmtType = 24;
      constexpr ub4 kAttrPrefetchRows = 11;
      switch (attrtype) {
        case OCI_ATTR_PARAM_COUNT:
          return put_ub4(stmt->executed ? static_cast<ub4>(stmt->columns.size()) : 0);
        case OCI_ATTR_ROW_COUNT:
          return put_ub4(stmt->row_count);
        case OCI_ATTR_ROWS_FETCHED:
          return put_ub4(stmt->rows_fetched);
        case kAttrStmtType:
          return put_ub2(stmt->plan.stmt_type);
        case kAttrPrefetchRows:
          return put_ub4(1);
        default:
          break;
      }
      break;
    }
    case OCI_DTYPE_PARAM: {
      Param* param = Cast<Param>(trgthndlp, OCI_DTYPE_PARAM);
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
          return put_ub2(column.data_type);
        case OCI_ATTR_DATA_SIZE:
        case kAttrDispSize:
          return put_ub2(column.data_size);
        case kAttrCharSize:
          // Characters, where data_size counts the database set's bytes.
          return put_ub2(column.char_size != 0 ? column.char_size : column.data_size);
        case OCI_ATTR_NAME:
          return put_text(param->name);
        case OCI_ATTR_PRECISION: {
          sb2 value = column.precision;
          std::memcpy(attributep, &value, sizeof value);
          if (sizep) *sizep = sizeof value;
          return OCI_SUCCESS;
        }
        case OCI_ATTR_SCALE: {
          sb1 value = column.scale;
          std::memcpy(attributep, &value, sizeof value);
          if (sizep) *sizep = sizeof value;
          return OCI_SUCCESS;
        }
        case kAttrIsNull:
          return put_ub1(1);
        case kAttrCharsetForm:
          return put_ub1(column.charset_form);
        case kAttrCharsetId:
          return put_ub2(ColumnCharset(column.charset_form, param->server));
        case kAttrCharUsed:
          return put_ub1(0);
        default:
          break;
      }
      break;
    }
    case OCI_HTYPE_SVCCTX: {
      SvcCtx* svc = Cast<SvcCtx>(trgthndlp, OCI_HTYPE_SVCCTX);
      if (svc == nullptr) return OCI_INVALID_HANDLE;
      void* pointer = nullptr;
      if (attrtype == OCI_ATTR_SERVER)
        pointer = static_cast<Handle*>(svc->server);
      else if (attrtype == OCI_ATTR_SESSION)
        pointer = static_cast<Handle*>(svc->session);
      else
        break;
      std::memcpy(attributep, &pointer, sizeof pointer);
      if (sizep) *sizep = sizeof pointer;
      return OCI_SUCCESS;
    }
    case OCI_HTYPE_SESSION: {
      Session* session = Cast<Session>(trgthndlp, OCI_HTYPE_SESSION);
      if (session == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_USERNAME) return put_text(session->username);
      break;
    }
    case OCI_HTYPE_ENV: {
      const Env* env = Cast<Env>(trgthndlp, OCI_HTYPE_ENV);
      if (env == nullptr) return OCI_INVALID_HANDLE;
      if (attrtype == OCI_ATTR_ENV_CHARSET_ID) return put_ub2(ClientCharset(env));
      break;
    }
    default:
      if (trgthndlp == nullptr) return OCI_INVALID_HANDLE;
      break;
  }
  return Fail(error, ora::kIllegalAttributeType);
}

}  // namespace rowflume::engine
