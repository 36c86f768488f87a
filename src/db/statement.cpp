#include "db/statement.h"

#include <cstring>

namespace rowflume {
namespace {

// Reports a failed client call once and gives the number to pass on. A failure that leaves no
// error record still yields a non-zero result, so it can never pass for success.
int ClientFailure(DbSession* session) {
  int code = ReportError(session);
  return code != 0 ? code : -1;
}

// A failed call that is not a statement routine's: reported once, its status passed on.
sword Reported(DbSession* session, sword status) {
  if (status != OCI_SUCCESS) ReportError(session);
  return status;
}

// Whether a call did its work; a warning it came with is reported once.
bool Succeeded(DbSession* session, sword status) {
  status = AcceptWarning(session, status);
  return status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO;
}

bool Usable(const DbSession* session) {
  return session != nullptr && session->oci != nullptr && session->environment != nullptr;
}

}  // namespace

int StmtPrepare(DbSession* session, OCIStmt** statement, const char* text) {
  *statement = nullptr;
  if (!Usable(session)) return -1;
  const OciApi* oci = session->oci;
  if (oci->HandleAlloc(session->environment, reinterpret_cast<void**>(statement), OCI_HTYPE_STMT, 0,
                       nullptr) != OCI_SUCCESS) {
    *statement = nullptr;
    return -1;
  }
  if (oci->StmtPrepare(*statement, session->error, reinterpret_cast<const OraText*>(text),
                       static_cast<ub4>(strlen(text)), OCI_NTV_SYNTAX,
                       OCI_DEFAULT) != OCI_SUCCESS) {
    return ClientFailure(session);
  }
  return 0;
}

int StmtExecuteOnce(DbSession* session, OCIStmt* statement) {
  if (!Usable(session) || statement == nullptr) return -1;
  if (!Succeeded(session, session->oci->StmtExecute(session->service, statement, session->error, 1,
                                                    0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS))) {
    return ClientFailure(session);
  }
  return 0;
}

int StmtExecuteQuery(DbSession* session, OCIStmt* statement) {
  if (!Usable(session) || statement == nullptr) return -1;
  if (!Succeeded(session, session->oci->StmtExecute(session->service, statement, session->error, 0,
                                                    0, nullptr, nullptr, OCI_DEFAULT))) {
    return ClientFailure(session);
  }
  return 0;
}

int StmtFree(DbSession* session, OCIStmt* statement) {
  if (statement == nullptr) return 0;
  if (session == nullptr || session->oci == nullptr) return -1;
  return session->oci->HandleFree(statement, OCI_HTYPE_STMT) == OCI_SUCCESS ? 0 : -1;
}

int ExecuteStatement(DbSession* session, OCIStmt** statement, const char* text) {
  int result = StmtPrepare(session, statement, text);
  if (result == 0) result = StmtExecuteOnce(session, *statement);
  int freed = StmtFree(session, *statement);
  *statement = nullptr;
  return result != 0 ? result : freed;
}

int BindByName(DbSession* session, OCIStmt* statement, const BindEntry* entry, OCIBind** bind) {
  if (!Usable(session) || statement == nullptr) return -1;
  // Lengths are clamped to the entry's arrays so that a damaged entry is never read past.
  sb4 name_length = entry->name_length;
  if (name_length < 0) name_length = 0;
  if (name_length > static_cast<sb4>(sizeof(entry->name))) name_length = sizeof(entry->name);
  sb4 value_length = entry->value_length;
  if (value_length < 0) value_length = 0;
  if (value_length > static_cast<sb4>(sizeof(entry->value))) value_length = sizeof(entry->value);
  // The client's signature takes the value writable, as for output binds; an input bind's value
  // is only read.
  void* value = const_cast<char*>(entry->value);
  return Reported(
      session, session->oci->BindByName(statement, bind, session->error,
                                        reinterpret_cast<const OraText*>(entry->name), name_length,
                                        value, value_length, SQLT_CHR, nullptr, nullptr, nullptr, 1,
                                        nullptr, OCI_DEFAULT));
}

int QueryFirstValue(DbSession* session, const char* text, char* buffer, int bytes,
                    const BindEntry* binds, int bind_count) {
  buffer[0] = '\0';
  OCIStmt* statement = nullptr;
  int status = StmtPrepare(session, &statement, text);
  for (int idx = 0; status == 0 && idx < bind_count; ++idx) {
    OCIBind* bind = nullptr;
    if (BindByName(session, statement, &binds[idx], &bind) != OCI_SUCCESS) status = -1;
  }
  if (status == 0) status = StmtExecuteQuery(session, statement);
  if (status == 0) {
    const OciApi* oci = session->oci;
    OCIDefine* define = nullptr;
    status = oci->DefineByPos(statement, &define, session->error, 1, buffer, bytes, SQLT_STR,
                              nullptr, nullptr, nullptr, OCI_DEFAULT);
    if (status == OCI_SUCCESS) {
      status = oci->StmtFetch(statement, session->error, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
    }
    if (define != nullptr) oci->HandleFree(define, OCI_HTYPE_DEFINE);
    // A failed fetch leaves no value behind, whatever the buffer received.
    if (status != OCI_SUCCESS) buffer[0] = '\0';
  }
  StmtFree(session, statement);
  return status;
}

int QueryCurrentUser(DbSession* session, char* buffer) {
  constexpr int kUserBytes = 30;  // at most 29 characters and a terminator
  return QueryFirstValue(session, "SELECT USER FROM DUAL", buffer, kUserBytes);
}

sword DefineColumn(DbSession* session, OCIStmt* statement, int position, void* buffer,
                   sb4 value_size, ub2 type, sb2* indicators, ub2* lengths, ub2* codes,
                   OCIDefine** define) {
  *define = nullptr;
  return Reported(session, session->oci->DefineByPos(
                               statement, define, session->error, static_cast<ub4>(position),
                               buffer, value_size, type, indicators, lengths, codes, OCI_DEFAULT));
}

void FreeDefine(DbSession* session, OCIDefine* define) {
  if (define != nullptr) session->oci->HandleFree(define, OCI_HTYPE_DEFINE);
}

sword FetchRows(DbSession* session, OCIStmt* statement, ub4 rows) {
  sword status = AcceptWarning(session, session->oci->StmtFetch(statement, session->error, rows,
                                                                OCI_FETCH_NEXT, OCI_DEFAULT));
  if (status != OCI_SUCCESS && status != OCI_SUCCESS_WITH_INFO && status != OCI_NO_DATA) {
    ReportError(session);
  }
  return status;
}

sword LastFetchRows(DbSession* session, OCIStmt* statement, ub4* rows) {
  *rows = 0;
  ub4 rows_size = sizeof *rows;
  sword status = session->oci->AttrGet(statement, OCI_HTYPE_STMT, rows, &rows_size,
                                       OCI_ATTR_ROWS_FETCHED, session->error);
  if (status != OCI_SUCCESS) *rows = 0;
  return Reported(session, status);
}

sword OpenLob(DbSession* session, OCILobLocator* locator) {
  return Reported(
      session, session->oci->LobOpen(session->service, session->error, locator, OCI_LOB_READONLY));
}

sword ReadLobPiece(DbSession* session, OCILobLocator* locator, uint8_t charset_form, ub4* amount,
                   ub4 offset, void* buffer, ub4 buffer_size) {
  sword status = session->oci->LobRead(session->service, session->error, locator, amount, offset,
                                       buffer, buffer_size, nullptr, nullptr, 0, charset_form);
  // A client answers a read with nothing to deliver, an empty LOB's, with OCI_NO_DATA: the end of
  // the value, not a failure.
  if (status == OCI_NO_DATA) {
    *amount = 0;
    return OCI_SUCCESS;
  }
  if (status != OCI_SUCCESS && status != OCI_NEED_DATA) ReportError(session);
  return status;
}

sword CloseLob(DbSession* session, OCILobLocator* locator) {
  return Reported(session, session->oci->LobClose(session->service, session->error, locator));
}

}  // namespace rowflume
