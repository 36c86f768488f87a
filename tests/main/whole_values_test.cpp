// Values that do not fit where a run would put them: the run never writes them cut, but stops
// with a status and a message that names the column and what lets the value through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

using WholeValues = ProgramFolderTest;

// A fixed-width field too narrow for what it must hold, as escaped value or NULL text, fails the
// run with status 2 at that row; the width the message suggests lets the same run through.
TEST_F(WholeValues, FixedFieldTooNarrowStopsTheRun) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE T (ID NUMBER(4), A VARCHAR2(3));"
                "INSERT INTO T VALUES (1, 'abc'), (2, 'a\\b'), (3, NULL);"));
  struct Case {
    std::vector<std::string> items;
    int status;
    std::string message;  // in the messages; empty: the run writes every row
    std::string data;     // the file's bytes after a run that wrote every row
  };
  const std::string too_narrow =
      "ERROR -- A value of column A is longer than its fixed width of 3 bytes; nothing is cut: "
      "widen the column with width=, or use a delimited layout\n";
  const Case cases[] = {
      {{"null=NUL"}, 0, "", "1     abc\n2     a\\b\n3     NUL\n"},
      {{"escape=\\", "null=NUL"}, 2, too_narrow, ""},
      {{"null=NULL"}, 2, too_narrow, ""},
      {{"escape=\\", "null=NULL", "width=0:4"}, 0, "", "1     abc \n2     a\\\\b\n3     NULL\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"query=select * from T", "field=0x20", "file=t.txt"};
    args.insert(args.end(), c.items.begin(), c.items.end());
    SCOPED_TRACE(c.items.front() + " " + c.items.back());
    ProgramRun run = Unload(args);
    EXPECT_EQ(run.status, c.status) << run.out;
    if (c.message.empty()) {
      EXPECT_EQ(ReadFile(Path("t.txt")), c.data);
      EXPECT_NE(run.out.find("closed at 3 rows"), std::string::npos) << run.out;
    } else {
      EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
      EXPECT_EQ(run.out.find("closed at"), std::string::npos) << run.out;
    }
  }
}

// A value longer than its fetch width fails the fetch with status 7: the Oracle text comes
// first, then each column it cut, once, with what lets its values through.
TEST_F(WholeValues, TruncatedFetchNamesEachColumnAndItsOption) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE T (ID NUMBER(4), V VARCHAR2(20), L LONG, C CLOB, B BLOB);"
                "INSERT INTO T VALUES (1, 'abcdefghij', replace(hex(zeroblob(1500)), '0', 'l'),"
                " replace(hex(zeroblob(1500)), '0', 'c'), zeroblob(1048576)), (2, 'abcdefghij',"
                " 'l', 'c', x'00');"));
  const std::string cut = "ORA-24345: A Truncation or null fetch error occurred\n";
  auto column = [](const char* name, int bytes, const char* remedy) {
    return "ERROR -- Column " + std::string(name) + " holds a value longer than the " +
           std::to_string(bytes) + " bytes it is fetched with; " + remedy + "\n";
  };
  const char* long_limit = "give long= up to 2097152 bytes";
  const char* lob =
      "give long= up to 2097152 bytes, or lob=FILE to write each value to a file of its own";
  struct Case {
    std::vector<std::string> items;
    int status;
    std::string messages;  // after the first progress line; empty: the run writes both rows
  } cases[] = {
      {{"query=select id, b from T"}, 7, cut + column("B", 32768, lob)},
      {{"query=select id, b from T", "long=2097152"}, 0, ""},
      {{"query=select c, l from T", "long=2000"},
       7,
       cut + column("C", 2000, lob) + column("L", 2000, long_limit)},
      {{"query=select id, v from T", "width=0:5"},
       7,
       cut + column("V", 5, "give width= for the column, or safe=yes")},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"file=t.txt"};
    args.insert(args.end(), c.items.begin(), c.items.end());
    SCOPED_TRACE(c.items.front() + " " + c.items.back());
    ProgramRun run = Unload(args);
    EXPECT_EQ(run.status, c.status) << run.out;
    if (c.messages.empty()) {
      EXPECT_NE(run.out.find("closed at 2 rows"), std::string::npos) << run.out;
    } else {
      ASSERT_NE(run.out.find('\n'), std::string::npos);
      EXPECT_EQ(run.out.substr(run.out.find('\n') + 1), c.messages);
    }
  }
}

}  // namespace
}  // namespace rowflume
