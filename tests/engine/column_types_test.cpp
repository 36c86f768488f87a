// Declared column type names and the Oracle description each one gets, including the spellings
// the whole-table describe test does not reach: synonyms, NATIONAL and VARYING forms, length
// units, names left to SQLite's affinity rules and the bytes that count as blanks.
#include <gtest/gtest.h>

#include "engine/column_types.h"

namespace rowflume::engine {
namespace {

struct Case {
  const char* declared;
  ub2 type;
  ub2 size;
  sb2 precision;
  sb1 scale;
  ub1 form;
  Family family;
  uint8_t fraction_digits;
  ub2 char_length;
};

constexpr Family kNum = Family::kNumber;
constexpr Family kTxt = Family::kText;
constexpr Family kBin = Family::kBinary;

TEST(ColumnTypes, EveryDeclaredNameAndItsDescription) {
  const Case cases[] = {
      {"NUMBER", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
      {"number(10,2)", SQLT_NUM, 22, 10, 2, 0, kNum, 0, 0},
      {"NUMERIC(5)", SQLT_NUM, 22, 5, 0, 0, kNum, 0, 0},
      {"DECIMAL(7,-2)", SQLT_NUM, 22, 7, -2, 0, kNum, 0, 0},
      {"DEC(*,3)", SQLT_NUM, 22, 38, 3, 0, kNum, 0, 0},
      {"NUMBER AS TEXT", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
      {"FLOAT", SQLT_NUM, 22, 126, -127, 0, kNum, 0, 0},
      {"FLOAT(20)", SQLT_NUM, 22, 20, -127, 0, kNum, 0, 0},
      {"INTERVAL YEAR(4) TO MONTH", SQLT_INTERVAL_YM, 5, 4, 0, 0, kTxt, 0, 0},
      {"INTERVAL DAY TO SECOND", SQLT_INTERVAL_DS, 11, 2, 6, 0, kTxt, 0, 0},
      {"INTERVAL DAY(3) TO SECOND(2)", SQLT_INTERVAL_DS, 11, 3, 2, 0, kTxt, 0, 0},
      {"TIMESTAMP", SQLT_TIMESTAMP, 11, 0, 6, 0, Family::kTimestamp, 6, 0},
      {"TIMESTAMP(12)", SQLT_TIMESTAMP, 11, 0, 9, 0, Family::kTimestamp, 9, 0},
      {"TIMESTAMP(3) WITH TIME ZONE", SQLT_TIMESTAMP_TZ, 13, 0, 3, 0, Family::kTimestampTz, 3, 0},
      {"TIMESTAMP WITH LOCAL TIME ZONE", SQLT_TIMESTAMP_LTZ, 11, 0, 6, 0, Family::kTimestampLtz, 6,
       0},
      {"BINARY_FLOAT", SQLT_IBFLOAT, 4, 0, 0, 0, Family::kBinaryFloat, 0, 0},
      {"binary_double", SQLT_IBDOUBLE, 8, 0, 0, 0, Family::kBinaryDouble, 0, 0},
      {"DATE", SQLT_DAT, 7, 0, 0, 0, Family::kDate, 0, 0},
      {"DATETIME", SQLT_DAT, 7, 0, 0, 0, Family::kDate, 0, 0},
      {"LONG", SQLT_LNG, 0, 0, 0, 1, kTxt, 0, 0},
      {"LONG RAW", SQLT_LBI, 0, 0, 0, 0, kBin, 0, 0},
      {"RAW(16)", SQLT_BIN, 16, 0, 0, 0, kBin, 0, 0},
      {"RAW", SQLT_BIN, 2000, 0, 0, 0, kBin, 0, 0},
      // A ROWID is its 18-character text, like the pseudo-column; a logical one is longer.
      {"ROWID", SQLT_RDD, 18, 0, 0, 0, kTxt, 0, 0},
      {"UROWID(200)", SQLT_RDD, 200, 0, 0, 0, kTxt, 0, 0},
      {"UROWID", SQLT_RDD, 4000, 0, 0, 0, kTxt, 0, 0},
      {"NCLOB", SQLT_CLOB, 4000, 0, 0, 2, kTxt, 0, 0},
      {"CLOB", SQLT_CLOB, 4000, 0, 0, 1, kTxt, 0, 0},
      {"BLOB", SQLT_BLOB, 4000, 0, 0, 0, kBin, 0, 0},
      {"BFILE", SQLT_BFILEE, 530, 0, 0, 0, kBin, 0, 0},
      {"TEXT", SQLT_CHR, 4000, 0, 0, 1, kTxt, 0, 0},
      // Character types: a CHAR length unit counts four bytes, a national character two.
      {"VARCHAR2(30)", SQLT_CHR, 30, 0, 0, 1, kTxt, 0, 0},
      {"VARCHAR(10 CHAR)", SQLT_CHR, 40, 0, 0, 1, kTxt, 0, 0},
      {"VARCHAR2(10 BYTE)", SQLT_CHR, 10, 0, 0, 1, kTxt, 0, 0},
      {"VARCHAR2", SQLT_CHR, 4000, 0, 0, 1, kTxt, 0, 0},
      {"NVARCHAR2(10)", SQLT_CHR, 20, 0, 0, 2, kTxt, 0, 0},
      {"NVARCHAR(10 CHAR)", SQLT_CHR, 20, 0, 0, 2, kTxt, 0, 0},
      {"NATIONAL VARCHAR(10)", SQLT_CHR, 20, 0, 0, 2, kTxt, 0, 0},
      {"CHAR(5)", SQLT_AFC, 5, 0, 0, 1, kTxt, 0, 5},
      {"CHAR", SQLT_AFC, 1, 0, 0, 1, kTxt, 0, 1},
      {"CHAR(5 CHAR)", SQLT_AFC, 20, 0, 0, 1, kTxt, 0, 5},
      {"CHARACTER(3)", SQLT_AFC, 3, 0, 0, 1, kTxt, 0, 3},
      {"NCHAR(3)", SQLT_AFC, 6, 0, 0, 2, kTxt, 0, 3},
      {"NCHAR(3 CHAR)", SQLT_AFC, 6, 0, 0, 2, kTxt, 0, 3},
      {"NATIONAL CHARACTER(3)", SQLT_AFC, 6, 0, 0, 2, kTxt, 0, 3},
      {"CHAR VARYING(12)", SQLT_CHR, 12, 0, 0, 1, kTxt, 0, 0},
      {"NCHAR VARYING(12)", SQLT_CHR, 24, 0, 0, 2, kTxt, 0, 0},
      {"NATIONAL CHARACTER VARYING(5)", SQLT_CHR, 10, 0, 0, 2, kTxt, 0, 0},
      {"VARCHAR2(99999)", SQLT_CHR, 65535, 0, 0, 1, kTxt, 0, 0},
      // Other names by SQLite's affinity rules; a name only starts with a listed one when the
      // word ends there.
      {"BIGINT", SQLT_NUM, 22, 38, 0, 0, kNum, 0, 0},
      {"POINT", SQLT_NUM, 22, 38, 0, 0, kNum, 0, 0},
      {"MEDIUMTEXT", SQLT_CHR, 4000, 0, 0, 1, kTxt, 0, 0},
      {"NATIONAL CLOB", SQLT_CHR, 4000, 0, 0, 1, kTxt, 0, 0},
      {"BLOBISH", SQLT_BLOB, 4000, 0, 0, 0, kBin, 0, 0},
      {"DATETIME2", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
      {"DOUBLE PRECISION", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
      {"NATIONAL", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
      // Letter case and blanks do not matter; a vertical tab is no blank.
      {"  timestamp (3)   with\ttime\nzone ", SQLT_TIMESTAMP_TZ, 13, 0, 3, 0, Family::kTimestampTz,
       3, 0},
      {"NUMBER\f(5)", SQLT_NUM, 22, 5, 0, 0, kNum, 0, 0},
      {"NUMBER\r\n( 5 , 1 )", SQLT_NUM, 22, 5, 1, 0, kNum, 0, 0},
      {"NUMBER\v(5)", SQLT_NUM, 22, 0, -127, 0, kNum, 0, 0},
  };
  for (const Case& want : cases) {
    ColumnType got{};
    ASSERT_TRUE(TypeFromDeclared(want.declared, &got)) << want.declared;
    EXPECT_EQ(got.data_type, want.type) << want.declared;
    EXPECT_EQ(got.data_size, want.size) << want.declared;
    EXPECT_EQ(got.precision, want.precision) << want.declared;
    EXPECT_EQ(got.scale, want.scale) << want.declared;
    EXPECT_EQ(got.charset_form, want.form) << want.declared;
    EXPECT_EQ(got.family, want.family) << want.declared;
    EXPECT_EQ(got.fraction_digits, want.fraction_digits) << want.declared;
    EXPECT_EQ(got.char_length, want.char_length) << want.declared;
  }
  // No declared type: the value decides.
  ColumnType unused{};
  EXPECT_FALSE(TypeFromDeclared(nullptr, &unused));
  EXPECT_FALSE(TypeFromDeclared("", &unused));
  EXPECT_FALSE(TypeFromDeclared(" \t\n", &unused));
}

}  // namespace
}  // namespace rowflume::engine
