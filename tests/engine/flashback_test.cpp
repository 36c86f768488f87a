// System change numbers of the embedded engine: the current SCN, queries AS OF SCN and the
// session's DBMS_FLASHBACK, which read exactly the state of their SCN or fail, also while another
// connection writes.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

constexpr char kTooOld[] =
    "ORA-01555: snapshot too old: rollback segment number  with name \"\" too small\n";
constexpr char kInvalidScn[] = "ORA-08181: specified number is not a valid system change number\n";
constexpr char kDisable[] = "BEGIN DBMS_FLASHBACK.DISABLE; END;";

std::string EnableAt(uint64_t scn) {
  return "BEGIN DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(" + std::to_string(scn) + "); END;";
}

// A plain SQLite connection, as another process's would be; Run gives SQLite's result code.
struct Plain {
  explicit Plain(const std::string& path, int busy_ms = 10000) {
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, busy_ms);
  }
  ~Plain() { sqlite3_close_v2(db); }
  int Run(const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // Column 1 of every row, one line each.
  std::string Lines(const std::string& sql) {
    std::string text;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      text.append(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))).push_back('\n');
    }
    sqlite3_finalize(st);
    return text;
  }
  sqlite3* db = nullptr;
};

// Column 1 of every row of a query through the engine, one line each, or the error that ended it
// at execute or fetch. Binds are text, by name; *executed counts the execute, before any fetch.
struct Read {
  std::string lines;
  std::string error;
};
using Binds = std::vector<std::pair<std::string, std::string>>;
Read ReadAll(Connection& conn, const std::string& sql, const Binds& binds = {},
             std::atomic<int>* executed = nullptr) {
  Read result;
  OCIStmt* stmt = conn.Prepare(sql);
  std::vector<OCIBind*> handles(binds.size());
  for (size_t idx = 0; idx < binds.size(); ++idx) {
    const auto& [name, value] = binds[idx];
    conn.api->BindByName(stmt, &handles[idx], conn.err,
                         reinterpret_cast<const OraText*>(name.data()), sb4(name.size()),
                         const_cast<char*>(value.c_str()), sb4(value.size() + 1), SQLT_STR, nullptr,
                         nullptr, nullptr, 0, nullptr, OCI_DEFAULT);
  }
  constexpr ub4 kBatch = 500;
  constexpr sb4 kWidth = 32;
  std::vector<char> values(kBatch * kWidth);
  std::vector<ub2> lengths(kBatch);
  sword status = conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, 0);
  if (executed != nullptr) executed->fetch_add(1);
  OCIDefine* def = nullptr;
  if (status == OCI_SUCCESS) {
    conn.api->DefineByPos(stmt, &def, conn.err, 1, values.data(), kWidth, SQLT_CHR, nullptr,
                          lengths.data(), nullptr, OCI_DEFAULT);
  }
  while (status == OCI_SUCCESS) {
    status = conn.api->StmtFetch(stmt, conn.err, kBatch, OCI_FETCH_NEXT, OCI_DEFAULT);
    if (status != OCI_SUCCESS && status != OCI_NO_DATA) break;
    for (ub4 row = 0, rows = conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED); row < rows; ++row) {
      result.lines.append(&values[row * kWidth], lengths[row]).push_back('\n');
    }
  }
  if (status != OCI_NO_DATA) result.error = conn.ErrorText();
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  return result;
}

class Flashback : public testing::Test {
 protected:
  void SetUp() override {
    path_ = MakeDatabase("flashback",
                         "CREATE TABLE emp(empno INTEGER, ename VARCHAR2(10));"
                         "INSERT INTO emp VALUES (1, 'KING'), (2, 'BLAKE'), (3, 'CLARK');");
    ASSERT_EQ(conn_.Logon(path_), OCI_SUCCESS) << conn_.ErrorText();
  }
  uint64_t Scn() { return std::stoull(conn_.One("SELECT CURRENT_SCN FROM V$DATABASE")); }

  std::string path_;
  Connection conn_;
};

TEST_F(Flashback, EveryFormGivesTheSameScnWhichEachCommitRaisesByOne) {
  Connection other;
  ASSERT_EQ(other.Logon(path_), OCI_SUCCESS);
  const uint64_t first = Scn();
  for (uint64_t scn = first; scn < first + 2; ++scn) {
    for (const char* text : {"select current_scn from v$database",
                             "SELECT DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER FROM DUAL",
                             "select sys.dbms_flashback.get_system_change_number() s from dual"}) {
      EXPECT_EQ(conn_.One(text), std::to_string(scn)) << text;
      EXPECT_EQ(other.One(text), std::to_string(scn)) << text;
    }
    Plain(path_).Run("INSERT INTO emp VALUES (4, 'FORD')");
  }
  EXPECT_EQ(conn_.Execute("UPDATE emp SET empno = (SELECT current_scn FROM v$database)"),
            OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(), "ORA-08187: snapshot expression not allowed here\n");
}

// Each way of reading at an SCN: the rows of that state while it is the newest, ORA-01555 once
// another connection has committed, ORA-08181 for an SCN not reached or no SCN at all.
TEST_F(Flashback, ReadsAtAnScnSeeItsStateOrFail) {
  const std::vector<std::string> rowids = conn_.Column("SELECT ROWID FROM emp ORDER BY ROWID");
  ASSERT_EQ(rowids.size(), 3u);
  const Binds range = {{":minrid", rowids[0]}, {":maxrid", rowids[1]}};
  const char* const kQueries[] = {
      // % stands for the SCN; none: read under DBMS_FLASHBACK
      "SELECT ENAME FROM SCOTT.EMP AS OF SCN % WHERE ROWID BETWEEN :minrid AND :maxrid",
      "select e.ename from emp as of scn % e where e.rowid between :minrid and :maxrid",
      "SELECT ename FROM emp AS OF SCN % t1 WHERE t1.ROWID >= :minrid AND t1.ROWID <= :maxrid",
      "SELECT ename FROM SCOTT.EMP WHERE ROWID BETWEEN :minrid AND :maxrid"};
  auto read = [&](std::string query, uint64_t scn) {
    if (size_t at = query.find('%'); at != std::string::npos) {
      return ReadAll(conn_, query.replace(at, 1, std::to_string(scn)), range);
    }
    if (conn_.Execute(EnableAt(scn)) != OCI_SUCCESS) return Read{"", conn_.ErrorText()};
    Read result = ReadAll(conn_, query, range);
    EXPECT_EQ(conn_.Execute(kDisable), OCI_SUCCESS);
    return result;
  };
  const uint64_t scn = Scn();
  for (const char* query : kQueries) {
    EXPECT_EQ(read(query, scn).lines, "KING\nBLAKE\n") << query;
    EXPECT_EQ(read(query, scn + 1).error, kInvalidScn) << query;
  }
  Plain(path_).Run("UPDATE emp SET ename = 'JONES' WHERE empno = 2");
  for (const char* query : kQueries) EXPECT_EQ(read(query, scn).error, kTooOld) << query;
  EXPECT_EQ(
      ReadAll(conn_, "SELECT e.ename FROM emp e JOIN emp AS OF SCN " + std::to_string(scn + 1) +
                         " f ON f.empno = e.empno WHERE e.empno = 2")
          .lines,
      "JONES\n");
  for (const char* scn_text : {"0", "-5", "12abc", "99999999999999999999", ":scn"}) {
    const std::string query = std::string("SELECT 1 FROM emp AS OF SCN ") + scn_text;
    const Binds binds = scn_text[0] == ':' ? Binds{{":scn", "1"}} : Binds{};
    EXPECT_EQ(ReadAll(conn_, query, binds).error, kInvalidScn) << scn_text;
  }
}

TEST_F(Flashback, SessionFlashbackEnablesOnceAndHoldsEveryQuery) {
  const uint64_t scn = Scn();
  const std::pair<std::string, const char*> kBlocks[] = {
      {EnableAt(scn + 1), kInvalidScn},
      {"begin sys.dbms_flashback.enable_at_system_change_number(-3); end;", kInvalidScn},
      {EnableAt(scn), ""},
      {EnableAt(scn), "ORA-08184: attempting to re-enable Flashback while in Flashback mode\n"},
      {kDisable, ""},
      {"begin dbms_flashback.disable(); end;", ""},
      {"BEGIN\n DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(" + std::to_string(scn) + ");\nEND;",
       ""}};
  for (const auto& [block, error] : kBlocks) {
    EXPECT_EQ(conn_.Execute(block), error[0] == '\0' ? OCI_SUCCESS : OCI_ERROR) << block;
    EXPECT_EQ(conn_.ErrorText(), error) << block;
  }
  EXPECT_EQ(conn_.One("SELECT count(*) FROM emp"), "3");
  Plain(path_).Run("DELETE FROM emp");
  for (const char* query : {"SELECT count(*) FROM emp", "SELECT dummy FROM dual",
                            "SELECT current_scn FROM v$database"}) {
    EXPECT_EQ(ReadAll(conn_, query).error, kTooOld) << query;
  }
  Connection other;  // not in flashback; enabling at an SCN left behind is accepted
  ASSERT_EQ(other.Logon(path_), OCI_SUCCESS);
  EXPECT_EQ(other.One("SELECT count(*) FROM emp"), "0");
  ASSERT_EQ(other.Execute(EnableAt(scn)), OCI_SUCCESS) << other.ErrorText();
  EXPECT_EQ(ReadAll(other, "SELECT ename FROM emp").error, kTooOld);
  EXPECT_EQ(conn_.Execute(kDisable), OCI_SUCCESS);
  EXPECT_EQ(conn_.One("SELECT count(*) FROM emp"), "0");
}

// The read transaction lasts from execute to the end of the data: other writers wait, the
// connection's own writes are refused, and both go through once it has ended.
TEST_F(Flashback, ReadAtAnScnHoldsTheStateUntilItsDataEnds) {
  Plain other(path_, 0);
  OCIStmt* stmt = conn_.Query("SELECT empno FROM emp AS OF SCN " + std::to_string(Scn()));
  ASSERT_NE(stmt, nullptr);
  ub4 values[2];
  OCIDefine* def = nullptr;
  conn_.api->DefineByPos(stmt, &def, conn_.err, 1, values, 4, SQLT_UIN, nullptr, nullptr, nullptr,
                         OCI_DEFAULT);
  ASSERT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 2, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(other.Run("UPDATE emp SET ename = 'X'"), SQLITE_BUSY);
  EXPECT_EQ(conn_.Execute("UPDATE emp SET ename = 'X'"), OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(), "ORA-08182: operation not supported while in Flashback mode\n");
  EXPECT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 2, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  EXPECT_EQ(other.Run("UPDATE emp SET ename = 'Y' WHERE empno = 1"), SQLITE_OK);
  EXPECT_EQ(conn_.Execute("UPDATE emp SET ename = 'X' WHERE empno = 2"), OCI_SUCCESS);
  conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

// The SCN sums the counters of every attached file: a commit to a schema file moves it, and a
// read at the SCN holds that file too, whether it reads it or not.
TEST(EngineFlashback, ScnCoversTheSchemaFiles) {
  const std::string dir = testing_support::MakeTempDir();
  testing_support::SqliteFile(dir + "/hr.db").Exec("CREATE TABLE jobs(title VARCHAR2(9));");
  testing_support::SqliteFile(dir + "/main.db")
      .Exec(
          "CREATE TABLE rowflume_schemas(owner TEXT, path TEXT);"
          "INSERT INTO rowflume_schemas VALUES ('HR', 'hr.db');");
  {
    Connection conn;
    ASSERT_EQ(conn.Logon(dir + "/main.db"), OCI_SUCCESS) << conn.ErrorText();
    const std::string scn = conn.One("SELECT CURRENT_SCN FROM V$DATABASE");
    Plain hr(dir + "/hr.db", 0);
    OCIStmt* held = conn.Query("SELECT owner FROM rowflume_schemas AS OF SCN " + scn);
    EXPECT_EQ(hr.Run("INSERT INTO jobs VALUES ('CLERK')"), SQLITE_BUSY);
    conn.api->HandleFree(held, OCI_HTYPE_STMT);
    EXPECT_EQ(hr.Run("INSERT INTO jobs VALUES ('CLERK')"), SQLITE_OK);
    EXPECT_EQ(conn.One("SELECT CURRENT_SCN FROM V$DATABASE"), std::to_string(std::stoull(scn) + 1));
    EXPECT_EQ(ReadAll(conn, "SELECT title FROM HR.JOBS AS OF SCN " + scn).error, kTooOld);
  }
  // Closed first: Windows removes no file that is still open.
  std::filesystem::remove_all(dir);
}

TEST(EngineFlashback, WalDatabasesAreRefused) {
  const std::string path =
      MakeDatabase("flashback_wal",
                   "CREATE TABLE t(x INTEGER); PRAGMA journal_mode=WAL; INSERT INTO t VALUES (1);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS) << conn.ErrorText();
  EXPECT_EQ(ReadAll(conn, "SELECT CURRENT_SCN FROM V$DATABASE").error,
            "ORA-03001: unimplemented feature\n");
  EXPECT_EQ(ReadAll(conn, "SELECT x FROM t AS OF SCN 1").error,
            "ORA-03001: unimplemented feature\n");
  EXPECT_EQ(conn.Execute(EnableAt(1)), OCI_ERROR);
  EXPECT_EQ(conn.One("SELECT x FROM t"), "1");
}

// Sessions read a 50,000-row table at one SCN while another connection keeps updating and
// inserting: each read delivers exactly the rows of that state or fails with ORA-01555.
TEST(EngineFlashback, ConcurrentWriterNeverShowsAReaderAnotherState) {
  constexpr int kReaders = 4;
  const std::string path =
      MakeDatabase("flashback_concurrent",
                   "CREATE TABLE big(id INTEGER PRIMARY KEY, v INTEGER);"
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000)"
                   " INSERT INTO big SELECT i, i * 7 FROM n;");
  const char* const kRows = "SELECT id || '|' || v FROM big";
  std::mutex gate;  // held by the writer for each commit, and by each round while it takes its SCN
  std::atomic<int> commits{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    Plain other(path);
    for (int round = 0; !stop.load(); ++round) {
      std::unique_lock<std::mutex> paused_writer(gate);
      if (other.Run("BEGIN IMMEDIATE; UPDATE big SET v = v + 1 WHERE id % 101 = " +
                    std::to_string(round % 101) + "; INSERT INTO big(v) VALUES (-1); COMMIT;") ==
          SQLITE_OK) {
        commits.fetch_add(1);
      } else {
        other.Run("ROLLBACK");
      }
      paused_writer.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<std::unique_ptr<Connection>> readers(kReaders);
  for (auto& reader : readers) {
    reader = std::make_unique<Connection>();
    ASSERT_EQ(reader->Logon(path), OCI_SUCCESS);
  }
  Plain expected_state(path);
  std::atomic<int> exact{0};
  std::atomic<int> too_old{0};
  std::atomic<int> wrong{0};
  for (int round = 0; round < 4; ++round) {
    // The shared lock of this transaction keeps the writer from committing until every reader
    // has executed its first read: the SCN, the expected rows and those reads see one state.
    std::unique_lock<std::mutex> paused(gate);
    expected_state.Run("BEGIN");
    const std::string expected = expected_state.Lines(std::string(kRows) + " ORDER BY id");
    const uint64_t scn = std::stoull(readers[0]->One("SELECT CURRENT_SCN FROM V$DATABASE"));
    const int commits_before = commits.load();
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int reader = 0; reader < kReaders; ++reader) {
      threads.emplace_back([&, reader] {
        Connection& conn = *readers[size_t(reader)];
        auto read = [&](std::atomic<int>* executed) {
          if (reader % 2 == 0) {
            return ReadAll(conn, kRows + (" AS OF SCN " + std::to_string(scn)) + " ORDER BY id", {},
                           executed);
          }
          EXPECT_EQ(conn.Execute(EnableAt(scn)), OCI_SUCCESS);
          Read result = ReadAll(conn, std::string(kRows) + " ORDER BY id", {}, executed);
          EXPECT_EQ(conn.Execute(kDisable), OCI_SUCCESS);
          return result;
        };
        auto judge = [&](const Read& result, bool may_be_exact, bool may_be_old) {
          const bool is_exact = result.error.empty() && result.lines == expected;
          const bool is_old = result.error == kTooOld;
          (is_exact ? exact : is_old ? too_old : wrong).fetch_add(1);
          EXPECT_TRUE((is_exact && may_be_exact) || (is_old && may_be_old))
              << "round " << round << " reader " << reader << ": " << result.error;
        };
        judge(read(&started), true, false);  // executed before the writer may commit
        judge(read(nullptr), true, true);    // races the writer's next commit
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (commits.load() == commits_before && std::chrono::steady_clock::now() < give_up) {
          std::this_thread::yield();
        }
        judge(read(nullptr), false, true);
      });
    }
    while (started.load() < kReaders) std::this_thread::yield();
    expected_state.Run("COMMIT");
    paused.unlock();
    for (std::thread& thread : threads) thread.join();
  }
  stop.store(true);
  writer.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(exact.load(), kReaders * 4);
  EXPECT_GE(too_old.load(), kReaders * 4);
}

}  // namespace
}  // namespace rowflume::enginetest
