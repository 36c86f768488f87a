#include "output/field_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/number.h"
#include "job/options.h"
#include "output/output_buffer.h"
#include "support/columns.h"
#include "support/files.h"
#include "support/job.h"

namespace rowflume {
namespace {

using namespace testing_support;

// Encodes rows [0, rows) of the columns with the job's options into an output buffer of
// capacity bytes that writes to a temporary file, and returns the file's bytes. Rows end with
// the job's record separator; charset names the client's character set. The encoder's count of
// cut fixed-width fields goes to cut_fields, and the column of a value refused in an Oracle
// statement to refused_column, when given.
std::string Encode(const UnloadHandle* job, Columns& columns, int rows = 1, int capacity = 1 << 20,
                   const char* charset = "", uint64_t* cut_fields = nullptr,
                   const char** refused_column = nullptr) {
  static int serial = 0;
  std::string path = TempPath("encode_" + std::to_string(++serial) + ".out");
  OutputBuffer out;
  EXPECT_TRUE(OutputBufferInit(&out, capacity, job->crack));
  out.stream = OpenFileStream(path.c_str(), OpenMode::kTruncate);
  EXPECT_NE(out.stream, nullptr);
  FieldEncoder encoder;
  InitFieldEncoder(&encoder, job, &out, columns.head(), charset);
  for (int row = 0; row < rows; ++row) {
    for (int k = 0; k < columns.count(); ++k) EncodeField(&encoder, columns.at(k), row, k);
    Put(&out, job->record, job->record_length);
  }
  EXPECT_TRUE(WriteAllBuffered(&out));
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(CloseStream(out.stream), 0);
  OutputBufferRelease(&out);
  if (cut_fields != nullptr) *cut_fields = encoder.cut_fields;
  if (refused_column != nullptr) *refused_column = encoder.refused_column;
  return ReadFile(path);
}

TEST(FieldEncoding, CsvDoublesQuotesAndLeavesNumbersBare) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  CsvOptions(job.get());
  Columns columns;
  SetValue(columns.Text("NAME"), 0, "ab\"c");
  SetValue(columns.Number("ID"), 0, "42");
  SetNull(columns.Text("NOTE"), 0);
  EXPECT_EQ(Encode(job.get(), columns), "\"ab\"\"c\",42,\n");
}

TEST(FieldEncoding, MySqlLoadEscapesAndNull) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  job->escape = '\\';
  SetText(job->escf, nullptr, "\r\n\"'");
  SetText(job->esct, nullptr, "rn\"'");
  SetText(job->null, &job->null_length, "\\N");
  SetText(job->quote, nullptr, "\"");
  Columns columns;
  SetValue(columns.Text("A"), 0, "x\ny\\z\"q'\r");
  SetNull(columns.Text("B"), 0);
  EXPECT_EQ(Encode(job.get(), columns), "\"x\\ny\\\\z\\\"q\\'\\r\",\\N\n");
}

TEST(FieldEncoding, DoubleByteSecondByteIsNotEscaped) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  job->escape = '\\';
  Columns columns;
  // 0x81 0x5C is one GBK character; the lone backslash after it is still doubled. A lead byte
  // at the very end has no partner and is copied as it is.
  SetValue(columns.Text("A"), 0, std::string("\x81\x5C\\\xFE", 4));
  EXPECT_EQ(Encode(job.get(), columns, 1, 1 << 20, "ZHS16GBK"),
            std::string("\x81\x5C\\\\\xFE\n", 6));
  EXPECT_TRUE(IsDoubleBytePair(0x81, 0x40));
  EXPECT_TRUE(IsDoubleBytePair(0xFE, 0xFE));
  EXPECT_FALSE(IsDoubleBytePair(0x80, 0x5C));
  EXPECT_FALSE(IsDoubleBytePair(0xFF, 0x5C));
  EXPECT_FALSE(IsDoubleBytePair(0x81, 0x7F));
  EXPECT_FALSE(IsDoubleBytePair(0x81, 0x3F));
}

TEST(FieldEncoding, EscapeCountMatchesCopyAndEscapeCharWinsOverPairs) {
  EscapeTable table;
  // The escape character also listed in escf is still doubled, not replaced.
  BuildEscapeTable(&table, '\\', "\\\n", "Xn", CountEscapePairs("\\\n", "Xn"));
  std::string value = "a\\b\nc";
  char dest[32];
  int64_t written =
      CopyEscaped(dest, value.data(), static_cast<int64_t>(value.size()), table, false);
  EXPECT_EQ(std::string(dest, static_cast<size_t>(written)), "a\\\\b\\nc");
  EXPECT_EQ(CountEscapes(value.data(), static_cast<int64_t>(value.size()), table, false),
            written - static_cast<int64_t>(value.size()));
  // Pairs stop at the first position where either list ends.
  EXPECT_EQ(CountEscapePairs("abc", "xy"), 2);
  EXPECT_EQ(CountEscapePairs("", "xy"), 0);
}

// The escape count skips plain eight-byte words; it must agree with a byte-by-byte reading of
// the rules wherever escapes and double-byte characters fall relative to the words, whether
// double-byte characters are kept whole or not.
TEST(FieldEncoding, EscapeCountAgreesWithTheByteRulesAtEveryAlignment) {
  struct Setup {
    char escape;
    const char* escf;
    const char* esct;
  } setups[] = {{'"', "", ""},
                {'\\', "\r\n\"'", "rn\"'"},
                {'\\', "\xA1", "x"},
                {'\0', "", ""},
                {'?', "", ""}};
  const unsigned char alphabet[] = {'a',  'z',  '"',  '\\', '\n', '\'', 0x81,
                                    0x5C, 0xA1, 0xFE, 0x40, 0x00, '?'};
  uint32_t seed = 12345;
  for (int pass = 0; pass < 10; ++pass) {
    const Setup& setup = setups[pass / 2];
    const bool keep_pairs = pass % 2 == 1;
    EscapeTable table;
    BuildEscapeTable(&table, setup.escape, setup.escf, setup.esct,
                     CountEscapePairs(setup.escf, setup.esct));
    for (int trial = 0; trial < 3000; ++trial) {
      std::string value;
      int length = trial % 41;
      for (int k = 0; k < length; ++k) {
        seed = seed * 1103515245u + 12345u;
        // Mostly plain letters, so that whole plain words occur.
        uint32_t pick = (seed >> 16) % 40;
        value += static_cast<char>(pick < sizeof alphabet ? alphabet[pick] : 'a' + pick % 26);
      }
      int64_t expected = 0;
      std::string copy;  // what the copy must be, byte by byte
      for (size_t k = 0; k < value.size(); ++k) {
        uint8_t b = static_cast<uint8_t>(value[k]);
        if (keep_pairs && k + 1 < value.size() &&
            IsDoubleBytePair(b, static_cast<uint8_t>(value[k + 1]))) {
          copy += value.substr(k, 2);
          ++k;
          continue;
        }
        const char* listed = b != 0 ? std::strchr(setup.escf, static_cast<char>(b)) : nullptr;
        if (b == static_cast<uint8_t>(setup.escape)) {
          copy += std::string(2, setup.escape);
        } else if (listed != nullptr) {
          copy += std::string(1, setup.escape) + setup.esct[listed - setup.escf];
        } else {
          copy += value[k];
          continue;
        }
        ++expected;
      }
      const int64_t size = static_cast<int64_t>(value.size());
      ASSERT_EQ(CountEscapes(value.data(), size, table, keep_pairs), expected) << trial;
      char dest[128];
      ASSERT_EQ(CopyEscaped(dest, value.data(), size, table, keep_pairs), size + expected);
      ASSERT_EQ(std::string(dest, copy.size()), copy) << pass << " " << trial;
    }
  }
}

TEST(FieldEncoding, MySqlFormatWritesHexColumnsThroughUnhex) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  job->format = 1;
  job->escape = '\\';
  SetText(job->quote, nullptr, "'");
  SetText(job->null, &job->null_length, "null");
  Columns columns(2);
  ColumnDesc* name = columns.Text("NAME");
  ColumnDesc* when = columns.Add("WHEN", SQLT_DAT, SQLT_CHR, 19, true, false);
  SetValue(name, 0, "AB");
  SetValue(when, 0, "2013-01-02 03:04:05");
  SetNull(name, 1);
  SetNull(when, 1);
  EXPECT_EQ(Encode(job.get(), columns, 2), "unhex('4142'),'2013-01-02 03:04:05'\nnull,null\n");
}

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int k = 0; k < times; ++k) repeated += text;
  return repeated;
}

// INSERT statements: each value in a form the target reads as written, at every buffer size. For
// Oracle, whatever the session's NLS settings; for MySQL, a time with a zone as the same instant
// in UTC, as DATETIME holds no zone. A value no statement can carry is refused (an empty field,
// its column kept for the run to stop at).
TEST(FieldEncoding, StatementFormsOfValues) {
  const std::string x999(999, 'x');
  struct Case {
    const char* preset;
    int described;
    int define;
    std::string value;
    std::string field;  // empty: refused
  } cases[] = {
      {"oracleins", SQLT_DAT, SQLT_CHR, "1980-12-17 00:00:00",
       "TO_DATE('1980-12-17 00:00:00','YYYY-MM-DD HH24:MI:SS')"},
      {"oracleins", SQLT_DAT, SQLT_DAT, std::string("\x77\xb4\x0c\x11\x01\x01\x01", 7),
       "TO_DATE('1980-12-17 00:00:00','YYYY-MM-DD HH24:MI:SS')"},
      {"oracleins", SQLT_TIMESTAMP, SQLT_CHR, "2020-01-02 03:04:05.123456789",
       "TO_TIMESTAMP('2020-01-02 03:04:05.123456789','YYYY-MM-DD HH24:MI:SS.FF')"},
      {"oracleins", SQLT_TIMESTAMP, SQLT_CHR, "2020-01-02 03:04:05",
       "TO_TIMESTAMP('2020-01-02 03:04:05','YYYY-MM-DD HH24:MI:SS')"},
      {"oracleins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2020-01-02 03:04:05.5 +02:00",
       "TO_TIMESTAMP_TZ('2020-01-02 03:04:05.5 +02:00','YYYY-MM-DD HH24:MI:SS.FF TZH:TZM')"},
      {"oracleins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2020-01-02 03:04:05 -11:30",
       "TO_TIMESTAMP_TZ('2020-01-02 03:04:05 -11:30','YYYY-MM-DD HH24:MI:SS TZH:TZM')"},
      {"oracleins", SQLT_DAT, SQLT_CHR, "17-DEC-80", ""},  // a session format changed by alter=
      {"oracleins", SQLT_BIN, SQLT_BIN, std::string("A'\0\xff", 4), "HEXTORAW('412700ff')"},
      {"oracleins", SQLT_BIN, SQLT_BIN, std::string(2000, 'b'),
       "HEXTORAW('" + Repeat("62", 2000) + "')"},
      {"oracleins", SQLT_BIN, SQLT_BIN, std::string(2001, 'b'), ""},
      {"oracleins", SQLT_CHR, SQLT_CHR, "O'Hara", "'O''Hara'"},
      {"oracleins", SQLT_CHR, SQLT_CHR, x999 + "x", "'" + x999 + "x'"},
      // A piece holds at most 1000 bytes as written, and never part of a character.
      {"oracleins", SQLT_CHR, SQLT_CHR, x999 + "'", "TO_CLOB('" + x999 + "')||TO_CLOB('''')"},
      {"oracleins", SQLT_CHR, SQLT_CHR, x999 + "\xc3\xa9",
       "TO_CLOB('" + x999 + "')||TO_CLOB('\xc3\xa9')"},
      {"oracleins", SQLT_CHR, SQLT_CHR, Repeat("ab'", 700),
       "TO_CLOB('" + Repeat("ab''", 250) + "')||TO_CLOB('" + Repeat("ab''", 250) + "')||TO_CLOB('" +
           Repeat("ab''", 200) + "')"},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2020-01-01 01:04:05 +02:00",
       "'2019-12-31 23:04:05'"},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2024-02-28 23:30:00.5 -01:00",
       "'2024-02-29 00:30:00.5'"},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2100-03-01 03:04:05.123456789 +14:00",
       "'2100-02-28 13:04:05.123456789'"},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2020-01-02 03:04:05", "'2020-01-02 03:04:05'"},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "0001-01-01 00:00:00 +01:00", ""},
      {"mysqlins", SQLT_TIMESTAMP_TZ, SQLT_CHR, "2020-01-02 03:04:05 EUROPE/PARIS", ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<UnloadHandle> job = NewJob();
    ASSERT_EQ(SetOption(job.get(), (std::string("text=") + c.preset).c_str()), 1);
    for (int capacity : {kMinOutputBufferBytes, 1 << 20}) {
      Columns columns;
      SetValue(columns.Add("C", c.described, c.define, 2100, true, false), 0, c.value);
      const char* refused = nullptr;
      EXPECT_EQ(Encode(job.get(), columns, 1, capacity, "", nullptr, &refused), c.field + "\n")
          << c.value.substr(0, 40) << " at " << capacity;
      EXPECT_EQ(refused != nullptr, c.field.empty()) << c.value.substr(0, 40);
    }
  }
}

TEST(FieldEncoding, FormAlignsNamesAndSearchWrapsThem) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  SetText(job->field, &job->field_length, "\n");
  SetText(job->record, &job->record_length, "\n\n");
  SetText(job->colsep, &job->colsep_length, " : ");
  Columns columns;
  SetValue(columns.Number("ID"), 0, "7");
  SetValue(columns.Text("NAME"), 0, "Ann");
  EXPECT_EQ(Encode(job.get(), columns), "ID   : 7\nNAME : Ann\n\n");

  // A colsep that does not start with a space writes the names unpadded.
  SetText(job->colsep, &job->colsep_length, "=");
  SetText(job->field, &job->field_length, "\x01\n");
  EXPECT_EQ(Encode(job.get(), columns), "ID=7\x01\nNAME=Ann\n\n");
}

TEST(FieldEncoding, FixedLayoutCutsAndPadsWhateverTheBufferHeld) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  SetText(job->field, &job->field_length, " ");
  SetText(job->null, &job->null_length, "NUL");
  SetText(job->quote, nullptr, "\"");
  job->escape = '"';
  Columns columns(3);
  ColumnDesc* a = columns.Add("A", SQLT_CHR, SQLT_CHR, 20, true, true, 5);
  ColumnDesc* b = columns.Add("B", SQLT_CHR, SQLT_CHR, 20, true, true, 4);
  SetValue(a, 0, "ABCDEFGH");
  SetValue(b, 0, "x\"\"y");  // escaped to x""""y, cut to x"""
  SetValue(a, 1, "x");
  SetNull(b, 1);
  SetValue(a, 2, "");
  SetValue(b, 2, "\"");
  // Encode into a buffer whose unused bytes are dirty, as if an older value had been there.
  OutputBuffer out;
  ASSERT_TRUE(OutputBufferInit(&out, 4096, ""));
  std::memset(out.data, 'Z', 4096);
  FieldEncoder encoder;
  InitFieldEncoder(&encoder, job.get(), &out, columns.head(), "");
  for (int row = 0; row < 3; ++row) {
    for (int k = 0; k < 2; ++k) EncodeField(&encoder, columns.at(k), row, k);
    Put(&out, "\n", 1);
  }
  EXPECT_EQ(std::string(out.data, static_cast<size_t>(out.fill)),
            "ABCDEx\"\"\"\nx    NUL \n     \"\"  \n");
  // Each cut is counted, so that the run stops rather than keep it; the first names its column.
  EXPECT_EQ(encoder.cut_fields, 2u);
  EXPECT_STREQ(encoder.cut_column, "A");
  EXPECT_EQ(encoder.cut_width, 5);
  OutputBufferRelease(&out);
}

TEST(FieldEncoding, TranslationPairsRuleAndQuotableOnly) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  SetText(job->sedf, nullptr, "ab");
  SetText(job->sedt, nullptr, "xy");
  Columns columns;
  SetValue(columns.Text("T"), 0, "abba");
  ColumnDesc* number = columns.Number("N");
  SetValue(number, 0, "ab");  // not quotable: left alone
  EXPECT_EQ(Encode(job.get(), columns), "xyyx,ab\n");

  // Every position is a pair, an equal one included; the first pair of a byte wins.
  SetText(job->sedf, nullptr, "aq");
  SetText(job->sedt, nullptr, "ab");
  SetValue(columns.at(0), 0, "aqaq");
  EXPECT_EQ(Encode(job.get(), columns), "abab,ab\n");

  struct Case {
    const char* sedf;
    const char* sedt;
    const char* translated;  // of "abcdAClmnopqrstuv"
    bool changes;
  };
  const Case cases[] = {
      {"AC", "Ax", "abcdAxlmnopqrstuv", true},
      {"ab", "ba", "bacdAClmnopqrstuv", true},  // one pass: swapped, not chained
      {"aab", "xyz", "xzcdAClmnopqrstuv", true},
      {"aA", "aA", "abcdAClmnopqrstuv", false},
      {"lmnopqrstuv", "LMNOPQRSTUV", "abcdACLMNOPQRSTUV", true},  // past ten pairs
  };
  for (const Case& c : cases) {
    TranslateTable table;
    EXPECT_EQ(BuildTranslateTable(&table, c.sedf, c.sedt), c.changes) << c.sedf;
    std::string value = "abcdAClmnopqrstuv";
    TranslateChars(value.data(), static_cast<int64_t>(value.size()), table);
    EXPECT_EQ(value, c.translated) << c.sedf;
  }
}

TEST(FieldEncoding, LongValueOfLength92IsEscapedLikeText) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  job->escape = '\\';
  SetText(job->quote, nullptr, "\"");
  std::string value(92, 'a');
  value[10] = '\\';
  value[50] = '\\';
  Columns as_long;
  SetLongValue(as_long.Long("L", 4 + 200), 0, value);
  Columns as_text;
  SetValue(as_text.Text("L", 200), 0, value);
  std::string long_out = Encode(job.get(), as_long);
  EXPECT_EQ(long_out, Encode(job.get(), as_text));
  EXPECT_EQ(long_out.size(), 92u + 2 + 2 + 1);
}

TEST(FieldEncoding, InlineLobValuesAreEscapedLikeLongValues) {
  // CSV: a CLOB fetched inline with a quote inside must stay one field when read back.
  std::unique_ptr<UnloadHandle> job = NewJob();
  ASSERT_EQ(SetOption(job.get(), "text=csv"), 1);
  job->head = 0;
  Columns clob;
  SetLongValue(clob.Add("DOC", SQLT_CLOB, SQLT_LVC, 4 + 100, true, true), 0, "say \"hi\"");
  EXPECT_EQ(Encode(job.get(), clob), "\"say \"\"hi\"\"\"\n");
  Columns blob;
  SetLongValue(blob.Add("BIN", SQLT_BLOB, SQLT_LVB, 4 + 100, true, true), 0, "a\"b");
  EXPECT_EQ(Encode(job.get(), blob), "\"a\"\"b\"\n");
}

// Oracle NUMBER bytes made independently from a sign, base-100 exponent and digit pairs.
std::vector<uint8_t> OracleNumber(bool negative, int exponent, const std::vector<int>& pairs) {
  std::vector<uint8_t> bytes;
  if (!negative) {
    bytes.push_back(static_cast<uint8_t>(192 + exponent));
    for (int pair : pairs) bytes.push_back(static_cast<uint8_t>(pair + 1));
  } else {
    bytes.push_back(static_cast<uint8_t>(63 - exponent));
    for (int pair : pairs) bytes.push_back(static_cast<uint8_t>(101 - pair));
    if (pairs.size() < 20) bytes.push_back(102);
  }
  return bytes;
}

std::string FormatNumber(const std::vector<uint8_t>& bytes) {
  char text[kNumberTextBytes];
  int n = FormatOracleNumber(text, bytes.data(), static_cast<int>(bytes.size()));
  return std::string(text, static_cast<size_t>(n));
}

TEST(FieldEncoding, FormatOracleNumberWritesWholePairs) {
  EXPECT_EQ(FormatNumber({0x80}), "0");
  EXPECT_EQ(FormatNumber({}), "");
  EXPECT_EQ(FormatNumber(OracleNumber(false, 1, {12, 50})), "12.50");
  EXPECT_EQ(FormatNumber(OracleNumber(false, 0, {50})), "0.50");
  EXPECT_EQ(FormatNumber(OracleNumber(false, 0, {5})), "0.05");
  EXPECT_EQ(FormatNumber(OracleNumber(true, 0, {5})), "-0.05");
  EXPECT_EQ(FormatNumber(OracleNumber(false, 2, {1})), "100");
  EXPECT_EQ(FormatNumber(OracleNumber(true, 1, {5})), "-5");
  EXPECT_EQ(FormatNumber(OracleNumber(false, -1, {10})), "0.0010");
  EXPECT_EQ(FormatNumber(OracleNumber(true, 2, {12, 34, 56, 78})), "-1234.5678");
  EXPECT_EQ(FormatNumber(OracleNumber(false, 5, {1, 2})), "102000000");
  // A negative number of 20 mantissa bytes has no terminator.
  std::vector<int> twenty(20, 99);
  std::string nines = FormatNumber(OracleNumber(true, 20, twenty));
  std::string expected_nines(41, '9');
  expected_nines[0] = '-';
  EXPECT_EQ(nines, expected_nines);
  // The most extreme exponents stay inside the scratch area.
  EXPECT_LT(FormatNumber(OracleNumber(true, -64, twenty)).size(), size_t{kNumberTextBytes});
  // The exponent byte of values from 1E-130 to 1E-128 is 0x80, the byte of zero.
  const std::string zeros(128, '0');
  EXPECT_EQ(FormatNumber({0x80, 2}), "0." + zeros + "01");
  EXPECT_EQ(FormatNumber(OracleNumber(false, -64, {10})), "0." + zeros + "10");
  EXPECT_EQ(FormatNumber(OracleNumber(false, -64, {99, 1})), "0." + zeros + "9901");
  EXPECT_EQ(FormatNumber(OracleNumber(true, -64, {1})), "-0." + zeros + "01");
}

// The longest text of each NUMBER(p,s) is the one of its value of p nines at scale s, in the
// server's positional form and in the client form written here; every other value is shorter.
TEST(FieldEncoding, LongestNumberTextsOfEveryPrecisionAndScale) {
  std::mt19937 random(2024);
  char text[kNumberTextBytes];
  char positional[engine::kNumberTextMax];
  uint8_t bytes[engine::kNumberBytesMax];
  auto texts = [&](const engine::Decimal& value, size_t* server, int* client) {
    *server = engine::FormatDecimal(value, positional);
    const size_t length = engine::EncodeNumber(value, bytes);
    ASSERT_GT(length, 0u);
    *client = FormatOracleNumber(text, bytes, static_cast<int>(length));
  };
  for (int precision = 1; precision <= 38; ++precision) {
    for (int scale = -84; scale <= 127; ++scale) {
      SCOPED_TRACE("NUMBER(" + std::to_string(precision) + "," + std::to_string(scale) + ")");
      engine::Decimal nines{};
      nines.negative = true;
      nines.ndigits = precision;
      nines.exp10 = precision - scale;
      std::fill(nines.digits, nines.digits + precision, 9);
      size_t server = 0;
      int client = 0;
      ASSERT_NO_FATAL_FAILURE(texts(nines, &server, &client));
      ASSERT_EQ(static_cast<int32_t>(server), LongestNumberText(precision, scale));
      ASSERT_EQ(client, LongestClientNumberText(precision, scale));
      // Another value of the type: its digits between the scale's last place and the
      // precision's first, of either sign.
      engine::Decimal some{};
      some.negative = random() % 2 == 0;
      some.ndigits = 1 + static_cast<int>(random() % static_cast<unsigned>(precision));
      some.exp10 = some.ndigits - scale +
                   static_cast<int>(random() % static_cast<unsigned>(precision - some.ndigits + 1));
      for (int k = 0; k < some.ndigits; ++k)
        some.digits[k] = static_cast<uint8_t>(1 + random() % 9);
      ASSERT_NO_FATAL_FAILURE(texts(some, &server, &client));
      EXPECT_LE(static_cast<int32_t>(server), LongestNumberText(precision, scale));
      EXPECT_LE(client, LongestClientNumberText(precision, scale));
    }
  }
  // Without a precision the extremes are the largest integers and the negatives of 40 digits
  // (39 from an odd power of ten) nearest -1E-130; FLOAT spans the same magnitudes.
  struct Extreme {
    std::string value;
    size_t server;
    int client;
  } extremes[] = {
      {"-" + std::string(40, '9') + "e86", 127, 127},
      {"-." + std::string(128, '0') + std::string(40, '9'), 170, 171},
      {"-." + std::string(129, '0') + std::string(39, '9'), 170, 171},
  };
  for (const Extreme& want : extremes) {
    engine::Decimal value{};
    ASSERT_TRUE(engine::ParseDecimal(want.value.data(), want.value.size(), &value));
    size_t server = 0;
    int client = 0;
    ASSERT_NO_FATAL_FAILURE(texts(value, &server, &client));
    EXPECT_EQ(server, want.server) << want.value;
    EXPECT_EQ(client, want.client) << want.value;
    EXPECT_LE(static_cast<int32_t>(server), LongestNumberText(0, -127));
    EXPECT_LE(client, LongestClientNumberText(126, -127));
  }
}

TEST(FieldEncoding, FormatOracleNumberAgreesWithAnIndependentDecoder) {
  std::mt19937 random(12345);
  for (int trial = 0; trial < 2000; ++trial) {
    bool negative = random() % 2 == 0;
    int exponent = static_cast<int>(random() % 20) - 8;
    int count = 1 + static_cast<int>(random() % 8);
    std::vector<int> pairs;
    for (int k = 0; k < count; ++k) pairs.push_back(static_cast<int>(random() % 100));
    if (pairs[0] == 0) pairs[0] = 1;  // normalised: the first pair is never 0
    long double expected = 0;
    for (int k = 0; k < count; ++k) {
      expected += pairs[static_cast<size_t>(k)] * std::pow(100.0L, exponent - 1 - k);
    }
    if (negative) expected = -expected;
    std::string text = FormatNumber(OracleNumber(negative, exponent, pairs));
    long double parsed = std::strtold(text.c_str(), nullptr);
    ASSERT_NEAR(static_cast<double>(parsed / expected), 1.0, 1e-12) << text;
    // Fractions come in whole pairs; integers carry no point.
    size_t point = text.find('.');
    if (point != std::string::npos) {
      EXPECT_EQ((text.size() - point - 1) % 2, 0u) << text;
    }
    EXPECT_EQ(point == std::string::npos, exponent >= count) << text;
  }
}

TEST(FieldEncoding, FormatOracleDate) {
  const uint8_t date[7] = {120, 113, 1, 2, 4, 5, 6};
  char text[kDateTextBytes];
  ASSERT_EQ(FormatOracleDate(text, date, 7), 19);
  EXPECT_EQ(std::string(text, 19), "2013-01-02 03:04:05");
  EXPECT_EQ(FormatOracleDate(text, date, 6), 0);
  const uint8_t midnight[7] = {119, 199, 12, 31, 1, 1, 1};
  ASSERT_EQ(FormatOracleDate(text, midnight, 7), 19);
  EXPECT_EQ(std::string(text, 19), "1999-12-31 00:00:00");
}

TEST(FieldEncoding, ClientConvertedNumbersAndDatesInFixedLayout) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  SetText(job->field, &job->field_length, " ");
  Columns columns;
  ColumnDesc* n = columns.Add("N", SQLT_NUM, SQLT_NUM, 21, false, false, 8);
  ColumnDesc* d = columns.Add("D", SQLT_DAT, SQLT_DAT, 7, true, false, 19);
  SetBytes(n, 0, OracleNumber(false, 1, {12, 50}));
  SetBytes(d, 0, {120, 113, 1, 2, 4, 5, 6});
  EXPECT_EQ(Encode(job.get(), columns), "12.50   2013-01-02 03:04:05\n");
  // Bytes whose text outruns the field are cut to it, and counted: the date stays where the
  // record puts it. A small buffer sends the field to the general path, a large one to the quick.
  SetBytes(n, 0, OracleNumber(true, 0, {12, 34, 56, 78, 90}));
  for (int capacity : {64, 1 << 20}) {
    uint64_t cuts = 0;
    EXPECT_EQ(Encode(job.get(), columns, 1, capacity, "", &cuts), "-0.123452013-01-02 03:04:05\n");
    EXPECT_EQ(cuts, 1u) << capacity;
  }
}

int NameLobFile(void* context, ColumnDesc*, int row_idx, uint64_t row_number, int position,
                char* name, int capacity) {
  if (*static_cast<bool*>(context)) return -1;  // the write failed
  return std::snprintf(name, static_cast<size_t>(capacity), "LOB%04x/%08x_%04x.dat",
                       static_cast<unsigned>(row_number % 8),
                       static_cast<unsigned>(row_number + static_cast<uint64_t>(row_idx)),
                       static_cast<unsigned>(position));
}

TEST(FieldEncoding, LobLocatorFieldsNameTheirFiles) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  SetText(job->quote, nullptr, "\"");
  Columns columns;
  SetValue(columns.Number("ID"), 0, "1");
  ColumnDesc* lob = columns.Add("DOC", SQLT_BLOB, SQLT_BLOB, 8, true, false);
  lob->indicators[0] = 0;
  // No writer wired in, or a failed write: an empty field, 30 spaces in the fixed layout.
  EXPECT_EQ(Encode(job.get(), columns), "1,\"\"\n");

  OutputBuffer out;
  ASSERT_TRUE(OutputBufferInit(&out, 4096, ""));
  FieldEncoder encoder;
  bool fail = false;
  for (const char* field : {",", " "}) {
    SetText(job->field, &job->field_length, field);
    InitFieldEncoder(&encoder, job.get(), &out, columns.head(), "");
    encoder.lob_writer = NameLobFile;
    encoder.lob_context = &fail;
    encoder.row_number = 9;
    for (bool failing : {false, true}) {
      fail = failing;
      EncodeField(&encoder, lob, 0, 3);
      Put(&out, "|", 1);
    }
  }
  std::string name = "LOB0001/00000009_0003.dat";
  std::string padded = name + std::string(kLobNameWidth - name.size(), ' ');
  EXPECT_EQ(std::string(out.data, static_cast<size_t>(out.fill)),
            ",\"" + name + "\"|,\"\"|" + padded + "|" + std::string(kLobNameWidth, ' ') + "|");
  OutputBufferRelease(&out);
}

// Values far larger than the buffer are written in parts: a tiny buffer gives the same bytes
// as a large one, and nothing is written past the buffer (checked under ASan).
TEST(FieldEncoding, HugeValuesNeverOverrunTheBuffer) {
  std::unique_ptr<UnloadHandle> job = NewJob();
  job->escape = '\\';
  std::string quote(40, 'q');
  SetText(job->quote, nullptr, quote);
  Columns columns(1);
  const int big = 2 * 1024 * 1024;
  ColumnDesc* escaped = columns.Long("E", 4 + big);
  SetLongValue(escaped, 0, std::string(static_cast<size_t>(big), '\\'));
  std::string expected_field = quote + std::string(2 * static_cast<size_t>(big), '\\') + quote;
  std::string small = Encode(job.get(), columns, 1, 64);
  EXPECT_EQ(small, expected_field + "\n");
  EXPECT_EQ(small, Encode(job.get(), columns, 1, kOutputBufferBytes));

  // A 40-byte quote around a hex-written value, with a buffer smaller than the quotes.
  job->format = 1;
  Columns hex_columns(1);
  SetValue(hex_columns.Text("H", 300), 0, std::string(300, '\xAB'));
  std::string hex_out = Encode(job.get(), hex_columns, 1, 64);
  std::string digits;
  for (int k = 0; k < 300; ++k) digits += "ab";
  EXPECT_EQ(hex_out, "unhex(" + quote + digits + quote + ")\n");
}

// The word-at-a-time copies read only inside the value's slot (the value sits in a heap block of
// exactly the readable bytes, checked under ASan; the slot's bytes past the value are the
// escaped byte, which must not show), write only inside their stated room, and write what the
// byte-wise copy writes: every length around the word edges, the escaped byte at every position.
TEST(FieldEncoding, WordCopiesAgreeWithTheByteCopyAndStayInTheirRoom) {
  for (const char escape : {'"', '\''}) {
    EscapeTable table;
    BuildEscapeTable(&table, escape, "", "", 0);
    ASSERT_EQ(table.lone_byte, escape);
    for (int64_t length = 0; length <= 70; ++length) {
      // -1: no escaped byte; length: all of them; 2 * length: every third one.
      for (int64_t at = -1; at <= 2 * length; ++at) {
        if (at > length && at < 2 * length) continue;
        for (const int64_t readable : {length, length + 8}) {
          std::unique_ptr<char[]> slot(new char[static_cast<size_t>(readable) + 1]);
          std::string value;
          for (int64_t k = 0; k < length; ++k) {
            const bool hit = at == length || (at == 2 * length && k % 3 == 0) || k == at;
            value += hit ? escape : static_cast<char>('a' + k % 26);
          }
          std::memcpy(slot.get(), value.data(), value.size());
          std::memset(slot.get() + length, escape, static_cast<size_t>(readable - length));
          std::string expected;
          for (char b : value) expected += b == escape ? std::string(2, escape) : std::string(1, b);

          const size_t room = 2 * static_cast<size_t>(length) + 8;
          std::string dest(room + 16, '#');
          const int64_t written = CopyLoneEscaped(dest.data(), slot.get(), length, readable, table);
          ASSERT_EQ(dest.substr(0, static_cast<size_t>(written)), expected)
              << length << " " << at << " " << readable;
          ASSERT_EQ(dest.substr(room), std::string(16, '#')) << length << " " << at;

          std::string plain(static_cast<size_t>(length) + 8 + 16, '#');
          CopyValueWords(plain.data(), slot.get(), length, readable);
          ASSERT_EQ(plain.substr(0, static_cast<size_t>(length)), value) << length;
          ASSERT_EQ(plain.substr(static_cast<size_t>(length) + 8), std::string(16, '#'));
        }
      }
    }
  }
}

// The quick paths write a field only where it fits without a flush and hand the rest to the
// general path: whatever the buffer size, so wherever the flushes fall within a row, the bytes
// are those of an independent encoding. Per layout: CSV text and numbers, MySQL hex text, and
// numbers and dates converted here.
TEST(FieldEncoding, QuickPathsAgreeWithAnIndependentEncodingAtEveryBufferSize) {
  enum Layout { kCsv, kMySqlHex, kConverted };
  for (const Layout layout : {kCsv, kMySqlHex, kConverted}) {
    std::unique_ptr<UnloadHandle> job = NewJob();
    if (layout == kMySqlHex) {
      ASSERT_EQ(SetOption(job.get(), "text=mysqlins"), 1);
    } else {
      CsvOptions(job.get());
    }
    const int rows = 160;
    Columns columns(rows);
    ColumnDesc* text = columns.Text("T", 70);
    ColumnDesc* number = layout == kConverted
                             ? columns.Add("N", SQLT_NUM, SQLT_NUM, 22, false, false)
                             : columns.Number("N", 5);
    ColumnDesc* date = layout == kConverted ? columns.Add("D", SQLT_DAT, SQLT_DAT, 7, true, false)
                                            : columns.Add("D", SQLT_DAT, SQLT_CHR, 19, true, false);
    ColumnDesc* small = columns.Text("S", 3);  // a slot narrower than a word
    std::string expected;
    for (int row = 0; row < rows; ++row) {
      // Every byte value somewhere, and quotes near the ends of the words.
      const int length = row % 71;
      std::string value;
      for (int k = 0; k < length; ++k) {
        value += k == length - 1 - row % 9 ? '"' : static_cast<char>((row * 31 + k * 7 + 1) % 256);
      }
      const std::string short_value = value.substr(0, static_cast<size_t>(row % 4));
      std::string fields[4];
      if (row % 10 == 3) {
        SetNull(text, row);
        SetNull(small, row);
        fields[0] = fields[3] = layout == kMySqlHex ? "null" : "";
      } else {
        SetValue(text, row, value);
        SetValue(small, row, short_value);
        for (int k : {0, 3}) {
          const std::string& v = k == 0 ? value : short_value;
          std::string out;
          if (layout == kMySqlHex) {
            out = "unhex('";
            for (char b : v) {
              char two[3];
              std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(b));
              out += two;
            }
            out += "')";
          } else {
            out = "\"";
            for (char b : v) out += b == '"' ? std::string("\"\"") : std::string(1, b);
            out += "\"";
          }
          fields[k] = out;
        }
      }
      char when[20];
      std::snprintf(when, sizeof when, "2013-01-02 03:04:%02d", row % 60);
      const char* quote = layout == kMySqlHex ? "'" : "\"";
      fields[2] = quote + std::string(when) + quote;
      if (layout == kConverted) {
        SetBytes(number, row, OracleNumber(row % 2 == 1, 2, {row % 99 + 1, 5}));
        fields[1] = std::string(row % 2 == 1 ? "-" : "") + std::to_string(row % 99 + 1) + "05";
        SetBytes(date, row, {120, 113, 1, 2, 4, 5, static_cast<uint8_t>(1 + row % 60)});
      } else {
        SetValue(number, row, std::to_string(row));
        SetValue(date, row, when);
        fields[1] = std::to_string(row);
      }
      expected += fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3] + "\n";
    }
    for (int capacity : {64, 65, 71, 100, 127, 200, 1 << 20}) {
      ASSERT_EQ(Encode(job.get(), columns, rows, capacity), expected)
          << "layout " << layout << ", buffer of " << capacity;
    }
  }
}

// The colsep and fixed layouts take quick paths of their own, per field (EncodeField) and per
// row (EncodeRow, as the unload loop calls it): at every buffer size, so with flushes anywhere
// in a row, their bytes are those of an independent encoding. Values run from empty to past the
// display width, with quotes to escape, NULLs, a short name padded to the longest, and numbers
// and dates converted here. Each fixed field cut to its width is counted, whichever path wrote it.
TEST(FieldEncoding, ColsepAndFixedLayoutsAgreeWithAnIndependentEncodingAtEveryBufferSize) {
  enum Layout { kForm, kSearch, kFixed };
  for (const Layout layout : {kForm, kSearch, kFixed}) {
    std::unique_ptr<UnloadHandle> job = NewJob();
    const char* field = layout == kForm ? "\n" : (layout == kSearch ? "\x01\n" : " ");
    SetText(job->field, &job->field_length, field);
    SetText(job->record, &job->record_length, "\n\n");
    SetText(job->colsep, &job->colsep_length, layout == kForm ? " : " : "=");
    if (layout == kFixed) job->colsep_length = 0;
    SetText(job->null, &job->null_length, layout == kSearch ? "" : "NUL");
    if (layout == kForm) {
      SetText(job->quote, nullptr, "\"");
      job->escape = '"';
    }
    const int rows = 120;
    Columns columns(rows);
    ColumnDesc* text = columns.Add("TEXT_VALUE", SQLT_CHR, SQLT_CHR, 70, true, true, 37);
    ColumnDesc* number = columns.Add("N", SQLT_NUM, SQLT_NUM, 22, false, false, 6);
    ColumnDesc* date = columns.Add("WHEN", SQLT_DAT, SQLT_DAT, 7, true, false, 19);
    ColumnDesc* small = columns.Add("S", SQLT_CHR, SQLT_CHR, 3, true, true, 2);
    ColumnDesc* const row_columns[] = {text, number, date, small};
    const char* names[] = {"TEXT_VALUE", "N", "WHEN", "S"};
    const int displays[] = {37, 6, 19, 2};
    std::string expected;
    uint64_t cuts = 0;  // fixed fields whose value or NULL text is longer than the field
    for (int row = 0; row < rows; ++row) {
      const int length = row % 71;
      std::string value;
      for (int k = 0; k < length; ++k) {
        value += k == length - 1 - row % 9 ? '"' : static_cast<char>('a' + (row * 31 + k) % 26);
      }
      const bool null = row % 10 == 3;
      std::string values[4];
      if (null) {
        SetNull(text, row);
        SetNull(small, row);
      } else {
        SetValue(text, row, value);
        SetValue(small, row, value.substr(0, static_cast<size_t>(row % 4)));
        for (int k : {0, 3}) {
          const std::string v = k == 0 ? value : value.substr(0, static_cast<size_t>(row % 4));
          values[k] = v;
          if (layout == kForm) {
            values[k] = "\"";
            for (char b : v) values[k] += b == '"' ? std::string("\"\"") : std::string(1, b);
            values[k] += "\"";
          }
        }
      }
      SetBytes(number, row, OracleNumber(row % 2 == 1, 2, {row % 99 + 1, 5}));
      values[1] = std::string(row % 2 == 1 ? "-" : "") + std::to_string(row % 99 + 1) + "05";
      SetBytes(date, row, {120, 113, 1, 2, 4, 5, static_cast<uint8_t>(1 + row % 60)});
      char when[20];
      std::snprintf(when, sizeof when, "2013-01-02 03:04:%02d", row % 60);
      values[2] = when;
      if (layout == kForm) values[2] = "\"" + values[2] + "\"";
      for (int k = 0; k < 4; ++k) {
        std::string v = null && (k == 0 || k == 3) ? std::string(job->null) : values[k];
        if (layout == kFixed) {
          if (v.size() > static_cast<size_t>(displays[k])) ++cuts;
          v.resize(static_cast<size_t>(displays[k]), ' ');
          expected += v;
          continue;
        }
        if (k > 0) expected += field;
        expected += names[k];
        if (layout == kForm) expected += std::string(10 - std::strlen(names[k]), ' ') + " : ";
        if (layout == kSearch) expected += "=";
        expected += v;
      }
      expected += "\n\n";
    }
    // Past 200 bytes the quick paths take some fields and leave others.
    for (int capacity : {64, 65, 71, 100, 127, 200, 257, 300, 511, 1000, 1 << 20}) {
      uint64_t counted = 0;
      ASSERT_EQ(Encode(job.get(), columns, rows, capacity, "", &counted), expected)
          << "layout " << layout << ", buffer of " << capacity;
      EXPECT_EQ(counted, cuts) << "layout " << layout << ", buffer of " << capacity;
      std::string path = TempPath("layout_rows.out");
      OutputBuffer out;
      ASSERT_TRUE(OutputBufferInit(&out, capacity, job->crack));
      out.stream = OpenFileStream(path.c_str(), OpenMode::kTruncate);
      ASSERT_NE(out.stream, nullptr);
      FieldEncoder encoder;
      InitFieldEncoder(&encoder, job.get(), &out, columns.head(), "");
      for (int row = 0; row < rows; ++row) {
        EncodeRow(&encoder, row_columns, 4, row);
        Put(&out, job->record, job->record_length);
      }
      EXPECT_TRUE(WriteAllBuffered(&out));
      EXPECT_EQ(CloseStream(out.stream), 0);
      OutputBufferRelease(&out);
      ASSERT_EQ(ReadFile(path), expected)
          << "rows of layout " << layout << ", buffer of " << capacity;
      EXPECT_EQ(encoder.cut_fields, cuts);
      // The first cut is row 3's NULL text, one byte over the field of S.
      if (cuts > 0) {
        EXPECT_STREQ(encoder.cut_column, "S");
        EXPECT_EQ(encoder.cut_width, 2);
      }
    }
  }
}

}  // namespace
}  // namespace rowflume
