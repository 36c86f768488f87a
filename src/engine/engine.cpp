// Environment, handles, connection, session, attributes, errors and LOB reads of the embedded
// engine; statements and fetches are in statement.cpp.
#include "engine/engine.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/ascii.h"
#include "engine/handles.h"

namespace rowflume::engine {
namespace {

constexpr char kDefaultDateFormat[] = "DD-MON-RR";
constexpr char kDefaultTimestampFormat[] = "DD-MON-RR HH.MI.SSXFF AM";
constexpr char kDefaultTimestampTzFormat[] = "DD-MON-RR HH.MI.SSXFF AM TZR";

template <typename T>
T* Track(T* handle) {
  Env* env = handle->env;
  handle->next = env->first;
  if (env->first) env->first->prev = handle;
  env->first = handle;
  handle->listed = true;
  return handle;
}

std::string UpperCased(std::string text) {
  for (char& ch : text) ch = AsciiUpper(ch);
  return text;
}

// "a.b" becomes "A"."B", the way Oracle quotes the identifier it could not resolve.
std::string QuoteIdentifier(const char* name) {
  std::string out = "\"";
  for (const char* pos = name; *pos; ++pos) {
    if (*pos == '.') {
      out += "\".\"";
    } else {
      out.push_back(AsciiUpper(*pos));
    }
  }
  out += "\"";
  return out;
}

std::string NameAfter(const char* message, const char* prefix) {
  std::string name = UpperCased(message + std::strlen(prefix));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\n')) name.pop_back();
  return name;
}

// Stream reader for BFILE/LOB polling reads; returns the status of the piece just delivered.
sword DeliverPiece(Lob* lob, ub4* amtp, void* bufp, ub4 bufl) {
  size_t remaining = lob->poll_end - lob->poll_pos;
  size_t piece = remaining < bufl ? remaining : bufl;
  if (piece > 0) std::memcpy(bufp, lob->data.data() + lob->poll_pos, piece);
  lob->poll_pos += piece;
  *amtp = static_cast<ub4>(piece);
  if (lob->poll_pos < lob->poll_end) {
    lob->polling = true;
    return OCI_NEED_DATA;
  }
  lob->polling = false;
  return OCI_SUCCESS;
}

// A statement whose connection or session goes away: its result ends and it must be
// executed again before anything is fetched.
void Detach(Stmt* stmt) {
  stmt->Finalize();
  stmt->executed = false;
  stmt->plan_ready = false;
  stmt->server = nullptr;
  stmt->session = nullptr;
}

}  // namespace

Handle::~Handle() {
  magic = 0;
  if (listed) {
    if (prev) prev->next = next;
    if (next) next->prev = prev;
    if (env->first == this) env->first = next;
  }
}

Env::~Env() {
  // Statements first, so that every SQLite statement is finalized before its connection closes.
  for (Handle* handle = first; handle != nullptr; handle = handle->next) {
    if (handle->type == OCI_HTYPE_STMT) static_cast<Stmt*>(handle)->Finalize();
  }
  while (first != nullptr) delete first;
}

Server::~Server() {
  if (set_clock) sqlite3_finalize(set_clock);
  // close_v2 defers the close while statements of this connection are still alive.
  if (db) sqlite3_close_v2(db);
}

Session::Session(Env* owner) : Handle(OCI_HTYPE_SESSION, owner) {
  CompileDateFormat(kDefaultDateFormat, sizeof kDefaultDateFormat - 1, &date_format);
  CompileDateFormat(kDefaultTimestampFormat, sizeof kDefaultTimestampFormat - 1, &timestamp_format);
  CompileDateFormat(kDefaultTimestampTzFormat, sizeof kDefaultTimestampTzFormat - 1,
                    &timestamp_tz_format);
}

void ClearError(Error* error) {
  if (error) {
    error->record.code = 0;
    error->record.text.clear();
  }
}

sword Fail(Error* error, int code, const char* message) {
  if (error) {
    char head[16];
    std::snprintf(head, sizeof head, "ORA-%05d: ", code);
    error->record.code = code;
    error->record.text = head;
    error->record.text += message;
    error->record.text += "\n";
  }
  return OCI_ERROR;
}

sword FailFormat(Error* error, int code, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  return Fail(error, code, message);
}

sword FailSqlite(Error* error, Session* session, int rc, const char* message, const char* sql) {
  if (message == nullptr) message = "";
  std::string user = session ? session->user : std::string();
  int primary = rc & 0xff;
  const std::string_view said(message);
  // Errors the engine raises itself inside SQLite (its functions and views) carry their Oracle
  // form: "ORA-nnnnn: text".
  if (said.starts_with("ORA-") && said.size() > 11 && message[9] == ':' && message[10] == ' ') {
    int code = 0;
    bool digits = true;
    for (int idx = 4; idx < 9; ++idx) {
      if (!IsAsciiDigit(message[idx])) digits = false;
      code = code * 10 + (message[idx] - '0');
    }
    if (digits) return Fail(error, code, message + 11);
  }
  if (said.starts_with("no such table: ")) return Fail(error, 942, "table or view does not exist");
  if (said.starts_with("no such column: ")) {
    return FailFormat(error, 904, "%s: invalid identifier",
                      QuoteIdentifier(message + std::strlen("no such column: ")).c_str());
  }
  if (said.starts_with("no such function: ")) {
    return FailFormat(error, 904, "%s: invalid identifier",
                      QuoteIdentifier(message + std::strlen("no such function: ")).c_str());
  }
  if (said.starts_with("wrong number of arguments")) {
    return Fail(error, 909, "invalid number of arguments");
  }
  if (said.starts_with("ambiguous column name")) {
    return Fail(error, 918, "column ambiguously defined");
  }
  if (said.starts_with("no tables specified")) {
    return Fail(error, 923, "FROM keyword not found where expected");
  }
  if (std::strstr(message, "already exists")) {
    return Fail(error, 955, "name is already used by an existing object");
  }
  if (said.starts_with("UNIQUE constraint failed: ")) {
    std::string name = NameAfter(message, "UNIQUE constraint failed: ");
    for (char& ch : name) {
      if (ch == '.') ch = '_';
    }
    return FailFormat(error, 1, "unique constraint (%s.%s) violated", user.c_str(), name.c_str());
  }
  if (said.starts_with("NOT NULL constraint failed: ")) {
    std::string name = NameAfter(message, "NOT NULL constraint failed: ");
    return FailFormat(error, 1400, "cannot insert NULL into (\"%s\".%s)", user.c_str(),
                      QuoteIdentifier(name.c_str()).c_str());
  }
  if (said.starts_with("CHECK constraint failed")) {
    return FailFormat(error, 2290, "check constraint (%s.%s) violated", user.c_str(),
                      NameAfter(message, "CHECK constraint failed: ").c_str());
  }
  if (said.starts_with("FOREIGN KEY constraint failed")) {
    return Fail(error, 2291, "integrity constraint violated - parent key not found");
  }
  if (primary == SQLITE_READONLY) return Fail(error, 16000, "database open for read-only access");
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return Fail(error, 54, "resource busy and acquire with NOWAIT specified or timeout expired");
  }
  if (primary == SQLITE_NOMEM) return Fail(error, 4030, "out of process memory");
  if (primary == SQLITE_INTERRUPT) {
    return Fail(error, 1013, "user requested cancel of current operation");
  }
  if (said.starts_with("datatype mismatch")) return Fail(error, 932, "inconsistent datatypes");
  if (std::strstr(message, "syntax error") || std::strstr(message, "incomplete input") ||
      std::strstr(message, "unrecognized token")) {
    // The classic first line; SQLite's own words follow on a second one.
    StatementPlan plan;
    InspectStatement(sql ? sql : "", sql ? std::strlen(sql) : 0, &plan);
    if (plan.stmt_type == kStmtUnknown) {
      return FailFormat(error, 900, "invalid SQL statement\n%s", message);
    }
    if (std::strstr(message, "incomplete input")) {
      return FailFormat(error, 921, "unexpected end of SQL command\n%s", message);
    }
    return FailFormat(error, 933, "SQL command not properly ended\n%s", message);
  }
  return FailFormat(error, 600, "internal error code, arguments: [%d], [%s]", rc, message);
}

int SetupConnection(Server* server) {
  // DUAL lives in the temporary schema of the connection, so it works on read-only files and
  // never touches the database itself. SYSDATE is one of its columns, set before use.
  const char* setup =
      "CREATE TEMP TABLE dual(dummy VARCHAR2(1), \"USER\" VARCHAR2(128), sysdate DATE);"
      "INSERT INTO temp.dual VALUES('X', NULL, NULL);";
  int rc = sqlite3_exec(server->db, setup, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = RegisterDictionary(server->db);
  if (rc != SQLITE_OK) return rc;
  return sqlite3_prepare_v2(server->db,
                            "UPDATE temp.dual SET sysdate = datetime('now', 'localtime')", -1,
                            &server->set_clock, nullptr);
}

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

sword EnvNlsCreate(OCIEnv** envhpp, ub4 /*mode*/, void* /*ctxp*/,
                   void* (* /*malocfp*/)(void*, size_t),
                   void* (* /*ralocfp*/)(void*, void*, size_t), void (* /*mfreefp*/)(void*, void*),
                   size_t /*xtramem_sz*/, void** usrmempp, ub2 charset, ub2 ncharset) {
  if (envhpp == nullptr) return OCI_INVALID_HANDLE;
  Env* env = new (std::nothrow) Env();
  if (env == nullptr) {
    *envhpp = nullptr;
    return OCI_ERROR;
  }
  env->charset = charset;
  env->ncharset = ncharset;
  if (usrmempp) *usrmempp = nullptr;
  *envhpp = reinterpret_cast<OCIEnv*>(static_cast<Handle*>(env));
  return OCI_SUCCESS;
}

ub2 NlsCharSetNameToId(void* /*envhp*/, const OraText* name) {
  if (name == nullptr) return 0;
  static const struct {
    const char* name;
    ub2 id;
  } kCharsets[] = {
      {"US7ASCII", 1},         {"WE8DEC", 2},         {"WE8PC850", 10},
      {"WE8ISO8859P1", 31},    {"EE8ISO8859P2", 32},  {"WE8ISO8859P15", 46},
      {"EE8MSWIN1250", 170},   {"CL8MSWIN1251", 171}, {"EL8MSWIN1253", 174},
      {"IW8MSWIN1255", 175},   {"TR8MSWIN1254", 177}, {"WE8MSWIN1252", 178},
      {"BLT8MSWIN1257", 179},  {"AR8MSWIN1256", 560}, {"JA16EUC", 830},
      {"JA16SJIS", 832},       {"KO16KSC5601", 840},  {"KO16MSWIN949", 846},
      {"ZHS16CGB231280", 850}, {"ZHS16GBK", 852},     {"ZHS32GB18030", 854},
      {"ZHT32EUC", 860},       {"ZHT16BIG5", 865},    {"ZHT16MSWIN950", 867},
      {"ZHT16HKSCS", 868},     {"UTF8", 871},         {"AL32UTF8", 873},
      {"UTF16", 1000},         {"AL16UTF16", 2000},
  };
  for (const auto& entry : kCharsets) {
    if (EqualIgnoringCase(reinterpret_cast<const char*>(name), entry.name)) return entry.id;
  }
  return 0;
}

sword HandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t /*xtramem_sz*/,
                  void** usrmempp) {
  Env* env = Cast<Env>(parenth, OCI_HTYPE_ENV);
  if (env == nullptr || hndlpp == nullptr) return OCI_INVALID_HANDLE;
  if (usrmempp) *usrmempp = nullptr;
  Handle* handle = nullptr;
  switch (type) {
    case OCI_HTYPE_ERROR:
      handle = Track(new Error(env));
      break;
    case OCI_HTYPE_SERVER:
      handle = Track(new Server(env));
      break;
    case OCI_HTYPE_SVCCTX:
      handle = Track(new SvcCtx(env));
      break;
    case OCI_HTYPE_SESSION:
      handle = Track(new Session(env));
      break;
    case OCI_HTYPE_STMT:
      handle = Track(new Stmt(env));
      break;
    default:
      *hndlpp = nullptr;
      return OCI_INVALID_HANDLE;
  }
  *hndlpp = handle;
  return OCI_SUCCESS;
}

sword DescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t /*xtramem_sz*/,
                      void** usrmempp) {
  Env* env = Cast<Env>(parenth, OCI_HTYPE_ENV);
  if (env == nullptr || descpp == nullptr) return OCI_INVALID_HANDLE;
  if (usrmempp) *usrmempp = nullptr;
  if (type != OCI_DTYPE_LOB && type != OCI_DTYPE_FILE) {
    *descpp = nullptr;
    return OCI_INVALID_HANDLE;
  }
  *descpp = Track(new Lob(env, type));
  return OCI_SUCCESS;
}

sword HandleFree(void* hndlp, ub4 type) {
  auto* handle = static_cast<Handle*>(hndlp);
  if (handle == nullptr || handle->magic != kHandleMagic || handle->type != type) {
    return OCI_INVALID_HANDLE;
  }
  switch (type) {
    case OCI_HTYPE_ENV:
      delete static_cast<Env*>(handle);
      return OCI_SUCCESS;
    case OCI_HTYPE_DEFINE:
    case OCI_HTYPE_BIND:
      delete handle;
      return OCI_SUCCESS;
    case OCI_HTYPE_SVCCTX:
    case OCI_HTYPE_SESSION:
    case OCI_HTYPE_ERROR:
    case OCI_HTYPE_SERVER:
    case OCI_HTYPE_STMT:
      // Service contexts that still point at a freed server or session forget it.
      if (type == OCI_HTYPE_SERVER || type == OCI_HTYPE_SESSION) {
        for (Handle* other = handle->env->first; other; other = other->next) {
          if (other->type == OCI_HTYPE_SVCCTX) {
            auto* svc = static_cast<SvcCtx*>(other);
            if (svc->server == handle) svc->server = nullptr;
            if (svc->session == handle) svc->session = nullptr;
          }
          // Statements running on it end: nothing may reach the freed handle through them.
          if (other->type == OCI_HTYPE_STMT) {
            auto* stmt = static_cast<Stmt*>(other);
            if (stmt->server == handle || stmt->session == handle) Detach(stmt);
          }
        }
      }
      delete handle;
      return OCI_SUCCESS;
    default:
      return OCI_INVALID_HANDLE;
  }
}

sword ServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len,
                   ub4 /*mode*/) {
  Server* server = Cast<Server>(srvhp, OCI_HTYPE_SERVER);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (server == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (server->db != nullptr) return Fail(error, 24309, "already connected to a server");
  const char* text = reinterpret_cast<const char*>(dblink);
  size_t len = text == nullptr ? 0 : dblink_len < 0 ? std::strlen(text) : size_t(dblink_len);
  std::string path(text ? text : "", len);
  if (path.compare(0, sizeof kEmbeddedPrefix - 1, kEmbeddedPrefix) == 0) {
    path.erase(0, sizeof kEmbeddedPrefix - 1);
  }
  const char* refused = "TNS:could not resolve the connect identifier specified";
  if (path.empty() || path.find('\0') != std::string::npos) return Fail(error, 12154, refused);
  // The file must exist and be readable; it is never created. Without write access it is opened
  // read-only so that unloading from it still works.
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  if (probe == nullptr) return Fail(error, 12154, refused);
  std::fclose(probe);
  probe = std::fopen(path.c_str(), "r+b");
  bool writable = probe != nullptr;
  if (probe) std::fclose(probe);
  int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    // Reading the schema tells a database from any other file.
    rc = sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return Fail(error, 12154, refused);
  }
  server->db = db;
  server->read_only = !writable;
  rc = SetupConnection(server);
  if (rc != SQLITE_OK) {
    sword status = FailSqlite(error, nullptr, rc, sqlite3_errmsg(db), nullptr);
    if (server->set_clock) sqlite3_finalize(server->set_clock);
    server->set_clock = nullptr;
    sqlite3_close_v2(db);
    server->db = nullptr;
    return status;
  }
  return OCI_SUCCESS;
}

sword ServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 /*mode*/) {
  Server* server = Cast<Server>(srvhp, OCI_HTYPE_SERVER);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (server == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (server->db == nullptr) return Fail(error, 24324, "service handle not initialized");
  for (Handle* other = server->env->first; other; other = other->next) {
    if (other->type == OCI_HTYPE_STMT && static_cast<Stmt*>(other)->server == server) {
      Detach(static_cast<Stmt*>(other));
    }
  }
  if (server->set_clock) sqlite3_finalize(server->set_clock);
  server->set_clock = nullptr;
  sqlite3_close_v2(server->db);
  server->db = nullptr;
  return OCI_SUCCESS;
}

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
  return Fail(error, 24315, "illegal attribute type");
}

sword SessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  Session* session = Cast<Session>(usrhp, OCI_HTYPE_SESSION);
  if (svc == nullptr || error == nullptr || session == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  Server* server = svc->server;
  if (server == nullptr || server->db == nullptr) {
    return Fail(error, 3114, "not connected to ORACLE");
  }
  std::string user;
  if (credt == OCI_CRED_EXT) {
    if (mode & OCI_SYSDBA) {
      user = "SYS";
    } else {
      const char* os_user = std::getenv("USER");
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
      rc = sqlite3_prepare_v2(server->db,
                              "SELECT 1 FROM rowflume_accounts WHERE upper(username) = upper(?1) "
                              "AND CAST(password AS TEXT) = ?2 COLLATE BINARY",
                              -1, &st, nullptr);
      bool match = false;
      if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, session->username.data(),
                          static_cast<int>(session->username.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, session->password.data(),
                          static_cast<int>(session->password.size()), SQLITE_TRANSIENT);
        match = sqlite3_step(st) == SQLITE_ROW;
      }
      sqlite3_finalize(st);
      if (!match) return Fail(error, 1017, "invalid username/password; logon denied");
    }
    user = UpperCased(session->username);
  } else {
    return Fail(error, 1017, "invalid username/password; logon denied");
  }
  int rc = SetDualUser(server, user);
  if (rc != SQLITE_OK) return FailSqlite(error, nullptr, rc, sqlite3_errmsg(server->db), nullptr);
  session->user = user;
  session->begun = true;
  svc->session = session;
  return OCI_SUCCESS;
}

sword SessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 /*mode*/) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (svc == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  Session* session = usrhp ? Cast<Session>(usrhp, OCI_HTYPE_SESSION) : svc->session;
  if (session == nullptr || !session->begun) {
    return Fail(error, 1012, "not logged on");
  }
  session->begun = false;
  if (svc->session == session) svc->session = nullptr;
  return OCI_SUCCESS;
}

sword AttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
              OCIError* errhp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  ClearError(error);
  if (attributep == nullptr) return Fail(error, 24315, "illegal attribute type");
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
        case kAttrCharSize:
          return put_ub2(column.data_size);
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
          return put_ub2(param->env->charset);
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
    default:
      if (trgthndlp == nullptr) return OCI_INVALID_HANDLE;
      break;
  }
  return Fail(error, 24315, "illegal attribute type");
}

sword LobOpen(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp, ub1 /*mode*/) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  auto* handle = reinterpret_cast<Handle*>(locp);
  Lob* lob = Cast<Lob>(handle, OCI_DTYPE_LOB);
  if (lob == nullptr) lob = Cast<Lob>(handle, OCI_DTYPE_FILE);
  if (lob == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->has_value) return Fail(error, 22275, "invalid LOB locator specified");
  if (lob->is_open) return Fail(error, 22293, "LOB already opened in the same transaction");
  lob->is_open = true;
  lob->polling = false;
  return OCI_SUCCESS;
}

sword LobClose(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  auto* handle = reinterpret_cast<Handle*>(locp);
  Lob* lob = Cast<Lob>(handle, OCI_DTYPE_LOB);
  if (lob == nullptr) lob = Cast<Lob>(handle, OCI_DTYPE_FILE);
  if (lob == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->is_open) {
    return Fail(error, 22289, "cannot perform operation on an unopened file or LOB");
  }
  lob->is_open = false;
  lob->polling = false;
  return OCI_SUCCESS;
}

sword LobRead(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset,
              void* bufp, ub4 bufl, void* ctxp,
              sb4 (*cbfp)(void* ctxp, const void* bufp, ub4 len, ub1 piece), ub2 /*csid*/,
              ub1 /*csfrm*/) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  auto* handle = reinterpret_cast<Handle*>(locp);
  Lob* lob = Cast<Lob>(handle, OCI_DTYPE_LOB);
  if (lob == nullptr) lob = Cast<Lob>(handle, OCI_DTYPE_FILE);
  if (lob == nullptr || error == nullptr || amtp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->has_value) return Fail(error, 22275, "invalid LOB locator specified");
  if (bufp == nullptr || bufl == 0)
    return Fail(error, 24801, "illegal parameter value in OCI lob function");
  // While a piecewise read runs, later calls continue it whatever their offset says.
  if (lob->polling) return DeliverPiece(lob, amtp, bufp, bufl);
  if (offset == 0) return Fail(error, 24801, "illegal parameter value in OCI lob function");
  size_t size = lob->data.size();
  size_t start = offset - 1;
  if (start > size) start = size;
  size_t end = size;
  if (*amtp != 0 && start + *amtp < end) end = start + *amtp;
  lob->poll_pos = start;
  lob->poll_end = end;
  if (cbfp == nullptr) return DeliverPiece(lob, amtp, bufp, bufl);
  // Callback mode: every piece goes to the callback; the call returns when all are delivered.
  constexpr ub1 kOnePiece = 0;
  constexpr ub1 kFirstPiece = 1;
  constexpr ub1 kNextPiece = 2;
  constexpr ub1 kLastPiece = 3;
  ub4 total = 0;
  bool first = true;
  for (;;) {
    ub4 piece = 0;
    sword status = DeliverPiece(lob, &piece, bufp, bufl);
    total += piece;
    ub1 kind = status == OCI_NEED_DATA ? (first ? kFirstPiece : kNextPiece)
                                       : (first ? kOnePiece : kLastPiece);
    first = false;
    if (cbfp(ctxp, bufp, piece, kind) != 0) {
      lob->polling = false;
      *amtp = total;
      return Fail(error, 24343, "user defined callback error");
    }
    if (status != OCI_NEED_DATA) break;
  }
  *amtp = total;
  return OCI_SUCCESS;
}

sword ErrorGet(void* hndlp, ub4 recordno, OraText* /*sqlstate*/, sb4* errcodep, OraText* bufp,
               ub4 bufsiz, ub4 type) {
  const ErrorRecord* record = nullptr;
  if (type == OCI_HTYPE_ERROR) {
    Error* error = Cast<Error>(hndlp, OCI_HTYPE_ERROR);
    if (error == nullptr) return OCI_INVALID_HANDLE;
    record = &error->record;
  } else if (type == OCI_HTYPE_ENV) {
    Env* env = Cast<Env>(hndlp, OCI_HTYPE_ENV);
    if (env == nullptr) return OCI_INVALID_HANDLE;
    record = &env->error;
  } else {
    return OCI_INVALID_HANDLE;
  }
  if (recordno != 1 || record->code == 0) return OCI_NO_DATA;
  if (errcodep) *errcodep = record->code;
  if (bufp && bufsiz > 0) {
    size_t len = record->text.size();
    if (len > bufsiz - 1) len = bufsiz - 1;
    std::memcpy(bufp, record->text.data(), len);
    bufp[len] = '\0';
  }
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
