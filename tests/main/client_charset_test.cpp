// Text read through a client whose character set is wider than the column's: the client converts
// every value, and each must arrive whole, without `safe`, in delimited and fixed-width records,
// with the control file giving the converted widths.
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
    const char* field;    // the `field` item
    std::string line;
  };
  const std::string e5 = "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9";
  const std::string euros = "\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac";
  const Case cases[] = {
      {"", "field=,", e5 + ",\xc3\xbc  ," + euros},
      // Fixed width: 5, 3 and 3 characters of up to 4 bytes each, whole and padded.
      {"", "field=0x20",
       e5 + std::string(10, ' ') + "\xc3\xbc" + std::string(10, ' ') + euros + std::string(3, ' ')},
      // Latin-1 has no euro sign: the client's replacement character stands for it. Text already
      // in the client's set keeps its columns' own widths.
      {"charset=WE8ISO8859P1", "field=,", "\xe9\xe9\xe9\xe9\xe9,\xfc  ,\xbf\xbf\xbf"},
      {"charset=WE8ISO8859P1", "field=0x20", "\xe9\xe9\xe9\xe9\xe9\xfc  \xbf\xbf\xbf   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.charset) + " " + c.field);
    std::vector<std::string> args = {db_->user(), "query=select * from T", "file=t.txt", c.field};
    if (c.charset[0] != '\0') args.push_back(c.charset);
    ProgramRun run = Unload(args);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(ReadFile(Path("t.txt")) == c.line + "\n") << ReadFile(Path("t.txt"));
  }
  // The control file declares the widths of the records: the converted ones.
  ProgramRun run = Unload({db_->user(), "query=T", "file=t.txt", "field=0x20", "control=t.ctl"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string control = ReadFile(Path("t.ctl"));
  EXPECT_NE(control.find("\"V\" POSITION(1:20) CHAR(20)"), std::string::npos) << control;
  EXPECT_NE(control.find("\"N\" POSITION(33:44) CHAR(12)"), std::string::npos) << control;
  EXPECT_NE(control.find("--    V VARCHAR2(20),\n"), std::string::npos) << control;
}

}  // namespace
}  // namespace rowflume
