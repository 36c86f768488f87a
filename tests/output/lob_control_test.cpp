// LOB files and the loader control file, through the built program on the embedded engine:
// file contents byte for byte, names unique over a whole unload, failures reported, and control
// files whose text and record length match what the unload wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "job/options.h"
#include "output/control_file.h"
#include "output/insert_text.h"
#include "platform/platform.h"
#include "run/job_run.h"
#include "scramble/scramble.h"
#include "support/columns.h"
#include "support/described_query.h"
#include "support/files.h"
#include "support/job.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

// The name the program gives the LOB file of a row and a column (the scheme of lob_files.h).
std::string LobName(uint64_t row, int position, int lobdir, int piece = 1) {
  char name[64];
  std::snprintf(name, sizeof name, "LOB%04x%c%02x%010llx_%04x.dat",
                static_cast<unsigned>(row % static_cast<uint64_t>(lobdir)), DirectorySeparator(),
                piece, static_cast<unsigned long long>(row), position);
  return name;
}

size_t CountFiles(const std::string& dir) {
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind("LOB", 0) != 0 &&
        entry.path().extension() == ".dat") {
      ++count;
    }
  }
  return count;
}

using LobFiles = ProgramFolderTest;

// Every value lands whole in its own file: more than 32 KiB in several pieces, an empty LOB as
// an empty file, a NULL as no file at all; lobdir spreads the rows over its subdirectories.
TEST_F(LobFiles, ValuesArriveWholeInTheirFiles) {
  ASSERT_TRUE(db_->Exec("CREATE TABLE DOCS (ID NUMBER(4), PIC BLOB, BODY CLOB);"));
  std::vector<std::string> blobs, clobs;
  for (int id = 0; id < 20; ++id) {
    blobs.push_back(PatternBytes(id == 3 ? 100000 : static_cast<size_t>(id * 37), id));
    clobs.push_back(id == 5 ? std::string(70000, 'x') + "end"
                            : "text of row " + std::to_string(id));
    ASSERT_TRUE(db_->Exec("INSERT INTO DOCS VALUES (" + std::to_string(id) + ", NULL, '" +
                          clobs.back() + "')"));
    ASSERT_TRUE(db_->ExecWithBlob("UPDATE DOCS SET PIC = ?1 WHERE ID = " + std::to_string(id),
                                  blobs.back()));
  }
  ASSERT_TRUE(db_->Exec("UPDATE DOCS SET PIC = NULL, BODY = NULL WHERE ID = 7"));

  ProgramRun run = RunProgram(dir_, {db_->user(), "query=select * from DOCS order by ID",
                                     "lob=FILE", "file=docs.csv", "null=NULL"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::string> lines = Lines(ReadFile(dir_ + "/docs.csv"));
  ASSERT_EQ(lines.size(), 20u);
  for (int id = 0; id < 20; ++id) {
    std::vector<std::string> fields = Fields(lines[static_cast<size_t>(id)]);
    ASSERT_EQ(fields.size(), 3u) << lines[static_cast<size_t>(id)];
    EXPECT_EQ(fields[0], std::to_string(id));
    if (id == 7) {
      EXPECT_EQ(fields[1], "NULL");
      EXPECT_EQ(fields[2], "NULL");
      EXPECT_FALSE(FileExists(dir_ + "/" + LobName(7, 1, 8)));
      EXPECT_FALSE(FileExists(dir_ + "/" + LobName(7, 2, 8)));
      continue;
    }
    EXPECT_EQ(fields[1], LobName(static_cast<uint64_t>(id), 1, 8));
    EXPECT_EQ(fields[2], LobName(static_cast<uint64_t>(id), 2, 8));
    ASSERT_TRUE(FileExists(dir_ + "/" + fields[1])) << fields[1];
    EXPECT_TRUE(ReadFile(dir_ + "/" + fields[1]) == blobs[static_cast<size_t>(id)]) << "row " << id;
    EXPECT_EQ(ReadFile(dir_ + "/" + fields[2]), clobs[static_cast<size_t>(id)]);
  }
  EXPECT_EQ(fs::file_size(dir_ + "/" + LobName(0, 1, 8)), 0u) << "an empty LOB, an empty file";
  std::set<std::string> directories;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.is_directory()) directories.insert(entry.path().filename().string());
  }
  EXPECT_EQ(directories, (std::set<std::string>{"LOB0000", "LOB0001", "LOB0002", "LOB0003",
                                                "LOB0004", "LOB0005", "LOB0006", "LOB0007"}));
}

// The row number of a name counts over the whole job: files switched by `batch` (whose own row
// counts restart) never reuse a name, and each data file names exactly the file of its value.
TEST_F(LobFiles, NamesStayUniqueAcrossOutputFiles) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE MANY (ID NUMBER(6), PIC BLOB);"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500)"
                " INSERT INTO MANY SELECT i, CAST('value ' || i AS BLOB) FROM n;"));
  ProgramRun run =
      RunProgram(dir_, {db_->user(), "query=select * from MANY order by ID", "lob=FILE",
                        "lobdir=10", "rows=1000", "batch=YES", "file=many.csv"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::set<std::string> names;
  int rows = 0;
  for (const char* file : {"many.csv", "many_2.csv", "many_3.csv"}) {
    for (const std::string& line : Lines(ReadFile(dir_ + "/" + file))) {
      std::vector<std::string> fields = Fields(line);
      ASSERT_EQ(fields.size(), 2u);
      EXPECT_EQ(fields[1], LobName(static_cast<uint64_t>(rows), 1, 10));
      EXPECT_EQ(ReadFile(dir_ + "/" + fields[1]), "value " + fields[0]);
      names.insert(fields[1]);
      ++rows;
    }
  }
  EXPECT_EQ(rows, 2500);
  EXPECT_EQ(names.size(), 2500u);
  EXPECT_EQ(CountFiles(dir_), 2500u);
}

// National character LOBs are read under their own form, beside database-set ones: each value
// lands byte-exact, the multi-byte text and a value of several pieces included.
TEST_F(LobFiles, NationalCharacterLobsArriveWhole) {
  ASSERT_TRUE(db_->Exec("CREATE TABLE NOTES (ID NUMBER(4), BODY CLOB, NBODY NCLOB);"));
  const std::vector<std::string> values = {"d\xc3\xa9j\xc3\xa0 vu \xe2\x82\xac",
                                           std::string(40000, 'n') + "\xe4\xb8\xad", "plain"};
  for (size_t id = 0; id < values.size(); ++id) {
    ASSERT_TRUE(db_->Exec("INSERT INTO NOTES VALUES (" + std::to_string(id) + ", 'c" +
                          std::to_string(id) + "', '" + values[id] + "')"));
  }
  ProgramRun run = RunProgram(
      dir_, {db_->user(), "query=select * from NOTES order by ID", "lob=FILE", "file=notes.csv"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::string> lines = Lines(ReadFile(dir_ + "/notes.csv"));
  ASSERT_EQ(lines.size(), values.size());
  for (size_t id = 0; id < values.size(); ++id) {
    std::vector<std::string> fields = Fields(lines[id]);
    ASSERT_EQ(fields.size(), 3u) << lines[id];
    EXPECT_EQ(ReadFile(dir_ + "/" + fields[1]), "c" + std::to_string(id));
    EXPECT_TRUE(ReadFile(dir_ + "/" + fields[2]) == values[id]) << "row " << id;
  }
}

// A BFILE is read only through its locator: with lob=FILE its bytes land in their file; inline
// it is refused at describe, naming the column, before anything is written.
TEST_F(LobFiles, BfileNeedsLobFiles) {
  ASSERT_TRUE(db_->Exec("CREATE TABLE SCANS (ID NUMBER(4), IMG BFILE);"));
  const std::string bytes = PatternBytes(1000, 3);
  ASSERT_TRUE(db_->ExecWithBlob("INSERT INTO SCANS VALUES (1, ?1)", bytes));
  ProgramRun run =
      RunProgram(dir_, {db_->user(), "query=select * from SCANS", "lob=FILE", "file=scans.csv"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::string> fields = Fields(Lines(ReadFile(dir_ + "/scans.csv")).at(0));
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1], LobName(0, 1, 8));
  EXPECT_TRUE(ReadFile(dir_ + "/" + fields[1]) == bytes);

  run = RunProgram(dir_, {db_->user(), "query=select * from SCANS", "file=inline.csv"});
  EXPECT_EQ(run.status, 5) << run.out;
  EXPECT_NE(run.out.find("ERROR -- Column IMG is a BFILE, which is unloaded only with lob=FILE"),
            std::string::npos)
      << run.out;
}

// Anything in the way of a folder of a set (a plain file where a later folder of the set
// belongs) keeps the set taken: the unload writes into the next set and leaves it alone.
TEST_F(LobFiles, WhatStandsInASetMovesTheUnloadToTheNext) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE DOCS (ID NUMBER(4), PIC BLOB);"
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9)"
                " INSERT INTO DOCS SELECT i, CAST('pic ' || i AS BLOB) FROM n;"));
  WriteFile(dir_ + "/LOB0001", "in the way");
  ProgramRun run = RunProgram(
      dir_, {db_->user(), "query=select * from DOCS order by ID", "lob=FILE", "file=docs.csv"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<std::string> lines = Lines(ReadFile(dir_ + "/docs.csv"));
  ASSERT_EQ(lines.size(), 10u);
  for (uint64_t row = 0; row < 10; ++row) {
    const std::vector<std::string> fields = Fields(lines[row]);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[1].substr(0, 5), "LOB04") << fields[1];
    EXPECT_EQ(ReadFile(dir_ + "/" + fields[1]), "pic " + std::to_string(row));
  }
  EXPECT_EQ(ReadFile(dir_ + "/LOB0001"), "in the way");
  EXPECT_FALSE(fs::exists(dir_ + "/LOB0000")) << "the set given up is not left claimed";
}

// Unloads into one folder never replace each other's LOB files, whether of another table or
// appended to the same data file: each claims a set of LOB folders of its own, and every data
// line names the file holding its own value.
TEST_F(LobFiles, LaterUnloadsNeverReplaceEarlierLobFiles) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE A_DOCS (ID NUMBER(4), PIC BLOB); CREATE TABLE B_DOCS (ID NUMBER(4), "
                "PIC BLOB);"
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 11)"
                " INSERT INTO A_DOCS SELECT i, CAST('a ' || i AS BLOB) FROM n;"
                "INSERT INTO B_DOCS SELECT ID, CAST('b ' || ID AS BLOB) FROM A_DOCS;"));
  const std::pair<const char*, const char*> runs[] = {
      {"query=select * from A_DOCS order by ID", "file=+a.csv"},
      {"query=select * from B_DOCS order by ID", "file=b.csv"},
      {"query=select * from A_DOCS order by ID", "file=+a.csv"}};
  for (auto [query, file] : runs) {
    ProgramRun run = RunProgram(dir_, {db_->user(), query, "lob=FILE", file});
    ASSERT_EQ(run.status, 0) << run.out;
  }
  std::set<std::string> names;
  for (const char* file : {"a.csv", "b.csv"}) {
    const std::vector<std::string> lines = Lines(ReadFile(dir_ + "/" + file));
    ASSERT_EQ(lines.size(), file[0] == 'a' ? 24u : 12u);
    for (const std::string& line : lines) {
      const std::vector<std::string> fields = Fields(line);
      ASSERT_EQ(fields.size(), 2u);
      EXPECT_EQ(ReadFile(dir_ + "/" + fields[1]), std::string(1, file[0]) + " " + fields[0]);
      names.insert(fields[1]);
    }
  }
  EXPECT_EQ(names.size(), 36u);
  EXPECT_EQ(CountFiles(dir_), 36u);
  for (const char* set : {"LOB0000", "LOB0400", "LOB0800"}) {
    EXPECT_TRUE(fs::is_directory(dir_ + "/" + set)) << set;
  }
}

class ControlFiles : public LobFiles {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(LobFiles::SetUp());
    ASSERT_TRUE(db_->Exec(
        "CREATE TABLE CT (AMOUNT NUMBER(8,2), N NUMBER, N5 'NUMBER(5,5)', D DATE, TS TIMESTAMP,"
        " C CLOB, B BLOB, V VARCHAR2(12));"
        "INSERT INTO CT VALUES (12.5, 42, 0.12345, '2020-01-02 03:04:05',"
        " '2020-01-02 03:04:05.123456', 'clob', x'00ff', 'text');"
        "INSERT INTO CT VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO CT VALUES (-1, 3.25, 0, '1999-12-31 23:59:59', NULL, '', x'', "
        "'abcdefghijkl');"));
    unsigned char banner[kMaxStoredTextBytes] = {};
    LoadStoredText(StoredText::kBannerLine1, banner);
    head_ = std::string("--\n-- ") + reinterpret_cast<const char*>(banner) +
            "\n-- Loader control file written with the unload of CT\n--\n"
            "--  CREATE TABLE CT (\n"
            "--    AMOUNT NUMBER(8,2),\n"
            "--    N NUMBER,\n"
            "--    N5 NUMBER(5,5),\n"
            "--    D DATE,\n"
            "--    TS TIMESTAMP,\n"
            "--    C CLOB,\n"
            "--    B BLOB,\n"
            "--    V VARCHAR2(12)\n"
            "--  );\n"
            "--\n";
  }

  std::string head_;
};

TEST_F(ControlFiles, DelimitedUnload) {
  ProgramRun run = RunProgram(
      dir_, {db_->user(), "query=CT", "text=CSV", "lob=FILE", "file=ct_%p.csv", "buffer=16"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir_ + "/CT_sqlldr.ctl"),
            head_ +
                "OPTIONS(BINDSIZE=16777216,READSIZE=16777216,SKIP=1,ERRORS=-1,ROWS=50000)\n"
                "LOAD DATA\n"
                "INFILE 'ct_1.csv' \"STR X'0a'\"\n"
                "INSERT INTO TABLE CT\n"
                "FIELDS TERMINATED BY X'2c' OPTIONALLY ENCLOSED BY '\"'  TRAILING NULLCOLS \n"
                "(\n"
                "  \"AMOUNT\" CHAR(11) NULLIF \"AMOUNT\"=BLANKS,\n"
                "  \"N\" CHAR(172) NULLIF \"N\"=BLANKS,\n"
                "  \"N5\" CHAR(8) NULLIF \"N5\"=BLANKS,\n"
                "  \"D\" DATE \"YYYY-MM-DD HH24:MI:SS\" NULLIF \"D\"=BLANKS,\n"
                "  \"TS\" TIMESTAMP \"YYYY-MM-DD HH24:MI:SSXFF\" NULLIF \"TS\"=BLANKS,\n"
                "  \"LOBF_C\" FILLER CHAR(30) ,\n"
                "  \"C\" LOBFILE(\"LOBF_C\") TERMINATED BY EOF,\n"
                "  \"LOBF_B\" FILLER CHAR(30) ,\n"
                "  \"B\" LOBFILE(\"LOBF_B\") TERMINATED BY EOF,\n"
                "  \"V\" CHAR(12) NULLIF \"V\"=BLANKS\n"
                ")\n");

  // The INSERT formats and a job without a table write none.
  fs::remove(dir_ + "/CT_sqlldr.ctl");
  run = RunProgram(dir_, {db_->user(), "query=CT", "format=MYSQL", "file=ct.sql"});
  ASSERT_EQ(run.status, 0) << run.out;
  run =
      RunProgram(dir_, {db_->user(), "query=select * from CT", "control=named.ctl", "file=ct.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(FileExists(dir_ + "/CT_sqlldr.ctl"));
  EXPECT_FALSE(FileExists(dir_ + "/named.ctl"));
}

// INFILE names the files the run wrote, as the loader opens them: the expanded name, an
// appended file without its "+", every file of a split output (each with its header skipped),
// a name with an apostrophe in the other quotes.
TEST_F(ControlFiles, InfileNamesTheFilesWritten) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE MANY (ID NUMBER(6));"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500)"
                " INSERT INTO MANY SELECT i FROM n;"));
  const LocalTime now = CurrentLocalTime();
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", now.year, now.month, now.day);
  const std::string str = " \"STR X'0a'\"\n";
  struct Case {
    std::vector<std::string> args;
    std::string infile;  // the lines from INFILE to INTO TABLE
    bool skip;           // OPTIONS has SKIP=1
  };
  const Case cases[] = {
      {{"file=emp_%Y%m%d.csv"}, "INFILE 'emp_" + std::string(date) + ".csv'" + str, false},
      {{"file=+app.csv"}, "INFILE 'app.csv'" + str, false},
      {{"file=o'brien.csv", "text=CSV"}, "INFILE \"o'brien.csv\"" + str, true},
      {{"file=part.csv", "text=CSV", "batch=yes", "rows=1000"},
       "INFILE 'part.csv'" + str + "INFILE 'part_2.csv'" + str + "INFILE 'part_3.csv'" + str +
           "FIELD NAMES ALL FILES IGNORE\n",
       false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {db_->user(), "query=MANY"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramRun run = RunProgram(dir_, args);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string control = ReadFile(dir_ + "/MANY_sqlldr.ctl");
    const size_t from = control.find("INFILE ");
    const size_t to = control.find("INSERT INTO TABLE");
    ASSERT_NE(from, std::string::npos) << control;
    EXPECT_EQ(control.substr(from, to - from), c.infile) << c.args[0];
    EXPECT_EQ(control.find("SKIP=1") != std::string::npos, c.skip) << c.args[0];
  }
}

// Fixed-width records: positions follow the display widths (30 for LOB file names), and FIX is
// the length of every record the unload wrote.
TEST_F(ControlFiles, FixedWidthUnload) {
  ProgramRun run =
      RunProgram(dir_, {db_->user(), "query=CT", "field=0x20", "lob=FILE", "record=0x0d0x0a",
                        "file=ct.dat", "control=ct.ctl", "head=YES"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(dir_ + "/ct.ctl"),
            head_ +
                "OPTIONS(BINDSIZE=2097152,READSIZE=2097152,ERRORS=-1,ROWS=50000)\n"
                "LOAD DATA\n"
                "INFILE 'ct.dat' \"FIX 310\"\n"
                "INSERT INTO TABLE CT\n"
                "FIELDS TERMINATED BY X'20' TRAILING NULLCOLS \n"
                "(\n"
                "  \"AMOUNT\" POSITION(1:11) CHAR(11) NULLIF \"AMOUNT\"=BLANKS,\n"
                "  \"N\" POSITION(12:183) CHAR(172) NULLIF \"N\"=BLANKS,\n"
                "  \"N5\" POSITION(184:191) CHAR(8) NULLIF \"N5\"=BLANKS,\n"
                "  \"D\" POSITION(192:210) DATE \"YYYY-MM-DD HH24:MI:SS\" NULLIF \"D\"=BLANKS,\n"
                "  \"TS\" POSITION(211:236) TIMESTAMP \"YYYY-MM-DD HH24:MI:SSXFF\" NULLIF "
                "\"TS\"=BLANKS,\n"
                "  \"LOBF_C\" FILLER POSITION(237:266) CHAR(30) ,\n"
                "  \"C\" LOBFILE(\"LOBF_C\") TERMINATED BY EOF,\n"
                "  \"LOBF_B\" FILLER POSITION(267:296) CHAR(30) ,\n"
                "  \"B\" LOBFILE(\"LOBF_B\") TERMINATED BY EOF,\n"
                "  \"V\" POSITION(297:308) CHAR(12) NULLIF \"V\"=BLANKS\n"
                ")\n");
  const std::string data = ReadFile(dir_ + "/ct.dat");
  constexpr size_t kRecord = 310;
  ASSERT_EQ(data.size(), 3 * kRecord);
  for (size_t row = 0; row < 3; ++row) {
    std::string record = data.substr(row * kRecord, kRecord);
    EXPECT_EQ(record.substr(kRecord - 2), "\r\n") << "row " << row;
    EXPECT_EQ(record.find('\n'), kRecord - 1) << "row " << row;
  }
  // Each field sits at its position: the date of the first row at 192, its LOB names at 237 and
  // 267 (1-based), padded to 30.
  EXPECT_EQ(data.substr(191, 19), "2020-01-02 03:04:05");
  EXPECT_EQ(data.substr(236, 30), LobName(0, 5, 8) + " ");
  EXPECT_EQ(data.substr(266, 30), LobName(0, 6, 8) + " ");
  EXPECT_EQ(data.substr(296, 12), "text        ");
  EXPECT_EQ(ReadFile(dir_ + "/" + LobName(0, 6, 8)), std::string("\0\xff", 2));
}

// LOBs fetched inline stand in the record as text of their display width, and the clauses say
// so: no LOB file is read for them.
TEST_F(ControlFiles, InlineLobsAreCharacterFields) {
  ProgramRun run = RunProgram(dir_, {db_->user(), "query=select V, C from CT", "table=CT",
                                     "field=0x20", "long=2000", "file=inline.dat"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::string control = ReadFile(dir_ + "/CT_sqlldr.ctl");
  EXPECT_NE(control.find("INFILE 'inline.dat' \"FIX 2013\"\n"), std::string::npos) << control;
  EXPECT_NE(control.find("  \"C\" POSITION(13:2012) CHAR(2000) NULLIF \"C\"=BLANKS\n)\n"),
            std::string::npos)
      << control;
  EXPECT_EQ(control.find("LOBFILE"), std::string::npos);
  const std::string data = ReadFile(dir_ + "/inline.dat");
  ASSERT_EQ(data.size(), 3 * 2013u);
  EXPECT_EQ(data.substr(12, 5), "clob ");
}

// Describes a query on the engine with the job given and flags its unique columns, as the INSERT
// writer does; the flags by select-list position are handed to check.
template <typename Check>
void Describe(const std::string& path, const char* query, UnloadHandle* job, Check check) {
  DescribedQuery described;
  ASSERT_EQ(described.Open(path), 0);
  ASSERT_GT(described.Describe(query, job), 0);
  uint8_t flags[kMaxColumns];
  FlagUniqueColumns(described.head(), job->unique, sizeof job->unique, flags);
  check(flags);
}

// A job run that describes and fetches nothing (data=no): only its control file is written.
int RunDescribeOnly(const std::string& user, const char* query, UnloadHandle* job) {
  SetText(job->user, nullptr, user);
  SetText(job->query, nullptr, query);
  job->data = 0;
  job->callback = [](void*, const char*) {};
  return RunJob(job);
}

// Only the first piece of an unload writes the control file, and the unique list flags the
// columns it names exactly (letter case aside), up to its first empty entry.
TEST_F(ControlFiles, DescribeWritesOnceAndFlagsUniqueColumns) {
  std::unique_ptr<UnloadHandle> job(NewJob());
  const std::string control = dir_ + "/piece.ctl";
  SetText(job->control, nullptr, control);
  SetText(job->table, nullptr, "CT");
  job->piece = 2;
  SetText(job->unique, nullptr, "amount, n5");
  Describe(db_->path(), "select AMOUNT, N5, V from CT", job.get(), [](const uint8_t* flags) {
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0) << "a blank after the comma is part of the name";
  });
  EXPECT_EQ(RunDescribeOnly(db_->user(), "select AMOUNT, N5, V from CT", job.get()), 0);
  EXPECT_FALSE(FileExists(control));

  job->piece = 1;
  SetText(job->unique, nullptr, "v,Amount,,n5");
  Describe(db_->path(), "select AMOUNT, N5, V from CT", job.get(), [](const uint8_t* flags) {
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0) << "the empty entry ends the list";
    EXPECT_EQ(flags[2], 1);
  });
  EXPECT_EQ(RunDescribeOnly(db_->user(), "select AMOUNT, N5, V from CT", job.get()), 0);
  EXPECT_TRUE(FileExists(control));

  // The loader control file is not written for INSERT statements.
  std::filesystem::remove(control);
  job->format = kOracleFormat;
  EXPECT_EQ(RunDescribeOnly(db_->user(), "select AMOUNT from CT", job.get()), 0);
  EXPECT_FALSE(FileExists(control));
}

// Every separator byte is written in hexadecimal, a NUL included; a quote that is not plain
// printable text (an apostrophe, a backslash, a control byte) too.
TEST(ControlFileLiterals, SeparatorAndQuoteAreValidLoaderStrings) {
  const std::string path = TempPath("literals.ctl");
  const std::pair<const char*, const char*> cases[] = {
      {"quote=0x22", "BY X'2c' OPTIONALLY ENCLOSED BY '\"'  TRAILING"},
      {"quote=<<", "BY '<<'  TRAILING"},
      {"quote=0x27", "BY X'27'  TRAILING"},
      {"quote=a'b", "BY X'612762'  TRAILING"},
      {"quote=0x5c", "BY X'5c'  TRAILING"},
      {"quote=0x01", "BY X'01'  TRAILING"},
      {"field=|0x00|", "BY X'7c007c' TRAILING"}};
  for (auto [option, clause] : cases) {
    std::unique_ptr<UnloadHandle> job = NewJob();
    ASSERT_EQ(SetOption(job.get(), option), 1);
    SetText(job->table, nullptr, "T");
    SetText(job->control, nullptr, path);
    Columns columns(1);
    columns.Text("NAME", 10);
    WriteControlFile(DescribeControlLayout(columns.head(), job.get()), job.get(), {"t.dat"});
    EXPECT_NE(ReadFile(path).find(clause), std::string::npos) << option << "\n" << ReadFile(path);
  }
}

// A file name between quotes loses no byte: the other quote for an apostrophe, an escape where a
// name holds both, a backslash doubled only where the loader would take it as an escape.
TEST(ControlFileLiterals, FileNamesKeepEveryByte) {
  if (DirectorySeparator() == '\\') GTEST_SKIP() << "backslashes separate folders here";
  const std::pair<const char*, const char*> cases[] = {
      {"plain.csv", "'plain.csv'"}, {"o'brien.csv", "\"o'brien.csv\""},
      {"a'b\"c", "'a\\'b\"c'"},     {"back\\slash", "'back\\slash'"},
      {"end\\", "'end\\\\'"},       {"two\\\\", "'two\\\\\\\\'"},
  };
  for (auto [name, quoted] : cases) EXPECT_EQ(QuotedLoaderFileName(name), quoted) << name;
}

}  // namespace
}  // namespace rowflume
