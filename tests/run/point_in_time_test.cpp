// Runs at one point in time (`scn`): the texts the client is given, and what the outputs hold while
// another connection keeps writing: exactly the table as it was at the run's SCN, or a run that
// fails with ORA-01555, never rows of two states.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "main/driver.h"
#include "oci/oci_api.h"
#include "run/client_choice.h"
#include "support/fake_oci.h"
#include "support/files.h"
#include "support/program_run.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

constexpr int kRows = 200000;     // 25 extents of 8192 rows
constexpr int kLastRange = 8000;  // rows of the first and of the last extent the writer changes

// Writer transaction j moves one unit from a row of the table's last extent to a row of its first
// extent and appends a row, so that two pieces read at different states could not sum to zero.
int Credited(int j) {
  return 1 + (j * 37) % kLastRange;
}
int Debited(int j) {
  return kRows - (j * 53) % kLastRange;
}

// The table after the first j writer transactions, as the default layout writes it, sorted.
std::vector<std::string> StateAfter(int j) {
  std::map<int, int> values;
  for (int k = 1; k <= j; ++k) {
    ++values[Credited(k)];
    --values[Debited(k)];
  }
  std::vector<std::string> rows;
  for (int id = 1; id <= kRows + j; ++id) {
    auto found = values.find(id);
    rows.push_back(std::to_string(id) + "," +
                   std::to_string(found != values.end() ? found->second : 0));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The first rows that one list has and the other lacks.
std::string Difference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  std::vector<std::string> extra, missing;
  std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(extra));
  std::set_difference(want.begin(), want.end(), got.begin(), got.end(),
                      std::back_inserter(missing));
  std::string text;
  for (size_t k = 0; k < extra.size() && k < 5; ++k) text += " +" + extra[k];
  for (size_t k = 0; k < missing.size() && k < 5; ++k) text += " -" + missing[k];
  return text;
}

uint64_t ChangeCounter(const std::string& path) {
  std::string header = ReadFile(path).substr(24, 4);
  uint64_t value = 0;
  for (unsigned char byte : header) value = value << 8 | byte;
  return value;
}

class PointInTime : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    db_ = dir_ + "/t.db";
    SqliteFile(db_).Exec(
        "CREATE TABLE T (ID NUMBER(9), V NUMBER(9));"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(kRows) + ") INSERT INTO T SELECT i, 0 FROM n;");
  }
  void TearDown() override {
    StopWriter();
    fs::remove_all(dir_);
  }

  ProgramRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), "user=scott/tiger@sqlite:t.db");
    return RunProgram(dir_, args);
  }

  // One writer transaction every pause_ms, each a commit of its own, until StopWriter.
  void StartWriter(int pause_ms) {
    start_counter_ = ChangeCounter(db_);
    writer_ = std::thread([this, pause_ms] {
      sqlite3* db = nullptr;
      sqlite3_open(db_.c_str(), &db);
      sqlite3_busy_timeout(db, 60000);
      for (int j = 1; !stop_; ++j) {
        std::string sql =
            "BEGIN IMMEDIATE; UPDATE T SET V = V + 1 WHERE ID = " + std::to_string(Credited(j)) +
            "; UPDATE T SET V = V - 1 WHERE ID = " + std::to_string(Debited(j)) +
            "; INSERT INTO T VALUES (" + std::to_string(kRows + j) + ", 0); COMMIT;";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
          writer_failed_ = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
      }
      sqlite3_close(db);
    });
  }
  void StopWriter() {
    stop_ = true;
    if (writer_.joinable()) writer_.join();
  }

  // Checks one run: either every output file together is the table at the SCN the run reports,
  // or the run failed on ORA-01555 with status 3. True when it succeeded.
  bool CheckRun(const ProgramRun& run, const std::string& prefix) {
    std::smatch reported;
    const std::regex kReading("Reading as of SCN ([0-9]+)");
    if (run.status != 0) {
      // Status 3 for each piece that failed, summed over the pieces.
      EXPECT_TRUE(run.status % 3 == 0) << run.status << run.out;
      EXPECT_NE(run.out.find("ORA-01555"), std::string::npos) << run.out;
      return false;
    }
    EXPECT_TRUE(std::regex_search(run.out, reported, kReading)) << run.out;
    const uint64_t scn = std::stoull(reported[1].str());
    // Every session of the run reports the same SCN.
    EXPECT_EQ(Count(run.out, "Reading as of SCN " + reported[1].str() + "\n"),
              Count(run.out, "Reading as of SCN "));
    std::vector<std::string> rows;
    for (const std::string& name : FilesStartingWith(dir_, prefix)) {
      for (const std::string& line : Lines(ReadFile(dir_ + "/" + name))) rows.push_back(line);
      fs::remove(dir_ + "/" + name);
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_GE(scn, start_counter_);
    const std::vector<std::string> expected = StateAfter(static_cast<int>(scn - start_counter_));
    EXPECT_TRUE(rows == expected) << "not the table at SCN " << scn << " (writer from "
                                  << start_counter_ << "): " << rows.size() << " rows, "
                                  << expected.size() << " expected" << Difference(rows, expected);
    return true;
  }

  std::string dir_;
  std::string db_;
  std::thread writer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> writer_failed_{false};
  uint64_t start_counter_ = 0;
};

TEST_F(PointInTime, ParallelAndSerialRunsReadOneStateWhileAWriterCommits) {
  StartWriter(150);
  int succeeded = 0;
  for (int round = 0; round < 4; ++round) {
    std::string prefix = "p" + std::to_string(round) + "_";
    ProgramRun run = Run({"split=T", "degree=4", "scn=current", "file=" + prefix + "%p.txt"});
    succeeded += CheckRun(run, prefix);
    prefix = "s" + std::to_string(round) + "_";
    run = Run({"query=select * from T where ID > 0", "scn=current", "file=" + prefix + ".txt"});
    succeeded += CheckRun(run, prefix);
  }
  StopWriter();
  EXPECT_FALSE(writer_failed_);
  std::printf("runs that read their SCN while the writer wrote: %d of 8\n", succeeded);
  // With the writer stopped, a run at the current SCN has nothing to fail on.
  ProgramRun run = Run({"split=T", "degree=4", "scn=current", "file=quiet_%p.txt"});
  EXPECT_TRUE(CheckRun(run, "quiet_"));
}

// A plan keeps its SCN: pieces run while the table is as it was succeed; after one commit the
// engine, which keeps no undo, can no longer serve that SCN and the pieces fail loudly.
TEST_F(PointInTime, PlannedPiecesFailOnceTheTableMovedOn) {
  ProgramRun plan = Run({"split=T", "degree=4", "scn=current", "plan=t.plan"});
  ASSERT_EQ(plan.status, 0) << plan.out;
  ASSERT_NE(ReadFile(dir_ + "/t.plan").find("SCN=" + std::to_string(ChangeCounter(db_))),
            std::string::npos);
  ProgramRun first = Run({"plan=t.plan", "pieces=1-2", "file=a_%p.txt"});
  EXPECT_EQ(first.status, 0) << first.out;
  SqliteFile(db_, SqliteFile::Mode::kOpen).Exec("UPDATE T SET V = 1 WHERE ID = 1;");
  ProgramRun later = Run({"plan=t.plan", "pieces=3-4", "file=a_%p.txt", "retry=1"});
  EXPECT_NE(later.status, 0);
  EXPECT_NE(later.out.find("ORA-01555"), std::string::npos) << later.out;
}

// The texts the client gets are Oracle's: the SCN asked of V$DATABASE once, the flashback
// clause after the table of the program's own statements, and session flashback around a query
// of the user's.
TEST_F(PointInTime, TextsSentAreOraclesFlashbackForms) {
  std::mutex lock;
  std::vector<std::string> texts;
  FakeOci& fake = FakeOci::Fresh();
  fake.observe.StmtPrepare = [&](OCIStmt*, OCIError*, const OraText* text, ub4 length, ub4, ub4) {
    std::lock_guard<std::mutex> guard(lock);
    texts.emplace_back(reinterpret_cast<const char*>(text), length);
  };
  SetProviderFilter(FakeOci::Filter);
  auto run = [&](std::vector<std::string> args) {
    texts.clear();
    args.insert(args.begin(), "user=scott/tiger@sqlite:" + db_);
    args.insert(args.begin(), "rowflume");
    args.push_back("file=" + dir_ + "/out_%p.txt");
    args.push_back("control=" + dir_ + "/out.ctl");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    EXPECT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), 0);
    std::vector<std::string> reading;  // the texts that read, or set how to read, at an SCN
    for (const std::string& text : texts) {
      if (text.find("SCN") != std::string::npos || text.find("FLASHBACK") != std::string::npos ||
          text.find("from T") != std::string::npos) {
        reading.push_back(text);
      }
    }
    return reading;
  };
  const std::string scn = std::to_string(ChangeCounter(db_));
  EXPECT_EQ(run({"query=select * from T where ID > 0", "scn=current"}),
            (std::vector<std::string>{
                "SELECT CURRENT_SCN FROM V$DATABASE",
                "BEGIN DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(" + scn + "); END;",
                "select * from T where ID > 0", "BEGIN DBMS_FLASHBACK.DISABLE; END;"}));
  EXPECT_EQ(run({"query=T", "scn=" + scn}),
            (std::vector<std::string>{"select * from T AS OF SCN " + scn}));
  const std::string piece =
      "SELECT * FROM T AS OF SCN " + scn + " WHERE ROWID >= :minrid AND ROWID < :maxrid";
  EXPECT_EQ(run({"split=T", "degree=2", "scn=current"}),
            (std::vector<std::string>{"SELECT CURRENT_SCN FROM V$DATABASE", piece, piece}));
  SetProviderFilter(nullptr);
  FakeOci::Fresh();
}

}  // namespace
}  // namespace rowflume
