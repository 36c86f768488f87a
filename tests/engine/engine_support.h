// Helpers for the engine tests: one logged-on connection driven only through the engine's
// OciApi table, beside the shared helpers for files and SQLite fixture databases.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/embedded_api.h"
#include "oci/oci_api.h"
#include "support/environment.h"
#include "support/files.h"
#include "support/sqlite_file.h"

namespace rowflume::enginetest {

using testing_support::Hex;
using testing_support::MakeDatabase;
using testing_support::PatternBytes;
using testing_support::SetEnvironment;
using testing_support::UnsetEnvironment;

struct Connection {
  const OciApi* api;
  OCIEnv* env = nullptr;
  OCIError* err = nullptr;
  OCIServer* srv = nullptr;
  OCISvcCtx* svc = nullptr;
  OCISession* ses = nullptr;

  // charset: the client character set's id, 0 for the default; env_mode: the environment's mode.
  explicit Connection(const OciApi* table = EmbeddedApi(), ub2 charset = 0,
                      ub4 env_mode = OCI_THREADED)
      : api(table) {
    EXPECT_EQ(api->EnvNlsCreate(&env, env_mode, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                charset, 0),
              OCI_SUCCESS);
    api->HandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    api->HandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    api->HandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
  }
  ~Connection() {
    if (env) api->HandleFree(env, OCI_HTYPE_ENV);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The logon sequence of the program; returns the first failing status, or the session begin's
  // (a warning leaves the session open).
  sword Logon(const std::string& connect, const std::string& user = "scott",
              const std::string& password = "tiger", ub4 cred = OCI_CRED_RDBMS,
              ub4 mode = OCI_DEFAULT) {
    sword status = api->ServerAttach(srv, err, reinterpret_cast<const OraText*>(connect.data()),
                                     static_cast<sb4>(connect.size()), OCI_DEFAULT);
    if (status != OCI_SUCCESS) return status;
    api->AttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    api->HandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
    api->AttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(user.data()),
                 static_cast<ub4>(user.size()), OCI_ATTR_USERNAME, err);
    api->AttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(password.data()),
                 static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, err);
    status = api->SessionBegin(svc, err, ses, cred, mode);
    if (status != OCI_SUCCESS && status != OCI_SUCCESS_WITH_INFO) return status;
    if (status == OCI_SUCCESS_WITH_INFO) logon_warning = ErrorText();
    sword set = api->AttrSet(svc, OCI_HTYPE_SVCCTX, ses, 0, OCI_ATTR_SESSION, err);
    return set != OCI_SUCCESS ? set : status;
  }

  std::string logon_warning;  // the text a logon succeeded with, if any

  // The error handle's text, "" when it holds none.
  std::string ErrorText(sb4* code = nullptr) {
    char text[512] = {};
    sb4 number = 0;
    sword status = api->ErrorGet(err, 1, nullptr, &number, reinterpret_cast<OraText*>(text),
                                 sizeof text, OCI_HTYPE_ERROR);
    if (code) *code = status == OCI_SUCCESS ? number : 0;
    return status == OCI_SUCCESS ? std::string(text) : std::string();
  }

  OCIStmt* Prepare(const std::string& sql) {
    OCIStmt* stmt = nullptr;
    api->HandleAlloc(env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr);
    EXPECT_EQ(api->StmtPrepare(stmt, err, reinterpret_cast<const OraText*>(sql.data()),
                               static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT),
              OCI_SUCCESS);
    return stmt;
  }

  // A statement that is not a query, executed once with commit; returns the status.
  sword Execute(const std::string& sql) {
    OCIStmt* stmt = Prepare(sql);
    sword status = api->StmtExecute(svc, stmt, err, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS);
    api->HandleFree(stmt, OCI_HTYPE_STMT);
    return status;
  }

  // A query executed without fetching; null (and a test failure) when the execute fails.
  OCIStmt* Query(const std::string& sql) {
    OCIStmt* stmt = Prepare(sql);
    sword status = api->StmtExecute(svc, stmt, err, 0, 0, nullptr, nullptr, OCI_DEFAULT);
    EXPECT_EQ(status, OCI_SUCCESS) << sql << ": " << ErrorText();
    if (status != OCI_SUCCESS) {
      api->HandleFree(stmt, OCI_HTYPE_STMT);
      return nullptr;
    }
    return stmt;
  }

  ub4 StmtAttr(OCIStmt* stmt, ub4 attr) {
    ub4 value = 0xDEADBEEF;
    EXPECT_EQ(api->AttrGet(stmt, OCI_HTYPE_STMT, &value, nullptr, attr, err), OCI_SUCCESS);
    return value;
  }

  // Every row of column 1 (text, SQLT_STR into 4000 bytes); "<null>" for NULL.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    OCIStmt* stmt = Query(sql);
    if (stmt == nullptr) return values;
    std::vector<char> buffer(4001 * 10);
    sb2 ind[10];
    ub2 len[10];
    OCIDefine* def = nullptr;
    EXPECT_EQ(api->DefineByPos(stmt, &def, err, 1, buffer.data(), 4001, SQLT_STR, ind, len, nullptr,
                               OCI_DEFAULT),
              OCI_SUCCESS);
    for (;;) {
      sword status = api->StmtFetch(stmt, err, 10, OCI_FETCH_NEXT, OCI_DEFAULT);
      EXPECT_TRUE(status == OCI_SUCCESS || status == OCI_NO_DATA) << ErrorText();
      ub4 rows = StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED);
      for (ub4 row = 0; row < rows; ++row) {
        values.push_back(ind[row] == -1 ? std::string("<null>")
                                        : std::string(&buffer[row * 4001], len[row]));
      }
      if (status != OCI_SUCCESS) break;
    }
    api->HandleFree(stmt, OCI_HTYPE_STMT);
    return values;
  }

  std::string One(const std::string& sql) {
    std::vector<std::string> values = Column(sql);
    return values.empty() ? std::string("<no row>") : values[0];
  }
};

}  // namespace rowflume::enginetest
