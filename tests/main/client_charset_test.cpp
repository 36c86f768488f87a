// Text read through a client whose character set is wider than the column's: the client converts
// every value, and each must arrive whole, without `safe`, while the widths of records and
// control files stay the column's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

using ClientCharset = ProgramFolderTest;

// A database declaring WE8ISO8859P1 stores Latin-1 bytes; NVARCHAR2 holds characters that take
// three bytes in UTF-8 against two in the national set's count.
TEST_F(ClientCharset, ConvertedTextArrivesWhole) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE rowflume_settings(name TEXT, value TEXT);"
                "INSERT INTO rowflume_settings VALUES ('NLS_CHARACTERSET', 'WE8ISO8859P1');"
                "CREATE TABLE T (V VARCHAR2(5), C CHAR(3), N NVARCHAR2(3));"
                "INSERT INTO T VALUES (CAST(x'e9e9e9e9e9' AS TEXT), CAST(x'fc' AS TEXT),"
                " '\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac');"));
  struct Case {
    const char* charset;  // the `charset` item; empty: the client's default, AL32UTF8
    std::string line;
  };
  const std::string euros = "\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac";
  const Case cases[] = {
      {"", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9,\xc3\xbc  ," + euros},
      // Latin-1 has no euro sign: the client's replacement character stands for it.
      {"charset=WE8ISO8859P1", "\xe9\xe9\xe9\xe9\xe9,\xfc  ,\xbf\xbf\xbf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    std::vector<std::string> args = {db_->user(), "query=select * from T", "file=t.txt"};
    if (c.charset[0] != '\0') args.push_back(c.charset);
    ProgramRun run = Unload(args);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(ReadFile(Path("t.txt")) == c.line + "\n") << ReadFile(Path("t.txt"));
  }
  // The control file declares the columns' own widths, not the fetch's.
  ProgramRun run = Unload({db_->user(), "query=T", "file=t.txt", "control=t.ctl"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string control = ReadFile(Path("t.ctl"));
  EXPECT_NE(control.find("\"V\" CHAR(5)"), std::string::npos) << control;
  EXPECT_NE(control.find("\"N\" CHAR(6)"), std::string::npos) << control;
  EXPECT_NE(control.find("--    V VARCHAR2(5),\n"), std::string::npos) << control;
}

}  // namespace
}  // namespace rowflume
