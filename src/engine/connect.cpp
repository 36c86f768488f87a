// Connections and sessions of the embedded engine: attaching to a database file and the schema
// files it names, what every connection gets (DUAL and the dictionary), authentication against
// the database's own account table, and session begin and end.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/ascii.h"
#include "engine/embedded_api.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/flashback.h"
#include "engine/handles.h"
#include "platform/platform.h"

namespace rowflume::engine {
namespace {

constexpr char kDefaultDateFormat[] = "DD-MON-RR";
constexpr char kDefaultTimestampFormat[] = "DD-MON-RR HH.MI.SSXFF AM";
constexpr char kDefaultTimestampTzFormat[] = "DD-MON-RR HH.MI.SSXFF AM TZR";

// Session users are the names given, upper-cased.
std::string UpperCased(std::string text) {
  for (char& ch : text) ch = AsciiUpper(ch);
  return text;
}

// rowflume_null_note(x): x itself, counting each NULL on the connection. Statements wrap the
// arguments of aggregates in it, so a fetch can tell that an aggregate skipped a NULL.
void NullNote(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    static_cast<Server*>(sqlite3_user_data(context))->aggregate_nulls += 1;
  }
  sqlite3_result_value(context, argv[0]);
}

// Per-connection setup: DUAL and anything later statements need from the connection.
int SetupConnection(Server* server) {
  // DUAL lives in the temporary schema of the connection, so it works on read-only files and
  // never touches the database itself. SYSDATE is one of its columns, set before use.
  const char* setup =
      "CREATE TEMP TABLE dual(dummy VARCHAR2(1), \"USER\" VARCHAR2(128), sysdate DATE);"
      "INSERT INTO temp.dual VALUES('X', NULL, NULL);";
  int rc = sqlite3_exec(server->db, setup, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = RegisterDictionary(server->db, &server->catalog);
  if (rc == SQLITE_OK) rc = RegisterFlashback(server->db, server);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(server->db, "rowflume_null_note", 1, SQLITE_UTF8, server, NullNote,
                                 nullptr, nullptr);
  }
  if (rc != SQLITE_OK) return rc;
  return sqlite3_prepare_v2(server->db,
                            "UPDATE temp.dual SET sysdate = datetime('now', 'localtime')", -1,
                            &server->set_clock, nullptr);
}

// Gives DUAL the session's user.
int SetDualUser(Server* server, const std::string& user) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(server->db, "UPDATE temp.dual SET \"USER\" = ?1", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
  sqlite3_finalize(st);
  return rc;
}

}  // namespace

Session::Session(Env* owner)
    : Handle(OCI_HTYPE_SESSION, owner), decimal_character(owner->decimal_character) {
  CompileDateFormat(kDefaultDateFormat, sizeof kDefaultDateFormat - 1, &date_format);
  CompileDateFormat(kDefaultTimestampFormat, sizeof kDefaultTimestampFormat - 1, &timestamp_format);
  CompileDateFormat(kDefaultTimestampTzFormat, sizeof kDefaultTimestampTzFormat - 1,
                    &timestamp_tz_format);
  // A client names its zone in ORA_SDTZ; a region name, which this engine cannot follow, leaves
  // the session in UTC, the zone the stored values are in.
  const char* zone = EnvironmentValue("ORA_SDTZ");
  if (zone != nullptr && ReadTimeZone(zone, std::strlen(zone), &local_time_zone_minutes)) {
    time_zone_minutes = local_time_zone_minutes;
  }
}

sword ServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len,
                   ub4 /*mode*/) {
  Server* server = Cast<Server>(srvhp, OCI_HTYPE_SERVER);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (server == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (server->db != nullptr) return Fail(error, ora::kAlreadyConnected);
  const char* text = reinterpret_cast<const char*>(dblink);
  size_t len = text == nullptr ? 0 : dblink_len < 0 ? std::strlen(text) : size_t(dblink_len);
  std::string path(text ? text : "", len);
  if (path.compare(0, sizeof kEmbeddedPrefix - 1, kEmbeddedPrefix) == 0) {
    path.erase(0, sizeof kEmbeddedPrefix - 1);
  }
  if (path.empty() || path.find('\0') != std::string::npos)
    return Fail(error, ora::kConnectIdentifierNotResolved);
  // The file must exist and be readable; it is never created. Without write access SQLite opens
  // it read-only, so that unloading from it still works. Nothing else here opens the file: on
  // POSIX systems closing any descriptor of a file drops every lock the process holds on it,
  // which would let a writer commit under the reads of the other sessions of this process.
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  const bool writable = rc == SQLITE_OK && sqlite3_db_readonly(db, "main") == 0;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    // Reading the schema tells a database from any other file.
    rc = sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return Fail(error, ora::kConnectIdentifierNotResolved);
  }
  server->db = db;
  server->read_only = !writable;
  server->catalog = Catalog();
  SchemaFailure failure;
  sword status = OCI_SUCCESS;
  rc = AttachSchemas(db, path, &server->catalog, &failure);
  if (rc == SQLITE_CANTOPEN) {
    DebugNote(failure.path.c_str(), failure.detail.c_str());
    status = FailFormat<ora::CannotIdentifyDataFile>(error, failure.ordinal, failure.ordinal,
                                                     failure.path.c_str());
  } else if (rc != SQLITE_OK) {
    status = FailSqlite(error, nullptr, rc, failure.detail.c_str(), nullptr);
  } else {
    rc = SetupConnection(server);
    if (rc != SQLITE_OK) status = FailSqlite(error, nullptr, rc, sqlite3_errmsg(db), nullptr);
  }
  if (status != OCI_SUCCESS) {
    if (server->set_clock) sqlite3_finalize(server->set_clock);
    server->set_clock = nullptr;
    sqlite3_close_v2(db);
    server->db = nullptr;
  }
  return status;
}

sword ServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 /*mode*/) {
  Server* server = Cast<Server>(srvhp, OCI_HTYPE_SERVER);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (server == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (server->db == nullptr) return Fail(error, ora::kServiceHandleNotInitialized);
  for (Handle* other = server->env->first; other; other = other->next) {
    if (other->type == OCI_HTYPE_STMT && static_cast<Stmt*>(other)->server == server) {
      static_cast<Stmt*>(other)->Detach();
    }
  }
  if (server->set_clock) sqlite3_finalize(server->set_clock);
  server->set_clock = nullptr;
  sqlite3_close_v2(server->db);
  server->db = nullptr;
  return OCI_SUCCESS;
}

sword SessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  Session* session = Cast<Session>(usrhp, OCI_HTYPE_SESSION);
  if (svc == nullptr || error == nullptr || session == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  Server* server = svc->server;
  if (server == nullptr || server->db == nullptr) {
    return Fail(error, ora::kNotConnected);
  }
  std::string user;
  bool expires = false;  // the account is in its grace period, days_left days from expiry
  int days_left = 0;
  if (credt == OCI_CRED_EXT) {
    if (mode & OCI_SYSDBA) {
      user = "SYS";
    } else {
      // USER on Unix, USERNAME on Windows.
      const char* os_user = EnvironmentValue("USER");
      if (os_user == nullptr || *os_user == '\0') os_user = EnvironmentValue("USERNAME");
      user = "OPS$" + UpperCased(os_user && *os_user ? os_user : "ROWFLUME");
    }
  } else if (credt == OCI_CRED_RDBMS) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(server->db,
                                "SELECT 1 FROM main.sqlite_master WHERE type IN ('table', 'view') "
                                "AND name = 'rowflume_accounts' COLLATE NOCASE",
                                -1, &st, nullptr);
    bool has_accounts = rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    if (rc != SQLITE_OK) return FailSqlite(error, nullptr, rc, sqlite3_errmsg(server->db), nullptr);
    if (has_accounts) {
      // The days left before an optional expiry date, counted from today in local time; NULL
      // when the account has none. A table without that column has accounts that never expire.
      bool has_expiry = sqlite3_prepare_v2(server->db, "SELECT expires FROM rowflume_accounts", -1,
                                           &st, nullptr) == SQLITE_OK;
      sqlite3_finalize(st);
      rc = sqlite3_prepare_v2(
          server->db,
          has_expiry ? "SELECT CAST(julianday(date(expires)) - julianday(date('now', "
                       "'localtime')) AS INTEGER) FROM rowflume_accounts WHERE upper(username) "
                       "= upper(?1) AND CAST(password AS TEXT) = ?2 COLLATE BINARY"
                     : "SELECT NULL FROM rowflume_accounts WHERE upper(username) = upper(?1) "
                       "AND CAST(password AS TEXT) = ?2 COLLATE BINARY",
          -1, &st, nullptr);
      bool match = false;
      if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, session->username.data(),
                          static_cast<int>(session->username.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, session->password.data(),
                          static_cast<int>(session->password.size()), SQLITE_TRANSIENT);
        match = sqlite3_step(st) == SQLITE_ROW;
        if (match && sqlite3_column_type(st, 0) != SQLITE_NULL) {
          days_left = sqlite3_column_int(st, 0);
          expires = true;
        }
      }
      sqlite3_finalize(st);
      if (!match) return Fail(error, ora::kLogonDenied);
      if (expires && days_left < 0) return Fail(error, ora::kPasswordExpired);
    }
    user = UpperCased(session->username);
  } else {
    return Fail(error, ora::kLogonDenied);
  }
  int rc = SetDualUser(server, user);
  if (rc != SQLITE_OK) return FailSqlite(error, nullptr, rc, sqlite3_errmsg(server->db), nullptr);
  session->user = user;
  server->catalog.user = user;
  session->begun = true;
  svc->session = session;
  // The session is open all the same; the client only passes the warning on.
  if (expires) {
    FailFormat<ora::PasswordWillExpire>(error, days_left);
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

sword SessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 /*mode*/) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (svc == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  Session* session = usrhp ? Cast<Session>(usrhp, OCI_HTYPE_SESSION) : svc->session;
  if (session == nullptr || !session->begun) {
    return Fail(error, ora::kNotLoggedOn);
  }
  session->begun = false;
  if (svc->session == session) svc->session = nullptr;
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
