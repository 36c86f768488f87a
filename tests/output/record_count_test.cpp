// Row counts of what the program writes: random rows unloaded in each layout must count as the
// table's rows in whatever pieces the file comes, and a file cut short must never pass for a
// whole one. Then bytes no layout writes, which the counter must refuse.
#include "output/record_count.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "job/options.h"
#include "support/files.h"
#include "support/job.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

constexpr int kRows = 240;

// Pieces of the text values, split at "|": the separators, quotes and escape characters of every
// layout, the texts around MySQL tuples, a multi-byte character; the breaking ones hold a line
// break or SEARCH's row end, which the layouts that cannot protect them are not given.
constexpr char kPieces[] = "a|Zz9| |\"|'|\\|,|`|\t|\xe4\xb8\xad|\\N|null|;|),|(";
constexpr char kBreakingPieces[] = "),\n(|) VALUES \n(|\n|\r\n|\x01\n</DOC>\x01\n";

std::vector<std::string> Pieces(bool breaking) {
  std::vector<std::string> pieces;
  std::string all = std::string(kPieces) + (breaking ? std::string("|") + kBreakingPieces : "");
  for (size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 1) {
    bar = all.find('|', at);
    pieces.push_back(all.substr(at, bar == std::string::npos ? bar : bar - at));
  }
  return pieces;
}

struct LayoutCase {
  std::vector<std::string> items;
  bool exact;                // RecordCountIsExact: the values may hold anything
  int64_t fixed_length = 0;  // the fixed-width record, for field=0x20
};

const LayoutCase kLayouts[] = {
    {{"text=CSV"}, true},
    {{"text=CSV", "record=0x0d0x0a", "rowpre=<", "rowsuf=>"}, true},
    {{"text=MYSQL", "head=yes"}, true},
    {{"escape=\\", "escf=0x0a0x0d", "esct=nr"}, true},
    {{"quote=0x22", "escape=\\", "escf=0x22", "esct=0x22", "head=yes"}, true},
    {{"text=MYSQLINS", "table=T", "array=5"}, true},
    {{"text=MYSQLINS", "table=T", "array=7", "update=yes", "unique=ID", "exec="}, true},
    {{"text=ORACLEINS", "table=T", "head=yes"}, true},
    {{}, false},
    {{"text=FORM"}, false},
    {{"text=SEARCH"}, false},
    // ID, A, B, N and D at widths that hold every value, between "[" and CR LF.
    {{"field=0x20", "width=8:80:80:16:19", "rowpre=[", "record=0x0d0x0a"}, true, 206},
};

std::string TextLiteral(std::mt19937& random, const std::vector<std::string>& pieces) {
  const unsigned kind = random() % 10;
  if (kind == 0) return "NULL";
  if (kind == 1) return "''";
  std::string literal = "'";
  for (unsigned piece = 0, count = 1 + random() % 6; piece < count; ++piece) {
    for (const char c : pieces[random() % pieces.size()]) literal.append(c == '\'' ? 2 : 1, c);
  }
  return literal + "'";
}

// Rows of ID, two texts, a decimal number and a date, a tenth of the last three NULL.
std::string TableSql(const std::string& name, std::mt19937& random, bool breaking) {
  const std::vector<std::string> pieces = Pieces(breaking);
  std::string sql = "CREATE TABLE " + name +
                    " (ID NUMBER(6), A VARCHAR2(80), B VARCHAR2(80), N NUMBER(12,3), D DATE);";
  for (int row = 1; row <= kRows; ++row) {
    const std::string number = random() % 10 == 0
                                   ? "NULL"
                                   : std::to_string(static_cast<int>(random() % 2000001) - 1000000);
    const std::string date = random() % 10 == 0
                                 ? "NULL"
                                 : "strftime('%Y-%m-%d %H:%M:%S', " +
                                       std::to_string(random() % 4000000000u) + ", 'unixepoch')";
    sql += "INSERT INTO " + name + " VALUES (" + std::to_string(row) + ", " +
           TextLiteral(random, pieces) + ", " + TextLiteral(random, pieces) + ", " + number +
           " / 1000.0, " + date + ");";
  }
  return sql;
}

// The counter's verdict on the bytes fed in random pieces, mostly small.
bool CountInPieces(const RecordLayout& layout, const std::string& bytes, std::mt19937& random,
                   uint64_t* rows, std::string* problem) {
  RecordCounter counter(layout);
  for (size_t at = 0; at < bytes.size();) {
    const size_t most = random() % 4 == 0 ? 4096 : 16;
    const size_t piece = std::min(bytes.size() - at, 1 + random() % most);
    counter.Add(bytes.data() + at, piece);
    at += piece;
  }
  return counter.Finish(rows, problem);
}

RecordLayout LayoutOf(const std::vector<std::string>& items, int64_t fixed_length) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  for (const std::string& item : items) SetOption(job.get(), item.c_str());
  return RecordLayoutOf(job.get(), fixed_length);
}

class RecordCount : public ProgramFolderTest {};

TEST_F(RecordCount, CountsTheRowsEveryLayoutWrites) {
  std::mt19937 random(20261208);
  ASSERT_TRUE(db_->Exec(TableSql("ANY_T", random, true) + TableSql("PLAIN_T", random, false)));
  for (const LayoutCase& c : kLayouts) {
    std::string shown;
    for (const std::string& item : c.items) shown += " " + item;
    SCOPED_TRACE(shown);
    const RecordLayout layout = LayoutOf(c.items, c.fixed_length);
    EXPECT_EQ(RecordCountIsExact(layout), c.exact);
    for (const bool breaking : {true, false}) {
      // An exact layout takes any value, so the table without line breaks would add nothing.
      if (c.exact && !breaking) continue;
      std::vector<std::string> args = {std::string("query=select * from ") +
                                       (breaking ? "ANY_T" : "PLAIN_T")};
      args.insert(args.end(), c.items.begin(), c.items.end());
      args.push_back("file=out.txt");
      const ProgramRun run = Unload(args);
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      const std::string bytes = ReadFile(Path("out.txt"));
      // The layouts that cannot protect their row end count by it alone, and so exactly when no
      // value holds it.
      const bool counted_exactly = c.exact || !breaking;
      uint64_t rows = 0;
      std::string problem;
      for (int pass = 0; pass < 3; ++pass) {
        ASSERT_TRUE(CountInPieces(layout, bytes, random, &rows, &problem)) << problem;
        if (counted_exactly) {
          EXPECT_EQ(rows, static_cast<uint64_t>(kRows));
        } else {
          // A value holding the row end is one row more, and the table has such values.
          EXPECT_GT(rows, static_cast<uint64_t>(kRows));
        }
      }
      if (!counted_exactly) continue;
      for (int cut = 0; cut < 40; ++cut) {
        const size_t size = cut == 0 ? bytes.size() - 1 : random() % bytes.size();
        const bool whole = CountInPieces(layout, bytes.substr(0, size), random, &rows, &problem);
        EXPECT_TRUE(!whole || rows < static_cast<uint64_t>(kRows)) << "cut at " << size;
      }
    }
  }
}

TEST(RecordCountInput, RefusesBytesNoLayoutWrites) {
  struct Case {
    std::vector<std::string> items;
    int64_t fixed_length;
    std::string bytes;
    int rows;         // -1: refused
    const char* why;  // in the reason given
  };
  const std::vector<std::string> kEscaped = {"quote=0x22", "escape=\\", "escf=0x22", "esct=0x22"};
  const Case kCases[] = {
      {{"text=CSV"}, 0, "", -1, "header"},
      {{"text=CSV"}, 0, "A,B\n", 0, ""},
      {{"text=CSV"}, 0, "A,B\n\"x\"\"\ny\",2\n\"\"\"\",\n", 2, ""},
      {{"text=CSV"}, 0, "A,B\n1,\"open\n", -1, "quoted"},
      {{"text=CSV"}, 0, "A,B\n1,2", -1, "inside a row"},
      // One row whose value ends with a line feed: FORM's row end overlaps it and counts twice.
      {{"text=FORM"}, 0, "A : x\n\n\n", 2, ""},
      {kEscaped, 0, "\"a\\\"\n\",1\n2,\\", -1, "escape"},
      {{"text=MYSQLINS"}, 0, "INSERT  INTO `T` (`it's`) VALUES \n('a'),\n('b\\'),\n(');\n", 2, ""},
      {{"text=MYSQLINS"}, 0, "INSERT  INTO `T` (`A`) VALUES \n(1),\n(", -1, "statement"},
      {{"text=MYSQLINS"}, 0, "INSERT  INTO `T` (`A", -1, "name"},
      {{"text=ORACLEINS"}, 0, "INSERT  INTO T (A) VALUES \n('x'');\n');\n", 1, ""},
      {{"text=ORACLEINS"}, 0, "INSERT  INTO T (A) VALUES \n(1)\n", -1, "statement"},
      {{"field=0x20"}, 4, "abc\ndef\n", 2, ""},
      {{"field=0x20"}, 4, "abc\ndef", -1, "whole number"},
      {{"field=0x20"}, 4, "abc\ndefg", -1, "record 2"},
      {{"field=0x20"}, 0, "abc\n", -1, "no record length"},
  };
  std::mt19937 random(7);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.bytes);
    uint64_t rows = 0;
    std::string problem;
    const bool whole =
        CountInPieces(LayoutOf(c.items, c.fixed_length), c.bytes, random, &rows, &problem);
    EXPECT_EQ(whole, c.rows >= 0) << problem;
    if (c.rows >= 0) {
      EXPECT_EQ(rows, static_cast<uint64_t>(c.rows));
    }
    EXPECT_NE(problem.find(c.why), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace rowflume
