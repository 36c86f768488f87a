// The built program run on a demo database made by tools/make_demo_db.sh: exact output bytes
// against golden files, CSV read back by a strict reader, file splitting and naming, messages,
// the scrambled output and the result codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_run.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

constexpr int kOrdersRows = 60000;  // about 5.5 MiB of CSV: more than one output buffer
const char kDeptRows[] =
    "10,ACCOUNTING,NEW YORK\n20,RESEARCH,DALLAS\n30,SALES,CHICAGO\n40,OPERATIONS,BOSTON\n";
const char kNoTable[] = "ORA-00942: table or view does not exist\n";

// Messages with their local date and time replaced by "@".
std::string Normalised(const std::string& messages) {
  static const std::regex kTime("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_replace(messages, kTime, "@");
}

std::string Progress(unsigned long long rows, int mb) {
  char line[128];
  std::snprintf(line, sizeof line, "%12llu rows exported at @, size %d MB.\n", rows, mb);
  return line;
}

// MiB as the messages print them.
int RoundedMb(size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", static_cast<double>(bytes) / 1048576.0);
  return std::atoi(text);
}

std::string Closed(const std::string& name, unsigned long long rows, int mb) {
  return "         output file " + name + " closed at " + std::to_string(rows) + " rows, size " +
         std::to_string(mb) + " MB.\n";
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);  // no other thread of the test reads the clock
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

class EndToEnd : public testing::Test {
 protected:
  // One working folder per test program run, with the demo database, a table of awkward CSV
  // values and a copy of the demo database whose logon needs a password.
  static void SetUpTestSuite() {
    dir_ = new std::string(MakeTempDir());
    ASSERT_FALSE(dir_->empty());
    ASSERT_TRUE(MakeDemoDatabase(Path("demo.db"), kOrdersRows));
    ASSERT_TRUE(MakeDemoDatabase(Path("accounts.db")));
    SqliteFile demo(Path("demo.db"), SqliteFile::Mode::kOpen);
    demo.Exec(
        "CREATE TABLE TRICKY(ID NUMBER(4), TXT VARCHAR2(4000), NUM NUMBER);"
        "INSERT INTO TRICKY VALUES (1, '\"', 0.5), (2, '\"\"', -0.001), (3, ',', 1e20),"
        " (4, 'a' || char(13, 10) || 'b', 123456789012345678), (5, char(13), 3.141592653589793),"
        " (6, ' lead and trail ', -7), (7, 'ünïcödé €', NULL), (8, 'x\"y,z' || char(10), 0),"
        " (9, replace(hex(zeroblob(1000)), '0', 'q\"'), 1 / 3.0), (10, NULL, 2.5e-10),"
        " (11, '', -123.456);");
    SqliteFile accounts(Path("accounts.db"), SqliteFile::Mode::kOpen);
    accounts.Exec(
        "CREATE TABLE rowflume_accounts(username, password);"
        "INSERT INTO rowflume_accounts VALUES ('scott', 'tiger');");
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }

  static std::string Path(const std::string& name) { return *dir_ + "/" + name; }
  static ProgramRun Unload(std::vector<std::string> args) {
    args.insert(args.begin(), "user=scott/tiger@sqlite:demo.db");
    return RunProgram(*dir_, args);
  }
  // The whole ORDERS table as CSV without header, to compare split outputs with.
  static std::string PlainOrders() {
    ProgramRun run = Unload({"query=orders", "text=CSV", "head=no", "file=-"});
    EXPECT_EQ(run.status, 0);
    return run.out;
  }

  static std::string* dir_;
};

std::string* EndToEnd::dir_ = nullptr;

TEST_F(EndToEnd, TheTypicalUnloadWritesCsvAndReports) {
  std::string before = Today();
  ProgramRun run = Unload({"query=emp", "text=CSV", "file=emp_%Y%m%d.csv"});
  std::string after = Today();
  ASSERT_EQ(run.status, 0) << run.out;
  std::string name = "emp_" + before + ".csv";
  if (!FileExists(Path(name))) name = "emp_" + after + ".csv";
  ASSERT_TRUE(FileExists(Path(name))) << name;
  EXPECT_EQ(ReadFile(Path(name)),
            ReadFile(std::string(ROWFLUME_SOURCE_DIR) + "/tests/main/golden/emp_csv.txt"));
  EXPECT_EQ(Normalised(run.out), Progress(0, 0) + Progress(14, 0) + Closed(name, 14, 0));
  EXPECT_EQ(run.err, "");
  // The progress lines carry the local date of the run.
  std::string date = run.out.substr(run.out.find(" at ") + 4, 10);
  date.erase(7, 1);
  date.erase(4, 1);
  EXPECT_TRUE(date == before || date == after) << run.out;
  // The bare table name also names the table of the loader control file written beside it.
  EXPECT_NE(ReadFile(Path("emp_sqlldr.ctl")).find("INTO TABLE emp\n"), std::string::npos);
  unlink(Path(name).c_str());
}

// One run of the program and what it must give: the exit status, its whole standard output
// (times shown as "@"), and a file it must leave with its content or, when the row gives no
// content, must not leave. The arguments follow the demo database's logon unless they name a
// user. A row that names a golden file is a layout: its rows on standard output are the golden
// bytes, and so is a file written at the smallest fetch array.
struct Case {
  std::vector<std::string> args;
  int status = 0;
  const char* golden = nullptr;
  std::optional<std::string> out = std::nullopt;
  const char* file = nullptr;
  std::optional<std::string> content = std::nullopt;
};

std::vector<Case> Cases() {
  return {
      // The layouts.
      {.args = {"query=emp"}, .golden = "emp_default.txt"},
      {.args = {"query=emp", "text=CSV"}, .golden = "emp_csv.txt"},
      {.args = {"query=emp", "text=MYSQL"}, .golden = "emp_mysql.txt"},
      {.args = {"query=select * from emp where deptno = 10", "text=FORM"},
       .golden = "emp_form.txt"},
      {.args = {"query=select empno, ename, comm, remarks from emp where deptno = 10",
                "text=SEARCH"},
       .golden = "emp_search.txt"},
      {.args = {"query=select empno, ename, comm, hiredate, substr(remarks, 1, 12) remarks from "
                "emp where deptno = 20",
                "field=0x20", "width=6:8:6:19:12", "null=NA"},
       .golden = "emp_fixed.txt"},
      // The fixed layout has no header line, even when asked for.
      {.args = {"query=dept", "field=0x20", "record=0x0d0x0a", "head=yes"},
       .golden = "dept_fixed.txt"},
      {.args = {"query=select empno, sal, -sal neg, comm, hiredate from emp where deptno in (10, "
                "30)",
                "client=yes", "head=yes", "null=NULL"},
       .golden = "emp_client.txt"},
      {.args = {"query=select ename, remarks from emp where remarks is not null", "escape=0x5c",
                "escf=0x0a0x090x2c", "esct=nt,"},
       .golden = "emp_escape.txt"},
      {.args = {"query=select empno, ename, job, hiredate, remarks from emp where deptno = 30",
                "sedf=AEa0x39", "sedt=ae@#", "null=NULL", "field=|"},
       .golden = "emp_sed.txt"},
      {.args = {"query=select deptno, dname, loc from dept", "rowpre=[", "rowsuf=]", "prehead=#",
                "head=yes", "field=;", "quote=0x27", "record=0x0d0x0a"},
       .golden = "dept_affixes.txt"},
      // An empty result keeps the header only.
      {.args = {"query=select * from dept where 1 = 0", "text=CSV", "file=empty.csv"},
       .out = Progress(0, 0) + Closed("empty.csv", 0, 0),
       .file = "empty.csv",
       .content = "DEPTNO,DNAME,LOC\n"},
      // The result codes of the steps that fail, each with the Oracle text once and no file.
      {.args = {"query=nosuch", "file=never.txt"},
       .status = 3,
       .out = kNoTable,
       .file = "never.txt"},
      {.args = {"query=emp", "file=no/such/dir/emp.txt"},
       .status = 6,
       .out = "ERROR -- Cannot write to file : no/such/dir/emp.txt\n"},
      {.args = {"query=emp", "file=never.txt", "presql=delete from nosuch", "postsql=x"},
       .status = 8,
       .out = kNoTable,
       .file = "never.txt"},
      // A run that fails after its rows takes its file back, so that it is not taken for done.
      {.args = {"query=dept", "file=post.txt", "postsql=delete from nosuch"},
       .status = 9,
       .out = Progress(0, 0) + Progress(4, 0) + Closed("post.txt", 4, 0) + kNoTable +
              "ERROR -- The run failed: its 1 output files were removed, so that none is taken "
              "for complete\n",
       .file = "post.txt"},
      // A refused logon ends at the driver's own check: status 1, the Oracle text once, no file.
      {.args = {"user=scott/wrong@sqlite:accounts.db", "query=emp", "file=refused.txt"},
       .status = 1,
       .out = "ORA-01017: invalid username/password; logon denied\n",
       .file = "refused.txt"},
      {.args = {"user=SCOTT/tiger@sqlite:accounts.db", "query=dept", "file=-"}, .out = kDeptRows},
      // A ";" inside a literal belongs to its alter clause, which goes whole to the session.
      {.args = {"query=select hiredate from emp where empno = 7369",
                "alter=SET NLS_DATE_FORMAT='YYYY;MM';SET NLS_NUMERIC_CHARACTERS=',.'", "file=-"},
       .out = "1980;12\n"},
  };
}

TEST_F(EndToEnd, EveryCaseOfTheTable) {
  for (Case& row : Cases()) {
    SCOPED_TRACE(row.golden != nullptr ? row.golden : row.args.front() + " " + row.args.back());
    if (row.args.front().rfind("user=", 0) != 0) {
      row.args.insert(row.args.begin(), "user=scott/tiger@sqlite:demo.db");
    }
    if (row.golden != nullptr) {
      std::string golden =
          ReadFile(std::string(ROWFLUME_SOURCE_DIR) + "/tests/main/golden/" + row.golden);
      ASSERT_FALSE(golden.empty());
      // Standard output mode: the rows and nothing else.
      row.args.push_back("file=-");
      ProgramRun run = RunProgram(*dir_, row.args);
      EXPECT_EQ(run.status, 0);
      EXPECT_TRUE(run.out == golden) << run.out;
      EXPECT_EQ(run.err, "");
      // The same bytes through a file, at the smallest fetch array.
      row.args.back() = "file=layout.txt";
      row.args.push_back("array=5");
      run = RunProgram(*dir_, row.args);
      EXPECT_EQ(run.status, 0);
      EXPECT_TRUE(ReadFile(Path("layout.txt")) == golden);
      continue;
    }
    ProgramRun run = RunProgram(*dir_, row.args);
    EXPECT_EQ(run.status, row.status);
    if (row.out) {
      EXPECT_EQ(Normalised(run.out), *row.out);
    }
    if (row.file != nullptr && row.content) {
      EXPECT_EQ(ReadFile(Path(row.file)), *row.content);
    } else if (row.file != nullptr) {
      EXPECT_FALSE(FileExists(Path(row.file)));
    }
  }
}

TEST_F(EndToEnd, CsvReadBackEqualsTheSource) {
  std::string command =
      "python3 " + ShellQuote(std::string(ROWFLUME_SOURCE_DIR) + "/tests/main/csv_roundtrip.py") +
      " " + ProgramWord() + " " + ShellQuote(Path("demo.db")) + " " + ShellQuote(*dir_) +
      " EMP DEPT TRICKY ORDERS";
  ProgramRun run = RunShell(*dir_, command);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "");
}

TEST_F(EndToEnd, BatchFilesEachHoldRowsAndAHeader) {
  const std::string query = "query=select * from orders where order_id <= 2500";
  ProgramRun plain = Unload({query, "text=CSV", "head=no", "file=-"});
  ASSERT_EQ(plain.status, 0);
  ProgramRun run = Unload({query, "text=CSV", "rows=1000", "batch=yes", "file=part_%b.csv"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Normalised(run.out),
            Progress(0, 0) + Progress(1000, 0) + Closed("part_1.csv", 1000, 0) + Progress(1000, 0) +
                Closed("part_2.csv", 1000, 0) + Progress(500, 0) + Closed("part_3.csv", 500, 0));
  const std::string header = "ORDER_ID,AMOUNT,RATIO,CODE,NOTE,STATUS,CREATED\n";
  std::string joined;
  for (int k = 1; k <= 3; ++k) {
    std::string piece = ReadFile(Path("part_" + std::to_string(k) + ".csv"));
    ASSERT_EQ(piece.compare(0, header.size(), header), 0) << k;
    joined += piece.substr(header.size());
  }
  EXPECT_TRUE(joined == plain.out);
  EXPECT_FALSE(FileExists(Path("part_4.csv")));

  // Without %b every later file gets its number before the extension instead of emptying the
  // first one.
  run = Unload({query, "rows=1000", "batch=yes", "file=same.txt"});
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(Closed("same.txt", 1000, 0)), std::string::npos);
  EXPECT_NE(run.out.find(Closed("same_2.txt", 1000, 0)), std::string::npos);
  EXPECT_NE(run.out.find(Closed("same_3.txt", 500, 0)), std::string::npos);
  // rows alone only reports.
  run = Unload({query, "rows=1000", "file=one.txt"});
  EXPECT_EQ(Normalised(run.out), Progress(0, 0) + Progress(1000, 0) + Progress(2000, 0) +
                                     Progress(2500, 0) + Closed("one.txt", 2500, 0));
}

// `size` counts every byte produced, not only what the buffer has written: the run switches
// files at the first row end past each multiple of the size, so every file but the last holds
// its share and at most one row more, whatever the 4 MiB buffer does.
TEST_F(EndToEnd, SizeSwitchesFilesAtTheRowEndPastEachShare) {
  const std::string plain = PlainOrders();
  ASSERT_GT(plain.size(), 5u << 20);
  ASSERT_LT(plain.size(), 8u << 20);
  constexpr size_t kLongestRow = 200;
  for (int size : {1, 3}) {
    SCOPED_TRACE("size=" + std::to_string(size));
    ProgramRun run = Unload({"query=orders", "text=CSV", "head=no", "size=" + std::to_string(size),
                             "file=sz" + std::to_string(size) + "_%b.csv"});
    ASSERT_EQ(run.status, 0) << run.out;
    std::string joined;
    const size_t files = (plain.size() - 1) / (static_cast<size_t>(size) << 20) + 1;
    for (size_t file = 1; file <= files; ++file) {
      const std::string part =
          ReadFile(Path("sz" + std::to_string(size) + "_" + std::to_string(file) + ".csv"));
      ASSERT_FALSE(part.empty()) << file;
      EXPECT_EQ(part.back(), '\n');
      joined += part;
      if (file == files) break;
      const size_t share = file * (static_cast<size_t>(size) << 20);
      EXPECT_GT(joined.size(), share) << file;
      EXPECT_LE(joined.size(), share + kLongestRow) << file;
    }
    EXPECT_FALSE(
        FileExists(Path("sz" + std::to_string(size) + "_" + std::to_string(files + 1) + ".csv")));
    EXPECT_TRUE(joined == plain);
  }
}

// Appended to a file that has rows, a header would stand between them and read as a row: it
// goes on top of the file only.
TEST_F(EndToEnd, AppendedRowsGetNoSecondHeader) {
  unlink(Path("head.csv").c_str());
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(Unload({"query=dept", "text=CSV", "file=+head.csv"}).status, 0);
  }
  const std::string rows =
      "10,\"ACCOUNTING\",\"NEW YORK\"\n20,\"RESEARCH\",\"DALLAS\"\n30,\"SALES\",\"CHICAGO\"\n"
      "40,\"OPERATIONS\",\"BOSTON\"\n";
  EXPECT_EQ(ReadFile(Path("head.csv")), "DEPTNO,DNAME,LOC\n" + rows + rows);
}

TEST_F(EndToEnd, AppendCommandStdoutAndLog) {
  std::string plain = PlainOrders();
  unlink(Path("app.txt").c_str());
  for (int k = 0; k < 2; ++k) {
    ProgramRun run = Unload({"query=orders", "text=CSV", "head=no", "file=+app.txt"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(Closed("+app.txt", kOrdersRows, RoundedMb(plain.size()))),
              std::string::npos)
        << run.out;
  }
  EXPECT_TRUE(ReadFile(Path("app.txt")) == plain + plain);

  const std::string command = "-" + CopyToFileCommand("piped.txt");
  ProgramRun run = Unload({"query=orders", "text=CSV", "head=no", "file=" + command});
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(Closed(command, kOrdersRows, RoundedMb(plain.size()))), std::string::npos);
  EXPECT_TRUE(ReadFile(Path("piped.txt")) == plain);

  // A log file takes every message; standard output stays empty. "+" appends to it.
  unlink(Path("run.log").c_str());
  run = Unload({"query=dept", "file=dept.txt", "log=run.log"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  run = Unload({"query=nosuch", "file=dept.txt", "log=+run.log"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Normalised(ReadFile(Path("run.log"))),
            Progress(0, 0) + Progress(4, 0) + Closed("dept.txt", 4, 0) + kNoTable);
  run = Unload({"query=dept", "file=dept.txt", "log=run.log"});
  EXPECT_EQ(Normalised(ReadFile(Path("run.log"))),
            Progress(0, 0) + Progress(4, 0) + Closed("dept.txt", 4, 0));
  // A log that cannot be opened stops the run before it starts: its messages would be lost.
  unlink(Path("dept.txt").c_str());
  run = Unload({"query=dept", "file=dept.txt", "log=no/such/dir/run.log"});
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(std::filesystem::exists(Path("dept.txt")));
}

TEST_F(EndToEnd, CrackedOutputUncracksToTheSameBytes) {
  std::string plain = PlainOrders();
  ProgramRun run = Unload({"query=orders", "text=CSV", "head=no", "file=crk.csv", "crack=k3y!"});
  ASSERT_EQ(run.status, 0);
  std::string cracked = ReadFile(Path("crk.csv"));
  ASSERT_EQ(cracked.size(), plain.size());
  EXPECT_NE(cracked.substr(0, 4096), plain.substr(0, 4096));
  // The last 1 to 8 bytes stay plain; everything before is scrambled in 8-byte chunks.
  size_t tail = plain.size() % 8 == 0 ? 8 : plain.size() % 8;
  EXPECT_EQ(cracked.substr(cracked.size() - tail), plain.substr(plain.size() - tail));
  run = RunProgram(*dir_, {"uncrack=k3y!", "file=crk.csv"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out == plain);
  // Through standard output too, and through a pipe into the unscramble tool.
  ProgramRun piped = RunShell(
      *dir_, ProgramWord() +
                 " user=a/b@sqlite:demo.db query=orders text=CSV head=no file=- crack=k3y! | " +
                 ProgramWord() + " uncrack=k3y! file=-");
  EXPECT_TRUE(piped.out == plain);
  // Every file of a split run is scrambled from its own start.
  run = Unload({"query=dept", "rows=1000", "batch=yes", "file=crk_%b.txt", "crack=k3y!"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(RunProgram(*dir_, {"uncrack=k3y!", "file=crk_1.txt"}).out, kDeptRows);
}

// The result codes the table cannot state: a disk that fills up, statements whose effect is
// looked for in the database, and a fetch error with and without its tolerance.
// Warnings are not failures: a logon in its password's grace period and an aggregate that skips
// NULLs unload every row with status 0, each warning's text once in the log.
TEST_F(EndToEnd, WarningsAreReportedOnceAndUnloadEverything) {
  ASSERT_TRUE(MakeDemoDatabase(Path("grace.db")));
  SqliteFile grace(Path("grace.db"), SqliteFile::Mode::kOpen);
  ASSERT_TRUE(
      grace.Exec("CREATE TABLE rowflume_accounts(username, password, expires);"
                 "INSERT INTO rowflume_accounts VALUES ('scott', 'tiger', date('now', 'localtime', "
                 "'+3 days'));"));
  std::string groups = grace.One("SELECT count(DISTINCT ename) FROM emp");
  ProgramRun run = RunProgram(*dir_, {"user=scott/tiger@sqlite:grace.db",
                                      "query=select ename, max(comm) from emp group by ename",
                                      "array=2", "text=CSV", "file=grace.csv", "log=grace.log"});
  EXPECT_EQ(run.status, 0) << run.out;
  std::string csv = ReadFile(Path("grace.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "ENAME,MAX(COMM)");
  EXPECT_EQ(std::to_string(Count(csv, "\n") - 1), groups);
  std::string log = ReadFile(Path("grace.log"));
  EXPECT_EQ(Count(log, "ORA-28002: the password will expire within 3 days\n"), 1u) << log;
  EXPECT_EQ(Count(log, "ORA-24347: Warning of a NULL column in an aggregate function\n"), 1u)
      << log;
  EXPECT_EQ(Count(log, "ORA-"), 2u) << log;
}

// A statement whose cumulative row count passes 2^32 - 1 (started 3 below it) loses no row of
// its last, partial array.
TEST_F(EndToEnd, RowCountWrapLosesNoRow) {
  ProgramRun plain = Unload({"query=select empno from emp", "array=5", "text=CSV", "file=-"});
  ASSERT_EQ(plain.status, 0);
  ProgramRun wrapped = RunShell(
      *dir_, EnvironmentPrefix("ROWFLUME_ENGINE_ROW_COUNT_START", "4294967293") + ProgramWord() +
                 " user=scott/tiger@sqlite:demo.db \"query=select empno from emp\" array=5"
                 " text=CSV file=-");
  EXPECT_EQ(wrapped.status, 0) << wrapped.out;
  EXPECT_EQ(wrapped.out, plain.out);
  EXPECT_EQ(Count(plain.out, "\n"), 15u);  // the header and 14 rows: fetches of 5, 5 and 4
}

// A disk that fills up under the output file, or under standard output.
TEST_F(EndToEnd, FullDiskFailsWithStatus2) {
  ProgramRun run = Unload({"query=orders", "file=/dev/full"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("ERROR -- Cannot write to file : /dev/full\n"), std::string::npos);
  EXPECT_EQ(run.out.find("closed at"), std::string::npos) << run.out;
  ProgramRun full =
      RunShell(*dir_, ProgramWord() + " user=a/b@sqlite:demo.db query=orders file=- >/dev/full");
  EXPECT_EQ(full.status, 2);
}

TEST_F(EndToEnd, ResultCodes) {
  // Both statements run, before and after the rows.
  ProgramRun run = Unload({"query=dept", "file=-", "presql=create table marker(x)",
                           "postsql=insert into marker values (1)"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(SqliteFile(Path("demo.db"), SqliteFile::Mode::kOpen).One("SELECT count(*) FROM marker"),
            "1");

  // A value longer than its fetch width stops the fetch, unless that error is tolerated.
  run = Unload({"query=select ename, remarks from emp", "width=10:5", "file=-"});
  EXPECT_EQ(run.status, 7);
  EXPECT_NE(run.out.find("ORA-24345"), std::string::npos);
  run = Unload({"query=select ename, remarks from emp where deptno = 10", "width=10:5", "file=-",
                "error=24345"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("CLARK,\nKING,The b\nMILLER,Ends \n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace rowflume
