// Runs that must not do what they were given, because they would run cut SQL, read with a value
// missing, or let one output replace or interleave another: each ends with its message and its
// status, writes no file and leaves the database as it was (the statements of the run delete
// rows, so one that ran would show).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

class Refusals : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
    ASSERT_TRUE(
        db_->Exec("CREATE TABLE T (ID NUMBER(4), NAME VARCHAR2(10));"
                  "INSERT INTO T VALUES (1, 'one'), (2, 'two'), (3, 'three');"));
    WriteFile(Path("long.sql"), "select * from T where " + std::string(40000, ' ') + "id = 1\n");
    WriteFile(Path("long.par"),
              "query=select * from T where " + std::string(33000, ' ') + "id=1\n");
    WriteFile(Path("out.bin"), std::string(100, 'x'));
    WriteFile(Path("self.par"), "query=select * from T\nparfile=self.par\n");
    WriteFile(Path("other.plan"),
              "ROWFLUME SPLIT PLAN\nVERSION=2\nOWNER=NOBODY\nTABLE=OTHER\nPARTITION=\nSCN=\n"
              "DEGREE=2\nSEGMENTS=0 0 0 cbf29ce484222325\nPIECES=1\n"
              "PIECE=1 AAAAAAAAAAAAAAAAAA AAAAAAAAAAAAAAAAAA\nEND\n");
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // A statement that would delete rows: a run that sent it changes the table.
  const std::string kDeleteRow = "delete from T where id = 1";
  const std::string kQuery = "query=select * from T";

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // found on standard output, or on standard error with a leading "!"
    std::string shell_tail = "";  // appended to the command line, e.g. a redirection
  };

  // Each case is refused with its status and message, runs nothing and writes nothing.
  void ExpectRefused(const std::vector<Case>& cases) {
    const std::vector<std::string> before = Names();
    for (const Case& c : cases) {
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), db_->user());
      // Every run carries a statement that deletes a row after the unload: it must never be sent.
      if (std::none_of(args.begin(), args.end(),
                       [](const std::string& arg) { return arg.rfind("postsql=", 0) == 0; })) {
        args.push_back("postsql=" + kDeleteRow);
      }
      std::string command = ProgramWord();
      for (const std::string& arg : args) command += " " + ShellQuote(arg);
      ProgramRun run = RunShell(dir_, command + c.shell_tail);
      SCOPED_TRACE(c.args.back().substr(0, 60) + " -> " + run.out.substr(0, 300) + run.err);
      EXPECT_EQ(run.status, c.status);
      const bool on_stderr = c.message[0] == '!';
      const std::string& where = on_stderr ? run.err : run.out;
      EXPECT_NE(where.find(c.message.substr(on_stderr ? 1 : 0)), std::string::npos);
      EXPECT_EQ(Names(), before);
      EXPECT_EQ(db_->One("select count(*) from T"), "3");
    }
  }
};

TEST_F(Refusals, EachSaysWhyRunsNothingAndWritesNothing) {
  const std::string& query = kQuery;
  const std::string& delete_row = kDeleteRow;
  const std::string ranged = "query=select * from T where ROWID >= :minrid";
  const std::vector<Case> cases = {
      // Texts cut to their limit would run other SQL or write another file.
      {{query, "postsql=delete from T" + std::string(1010, ' ') + "where id = 1", "file=t.txt"},
       4,
       "The value of postsql is longer than 1023 characters"},
      {{query, "presql=" + delete_row + std::string(1020, ' '), "file=t.txt"},
       4,
       "The value of presql is longer than 1023"},
      {{"sql=long.sql", "file=t.txt"}, 4, "The query with SQL file long.sql is longer than 32767"},
      {{query, "file=" + std::string(270, 'f')}, 4, "The value of file is longer than 254"},
      {{query, "log=" + std::string(260, 'l'), "file=t.txt"}, 4, "value of log is longer"},
      {{query, "alter=SET NLS_SORT=" + std::string(600, 'x'), "file=t.txt"},
       4,
       "An alter clause is longer than 497"},
      {{query, "user=scott/" + std::string(200, 'p'), "file=t.txt"}, 4, "value of user is longer"},
      {{"query=select * from T where name = :v", ":v=" + std::string(128, 'v'), "file=t.txt"},
       4,
       "value of bind variable :v is longer than 127"},
      // Files read whole or not at all, and parameter files that name themselves.
      {{"parfile=long.par", "file=t.txt"}, 4, "An item of parameter file long.par is longer"},
      {{"parfile=self.par", "file=t.txt"}, 4, "Parameter file self.par is nested more than 8"},
      {{"parfile=missing.par", query, "file=t.txt"}, 4, "Cannot read parameter file missing.par"},
      {{"sql=missing.sql", query, "file=t.txt"}, 4, "Cannot read SQL file missing.sql"},
      // Binds: a name the query lacks fails where the client fails; a parallel query must read
      // its range.
      {{query, ":x=5", "file=t.txt"}, 3, "ORA-01036: illegal variable name/number"},
      {{ranged, "split=T", "degree=2", "file=t_%p.txt"}, 4, "must read its range with :minrid"},
      // A point in time that is none, and plans that cannot be run as they are.
      {{query, "scn=yesterday", "file=t.txt"}, 4, "scn=yesterday is neither CURRENT nor"},
      {{"pieces=1", "file=t_%p.txt"}, 4, "pieces=1 needs plan=FILE"},
      {{"plan=other.plan", "file=t_%p.txt"}, 4, "needs split= and degree= to write it"},
      {{"plan=other.plan", "pieces=1-x", "file=t_%p.txt"}, 4, "pieces=1-x is not a list"},
      {{"plan=long.sql", "pieces=1", "file=t_%p.txt"}, 4, "long.sql is not a valid split plan"},
      {{"plan=other.plan", "pieces=2", "file=t_%p.txt"}, 4, "Piece 2 is not in plan other.plan"},
      {{"plan=other.plan", "pieces=1", "split=T", "file=t_%p.txt"},
       4,
       "was made for NOBODY.OTHER, not for this table"},
      {{"plan=other.plan", "pieces=1", "scn=42", "file=t_%p.txt"}, 4, "reads at SCN (none)"},
      // Outputs that would replace or interleave each other.
      {{query, "split=T", "degree=2", "file=-"}, 4, "file=- cannot take the rows of 2 parallel"},
      {{query, "split=T", "degree=2", "file=-cat > all.txt"}, 4, "put %p into it"},
      {{query, "batch=yes", "rows=1000", "file=-cat > all.txt"}, 4, "put %b into it"},
      {{query, "size=1", "file=-gzip -c > t.gz"}, 4, "put %b into it"},
      {{query, "log=t.txt", "file=t.txt"}, 4, "log and file name the same file t.txt"},
      {{query, "log=./t.txt", "file=+t.txt", "control=./t.txt"}, 4, "name the same file"},
      {{query, "crack=k3y", "file=+out.bin"}, 4, "crack cannot scramble output appended"},
      {{query, "batch=yes", "rows=1000", "file=+all.txt"}, 4, "cannot append all its files"},
      // Separators that would run rows or values together.
      {{query, "record=", "file=t.txt"}, 4, "record= is empty"},
      {{query, "field=", "file=t.txt"}, 4, "field= is empty: the 2 values"},
      {{query, "file=" + db_->path()}, 6, "would replace " + db_->path()},
      {{query, "split=T", "degree=2", "batch=yes", "file=o%p%b.txt"}, 4, "can give two files one"},
      {{query, "split=T", "degree=2", "size=5", "file=o%b1%P.txt"}, 4, "can give two files one"},
      // A translation with characters left over, INSERT statements without their table.
      {{query, "sedf=abc", "sedt=xy", "file=t.txt"},
       4,
       "sedf and sedt must list as many characters (3 and 2)"},
      {{query, "text=ORACLEINS", "file=t.sql"}, 4, "INSERT statements need the name of their"},
      {{"query=with x as (select * from T) select * from x", "text=MYSQLINS", "file=t.sql"},
       4,
       "give table=NAME with a query of your own"},
      // A UTF-16 client character set would have the client read every text as UTF-16.
      {{query, "charset=al16utf16", "file=t.txt"}, 4, "charset=al16utf16 is a UTF-16 character"},
      {{query, "charset=UTF16", "file=t.txt"}, 4, "charset=UTF16 is a UTF-16 character set"},
      // A manifest over another output, and resumes that could write rows twice or resume
      // nothing of a plan.
      {{query, "manifest=t.txt", "file=t.txt"}, 4, "manifest and file name the same file"},
      {{query, "manifest=run.log", "log=run.log", "file=t.txt"}, 4, "manifest and log name"},
      {{query, "manifest=m.json", "resume=yes", "file=t.txt"}, 4, "resume=yes needs plan="},
      {{"plan=other.plan", "pieces=1", "resume=yes", "file=t_%p.txt"}, 4, "needs manifest="},
      {{"plan=other.plan", "pieces=1", "resume=yes", "manifest=m.json", "file=+t_%p.txt"},
       4,
       "resume=yes needs plain output files"},
      {{"plan=other.plan", "pieces=1", "resume=yes", "manifest=long.sql", "file=t_%p.txt"},
       4,
       "manifest=long.sql cannot be resumed: not a JSON document"},
      // Messages that would be lost, and the unscramble tool's failures.
      {{query, "log=-", "file=t.txt"}, 4, "log=- names no file"},
      {{"uncrack=k3y", "file=missing.bin"}, 2, "!Cannot read file : missing.bin"},
  };
  ExpectRefused(cases);
}

// A query item longer than its limit; its command line is longer than cmd.exe takes.
TEST_F(Refusals, QueryItemBeyondItsLimit) {
  ExpectRefused(
      {{{"query=select * from T " + std::string(8200, ' ') + "where id = 2", "file=t.txt"},
        4,
        "The value of query is longer than 8191"}});
}

// Inputs that hold a NUL byte and outputs on a full disk, from the system's device files.
TEST_F(Refusals, DeviceFilesThatCannotServe) {
  ExpectRefused({
      {{"parfile=/dev/zero", "file=t.txt"}, 4, "Parameter file /dev/zero holds a NUL byte"},
      {{"sql=/dev/zero", "file=t.txt"}, 4, "SQL file /dev/zero holds a NUL byte"},
      {{"uncrack=k3y", "file=out.bin"}, 2, "!Cannot write the unscrambled out.bin", " >/dev/full"},
      {{kQuery, "file=-"}, 2, "!Cannot write to file : standard output", " >/dev/full"},
  });
}

// A client that cannot make its environment says why: the invalid NLS_LANG is named by the
// client's own error, after what to check.
TEST_F(Refusals, InvalidNlsLangStopsTheRunWithTheClientsReason) {
  for (const char* nls_lang : {"AMERICAN_AMERICA.NOSUCHSET", ".AL16UTF16"}) {
    SCOPED_TRACE(nls_lang);
    std::string command = EnvironmentPrefix("NLS_LANG", nls_lang) + ProgramWord() + " " +
                          ShellQuote(db_->user()) + " " + ShellQuote("query=select * from T") +
                          " file=t.txt";
    ProgramRun run = RunShell(dir_, command);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("Cannot create the client environment; check NLS_LANG"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ORA-12705: Cannot access NLS data files or invalid environment"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(std::filesystem::exists(Path("t.txt")));
  }
}

}  // namespace
}  // namespace rowflume
