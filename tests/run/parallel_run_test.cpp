// The parallel run: the split value, the status of the pieces, and whole parallel unloads by the
// built program on the embedded engine, compared with the serial unload.
#include "run/parallel_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/sql_text.h"
#include "main/driver.h"
#include "output/manifest.h"
#include "support/files.h"
#include "support/program_run.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

TEST(ParallelNames, SplitValueTakenApart) {
  auto job = std::make_unique<UnloadHandle>();
  auto split = [&](const char* value) {
    InitJobDefaults(job.get());
    std::snprintf(job->split, sizeof job->split, "%s", value);
    SplitPartitionName(job.get());
    SplitOwnerName(job.get());
    return std::string(job->split_owner) + "|" + job->split + "|" + job->part;
  };
  EXPECT_EQ(split("SCOTT.EMP:P2023"), "SCOTT|EMP|P2023");
  EXPECT_EQ(split("EMP:P2023"), "|EMP|P2023");
  EXPECT_EQ(split(".EMP"), "|.EMP|");
  EXPECT_EQ(split("EMP:"), "|EMP:|");
  EXPECT_EQ(split("A.B.C"), "A|B.C|");
  EXPECT_EQ(split("\"a.b\".\"T:1\":P"), "\"a.b\"|\"T:1\"|P");

  char stored[132];
  char sql[132];
  ASSERT_TRUE(CheckSplitName("scott", stored, sql));
  EXPECT_STREQ(stored, "SCOTT");
  EXPECT_STREQ(sql, "SCOTT");
  ASSERT_TRUE(CheckSplitName("\"Mixed Case\"", stored, sql));
  EXPECT_STREQ(stored, "Mixed Case");
  EXPECT_STREQ(sql, "\"Mixed Case\"");
  ASSERT_TRUE(CheckSplitName("T$1#_x", stored, sql));
  EXPECT_STREQ(stored, "T$1#_X");
  for (const char* bad : {"", "1EMP", "EMP;DROP", "EMP'", "E MP", "\"\"", "\"it's\"", "\"a\"b\"",
                          "B.C", "\"unterminated"}) {
    EXPECT_FALSE(CheckSplitName(bad, stored, sql)) << bad;
  }
  std::string longest(128, 'A');
  EXPECT_TRUE(CheckSplitName(longest.c_str(), stored, sql));
  EXPECT_FALSE(CheckSplitName((longest + "A").c_str(), stored, sql));
}

TEST(ParallelStatus, NeverZeroWhenAPieceFailed) {
  auto combine = [](std::vector<int> codes) {
    return CombinePieceStatuses(codes.data(), static_cast<int>(codes.size()));
  };
  EXPECT_EQ(combine({0, 0, 0}), 0);
  EXPECT_EQ(combine({0, 3, 0}), 3);
  EXPECT_EQ(combine({3, 3, 2}), 8);
  EXPECT_EQ(combine({-1, -1}), -2);
  EXPECT_EQ(combine({-1, -1, 2}), kParallelFailed);               // would cancel to 0
  EXPECT_EQ(combine(std::vector<int>(128, 2)), kParallelFailed);  // 256 wraps to 0
  EXPECT_EQ(combine(std::vector<int>(85, 3)), 255);
  EXPECT_EQ(combine(std::vector<int>(86, 3)), kParallelFailed);
}

// ---- Whole runs of the program ------------------------------------------------------------------

class ParallelUnload : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    db_ = dir_ + "/big.db";
    SqliteFile big(db_);
    // WAL lets the fault hook write while other pieces read.
    ASSERT_TRUE(
        big.Exec("PRAGMA journal_mode=WAL;"
                 "CREATE TABLE BIG(ID INTEGER, NAME VARCHAR2(30), AMOUNT NUMBER(10,2));"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                 "WHERE i < 100000) INSERT INTO BIG SELECT i, 'name ' || (i * 7 % 1000), "
                 "CASE WHEN i % 9 = 0 THEN NULL ELSE i / 4.0 END FROM n;"
                 "CREATE TABLE EMPTY_T(A INTEGER, B VARCHAR2(5));"
                 "CREATE TABLE rowflume_faults(minrid TEXT, remaining INTEGER);"));
    std::string root = big.One("SELECT rootpage FROM sqlite_master WHERE name = 'BIG'");
    ASSERT_NE(root, "<none>");
    big_object_ = std::stoll(root);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  ProgramRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), "user=scott/tiger@sqlite:" + db_);
    return RunProgram(dir_, args);
  }
  // Run with the test build of the program, whose engine fails what rowflume_faults lists.
  ProgramRun RunHooked(std::vector<std::string> args) {
    args.insert(args.begin(), "user=scott/tiger@sqlite:" + db_);
    return RunHookedProgram(dir_, args);
  }
  void Sql(const std::string& sql) {
    EXPECT_TRUE(SqliteFile(db_, SqliteFile::Mode::kOpen).Exec(sql));
  }
  std::string One(const std::string& sql) {
    return SqliteFile(db_, SqliteFile::Mode::kOpen).One(sql);
  }
  // The first ROWID of the extent that starts at that rowid: the lower bound of the range that
  // starts there.
  std::string RangeStart(int64_t rowid) {
    char text[32] = {};
    int64_t block = rowid / 64;
    EXPECT_TRUE(engine::EncodeRowid({big_object_, 1, block, 0}, text));
    return text;
  }
  std::vector<std::string> Files(const std::string& prefix) {
    return FilesStartingWith(dir_, prefix);
  }
  std::vector<std::string> SortedRows(const std::vector<std::string>& files) {
    std::vector<std::string> rows;
    for (const std::string& name : files) {
      std::vector<std::string> lines = Lines(ReadFile(dir_ + "/" + name));
      rows.insert(rows.end(), lines.begin(), lines.end());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  std::vector<std::string> SerialRows() {
    ProgramRun run = Run({"query=BIG", "file=serial.txt"});
    EXPECT_EQ(run.status, 0) << run.out;
    return SortedRows({"serial.txt"});
  }

  std::string dir_;
  std::string db_;
  int64_t big_object_ = 0;
};

TEST_F(ParallelUnload, PiecesTogetherEqualTheSerialUnload) {
  std::vector<std::string> serial = SerialRows();
  ASSERT_EQ(serial.size(), 100000u);
  for (int degree : {2, 4, 16}) {
    std::string prefix = "d" + std::to_string(degree) + "_";
    std::filesystem::remove(dir_ + "/BIG_sqlldr.ctl");
    ProgramRun run =
        Run({"split=BIG", "degree=" + std::to_string(degree), "file=" + prefix + "%p.txt"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    // 100000 rows are 13 extents of 8192 rows: degree 16 gets one piece per extent.
    std::vector<std::string> files = Files(prefix);
    size_t expected = degree == 16 ? 13 : static_cast<size_t>(degree);
    EXPECT_EQ(files.size(), expected) << degree;
    EXPECT_EQ(Count(run.out, " closed at "), expected);
    for (const std::string& name : files) {
      EXPECT_GT(std::filesystem::file_size(dir_ + "/" + name), 0u) << name;
    }
    EXPECT_TRUE(SortedRows(files) == serial) << "degree " << degree;
    // The pieces load back into the split table: the first piece writes its control file.
    EXPECT_NE(ReadFile(dir_ + "/BIG_sqlldr.ctl").find("BIG"), std::string::npos) << degree;
  }
}

// A plan made on one host, its pieces run by three other processes (5 + 5 + 3): their files
// are the files of the one-process unload of the same plan, byte for byte, control file
// included, and a piece of another plan or table is refused.
TEST_F(ParallelUnload, PlannedPiecesRunApartFormTheOneProcessUnload) {
  ProgramRun plan = Run({"split=BIG", "degree=16", "plan=big.plan"});
  ASSERT_EQ(plan.status, 0) << plan.out << plan.err;
  EXPECT_NE(plan.out.find("Split plan of 13 pieces of SCOTT.BIG written to big.plan"),
            std::string::npos)
      << plan.out;
  EXPECT_TRUE(Files("BIG").empty());  // a plan run unloads nothing
  for (const char* pieces : {"1-5", "6,7,8,9,10", "11 - 13"}) {
    ProgramRun run = Run({"plan=big.plan", std::string("pieces=") + pieces, "file=apart_%p.txt"});
    ASSERT_EQ(run.status, 0) << pieces << run.out << run.err;
  }
  std::string control = ReadFile(dir_ + "/BIG_sqlldr.ctl");
  // The process of piece 1 names every piece's file: its own, and the others' by the pattern.
  for (int piece = 1; piece <= 13; ++piece) {
    const std::string name = "apart_" + std::to_string(piece) + ".txt";
    ASSERT_NE(control.find("INFILE '" + name + "'"), std::string::npos) << name;
  }
  for (size_t at; (at = control.find("apart_")) != std::string::npos;)
    control.replace(at, 6, "whole_");
  ProgramRun whole = Run({"split=BIG", "degree=16", "file=whole_%p.txt"});
  ASSERT_EQ(whole.status, 0) << whole.out;
  std::vector<std::string> apart = Files("apart_");
  ASSERT_EQ(apart.size(), 13u);
  for (const std::string& name : apart) {
    EXPECT_EQ(ReadFile(dir_ + "/" + name), ReadFile(dir_ + "/whole_" + name.substr(6))) << name;
  }
  EXPECT_EQ(control, ReadFile(dir_ + "/BIG_sqlldr.ctl"));
  EXPECT_TRUE(SortedRows(apart) == SerialRows());
}

// Each piece feeds a command of its own; one started per piece, the files together hold the
// table once.
// Pieces call the client at the same time: every environment of a parallel run is threaded.
TEST_F(ParallelUnload, EveryEnvironmentIsThreaded) {
  std::vector<std::string> args = {
      "rowflume", "user=scott/tiger@sqlite:" + db_, "split=BIG",
      "degree=4", "file=" + dir_ + "/th_%p.txt",    "control=" + dir_ + "/th.ctl"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  const engine::EnvironmentTally before = engine::CountEnvironments();
  ASSERT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), 0);
  const engine::EnvironmentTally after = engine::CountEnvironments();
  EXPECT_EQ(Files("th_").size(), 4u);  // th_1.txt to th_4.txt; the control file is th.ctl
  // The driver's session and one for each of the four pieces.
  EXPECT_GE(after.threaded - before.threaded, 5);
  EXPECT_EQ(after.unthreaded - before.unthreaded, 0);
  EXPECT_EQ(after.unsafe_overlaps - before.unsafe_overlaps, 0);
}

// Pieces ending on their own threads keep one manifest, in this process (so that the
// thread-sanitised build sees its lock and the hashing threads): every piece complete, every
// file's digest its bytes'.
TEST_F(ParallelUnload, PiecesKeepOneManifest) {
  const std::string manifest_path = dir_ + "/m.json";
  std::vector<std::string> args = {
      "rowflume", "user=scott/tiger@sqlite:" + db_, "split=BIG",
      "degree=4", "file=" + dir_ + "/mf_%p.txt",    "manifest=" + manifest_path};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  ASSERT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), 0);
  Manifest manifest;
  std::string error;
  ASSERT_EQ(LoadManifest(manifest_path, &manifest, &error), kManifestLoaded) << error;
  EXPECT_TRUE(manifest.complete);
  ASSERT_EQ(manifest.pieces.size(), 4u);
  uint64_t rows = 0;
  for (const ManifestFile& file : manifest.files) {
    EXPECT_EQ(FileMismatch(file), "") << file.name;
    if (file.kind == kDataFile) rows += file.rows;
  }
  EXPECT_EQ(rows, 100000u);
}

TEST_F(ParallelUnload, PiecesIntoCommandsOfTheirOwn) {
  ProgramRun run = Run({"split=BIG", "degree=4", "file=-" + CopyToFileCommand("t_%p.txt")});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::vector<std::string> texts = Files("t_");
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_TRUE(SortedRows(texts) == SerialRows());
}

// split=HR.ORDERS reads HR's ORDERS, never the table of that name the logged-on user has too:
// with rows, empty, or with its owner misspelt.
TEST_F(ParallelUnload, TheNamedOwnersTableIsRead) {
  SqliteFile hr(dir_ + "/hr.db");
  ASSERT_TRUE(
      hr.Exec("CREATE TABLE ORDERS(ID INTEGER, NOTE VARCHAR2(20));"
              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
              "INSERT INTO ORDERS SELECT i, 'hr ' || i FROM n;"));
  Sql("CREATE TABLE ORDERS(ID INTEGER, NOTE VARCHAR2(20));"
      "INSERT INTO ORDERS VALUES (1, 'scott 1'), (2, 'scott 2');"
      "CREATE TABLE rowflume_schemas(owner TEXT, path TEXT);"
      "INSERT INTO rowflume_schemas VALUES ('hr', 'hr.db');");
  std::vector<std::string> expected =
      Lines(hr.Rows("SELECT ID || ',\"' || NOTE || '\"' FROM ORDERS"));
  std::sort(expected.begin(), expected.end());

  const std::string ranged =
      "query=select * from HR.ORDERS where ROWID >= :minrid and ROWID < :maxrid";
  for (const std::string& query : {std::string(), ranged}) {
    SCOPED_TRACE(query);
    const std::string prefix = query.empty() ? "o_" : "r_";
    std::vector<std::string> args = {"split=HR.ORDERS", "degree=4", "quote=0x22",
                                     "file=" + prefix + "%p.txt"};
    if (!query.empty()) args.push_back(query);
    ProgramRun run = Run(args);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_GE(Files(prefix).size(), 2u);  // 30000 rows are 4 extents
    EXPECT_TRUE(SortedRows(Files(prefix)) == expected);
  }

  // HR's table empty: nothing is unloaded, and that is a success.
  ASSERT_TRUE(hr.Exec("DELETE FROM ORDERS"));
  for (const std::string& query : {std::string(), ranged}) {
    SCOPED_TRACE(query);
    const std::string prefix = query.empty() ? "e_" : "f_";
    std::vector<std::string> args = {"split=HR.ORDERS", "degree=4", "file=" + prefix + "%p.txt"};
    if (!query.empty()) args.push_back(query);
    ProgramRun run = Run(args);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(Files(prefix), std::vector<std::string>{prefix + "1.txt"});
    EXPECT_EQ(ReadFile(dir_ + "/" + prefix + "1.txt"), "");
  }

  // A misspelt owner names no table: it is reported, and nothing is written.
  ProgramRun run = Run({"split=HRX.ORDERS", "degree=4", "file=m_%p.txt"});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.out.find("ORA-00942: table or view does not exist"), std::string::npos) << run.out;
  EXPECT_TRUE(Files("m_").empty());
}

TEST_F(ParallelUnload, NamesWithoutPieceFieldGetOne) {
  ProgramRun run = Run({"split=scott.big", "degree=3", "file=plain.txt", "log=run.log"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Files("plain"),
            (std::vector<std::string>{"plain_1.txt", "plain_2.txt", "plain_3.txt"}));
  for (int piece = 1; piece <= 3; ++piece) {
    std::string log = ReadFile(dir_ + "/run_" + std::to_string(piece) + ".log");
    EXPECT_EQ(Count(log, "output file plain_" + std::to_string(piece) + ".txt closed"), 1u) << log;
  }
  EXPECT_TRUE(SortedRows(Files("plain")) == SerialRows());
}

TEST_F(ParallelUnload, FailedPieceIsRerunAlone) {
  // Degree 2 cuts 13 extents after the 7th: the second range starts at rowid 57344.
  Sql("INSERT INTO rowflume_faults VALUES('" + RangeStart(57344) + "', 1)");
  ProgramRun run = RunHooked({"split=BIG", "degree=2", "file=f_%p.txt", "sleep=1"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Count(run.out, "ORA-01555: snapshot too old"), 1u) << run.out;
  EXPECT_EQ(One("SELECT remaining FROM rowflume_faults"), "0");
  EXPECT_TRUE(SortedRows(Files("f_")) == SerialRows());

  // Without re-runs the failure stands: its status, and no file for that piece.
  Sql("UPDATE rowflume_faults SET remaining = 1");
  run = RunHooked({"split=BIG", "degree=2", "file=g_%p.txt", "retry=0"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_EQ(Files("g_"), std::vector<std::string>{"g_1.txt"});
  EXPECT_EQ(One("SELECT remaining FROM rowflume_faults"), "0");

  // A piece that appends is not run again: its rows would be appended twice.
  Sql("UPDATE rowflume_faults SET remaining = 1");
  run = RunHooked({"split=BIG", "degree=2", "file=+a_%p.txt", "sleep=0"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(
      run.out.find("Parallel piece 2 failed after appending to a_%p.txt; it is not run again"),
      std::string::npos)
      << run.out;
  EXPECT_EQ(One("SELECT remaining FROM rowflume_faults"), "0");

  // A piece that keeps failing is run once and re-run `retry` times.
  Sql("UPDATE rowflume_faults SET remaining = 10");
  run = RunHooked({"split=BIG", "degree=2", "file=h_%p.txt", "retry=2", "sleep=0"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_EQ(One("SELECT remaining FROM rowflume_faults"), "7");
}

// A piece run again starts from nothing: with the time in the name its second attempt writes
// other files, and the failed attempt's are gone, so the table is there once.
TEST_F(ParallelUnload, RerunPieceLeavesNothingOfItsFailedAttempt) {
  // The second piece to finish fails after writing all its rows: its postsql is the second
  // update of the counter, which the trigger fails (keeping the update, so that the re-run's
  // third one passes).
  Sql("CREATE TABLE counter(n INTEGER); INSERT INTO counter VALUES (0);"
      "CREATE TRIGGER second AFTER UPDATE ON counter WHEN new.n = 2 "
      "BEGIN SELECT RAISE(FAIL, 'second'); END;");
  ProgramRun run = Run({"split=BIG", "degree=2", "file=r_%p_%t.txt", "sleep=11",
                        "postsql=UPDATE counter SET n = n + 1"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("its 1 output files were removed"), std::string::npos) << run.out;
  const std::vector<std::string> files = Files("r_");
  EXPECT_EQ(files.size(), 2u);
  EXPECT_TRUE(SortedRows(files) == SerialRows());
}

// A plan holds for its table as long as the table keeps its segments: rows stored after the
// plan was made, an empty table's included, are read by the pieces; a table rebuilt since is
// refused, never read through ranges that no longer hold it.
TEST_F(ParallelUnload, PlansFollowTheirTableOrRefuseIt) {
  ASSERT_EQ(Run({"split=BIG", "degree=4", "plan=big.plan"}).status, 0);
  ASSERT_EQ(Run({"split=EMPTY_T", "degree=4", "plan=empty.plan"}).status, 0);
  Sql("INSERT INTO BIG SELECT ID + 100000, NAME, AMOUNT FROM BIG WHERE ID <= 20000;"
      "INSERT INTO EMPTY_T VALUES (1, 'a'), (2, 'b')");
  ProgramRun run = Run({"plan=big.plan", "pieces=1-4", "file=grown_%p.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(SortedRows(Files("grown_")) == SerialRows());
  run = Run({"plan=empty.plan", "pieces=1", "file=filled_%p.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir_ + "/filled_1.txt"), "1,a\n2,b\n");

  // Rebuilt under its name, the table has a segment of its own.
  Sql("ALTER TABLE BIG RENAME TO BIG_OLD; CREATE TABLE BIG AS SELECT * FROM BIG_OLD;");
  run = Run({"plan=big.plan", "pieces=1-4", "file=rebuilt_%p.txt"});
  EXPECT_EQ(run.status, 4) << run.out;
  EXPECT_NE(run.out.find("plan=big.plan was made for other segments of SCOTT.BIG"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(Files("rebuilt_").empty());
}

TEST_F(ParallelUnload, EveryPieceFailingIsNotRerun) {
  // The first range starts at the segment's first ROWID, before its first extent.
  char first[32] = {};
  ASSERT_TRUE(engine::EncodeRowid({big_object_, 0, 0, 0}, first));
  Sql("INSERT INTO rowflume_faults VALUES('" + std::string(first) + "', 5), ('" +
      RangeStart(57344) + "', 5)");
  ProgramRun run = RunHooked({"split=BIG", "degree=2", "file=f_%p.txt"});
  EXPECT_EQ(run.status, 6) << run.out;  // 3 + 3
  EXPECT_EQ(Count(run.out, "ORA-01555"), 2u);
  EXPECT_EQ(One("SELECT SUM(remaining) FROM rowflume_faults"), "8");
  EXPECT_TRUE(Files("f_").empty());
}

TEST_F(ParallelUnload, SplitValuesAreCheckedBeforeAnyQuery) {
  for (const char* bad : {"BIG;DELETE FROM BIG", "BIG' OR '1'='1", "1BIG", "scott.BIG:'x'"}) {
    ProgramRun run = Run({std::string("split=") + bad, "degree=2", "file=x_%p.txt"});
    EXPECT_EQ(run.status, kSplitRefused) << bad;
    EXPECT_NE(run.out.find("is not [OWNER.]TABLE[:PARTITION] made of valid names"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(Files("x_").empty());
  }
  EXPECT_EQ(One("SELECT COUNT(*) FROM BIG"), "100000");
  // Quoted names are kept as written; SQLite's names match in any letter case.
  ProgramRun run = Run({"split=\"SCOTT\".\"BIG\"", "degree=2", "file=q_%p.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Files("q_").size(), 2u);
}

TEST_F(ParallelUnload, NoRangeFallsBackToOnePiece) {
  // An empty table is unloaded by one piece: its file holds the header.
  ProgramRun run = Run({"split=EMPTY_T", "degree=4", "file=e_%p.txt", "head=yes"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir_ + "/e_1.txt"), "A,B\n");
  // A missing table gives its Oracle error and the query failure status.
  run = Run({"split=MISSING", "degree=4", "file=m_%p.txt"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(run.out.find("ORA-00942: table or view does not exist"), std::string::npos);
  // A partition without extents is read as that partition, never as the whole table.
  run = Run({"split=BIG:P1", "degree=4", "file=p_%p.txt"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(run.out.find("ORA-02149"), std::string::npos) << run.out;
  // A query of the user's on an empty table reads an empty range: its file holds the header.
  const std::string ranged =
      "query=SELECT * FROM EMPTY_T WHERE ROWID >= :minrid AND ROWID < :maxrid";
  run = Run({"split=EMPTY_T", "degree=4", "file=u_%p.txt", "head=yes", ranged});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir_ + "/u_1.txt"), "A,B\n");
  // On a table that does not exist it is not run.
  run = Run({"split=MISSING", "degree=4", "file=v_%p.txt", ranged});
  EXPECT_EQ(run.status, kParallelFailed) << run.out;
  EXPECT_NE(run.out.find("split=MISSING: the table cannot be read"), std::string::npos) << run.out;
  EXPECT_TRUE(Files("v_").empty());
}

TEST_F(ParallelUnload, UserQueryReadsItsRange) {
  ProgramRun run =
      Run({"split=BIG", "degree=2", "file=u_%p.txt",
           "query=select ID from BIG where ROWID >= :minrid and ROWID < :maxrid and ID > 99990"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(SortedRows(Files("u_")),
            (std::vector<std::string>{"100000", "99991", "99992", "99993", "99994", "99995",
                                      "99996", "99997", "99998", "99999"}));

  // INSERT statements of the user's query name the split table.
  run = Run({"split=BIG", "degree=2", "text=ORACLEINS", "file=i_%p.sql",
             "query=select ID from BIG where ROWID >= :minrid and ROWID < :maxrid and ID > 99999"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(SortedRows(Files("i_")),
            (std::vector<std::string>{"(100000);", "INSERT  INTO BIG (ID) VALUES "}));
}

}  // namespace
}  // namespace rowflume
