// The built program at its limits: the widest select list, LONG and CLOB values of the largest
// size made only of bytes that need escaping, every decorating text at its longest at once, and
// the most parallel pieces. Each output is compared with one computed here, not by the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using Limits = ProgramFolderTest;

// 1023 columns, the most a select list may have: every name in the header, every value in its
// place. One more column is refused rather than dropped.
TEST_F(Limits, WidestSelectList) {
  constexpr int kColumns = 1023;
  std::string create = "CREATE TABLE WIDE (";
  std::string insert = "INSERT INTO WIDE VALUES ";
  for (int row = 1; row <= 3; ++row) {
    insert += row > 1 ? ",(" : "(";
    for (int k = 1; k <= kColumns; ++k) {
      if (k > 1) insert += ",";
      insert += k % 2 == 0 ? std::to_string(row * 100000 + k)
                           : "'r" + std::to_string(row) + "c" + std::to_string(k) + "'";
    }
    insert += ")";
  }
  for (int k = 1; k <= kColumns; ++k) {
    create +=
        (k > 1 ? ",C" : "C") + std::to_string(k) + (k % 2 == 0 ? " NUMBER(10)" : " VARCHAR2(12)");
  }
  ASSERT_TRUE(db_->Exec(create + ");" + insert + ";"));

  ProgramRun run = Unload({"query=select * from WIDE order by C2", "text=CSV", "file=-"});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 500);
  std::string expected;
  for (int k = 1; k <= kColumns; ++k) expected += (k > 1 ? ",C" : "C") + std::to_string(k);
  expected += "\n";
  for (int row = 1; row <= 3; ++row) {
    for (int k = 1; k <= kColumns; ++k) {
      if (k > 1) expected += ",";
      expected += k % 2 == 0 ? std::to_string(row * 100000 + k)
                             : "\"r" + std::to_string(row) + "c" + std::to_string(k) + "\"";
    }
    expected += "\n";
  }
  EXPECT_TRUE(run.out == expected) << run.out.substr(0, 300);

  // A 1024th column cannot be unloaded: the run fails with the describe result and says why.
  run = Unload({"query=select w.*, 1 extra from WIDE w", "file=wider.txt"});
  EXPECT_EQ(run.status, 5) << run.out.substr(0, 300);
  EXPECT_NE(run.out.find("1024 columns"), std::string::npos) << run.out.substr(0, 300);
  EXPECT_FALSE(fs::exists(dir_ + "/wider.txt"));
}

// A LONG and a CLOB value of 2 MiB, the largest `long`, made only of bytes the MySQL layout
// escapes: each comes out doubled in size, byte for byte, in its quotes.
TEST_F(Limits, LargestValuesOfEscapedBytes) {
  constexpr size_t kBytes = 2097152;
  const std::string cycle = "\\\r\n\"'";  // the escape character and every byte of escf
  std::string value;
  value.reserve(kBytes);
  while (value.size() < kBytes) value += cycle[value.size() % cycle.size()];
  ASSERT_TRUE(db_->Exec("CREATE TABLE BIGTEXT (ID NUMBER(4), L LONG, C CLOB);"));
  ASSERT_TRUE(db_->ExecWithBlob(
      "INSERT INTO BIGTEXT VALUES (1, CAST(?1 AS TEXT), CAST(?1 AS TEXT))", value));
  ASSERT_TRUE(db_->Exec("INSERT INTO BIGTEXT VALUES (2, 'x', NULL)"));

  std::string escaped;
  escaped.reserve(2 * kBytes);
  for (char c : value) {
    escaped += '\\';
    escaped += c == '\r' ? 'r' : c == '\n' ? 'n' : c;
  }
  const std::string expected = "1,\"" + escaped + "\",\"" + escaped + "\"\n2,\"x\",\\N\n";
  ProgramRun run = Unload(
      {"query=select * from BIGTEXT order by ID", "text=MYSQL", "long=2097152", "file=big.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::string got = ReadFile(dir_ + "/big.txt");
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

// quote (40), rowpre and rowsuf (63), null (127) and exec (60) at their longest together, in a
// text layout and in INSERT statements: the output is a plain run's with the texts swapped.
TEST_F(Limits, LongestDecoratingTexts) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE T (ID NUMBER(4), NAME VARCHAR2(20), NOTE VARCHAR2(20));"
                "INSERT INTO T VALUES (1, 'one', NULL), (2, NULL, 'two'), (3, 'three', 'x');"));
  const std::string quote(40, 'Q');
  const std::string rowpre(63, 'P');
  const std::string rowsuf(63, 'S');
  const std::string null(127, 'N');
  const std::string exec(60, 'E');
  const std::string query = "query=select * from T order by ID";

  ProgramRun plain = Unload({query, "quote=0x22", "rowpre=<", "rowsuf=>", "null=~", "file=-"});
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(plain.out, "<1,\"one\",~>\n<2,~,\"two\">\n<3,\"three\",\"x\">\n");
  ProgramRun run = Unload(
      {query, "quote=" + quote, "rowpre=" + rowpre, "rowsuf=" + rowsuf, "null=" + null, "file=-"});
  ASSERT_EQ(run.status, 0);
  std::string expected = ReplaceAll(plain.out, "\"", quote);
  expected = ReplaceAll(expected, "<", rowpre);
  expected = ReplaceAll(expected, ">", rowsuf);
  expected = ReplaceAll(expected, "~", null);
  EXPECT_EQ(run.out, expected);
  // One byte more is refused, never cut: the run names the option and its limit.
  run = Unload({query, "quote=" + quote + "q", "file=-"});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.out, "ERROR -- The value of quote is longer than 40 characters; nothing was run\n");

  ProgramRun statements = Unload({query, "text=ORACLEINS", "table=T", "file=-"});
  ASSERT_EQ(statements.status, 0);
  ASSERT_EQ(Lines(statements.out).size(), 6u) << statements.out;  // a head line and a row line
  run = Unload({query, "text=ORACLEINS", "table=T", "exec=" + exec, "file=-"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out, ReplaceAll(statements.out, ");\n", ")" + exec + "\n"));
}

// degree=128, the most pieces, on a table whose extents give that many ROWID ranges: every
// piece writes a file of its own and together they hold the table's rows exactly once.
TEST_F(Limits, MostParallelPieces) {
  // 127 extents of two blocks and one of one block (64 rows a block): the split cuts one range
  // per extent, 128 in all.
  std::string extents =
      "CREATE TABLE rowflume_extents(owner, segment_name, partition_name, segment_type,"
      " relative_fno, block_id, blocks);"
      "WITH RECURSIVE e(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM e WHERE k < 126)"
      " INSERT INTO rowflume_extents SELECT 'SCOTT', 'PIECES', NULL, 'TABLE', 1, 2 * k, 2 FROM e;"
      "INSERT INTO rowflume_extents VALUES ('SCOTT', 'PIECES', NULL, 'TABLE', 1, 254, 1);";
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE PIECES (ID NUMBER(8), NAME VARCHAR2(20));"
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 16319)"
                " INSERT INTO PIECES(rowid, ID, NAME) SELECT i, i, 'name ' || i FROM n;" +
                extents));
  ProgramRun serial = Unload({"query=PIECES", "file=-"});
  ASSERT_EQ(serial.status, 0);
  std::vector<std::string> want = Lines(serial.out);
  ASSERT_EQ(want.size(), 16320u);

  ProgramRun run = Unload({"split=PIECES", "degree=128", "file=piece_%p.txt"});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 1000);
  std::vector<std::string> got;
  int files = 0;
  for (const std::string& name : FilesStartingWith(dir_, "piece_")) {
    ++files;
    std::vector<std::string> lines = Lines(ReadFile(dir_ + "/" + name));
    EXPECT_FALSE(lines.empty()) << name;
    got.insert(got.end(), lines.begin(), lines.end());
  }
  EXPECT_EQ(files, 128);
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_TRUE(got == want) << got.size();
}

}  // namespace
}  // namespace rowflume
