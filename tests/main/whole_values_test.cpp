// Values that do not fit where a run would put them: the run never writes them cut, but stops
// with its status and a message naming the column and what lets the value through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

using WholeValues = ProgramFolderTest;

// A fixed-width field too narrow for its escaped value or NULL text stops the run with status 2;
// a value longer than its fetch width fails the fetch with status 7, the Oracle text first and
// then each column it cut, once. What the messages suggest lets the same rows through.
TEST_F(WholeValues, ValuesThatDoNotFitStopTheRunAndNameTheirColumn) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE T (ID NUMBER(4), A VARCHAR2(3), L LONG, C CLOB, B BLOB);"
                "INSERT INTO T VALUES (1, 'abc', replace(hex(zeroblob(1500)), '0', 'l'),"
                " replace(hex(zeroblob(1500)), '0', 'c'), zeroblob(1048576)),"
                " (2, 'a\\b', 'l', 'c', x'00'), (3, NULL, NULL, NULL, NULL);"));
  const std::string fixed_a =
      "ERROR -- A value of column A is longer than its fixed width of 3 bytes; nothing is cut: "
      "widen the column with width=, or use a delimited layout\n";
  const std::string ora = "ORA-24345: A Truncation or null fetch error occurred\n";
  auto fetched = [](const char* name, int bytes, const char* remedy) {
    return "ERROR -- Column " + std::string(name) + " holds a value longer than the " +
           std::to_string(bytes) + " bytes it is fetched with; give " + remedy + "\n";
  };
  const char* long_limit = "long= up to 2097152 bytes";
  const std::string removed =
      "ERROR -- The run failed: its 1 output files were removed, so that none is taken for "
      "complete\n";
  const std::string lob =
      std::string(long_limit) + ", or lob=FILE to write each value to a file of its own";
  struct Case {
    std::vector<std::string> items;
    int status;
    std::string messages;  // after the first progress line when the run fails, else the data
  } cases[] = {
      {{"query=select id, a from T", "field=0x20", "null=NUL"},
       0,
       "1     abc\n2     a\\b\n3     NUL\n"},
      {{"query=select id, a from T", "field=0x20", "null=NUL", "escape=\\"}, 2, fixed_a},
      {{"query=select id, a from T", "field=0x20", "null=NULL"}, 2, fixed_a},
      {{"query=select id, a from T", "field=0x20", "null=NULL", "escape=\\", "width=0:4"},
       0,
       "1     abc \n2     a\\\\b\n3     NULL\n"},
      {{"query=select id, b from T"}, 7, ora + fetched("B", 32768, lob.c_str())},
      {{"query=select id, b from T", "long=2097152"}, 0, ""},
      {{"query=select c, l from T", "long=2000"},
       7,
       ora + fetched("C", 2000, lob.c_str()) + fetched("L", 2000, long_limit)},
      {{"query=select id, a from T", "width=0:2"},
       7,
       ora + fetched("A", 2, "width= for the column, or safe=yes")},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.items;
    args.push_back("file=t.txt");
    SCOPED_TRACE(c.items.front() + " " + c.items.back());
    ProgramRun run = Unload(args);
    EXPECT_EQ(run.status, c.status) << run.out;
    if (c.status != 0) {
      // The failed run takes its file back, and says so last.
      EXPECT_EQ(run.out.substr(run.out.find('\n') + 1), c.messages + removed);
      EXPECT_FALSE(FileExists(Path("t.txt")));
    } else if (!c.messages.empty()) {
      EXPECT_EQ(ReadFile(Path("t.txt")), c.messages);
    }
  }
}

}  // namespace
}  // namespace rowflume
