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

}  // namespace
}  // namespace rowflume
