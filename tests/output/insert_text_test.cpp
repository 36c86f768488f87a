// The INSERT heads, the duplicate-key tail, the unique-list tokens and the columns they flag.
#include "output/insert_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "job/options.h"
#include "support/columns.h"
#include "support/described_query.h"
#include "support/job.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string Head(Columns& columns, const char* table, int format, const char* hint) {
  std::vector<char> area(kInsertHeadBytes);
  int length = BuildInsertHead(columns.head(), area.data(), kInsertHeadBytes, table, format, hint);
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(area.data()));
  return std::string(area.data(), static_cast<size_t>(length));
}

std::string Tail(Columns& columns, const char* unique) {
  std::vector<char> area(kDuplicateTailBytes);
  int length = BuildDuplicateUpdate(columns.head(), unique, static_cast<int>(std::strlen(unique)),
                                    area.data(), kDuplicateTailBytes);
  return std::string(area.data(), static_cast<size_t>(length));
}

TEST(InsertText, HeadsForBothFormats) {
  Columns columns(1);
  columns.Number("ID");
  columns.Text("NAME");
  EXPECT_EQ(Head(columns, "T", kMySqlFormat, ""), "INSERT  INTO `T` (`ID`,`NAME`) VALUES \n");
  EXPECT_EQ(Head(columns, "T", kMySqlFormat, "IGNORE"),
            "INSERT IGNORE INTO `T` (`ID`,`NAME`) VALUES \n");
  EXPECT_EQ(Head(columns, "SCOTT.EMP", kOracleFormat, ""),
            "INSERT  INTO SCOTT.EMP (ID,NAME) VALUES \n");
  Columns none(1);
  EXPECT_EQ(Head(none, "", kMySqlFormat, ""), "INSERT  INTO `` () VALUES \n");
}

// Oracle takes a name bare only when it reads it back as that very name; the user's table text
// keeps its letter case where Oracle would fold it anyway. MySQL quotes every part.
TEST(InsertText, NamesAreQuotedWhereTheTargetNeedsIt) {
  struct Case {
    const char* column;
    const char* table;
    int format;
    const char* head;
  } cases[] = {
      {"ID", "emp", kOracleFormat, "INSERT  INTO emp (ID) VALUES \n"},
      {"A$#_9", "SCOTT.EMP", kOracleFormat, "INSERT  INTO SCOTT.EMP (A$#_9) VALUES \n"},
      {"Mixed", "My Table", kOracleFormat, "INSERT  INTO \"My Table\" (\"Mixed\") VALUES \n"},
      {"DATE", "scott.level", kOracleFormat, "INSERT  INTO scott.\"LEVEL\" (\"DATE\") VALUES \n"},
      {"level", "1T", kOracleFormat, "INSERT  INTO \"1T\" (\"level\") VALUES \n"},
      {"A B", "\"Odd\".T", kOracleFormat, "INSERT  INTO \"Odd\".T (\"A B\") VALUES \n"},
      {"_X", "t", kOracleFormat, "INSERT  INTO t (\"_X\") VALUES \n"},
      {"a`b", "db.t", kMySqlFormat, "INSERT  INTO `db`.`t` (`a``b`) VALUES \n"},
      {"DATE", "`my.t`", kMySqlFormat, "INSERT  INTO `my.t` (`DATE`) VALUES \n"},
  };
  for (const Case& c : cases) {
    Columns columns(1);
    columns.Text(c.column);
    EXPECT_EQ(Head(columns, c.table, c.format, ""), c.head);
    EXPECT_EQ(UnwritableOracleName(columns.head()), nullptr);
  }
  Columns quoted(1);
  quoted.Text("ID");
  ColumnDesc* bad = quoted.Text("x\"q");
  EXPECT_EQ(UnwritableOracleName(quoted.head()), bad);
  Columns tail(1);
  tail.Text("a`b");
  EXPECT_EQ(Tail(tail, ""), "\nON DUPLICATE KEY UPDATE \n    `a``b`=VALUES(`a``b`)");
}

// Three assignments a line, key columns left out; all keys leaves the bare clause.
TEST(InsertText, DuplicateKeyTail) {
  Columns columns(1);
  columns.Number("ID");
  for (const char* name : {"A", "B", "C", "D", "E"}) columns.Text(name);
  EXPECT_EQ(Tail(columns, "ID"),
            "\nON DUPLICATE KEY UPDATE \n"
            "    `A`=VALUES(`A`), `B`=VALUES(`B`), `C`=VALUES(`C`), \n"
            "    `D`=VALUES(`D`), `E`=VALUES(`E`)");
  Columns keys(1);
  keys.Number("ID");
  keys.Text("CODE");
  EXPECT_EQ(Tail(keys, "ID,CODE"), "\nON DUPLICATE KEY UPDATE ");
}

// The areas hold the longest lists: 1023 columns of 31-byte names with the longest table and
// hint; an area that is too small is cut, never overrun.
TEST(InsertText, LongestListsFitAndSmallAreasAreNotOverrun) {
  Columns columns(1);
  for (int k = 0; k < kMaxColumns; ++k) {
    ColumnDesc* c = columns.Text("C" + std::to_string(k), 1);
    std::memset(c->name, 'N', kMaxInsertName);
    c->name[kMaxInsertName] = '\0';
    c->name_length = kMaxInsertName;
  }
  const std::string table(131, 'T');
  const std::string hint(255, 'H');
  const std::string name(kMaxInsertName, 'N');
  std::string head = Head(columns, table.c_str(), kMySqlFormat, hint.c_str());
  size_t expected_head = 7 + hint.size() + 7 + table.size() + 3 + kMaxColumns * (name.size() + 2) +
                         (kMaxColumns - 1) + 10;
  EXPECT_EQ(head.size(), expected_head);
  EXPECT_LT(head.size(), static_cast<size_t>(kInsertHeadBytes));
  EXPECT_EQ(head.substr(head.size() - 10), ") VALUES \n");
  std::string tail = Tail(columns, "");
  size_t assignment = 2 * name.size() + 13;  // `N`=VALUES(`N`)
  size_t expected_tail =
      25 + kMaxColumns * assignment + (kMaxColumns - 1) * 2 + ((kMaxColumns + 2) / 3) * 5;
  EXPECT_EQ(tail.size(), expected_tail);
  EXPECT_LT(tail.size(), static_cast<size_t>(kDuplicateTailBytes));

  std::vector<char> small(64, '#');
  int length = BuildInsertHead(columns.head(), small.data(), 32, "T", kMySqlFormat, "");
  EXPECT_EQ(length, 31);
  EXPECT_EQ(std::string(small.data(), 31), std::string("INSERT  INTO `T` (`") + "NNNNNNNNNNNN");
  EXPECT_EQ(small[31], '\0');
  EXPECT_EQ(small[32], '#');
  std::fill(small.begin(), small.end(), '#');
  length = BuildDuplicateUpdate(columns.head(), "", 0, small.data(), 16);
  EXPECT_EQ(length, 15);
  EXPECT_EQ(std::string(small.data(), 15), "\nON DUPLICATE K");
  EXPECT_EQ(small[15], '\0');
  EXPECT_EQ(small[16], '#');
}

std::vector<std::string> Tokens(const std::string& text) {
  TokenCursor cursor;
  StartTokens(&cursor, text.c_str(), static_cast<int>(text.size()));
  std::vector<std::string> tokens;
  for (int length = NextToken(&cursor); length > 0; length = NextToken(&cursor)) {
    tokens.push_back(text.substr(static_cast<size_t>(cursor.start), static_cast<size_t>(length)));
    if (tokens.size() > 10) break;
  }
  return tokens;
}

TEST(InsertText, UniqueListTokens) {
  EXPECT_EQ(Tokens("id,name"), (std::vector<std::string>{"id", "name"}));
  EXPECT_EQ(Tokens("id, name"), (std::vector<std::string>{"id", " name"}));
  EXPECT_EQ(Tokens("a,,b"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(Tokens(",a"), (std::vector<std::string>{}));
  EXPECT_EQ(Tokens("a,"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(Tokens(""), (std::vector<std::string>{}));
}

// The unique list flags the described columns it names, by their select-list position.
TEST(InsertText, UniqueListFlagsDescribedColumns) {
  DescribedQuery query;
  ASSERT_EQ(query.Open(MakeDatabase(
                "unique_flags",
                "CREATE TABLE u(id NUMBER, name VARCHAR2(10), code VARCHAR2(5), idx NUMBER);")),
            0);
  std::unique_ptr<UnloadHandle> job = NewJob();
  const char* select = "select id, name, code, idx from u";
  uint8_t got[kMaxColumns];
  ASSERT_EQ(SetOption(job.get(), "unique=ID,Code"), 1);
  ASSERT_EQ(query.Describe(select, job.get()), 4);
  FlagUniqueColumns(query.head(), job->unique, sizeof job->unique, got);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[1], 0);
  EXPECT_EQ(got[2], 1);
  EXPECT_EQ(got[3], 0);  // a longer name with the same start is another column
  // A space counts as part of the entry, and the first empty entry ends the list.
  ASSERT_EQ(SetOption(job.get(), "unique=name, code"), 1);
  ASSERT_EQ(query.Describe(select, job.get()), 4);
  FlagUniqueColumns(query.head(), job->unique, sizeof job->unique, got);
  EXPECT_EQ(got[1], 1);
  EXPECT_EQ(got[2], 0);
  ASSERT_EQ(SetOption(job.get(), "unique=id,,code"), 1);
  ASSERT_EQ(query.Describe(select, job.get()), 4);
  FlagUniqueColumns(query.head(), job->unique, sizeof job->unique, got);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[2], 0);
}

}  // namespace
}  // namespace rowflume
