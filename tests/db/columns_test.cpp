// Column description against the embedded engine.
#include "db/columns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job/options.h"
#include "support/described_query.h"
#include "support/job.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

// A described query on a database of the test's own (in the private temporary folder, removed
// with it), and a job with defaults.
class Describe : public testing::Test {
 protected:
  void Open(const std::string& sql) {
    const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(query_.Open(MakeDatabase(name, sql)), 0);
  }
  void Set(const char* item) { ASSERT_EQ(SetOption(job_.get(), item), 1) << item; }

  // Describes the query; returns DescribeColumns' result.
  int Run(const std::string& query) { return query_.Describe(query, job_.get()); }
  std::vector<ColumnDesc*> Columns() { return query_.Columns(); }

  DescribedQuery query_;
  std::unique_ptr<UnloadHandle> job_ = NewJob();
};

struct Want {
  const char* name;
  int described;
  int define;
  int define_width;
  int display_width;
  int hex;
  int quotable;
};

void ExpectColumns(const std::vector<ColumnDesc*>& got, const std::vector<Want>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    SCOPED_TRACE(want[k].name);
    EXPECT_EQ(std::string(got[k]->name, got[k]->name_length), want[k].name);
    EXPECT_EQ(got[k]->described_type, want[k].described);
    EXPECT_EQ(got[k]->define_type, want[k].define);
    EXPECT_EQ(got[k]->define_width, want[k].define_width);
    EXPECT_EQ(got[k]->display_width, want[k].display_width);
    EXPECT_EQ(got[k]->hex, want[k].hex);
    EXPECT_EQ(got[k]->quotable, want[k].quotable);
    EXPECT_NE(got[k]->define_buffer, nullptr);
  }
}

constexpr char kTypes[] =
    "CREATE TABLE t(n102 NUMBER(10,2), n NUMBER, n4 NUMBER(4), v VARCHAR2(4000), "
    "v100 VARCHAR2(100), d DATE, ts TIMESTAMP, tz TIMESTAMP WITH TIME ZONE, rw RAW(16), "
    "lg LONG, cl CLOB, bl BLOB, rid ROWID, c CHAR(5));";

TEST_F(Describe, TypeTableWidthsAndFlags) {
  Open(kTypes);
  const char* query = "select * from t";
  ASSERT_EQ(Run(query), 14);
  ExpectColumns(Columns(), {
                               {"N102", 2, SQLT_CHR, 13, 13, 0, 0},
                               {"N", 2, SQLT_CHR, 172, 172, 0, 0},
                               {"N4", 2, SQLT_CHR, 6, 6, 0, 0},
                               {"V", 1, SQLT_CHR, 4000, 4000, 1, 1},
                               {"V100", 1, SQLT_CHR, 100, 100, 1, 1},
                               {"D", 12, SQLT_CHR, 19, 19, 0, 1},
                               {"TS", 187, SQLT_CHR, 26, 26, 0, 1},
                               {"TZ", 188, SQLT_CHR, 33, 33, 0, 1},
                               {"RW", 23, 23, 16, 16, 1, 1},
                               {"LG", 8, SQLT_LVC, 32772, 32768, 1, 1},
                               {"CL", 112, SQLT_LVC, 32772, 32768, 1, 1},
                               {"BL", 113, SQLT_LVB, 32772, 32768, 1, 1},
                               {"RID", 104, SQLT_CHR, 18, 18, 0, 1},
                               {"C", 96, SQLT_CHR, 5, 5, 1, 1},
                           });
  // Inline long values reserve their whole width and length word: a row of 1 + 102723 + 1
  // (the record separator) bytes leaves 10 MiB / 102725 = 102 rows.
  EXPECT_EQ(job_->array, 102u);

  // safe: numbers and dates gain 10, text doubles but stays within 4000.
  Set("safe=yes");
  ASSERT_EQ(Run(query), 14);
  std::vector<ColumnDesc*> safe = Columns();
  EXPECT_EQ(safe[0]->define_width, 23);
  EXPECT_EQ(safe[1]->define_width, 182);
  EXPECT_EQ(safe[3]->define_width, 4000);
  EXPECT_EQ(safe[4]->define_width, 200);
  EXPECT_EQ(safe[5]->define_width, 29);
  EXPECT_EQ(safe[8]->define_width, 26);
  EXPECT_EQ(safe[9]->define_width, 32772);  // long values take `long` and the length word

  // client: raw Oracle numbers and dates, with the text widths kept for the display.
  Set("safe=no");
  Set("client=yes");
  ASSERT_EQ(Run(query), 14);
  std::vector<ColumnDesc*> client = Columns();
  EXPECT_EQ(client[0]->define_type, SQLT_NUM);
  EXPECT_EQ(client[0]->define_width, 21);
  EXPECT_EQ(client[0]->display_width, 13);
  EXPECT_EQ(client[1]->display_width, 172);
  EXPECT_EQ(client[5]->define_type, SQLT_DAT);
  EXPECT_EQ(client[5]->define_width, 7);
  EXPECT_EQ(client[5]->display_width, 19);
}

TEST_F(Describe, WidthListAndLongLimit) {
  Open(kTypes);
  Set("width=5:0:12");
  ASSERT_EQ(Run("select n102, n, v100, v from t"), 4);
  std::vector<ColumnDesc*> got = Columns();
  EXPECT_EQ(got[0]->define_width, 5);
  EXPECT_EQ(got[1]->define_width, 172);  // 0 leaves the computed width
  EXPECT_EQ(got[2]->define_width, 12);
  EXPECT_EQ(got[3]->define_width, 4000);

  // Empty pieces are skipped: 10::20 names positions 1 and 2. An entry over 1048576 is cut to
  // it and then to `long`.
  Set("width=10::20");
  Set("long=100");
  ASSERT_EQ(Run("select v100, v, lg from t"), 3);
  got = Columns();
  EXPECT_EQ(got[0]->define_width, 10);
  EXPECT_EQ(got[1]->define_width, 20);
  EXPECT_EQ(got[2]->display_width, 102400);
  EXPECT_EQ(got[2]->define_width, 102400 + 4);  // and the length word of a long value
  Set("width=5000000");
  Set("long=2097152");
  ASSERT_EQ(Run("select lg from t"), 1);
  EXPECT_EQ(Columns()[0]->display_width, 1048576);
  EXPECT_EQ(Columns()[0]->define_width, 1048576 + 4);
  Set("long=64");
  ASSERT_EQ(Run("select lg from t"), 1);
  EXPECT_EQ(Columns()[0]->display_width, 65536);
  EXPECT_EQ(Columns()[0]->define_width, 65536 + 4);
  // A long value over the 10 MiB fetch budget still gets the floor of 5 rows.
  Set("width=");
  Set("long=2097152");
  Set("array=2000");
  ASSERT_EQ(Run("select lg, cl, bl from t"), 3);
  EXPECT_EQ(job_->array, 5u);
}

// Every type's widths hold the longest text of its values; where the customary width already
// did, it stays, so that fixed-width files and control files of ordinary tables keep their layout.
TEST_F(Describe, WidthsHoldTheLongestTextOfEachType) {
  struct Case {
    const char* declared;
    int described;
    int text_width;    // define and display width of the text fetched
    int client_width;  // display width with client=yes
    int safe_width;    // define width with safe=yes
  } cases[] = {
      // Customary widths that hold every value, unchanged.
      {"NUMBER(10,2)", 2, 13, 13, 23},
      {"NUMBER(4)", 2, 6, 6, 16},
      {"NUMBER(4,4)", 2, 7, 7, 17},
      {"'NUMBER(5,-2)'", 2, 8, 8, 18},
      {"'NUMBER(*,3)'", 2, 41, 41, 51},
      {"TIMESTAMP(3)", 187, 26, 26, 36},
      {"TIMESTAMP", 187, 26, 26, 36},
      {"'TIMESTAMP WITH TIME ZONE'", 188, 33, 33, 43},
      // Too narrow before: every value's text now fits.
      {"NUMBER", 2, 172, 172, 182},            // 1E50, -.000...333 with 40 digits
      {"FLOAT", 2, 172, 172, 182},             // FLOAT is NUMBER's range at fewer digits
      {"FLOAT(10)", 2, 172, 172, 182},         // was 10 binary digits + 3
      {"'NUMBER(2,4)'", 2, 6, 7, 16},          // -.0099, client -0.0099
      {"'NUMBER(2,-3)'", 2, 6, 6, 16},         // -99000
      {"'NUMBER(3,3)'", 2, 6, 7, 16},          // client -0.1250
      {"'NUMBER(38,127)'", 2, 129, 131, 139},  // -.000...999
      {"'NUMBER(38,-84)'", 2, 123, 123, 133},  // -999...000
      {"TIMESTAMP(9)", 187, 29, 29, 39},
      {"'TIMESTAMP(9) WITH TIME ZONE'", 188, 36, 36, 46},
      {"'TIMESTAMP(7) WITH LOCAL TIME ZONE'", 232, 34, 34, 44},
      {"BINARY_FLOAT", 100, 16, 16, 26},   // -3.40282347E+038
      {"BINARY_DOUBLE", 101, 24, 24, 34},  // -1.7976931348623157E+308
  };
  std::string create = "CREATE TABLE w(";
  std::string select = "select ";
  for (size_t k = 0; k < std::size(cases); ++k) {
    const std::string name = "c" + std::to_string(k);
    create += (k > 0 ? ", " : "") + name + " " + cases[k].declared;
    select += (k > 0 ? ", " : "") + name;
  }
  Open(create + ");");
  // The widths of one describe; the column list goes with the next one.
  struct Got {
    int described, define, define_width, display_width, quotable;
  };
  auto describe = [&] {
    std::vector<Got> got;
    EXPECT_EQ(Run(select + " from w"), static_cast<int>(std::size(cases)));
    for (const ColumnDesc* c : Columns()) {
      got.push_back(
          {c->described_type, c->define_type, c->define_width, c->display_width, c->quotable});
    }
    return got;
  };
  const std::vector<Got> text = describe();
  Set("client=yes");
  const std::vector<Got> client = describe();
  Set("client=no");
  Set("safe=yes");
  const std::vector<Got> safe = describe();
  ASSERT_EQ(text.size(), std::size(cases));
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case& want = cases[k];
    SCOPED_TRACE(want.declared);
    EXPECT_EQ(text[k].described, want.described);
    EXPECT_EQ(text[k].define, SQLT_CHR);
    EXPECT_EQ(text[k].define_width, want.text_width);
    EXPECT_EQ(text[k].display_width, want.text_width);
    EXPECT_EQ(text[k].quotable,
              want.described == 2 || want.described == 100 || want.described == 101 ? 0 : 1);
    EXPECT_EQ(client[k].display_width, want.client_width);
    EXPECT_EQ(safe[k].define_width, want.safe_width);
  }
}

// `long` bounds long values only: at 0 the other columns keep their widths.
TEST_F(Describe, LongLimitOfZeroLeavesOtherColumnsWhole) {
  Open(kTypes);
  Set("long=0");
  ASSERT_EQ(job_->long_limit, 0u);
  ASSERT_EQ(Run("select n102, v, d, rw, lg from t"), 5);
  std::vector<ColumnDesc*> got = Columns();
  EXPECT_EQ(got[0]->define_width, 13);
  EXPECT_EQ(got[1]->define_width, 4000);
  EXPECT_EQ(got[2]->define_width, 19);
  EXPECT_EQ(got[3]->define_width, 16);
  EXPECT_EQ(got[4]->display_width, 0);
  EXPECT_EQ(got[4]->define_width, 4);  // the length word alone
  Set("long=1");                       // 1 KiB, less than the widest column
  ASSERT_EQ(Run("select v, lg from t"), 2);
  EXPECT_EQ(Columns()[0]->define_width, 4000);
  EXPECT_EQ(Columns()[1]->define_width, 1024 + 4);
}

TEST_F(Describe, ArraySizeFollowsTheRowWidth) {
  std::string create = "CREATE TABLE wide(";
  std::string select = "select ";
  for (int k = 1; k <= 40; ++k) {
    create += (k > 1 ? ", c" : "c") + std::to_string(k) + " VARCHAR2(4000)";
    select += (k > 1 ? ", c" : "c") + std::to_string(k);
  }
  Open(create + "); CREATE TABLE narrow(a NUMBER(4));");
  // 1 + 40 x 4000 + a record separator of one byte: 160002 bytes, so 65 rows fit 10 MiB.
  ASSERT_EQ(Run(select + " from wide"), 40);
  EXPECT_EQ(job_->array, 65u);
  // The separator's length counts.
  Set("record=0x0d0x0a");
  Set("array=1000");
  ASSERT_EQ(Run(select + " from wide"), 40);
  EXPECT_EQ(job_->array, 65u);  // 160003 still gives 65
  Set("width=10000");
  Set("array=2000");
  ASSERT_EQ(Run("select a from narrow"), 1);
  EXPECT_EQ(Columns()[0]->define_width, 10000);
  EXPECT_EQ(job_->array, 1048u);  // 10485760 / (1 + 10000 + 2)
  Set("width=");
  Set("array=2000");
  ASSERT_EQ(Run("select a from narrow"), 1);
  EXPECT_EQ(job_->array, 2000u);
}

// Text the client converts into a wider set is fetched, and written in fixed-width records, at
// its characters times the client set's widest character (AL32UTF8: 4 bytes); text already in
// the client's set, and a `width` entry, keep the byte size.
TEST_F(Describe, ConvertedTextIsFetchedAtItsWidestBytes) {
  Open(
      "CREATE TABLE rowflume_settings(name TEXT, value TEXT);"
      "INSERT INTO rowflume_settings VALUES ('NLS_CHARACTERSET', 'WE8ISO8859P1');"
      "CREATE TABLE t(v VARCHAR2(5), c CHAR(3), n NVARCHAR2(3), l LONG);");
  struct Case {
    const char* item;  // one more option, or ""
    int widths[3][2];  // define and display width of v, c, n
  };
  const Case cases[] = {
      {"", {{20, 20}, {12, 12}, {12, 12}}},
      {"safe=yes", {{20, 20}, {12, 12}, {12, 12}}},
      {"width=7:0:2", {{7, 7}, {12, 12}, {2, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    job_ = NewJob();
    if (c.item[0] != '\0') Set(c.item);
    ASSERT_EQ(Run("select v, c, n, l from t"), 4);
    std::vector<ColumnDesc*> got = Columns();
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(got[k]->define_width, c.widths[k][0]) << k;
      EXPECT_EQ(got[k]->display_width, c.widths[k][1]) << k;
    }
    EXPECT_EQ(got[3]->char_size, 0) << "no character length for long values";
  }
  EXPECT_EQ(Columns()[2]->charset_form, SQLCS_NCHAR);
  EXPECT_EQ(Columns()[0]->charset_form, SQLCS_IMPLICIT);
}

TEST_F(Describe, LobLocators) {
  Open("CREATE TABLE l(id NUMBER(4), bl BLOB, cl CLOB); INSERT INTO l VALUES (1, x'00ff', 'c');");
  Set("lob=file");
  Set("long=2097152");
  ASSERT_EQ(Run("select id, bl, cl from l"), 3);
  std::vector<ColumnDesc*> got = Columns();
  EXPECT_EQ(got[1]->define_type, SQLT_BLOB);
  EXPECT_EQ(got[2]->define_type, SQLT_CLOB);
  EXPECT_EQ(got[1]->hex, 0);
  EXPECT_EQ(got[1]->quotable, 1);
  // A locator per row; the row counts 30 for each LOB, so the long limit does not bite.
  auto** slots = reinterpret_cast<OCILobLocator**>(got[1]->define_buffer);
  for (uint32_t row = 0; row < job_->array; ++row) ASSERT_NE(slots[row], nullptr) << row;
  EXPECT_EQ(job_->array, 1000u);

  EXPECT_TRUE(query_.messages().empty());
}

}  // namespace
}  // namespace rowflume
