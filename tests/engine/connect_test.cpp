// Attach, logon and sessions of the embedded engine.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "engine/engine.h"
#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

constexpr char kTnsError[] = "ORA-12154: TNS:could not resolve the connect identifier specified\n";

TEST(EngineConnect, RefusesMissingEmptyAndForeignFilesWithoutCreatingThem) {
  std::string missing = testing::TempDir() + "engine_missing.db";
  std::remove(missing.c_str());
  std::string not_db = testing::TempDir() + "engine_not_a_db.txt";
  std::FILE* file = std::fopen(not_db.c_str(), "wb");
  std::fputs("just some text that is long enough to not look like a database header\n", file);
  std::fclose(file);
  for (const std::string& connect : {std::string("sqlite:") + missing, missing, std::string(""),
                                     std::string("sqlite:"), not_db}) {
    Connection conn;
    sb4 code = 0;
    EXPECT_EQ(conn.Logon(connect), OCI_ERROR) << connect;
    EXPECT_EQ(conn.ErrorText(&code), kTnsError) << connect;
    EXPECT_EQ(code, 12154);
  }
  EXPECT_NE(access(missing.c_str(), F_OK), 0) << "attach created a database file";
}

TEST(EngineConnect, AcceptsBothConnectForms) {
  std::string path = MakeDatabase("forms", "CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (7);");
  for (const std::string& connect : {"sqlite:" + path, path}) {
    Connection conn;
    ASSERT_EQ(conn.Logon(connect), OCI_SUCCESS) << conn.ErrorText();
    EXPECT_EQ(conn.One("select a from t"), "7");
  }
}

// An account's expiry date: ahead of today the logon succeeds with ORA-28002 and the session
// is open; past it the logon is refused; none, or no such column, and the logon is plain.
TEST(EngineConnect, AccountExpiryWarnsOrRefuses) {
  std::string path = MakeDatabase(
      "expiry",
      "CREATE TABLE rowflume_accounts(username TEXT, password TEXT, expires TEXT);"
      "INSERT INTO rowflume_accounts VALUES ('soon', 'pw', date('now', 'localtime', '+5 days')),"
      " ('today', 'pw', date('now', 'localtime')), ('gone', 'pw', date('now', 'localtime', "
      "'-1 days')), ('never', 'pw', NULL);");
  std::string plain = MakeDatabase("no_expiry",
                                   "CREATE TABLE rowflume_accounts(username, password);"
                                   "INSERT INTO rowflume_accounts VALUES ('soon', 'pw');");
  struct Case {
    std::string database;
    const char* user;
    sword status;
    const char* text;
    const char* session_user;
  } cases[] = {
      {path, "soon", OCI_SUCCESS_WITH_INFO, "ORA-28002: the password will expire within 5 days\n",
       "SOON"},
      {path, "today", OCI_SUCCESS_WITH_INFO, "ORA-28002: the password will expire within 0 days\n",
       "TODAY"},
      {path, "gone", OCI_ERROR, "ORA-28001: the password has expired\n", ""},
      {path, "never", OCI_SUCCESS, "", "NEVER"},
      {plain, "soon", OCI_SUCCESS, "", "SOON"},
  };
  for (const Case& entry : cases) {
    Connection conn;
    EXPECT_EQ(conn.Logon(entry.database, entry.user, "pw"), entry.status) << entry.user;
    EXPECT_EQ(entry.status == OCI_ERROR ? conn.ErrorText() : conn.logon_warning, entry.text)
        << entry.user;
    if (entry.status != OCI_ERROR) {
      EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), entry.session_user);
    }
  }
}

TEST(EngineConnect, AccountsTableDecidesRdbmsLogons) {
  std::string path = MakeDatabase("accounts",
                                  "CREATE TABLE rowflume_accounts(username TEXT, password TEXT);"
                                  "INSERT INTO rowflume_accounts VALUES ('Scott', 'Tiger');");
  struct Case {
    const char* user;
    const char* password;
    bool accepted;
  } cases[] = {{"scott", "Tiger", true},   {"SCOTT", "Tiger", true},  {"scott", "tiger", false},
               {"scott", "Tiger ", false}, {"adams", "Tiger", false}, {"", "", false}};
  for (const Case& entry : cases) {
    Connection conn;
    sword status = conn.Logon(path, entry.user, entry.password);
    if (entry.accepted) {
      ASSERT_EQ(status, OCI_SUCCESS) << entry.user << "/" << entry.password;
      EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "SCOTT");
    } else {
      EXPECT_EQ(status, OCI_ERROR) << entry.user << "/" << entry.password;
      EXPECT_EQ(conn.ErrorText(), "ORA-01017: invalid username/password; logon denied\n");
    }
  }
}

TEST(EngineConnect, WithoutAccountsAnyUserIsTakenUpperCased) {
  std::string path = MakeDatabase("open", "CREATE TABLE t(a);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path, "MixedCase_User", "whatever"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "MIXEDCASE_USER");
  EXPECT_EQ(conn.One("select dummy from dual"), "X");
  EXPECT_EQ(conn.One("SELECT 1 FROM DUAL"), "1");
  // SYSDATE in the session's default date format, DD-MON-RR.
  std::string today = conn.One("SELECT SYSDATE FROM DUAL");
  EXPECT_EQ(today.size(), 9u) << today;
  EXPECT_EQ(today[2], '-');
}

TEST(EngineConnect, ExternalCredentialsNameTheOperatingSystemUser) {
  std::string path = MakeDatabase(
      "external", "CREATE TABLE rowflume_accounts(username, password);");  // no rows at all
  {
    Connection conn;
    ASSERT_EQ(conn.Logon(path, "", "", OCI_CRED_EXT, OCI_SYSDBA), OCI_SUCCESS);
    EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "SYS");
  }
  const char* saved = std::getenv("USER");
  std::string saved_value = saved ? saved : "";
  SetEnvironment("USER", "jdoe");
  {
    Connection conn;
    ASSERT_EQ(conn.Logon(path, "", "", OCI_CRED_EXT, OCI_DEFAULT), OCI_SUCCESS);
    EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "OPS$JDOE");
  }
  // Without USER, Windows' USERNAME; without either, a name of the engine's.
  const char* saved_name = std::getenv("USERNAME");
  std::string saved_name_value = saved_name ? saved_name : "";
  UnsetEnvironment("USER");
  SetEnvironment("USERNAME", "winuser");
  {
    Connection conn;
    ASSERT_EQ(conn.Logon(path, "", "", OCI_CRED_EXT, OCI_DEFAULT), OCI_SUCCESS);
    EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "OPS$WINUSER");
  }
  UnsetEnvironment("USERNAME");
  {
    Connection conn;
    ASSERT_EQ(conn.Logon(path, "", "", OCI_CRED_EXT, OCI_DEFAULT), OCI_SUCCESS);
    EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "OPS$ROWFLUME");
  }
  if (saved) SetEnvironment("USER", saved_value.c_str());
  if (saved_name) SetEnvironment("USERNAME", saved_name_value.c_str());
}

TEST(EngineConnect, UnwritableFileIsOpenedReadOnly) {
  std::string path = MakeDatabase("readonly", "CREATE TABLE t(a); INSERT INTO t VALUES ('r');");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (access(path.c_str(), W_OK) == 0) {
    chmod(path.c_str(), 0644);
    GTEST_SKIP() << "running with privileges that write any file";
  }
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS) << conn.ErrorText();
  EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "SCOTT");
  EXPECT_EQ(conn.One("select a from t"), "r");
  EXPECT_EQ(conn.Execute("insert into t values ('w')"), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-16000: database open for read-only access\n");
  chmod(path.c_str(), 0644);
}

TEST(EngineConnect, SessionsOnTwoThreadsRunAtOnce) {
  std::string sql = "CREATE TABLE t(n INTEGER);";
  sql +=
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 20000) "
      "INSERT INTO t SELECT x FROM c;";
  std::string path = MakeDatabase("threads", sql);
  auto worker = [&path](long long* sum, ub4* rows) {
    Connection conn;
    if (conn.Logon(path) != OCI_SUCCESS) return;
    OCIStmt* stmt = conn.Query("select n from t");
    if (stmt == nullptr) return;
    ub4 values[100];
    OCIDefine* def = nullptr;
    conn.api->DefineByPos(stmt, &def, conn.err, 1, values, 4, SQLT_UIN, nullptr, nullptr, nullptr,
                          OCI_DEFAULT);
    sword status;
    do {
      status = conn.api->StmtFetch(stmt, conn.err, 100, OCI_FETCH_NEXT, OCI_DEFAULT);
      ub4 fetched = conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED);
      for (ub4 idx = 0; idx < fetched; ++idx) *sum += values[idx];
    } while (status == OCI_SUCCESS);
    *rows = conn.StmtAttr(stmt, OCI_ATTR_ROW_COUNT);
  };
  long long sums[2] = {0, 0};
  ub4 rows[2] = {0, 0};
  std::thread first(worker, &sums[0], &rows[0]);
  std::thread second(worker, &sums[1], &rows[1]);
  first.join();
  second.join();
  for (int idx = 0; idx < 2; ++idx) {
    EXPECT_EQ(rows[idx], 20000u);
    EXPECT_EQ(sums[idx], 20000LL * 20001 / 2);
  }
}

// A call that starts while another is inside the engine is unsafe when either is on an
// environment not created threaded. The first call is held open by hand, so the overlap is
// certain.
TEST(EngineConnect, CallsOverlappingOnAnUnthreadedEnvironmentAreCounted) {
  const struct {
    ub4 held_mode;
    ub4 calling_mode;
    int overlaps;
  } cases[] = {
      {OCI_THREADED, OCI_THREADED, 0},
      {OCI_DEFAULT, OCI_THREADED, 1},
      {OCI_THREADED, OCI_DEFAULT, 1},
      {OCI_DEFAULT, OCI_DEFAULT, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.held_mode) + " " + std::to_string(c.calling_mode));
    const engine::EnvironmentTally before = engine::CountEnvironments();
    Connection held(EmbeddedApi(), 0, c.held_mode);
    Connection calling(EmbeddedApi(), 0, c.calling_mode);
    const engine::EnvironmentTally created = engine::CountEnvironments();
    EXPECT_EQ(created.threaded - before.threaded,
              (c.held_mode == OCI_THREADED) + (c.calling_mode == OCI_THREADED));
    EXPECT_EQ(created.unthreaded - before.unthreaded,
              (c.held_mode == OCI_DEFAULT) + (c.calling_mode == OCI_DEFAULT));
    {
      engine::EnvironmentCall open_call(held.err);
      OCIStmt* stmt = nullptr;
      ASSERT_EQ(calling.api->HandleAlloc(calling.env, reinterpret_cast<void**>(&stmt),
                                         OCI_HTYPE_STMT, 0, nullptr),
                OCI_SUCCESS);
    }
    // Calls one after the other never overlap.
    OCIStmt* stmt = nullptr;
    calling.api->HandleAlloc(calling.env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0,
                             nullptr);
    EXPECT_EQ(engine::CountEnvironments().unsafe_overlaps - before.unsafe_overlaps, c.overlaps);
  }
}

TEST(EngineConnect, CharacterSetNames) {
  Connection conn;
  const OraText* name = reinterpret_cast<const OraText*>("al32utf8");
  EXPECT_EQ(conn.api->NlsCharSetNameToId(conn.env, name), 873);
  EXPECT_EQ(conn.api->NlsCharSetNameToId(conn.env, reinterpret_cast<const OraText*>("UTF8")), 871);
  EXPECT_EQ(conn.api->NlsCharSetNameToId(conn.env, reinterpret_cast<const OraText*>("US7ASCII")),
            1);
  EXPECT_EQ(
      conn.api->NlsCharSetNameToId(conn.env, reinterpret_cast<const OraText*>("WE8MSWIN1252")),
      178);
  EXPECT_EQ(conn.api->NlsCharSetNameToId(conn.env, reinterpret_cast<const OraText*>("AL16UTF16")),
            2000);
  EXPECT_EQ(conn.api->NlsCharSetNameToId(conn.env, reinterpret_cast<const OraText*>("KLINGON8")),
            0);
}

TEST(EngineConnect, FreeingTheEnvironmentReleasesOpenStatementsAndLocators) {
  // Run under the address sanitizer this shows that nothing leaks or is freed twice when
  // statements, defines and locators are left to the environment.
  std::string path =
      MakeDatabase("teardown", "CREATE TABLE t(c CLOB); INSERT INTO t VALUES ('x');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select c from t");
  ASSERT_NE(stmt, nullptr);
  OCILobLocator* locator = nullptr;
  ASSERT_EQ(conn.api->DescriptorAlloc(conn.env, reinterpret_cast<void**>(&locator), OCI_DTYPE_LOB,
                                      0, nullptr),
            OCI_SUCCESS);
  OCIDefine* def = nullptr;
  ASSERT_EQ(conn.api->DefineByPos(stmt, &def, conn.err, 1, &locator, 0, SQLT_CLOB, nullptr, nullptr,
                                  nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(conn.api->HandleFree(def, OCI_HTYPE_DEFINE), OCI_SUCCESS);
  EXPECT_EQ(conn.api->SessionEnd(conn.svc, conn.err, conn.ses, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(conn.api->ServerDetach(conn.srv, conn.err, OCI_DEFAULT), OCI_SUCCESS);
  // The statement outlived its connection: fetching from it is refused.
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-24338: statement handle not executed\n");
}

}  // namespace
}  // namespace rowflume::enginetest
