// Array fetch of the embedded engine: batches, NULLs, truncation, external types, number and
// date forms, session formats and binds.
#include <cstdlib>
#include <cstring>

#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

std::string Numbers(int count) {
  return "CREATE TABLE seq(n INTEGER, s VARCHAR2(10));"
         "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
         std::to_string(count) + ") INSERT INTO seq SELECT x, 'r' || x FROM c;";
}

struct BatchResult {
  sword status;
  ub4 fetched;
  ub4 total;
};

// Fetches everything in batches of `batch` rows, checking that the values run on unbroken.
std::vector<BatchResult> FetchAll(Connection& conn, ub4 batch) {
  std::vector<BatchResult> results;
  OCIStmt* stmt = conn.Query("select n, s from seq order by n");
  if (stmt == nullptr) return results;
  std::vector<ub4> numbers(batch);
  std::vector<char> texts(batch * 12);
  std::vector<ub2> lengths(batch);
  OCIDefine* defs[2] = {};
  conn.api->DefineByPos(stmt, &defs[0], conn.err, 1, numbers.data(), 4, SQLT_UIN, nullptr, nullptr,
                        nullptr, OCI_DEFAULT);
  conn.api->DefineByPos(stmt, &defs[1], conn.err, 2, texts.data(), 12, SQLT_CHR, nullptr,
                        lengths.data(), nullptr, OCI_DEFAULT);
  ub4 expected = 1;
  for (int guard = 0; guard < 1000; ++guard) {
    sword status = conn.api->StmtFetch(stmt, conn.err, batch, OCI_FETCH_NEXT, OCI_DEFAULT);
    if (status == OCI_NO_DATA) {
      EXPECT_EQ(conn.ErrorText(), "ORA-01403: no data found\n");
    }
    BatchResult result{status, conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED),
                       conn.StmtAttr(stmt, OCI_ATTR_ROW_COUNT)};
    results.push_back(result);
    for (ub4 row = 0; row < result.fetched; ++row, ++expected) {
      EXPECT_EQ(numbers[row], expected);
      EXPECT_EQ(std::string(&texts[row * 12], lengths[row]), "r" + std::to_string(expected));
    }
    if (status != OCI_SUCCESS) break;
  }
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  return results;
}

TEST(EngineFetch, BatchesAcrossBoundaries) {
  std::string path = MakeDatabase("batches", Numbers(2500));
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  std::vector<BatchResult> got = FetchAll(conn, 1000);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].status, OCI_SUCCESS);
  EXPECT_EQ(got[0].total, 1000u);
  EXPECT_EQ(got[1].status, OCI_SUCCESS);
  EXPECT_EQ(got[1].total, 2000u);
  EXPECT_EQ(got[2].status, OCI_NO_DATA);
  EXPECT_EQ(got[2].fetched, 500u);
  EXPECT_EQ(got[2].total, 2500u);

  got = FetchAll(conn, 2000);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].status, OCI_NO_DATA);
  EXPECT_EQ(got[1].fetched, 500u);

  // The test hook starts the cumulative count 3 below 2^32: it wraps as a client's does, while
  // the rows of each fetch stay right.
  SetEnvironment("ROWFLUME_ENGINE_ROW_COUNT_START", "4294967293");
  got = FetchAll(conn, 1000);
  UnsetEnvironment("ROWFLUME_ENGINE_ROW_COUNT_START");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].total, 997u);
  EXPECT_EQ(got[2].fetched, 500u);
  EXPECT_EQ(got[2].total, 2497u);
}

TEST(EngineFetch, ExactMultipleEndsWithAnEmptyNoData) {
  std::string path = MakeDatabase("multiple", Numbers(200));
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  std::vector<BatchResult> got = FetchAll(conn, 100);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].status, OCI_SUCCESS);
  EXPECT_EQ(got[2].status, OCI_NO_DATA);
  EXPECT_EQ(got[2].fetched, 0u);
  EXPECT_EQ(got[2].total, 200u);
  got = FetchAll(conn, 1);
  EXPECT_EQ(got.size(), 201u);
}

TEST(EngineFetch, NullsTruncationAndTheirCodes) {
  std::string path = MakeDatabase("nulls",
                                  "CREATE TABLE t(id INTEGER, v VARCHAR2(20));"
                                  "INSERT INTO t VALUES (1, 'abcdefghij'), (2, NULL), (3, 'xy');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select v, v from t order by id");
  ASSERT_NE(stmt, nullptr);
  char chr[3][4];
  char str[3][4];
  sb2 ind[2][3];
  ub2 len[2][3];
  ub2 code[2][3];
  std::memset(chr, '#', sizeof chr);
  OCIDefine* defs[2] = {};
  ASSERT_EQ(conn.api->DefineByPos(stmt, &defs[0], conn.err, 1, chr, 4, SQLT_CHR, ind[0], len[0],
                                  code[0], OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(conn.api->DefineByPos(stmt, &defs[1], conn.err, 2, str, 4, SQLT_STR, ind[1], len[1],
                                  code[1], OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT),
            OCI_SUCCESS_WITH_INFO);
  EXPECT_EQ(conn.ErrorText(), "ORA-24345: A Truncation or null fetch error occurred\n");
  EXPECT_EQ(conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED), 3u);
  // Row 1 truncated: the bytes that fit, the full length in the indicator, code 1406.
  EXPECT_EQ(std::string(chr[0], 4), "abcd");
  EXPECT_EQ(len[0][0], 4);
  EXPECT_EQ(ind[0][0], 10);
  EXPECT_EQ(code[0][0], 1406);
  EXPECT_STREQ(str[0], "abc");
  EXPECT_EQ(ind[1][0], 10);
  EXPECT_EQ(code[1][0], 1406);
  // Row 2 NULL.
  EXPECT_EQ(ind[0][1], -1);
  EXPECT_EQ(len[0][1], 0);
  EXPECT_EQ(ind[1][1], -1);
  // Row 3 fits.
  EXPECT_EQ(std::string(chr[2], len[0][2]), "xy");
  EXPECT_EQ(chr[2][2], '#');
  EXPECT_EQ(ind[0][2], 0);
  EXPECT_EQ(code[0][2], 0);
  EXPECT_STREQ(str[2], "xy");
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // A NULL without an indicator array is an error.
  stmt = conn.Query("select v from t order by id");
  ASSERT_NE(stmt, nullptr);
  char wide[3][20];
  OCIDefine* def = nullptr;
  conn.api->DefineByPos(stmt, &def, conn.err, 1, wide, 20, SQLT_CHR, nullptr, nullptr, nullptr,
                        OCI_DEFAULT);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  sb4 number = 0;
  EXPECT_EQ(conn.ErrorText(&number), "ORA-01405: fetched column value is NULL\n");
  EXPECT_EQ(number, 1405);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineFetch, LengthPrefixedAndRawValues) {
  std::string path = MakeDatabase("long",
                                  "CREATE TABLE t(l LONG, r RAW(8), b BLOB);"
                                  "INSERT INTO t VALUES ('long text', 'abc', x'00ff10');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select l, r, b, b from t");
  ASSERT_NE(stmt, nullptr);
  char lvc[64];
  char raw[8];
  char lvb[16];
  char hex[16];
  ub2 raw_len = 0;
  ub2 hex_len = 0;
  OCIDefine* defs[4] = {};
  conn.api->DefineByPos(stmt, &defs[0], conn.err, 1, lvc, sizeof lvc, SQLT_LVC, nullptr, nullptr,
                        nullptr, OCI_DEFAULT);
  conn.api->DefineByPos(stmt, &defs[1], conn.err, 2, raw, sizeof raw, SQLT_BIN, nullptr, &raw_len,
                        nullptr, OCI_DEFAULT);
  conn.api->DefineByPos(stmt, &defs[2], conn.err, 3, lvb, sizeof lvb, SQLT_LVB, nullptr, nullptr,
                        nullptr, OCI_DEFAULT);
  conn.api->DefineByPos(stmt, &defs[3], conn.err, 4, hex, sizeof hex, SQLT_CHR, nullptr, &hex_len,
                        nullptr, OCI_DEFAULT);
  ASSERT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  ub4 prefix = 0;
  std::memcpy(&prefix, lvc, 4);
  EXPECT_EQ(prefix, 9u);
  EXPECT_EQ(std::string(lvc + 4, prefix), "long text");
  EXPECT_EQ(std::string(raw, raw_len), "abc");  // text in a RAW column is its bytes
  std::memcpy(&prefix, lvb, 4);
  EXPECT_EQ(std::string(lvb + 4, prefix), std::string("\x00\xff\x10", 3));
  EXPECT_EQ(std::string(hex, hex_len), "00FF10");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineFetch, NumbersInOracleDefaultText) {
  // SQLite turns number-like text in a NUMBER column into INTEGER or REAL (keeping 15 digits);
  // a column declared 'NUMBER AS TEXT' keeps the decimal text with all its digits.
  std::string path = MakeDatabase(
      "numtext",
      "CREATE TABLE t(id INTEGER, n NUMBER);"
      "INSERT INTO t VALUES (1, 0), (2, 0.5), (3, -0.05), (4, 12.5), (5, '12.50'), (6, 100),"
      "(7, 1e40), (8, '1E-130'), (9, -123433), (10, 9223372036854775807),"
      "(11, -9223372036854775808), (12, 0.1), (13, 1e-5), (14, 1.2345678901234568e20),"
      "(15, ' -007.50 '), (16, 'n/a'), (17, 1.0), (18, 1.0/3), (19, 4.9e-324), (20, -1.5e300);"
      "CREATE TABLE x(id INTEGER, n 'NUMBER AS TEXT');"
      "INSERT INTO x VALUES (1, '1E40'),"
      "(2, '0.33333333333333333333333333333333333333333333333333'), (3, '123.4500'),"
      "(4, '0.66666666666666666666666666666666666666666666666'),"
      "(5, '3.33333333333333333333333333333333333333333333'), (6, '-0'), (7, '-000.0500'),"
      "(8, '99999999999999999999999999999999999999999.5'), (9, '+12E-3'), (10, '1E999'),"
      "(11, '1E-999');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  std::vector<std::string> want = {
      "0",
      ".5",
      "-.05",
      "12.5",
      "12.5",
      "100",
      "10000000000000000000000000000000000000000",
      "." + std::string(129, '0') + "1",
      "-123433",
      "9223372036854775807",
      "-9223372036854775808",
      ".1",
      ".00001",
      "123456789012345680000",
      "-7.5",
      "n/a",  // text that is no number passes unchanged
      "1",
      ".3333333333333333",  // a double prints its shortest round-trip digits
      "0",
      "-15" + std::string(299, '0'),
  };
  EXPECT_EQ(conn.Column("select n from t order by id"), want);
  want = {
      "10000000000000000000000000000000000000000",
      "." + std::string(40, '3'),
      "123.45",
      "." + std::string(39, '6') + "7",  // rounded to 40 digits
      "3." + std::string(38, '3'),       // a one-digit first base-100 digit leaves 39
      "0",
      "-.05",
      "1" + std::string(41, '0'),  // rounding carries into a new digit
      ".012",
      "1E999",  // beyond NUMBER: passed on as stored
      "0",      // below NUMBER: zero
  };
  EXPECT_EQ(conn.Column("select n from x order by id"), want);
}

TEST(EngineFetch, InternalNumberBytes) {
  struct Case {
    const char* text;
    std::vector<int> bytes;
  } cases[] = {
      {"0", {128}},
      {"1", {193, 2}},
      {"-1", {62, 100, 102}},
      {"100", {194, 2}},
      {"0.5", {192, 51}},
      {"-0.05", {63, 96, 102}},
      {"12.5", {193, 13, 51}},
      {"123.45", {194, 2, 24, 46}},
      {"-123.45", {61, 100, 78, 56, 102}},
      {"123433", {195, 13, 35, 34}},
      {"-123433", {60, 89, 67, 68, 102}},
      {"-123.433", {61, 100, 78, 58, 71, 102}},
      {"0.9999999999999999999999999999999999999999",
       {192, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
        100, 100, 100, 100, 100, 100, 100, 100, 100, 100}},
      {"-23452342342423423423423.1234567890123457",
       {51, 99, 67, 49, 67, 78, 59, 59, 67, 78, 59, 67, 78, 89, 67, 45, 23, 11, 89, 67, 44}},
      {"1E-130", {128, 2}},
      {"1E125", {255, 11}},
  };
  std::string sql = "CREATE TABLE x(id INTEGER, n 'NUMBER AS TEXT');";
  int id = 0;
  for (const Case& entry : cases) {
    sql += "INSERT INTO x VALUES (" + std::to_string(id++) + ", '" + entry.text + "');";
  }
  // The same values stored as SQLite numbers.
  sql +=
      "CREATE TABLE t(id INTEGER, n NUMBER);"
      "INSERT INTO t VALUES (1, 123433), (2, -1), (3, 12.5), (4, -0.05), (5, 1e125);";
  std::string path = MakeDatabase("numbytes", sql);
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  for (const char* query : {"select n from x order by id", "select n from t order by id"}) {
    OCIStmt* stmt = conn.Query(query);
    ASSERT_NE(stmt, nullptr);
    unsigned char buffer[20][21];
    ub2 len[20];
    OCIDefine* def = nullptr;
    ASSERT_EQ(conn.api->DefineByPos(stmt, &def, conn.err, 1, buffer, 21, SQLT_NUM, nullptr, len,
                                    nullptr, OCI_DEFAULT),
              OCI_SUCCESS);
    EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 20, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
    ub4 rows = conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED);
    auto bytes = [&](int row) { return std::vector<int>(buffer[row], buffer[row] + len[row]); };
    if (rows == 16) {
      for (int row = 0; row < 16; ++row) {
        EXPECT_EQ(bytes(row), cases[row].bytes) << cases[row].text;
      }
    } else {
      ASSERT_EQ(rows, 5u);
      EXPECT_EQ(bytes(0), cases[9].bytes);
      EXPECT_EQ(bytes(1), cases[2].bytes);
      EXPECT_EQ(bytes(2), cases[6].bytes);
      EXPECT_EQ(bytes(3), cases[5].bytes);
      EXPECT_EQ(bytes(4), cases[15].bytes);
    }
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  }
}

TEST(EngineFetch, InternalDateBytesAndIntegers) {
  std::string path = MakeDatabase(
      "datebytes",
      "CREATE TABLE t(id INTEGER, d DATE, w NUMBER);"
      "INSERT INTO t VALUES (1, '1992-11-30 15:17:00', 4000000000), (2, '2000-01-01', 0),"
      "(3, '9999-12-31 23:59:59', '17');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select d, w from t order by id");
  ASSERT_NE(stmt, nullptr);
  unsigned char dates[3][7];
  ub4 weights[3];
  OCIDefine* defs[2] = {};
  conn.api->DefineByPos(stmt, &defs[0], conn.err, 1, dates, 7, SQLT_DAT, nullptr, nullptr, nullptr,
                        OCI_DEFAULT);
  conn.api->DefineByPos(stmt, &defs[1], conn.err, 2, weights, 4, SQLT_UIN, nullptr, nullptr,
                        nullptr, OCI_DEFAULT);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  auto row = [&](int idx) { return std::vector<int>(dates[idx], dates[idx] + 7); };
  EXPECT_EQ(row(0), (std::vector<int>{119, 192, 11, 30, 16, 18, 1}));
  EXPECT_EQ(row(1), (std::vector<int>{120, 100, 1, 1, 1, 1, 1}));
  EXPECT_EQ(row(2), (std::vector<int>{199, 199, 12, 31, 24, 60, 60}));
  EXPECT_EQ(weights[0], 4000000000u);
  EXPECT_EQ(weights[1], 0u);
  EXPECT_EQ(weights[2], 17u);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // A value that does not fit the integer is an error, not a wrapped number.
  stmt = conn.Query("select -5 from dual");
  ASSERT_NE(stmt, nullptr);
  ub4 weight = 0;
  OCIDefine* def = nullptr;
  conn.api->DefineByPos(stmt, &def, conn.err, 1, &weight, 4, SQLT_UIN, nullptr, nullptr, nullptr,
                        OCI_DEFAULT);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-01455: converting column overflows integer datatype\n");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineFetch, BinaryFloatingPointInTheClientsScientificForm) {
  // Nine significant digits tell every BINARY_FLOAT apart and seventeen every BINARY_DOUBLE; the
  // client writes that many less trailing zeros, one digit always after the point.
  std::string path =
      MakeDatabase("binary",
                   "CREATE TABLE t(id INTEGER, f BINARY_FLOAT, d BINARY_DOUBLE);"
                   "INSERT INTO t VALUES (1, 1.5, 1.5), (2, 0.1, 0.1), (3, 0, 0), (4, 100, 100),"
                   "(5, -3.4e38, 1.0/3), (6, 3.4028234663852886e38, -1.7976931348623157e308),"
                   "(7, 1.401298464324817e-45, 4.9406564584124654e-324), (8, 1e39, -1e999),"
                   "(9, '12.5', '12.5'), (10, 'n/a', 'n/a'), (11, 16777217, 16777217);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  const std::vector<std::string> floats = {
      "1.5E+000",
      "1.00000001E-001",
      "0",
      "1.0E+002",
      "-3.39999995E+038",
      "3.40282347E+038",
      "1.40129846E-045",
      "Inf",  // beyond the largest float
      "1.25E+001",
      "n/a",             // text that is no number passes unchanged
      "1.6777216E+007",  // narrowed to float
  };
  EXPECT_EQ(conn.Column("select f from t order by id"), floats);
  const std::vector<std::string> doubles = {
      "1.5E+000",
      "1.0000000000000001E-001",
      "0",
      "1.0E+002",
      "3.3333333333333331E-001",
      "-1.7976931348623157E+308",
      "4.9406564584124654E-324",
      "-Inf",
      "1.25E+001",
      "n/a",
      "1.6777217E+007",
  };
  EXPECT_EQ(conn.Column("select d from t order by id"), doubles);
}

TEST(EngineFetch, DecimalCharacterOfTheClientsTerritoryAndOfTheSession) {
  std::string path = MakeDatabase(
      "decimal",
      "CREATE TABLE t(n NUMBER(10,2), u NUMBER, x 'NUMBER AS TEXT', d BINARY_DOUBLE, i INTEGER);"
      "INSERT INTO t VALUES (12.5, 0.25, '-1.5', 1.5, 7);");
  const char* saved = std::getenv("NLS_LANG");
  const std::string saved_value = saved ? saved : "";
  struct Case {
    const char* nls_lang;  // null: not set
    const char* row;       // n|u|x|d|i as the session's first fetch gives them
  } cases[] = {
      {nullptr, "12.5|.25|-1.5|1.5E+000|7"},
      {"AMERICAN_AMERICA.AL32UTF8", "12.5|.25|-1.5|1.5E+000|7"},
      {"GERMAN_GERMANY.AL32UTF8", "12,5|,25|-1,5|1,5E+000|7"},
      {"french_france.we8iso8859p1", "12,5|,25|-1,5|1,5E+000|7"},
      {"_CZECH REPUBLIC", "12,5|,25|-1,5|1,5E+000|7"},
      {"GERMAN", "12.5|.25|-1.5|1.5E+000|7"},  // no territory named
      {".AL32UTF8", "12.5|.25|-1.5|1.5E+000|7"},
      {"ENGLISH_UNITED KINGDOM.UTF8", "12.5|.25|-1.5|1.5E+000|7"},
  };
  auto row = [](Connection& conn) {
    std::string text;
    for (const char* column : {"n", "u", "x", "d", "i"}) {
      text += (text.empty() ? "" : "|") + conn.One(std::string("select ") + column + " from t");
    }
    return text;
  };
  for (const Case& want : cases) {
    if (want.nls_lang != nullptr) {
      SetEnvironment("NLS_LANG", want.nls_lang);
    } else {
      UnsetEnvironment("NLS_LANG");
    }
    Connection conn;
    ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
    EXPECT_EQ(row(conn), want.row) << (want.nls_lang ? want.nls_lang : "(not set)");
  }

  // The session setting wins over the territory; refused values leave the setting as it was.
  SetEnvironment("NLS_LANG", "GERMAN_GERMANY.AL32UTF8");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_NUMERIC_CHARACTERS='.,'"), OCI_SUCCESS);
  EXPECT_EQ(row(conn), "12.5|.25|-1.5|1.5E+000|7");
  for (const char* refused : {"'.'", "'..'", "',.;'", "'1,'", "'.+'", "'-.'", "'<>'", "''"}) {
    EXPECT_EQ(conn.Execute(std::string("ALTER SESSION SET NLS_NUMERIC_CHARACTERS=") + refused),
              OCI_ERROR)
        << refused;
    EXPECT_EQ(conn.ErrorText(),
              "ORA-12705: Cannot access NLS data files or invalid environment specified\n")
        << refused;
  }
  EXPECT_EQ(conn.One("select n from t"), "12.5");
  EXPECT_EQ(conn.Execute("alter session set nls_numeric_characters = ', '"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select n from t"), "12,5");
  // A refused setting in a statement leaves the others of that statement unapplied too.
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_NUMERIC_CHARACTERS='.,' NLS_DATE_FORMAT='QQ'"),
            OCI_ERROR);
  EXPECT_EQ(conn.One("select n from t"), "12,5");
  if (saved) {
    SetEnvironment("NLS_LANG", saved_value.c_str());
  } else {
    UnsetEnvironment("NLS_LANG");
  }
}

TEST(EngineFetch, SessionDateAndTimestampFormats) {
  std::string path = MakeDatabase(
      "nls",
      "CREATE TABLE t(d DATE, ts TIMESTAMP, ts3 TIMESTAMP(3), tz TIMESTAMP WITH TIME ZONE,"
      " d2 DATE);"
      "INSERT INTO t VALUES ('2026-12-07 10:11:12', '2026-03-04 21:05:06.123456',"
      " '2026-03-04 21:05:06.123456', '2026-12-07 10:11:12.5 -03:30', '1999-01-02');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  // Defaults before any setting.
  EXPECT_EQ(conn.One("select d from t"), "07-DEC-26");
  EXPECT_EQ(conn.One("select ts from t"), "04-MAR-26 09.05.06.123456 PM");
  EXPECT_EQ(conn.One("select tz from t"), "07-DEC-26 10.11.12.500000 AM -03:30");
  // The three settings every job run makes.
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_DATE_FORMAT='YYYY-MM-DD HH24:MI:SS'"), OCI_SUCCESS);
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT='YYYY-MM-DD HH24:MI:SSXFF'"),
            OCI_SUCCESS);
  EXPECT_EQ(
      conn.Execute("ALTER SESSION SET NLS_TIMESTAMP_TZ_FORMAT='YYYY-MM-DD HH24:MI:SSXFF TZH:TZM'"),
      OCI_SUCCESS);
  EXPECT_EQ(conn.One("select d from t"), "2026-12-07 10:11:12");
  EXPECT_EQ(conn.One("select d2 from t"), "1999-01-02 00:00:00");
  std::string ts = conn.One("select ts from t");
  EXPECT_EQ(ts, "2026-03-04 21:05:06.123456");
  EXPECT_EQ(ts.size(), 26u);
  EXPECT_EQ(conn.One("select ts3 from t"), "2026-03-04 21:05:06.123");
  std::string tz = conn.One("select tz from t");
  EXPECT_EQ(tz, "2026-12-07 10:11:12.500000 -03:30");
  EXPECT_EQ(tz.size(), 33u);
  // Other models: names in the letter case of the model, fixed fraction digits.
  EXPECT_EQ(conn.Execute("alter session set nls_date_format = 'Dy DD Mon YYYY'"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select d from t"), "Mon 07 Dec 2026");
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT='HH24:MI:SS.FF2'"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select ts from t"), "21:05:06.12");
}

// TIMESTAMP WITH LOCAL TIME ZONE is stored in UTC and shown in the session's zone: the client's
// (ORA_SDTZ) until TIME_ZONE changes it; other timestamps keep their text.
TEST(EngineFetch, LocalTimeZoneValuesFollowTheSessionZone) {
  std::string path =
      MakeDatabase("ltz",
                   "CREATE TABLE t(l 'TIMESTAMP(3) WITH LOCAL TIME ZONE', ts TIMESTAMP(3));"
                   "INSERT INTO t VALUES ('2024-12-31 23:30:00.250', '2024-12-31 23:30:00.250');"
                   "INSERT INTO t VALUES ('2024-03-31 03:00:00 +02:00', NULL);");
  SetEnvironment("ORA_SDTZ", "+05:30");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  UnsetEnvironment("ORA_SDTZ");
  ASSERT_EQ(conn.Execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT='YYYY-MM-DD HH24:MI:SSXFF'"),
            OCI_SUCCESS);
  EXPECT_EQ(conn.One("select l from t where ts is not null"), "2025-01-01 05:00:00.250");
  EXPECT_EQ(conn.One("select ts from t where ts is not null"), "2024-12-31 23:30:00.250");
  const struct {
    const char* setting;
    sword result;
    const char* first;
    const char* second;
  } steps[] = {
      {"'-10:00'", OCI_SUCCESS, "2024-12-31 13:30:00.250", "2024-03-30 15:00:00.000"},
      {"'Europe/Paris'", OCI_ERROR, "2024-12-31 13:30:00.250", "2024-03-30 15:00:00.000"},
      {"DBTIMEZONE", OCI_SUCCESS, "2024-12-31 23:30:00.250", "2024-03-31 01:00:00.000"},
      {"LOCAL", OCI_SUCCESS, "2025-01-01 05:00:00.250", "2024-03-31 06:30:00.000"},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(conn.Execute(std::string("ALTER SESSION SET TIME_ZONE=") + step.setting), step.result)
        << step.setting;
    EXPECT_EQ(conn.One("select l from t where ts is not null"), step.first) << step.setting;
    EXPECT_EQ(conn.One("select l from t where ts is null"), step.second) << step.setting;
  }
  EXPECT_EQ(conn.Execute("ALTER SESSION SET TIME_ZONE='Europe/Paris'"), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-01882: timezone region not found\n");
}

TEST(EngineFetch, SessionStatementsOfTheJobRun) {
  std::string path = MakeDatabase("alter", "CREATE TABLE t(a);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  for (const char* sql : {
           "ALTER SESSION SET DB_FILE_MULTIBLOCK_READ_COUNT=128",
           "ALTER SESSION SET WORKAREA_SIZE_POLICY=MANUAL",
           "ALTER SESSION SET HASH_AREA_SIZE=67108864",
           "ALTER SESSION SET \"_hash_multiblock_io_count\"=128",
           "ALTER SESSION SET \"_serial_direct_read\"=TRUE",
           "ALTER SESSION SET SORT_AREA_SIZE=1048576",
           "ALTER SESSION SET SORT_AREA_RETAINED_SIZE=1048576",
           "ALTER SESSION SET \"_sort_multiblock_read_count\"=128",
           "ALTER SESSION SET EVENTS='10046 TRACE NAME CONTEXT FOREVER,LEVEL 12'",
       }) {
    EXPECT_EQ(conn.Execute(sql), OCI_SUCCESS) << sql << ": " << conn.ErrorText();
  }
  for (const char* sql :
       {"ALTER SESSION SET NLS_LANGUAGE='GERMAN'", "ALTER SESSION ENABLE PARALLEL DML",
        "ALTER SESSION SET CURRENT_SCHEMA=HR"}) {
    EXPECT_EQ(conn.Execute(sql), OCI_ERROR) << sql;
    EXPECT_EQ(conn.ErrorText(), "ORA-02248: invalid option for ALTER SESSION\n") << sql;
  }
  EXPECT_EQ(conn.Execute("ALTER SESSION SET NLS_DATE_FORMAT='YYYY-QQ'"), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-01821: date format not recognized\n");
}

TEST(EngineFetch, BindsByNameIgnoringCase) {
  std::string path = MakeDatabase("binds", Numbers(50));
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt =
      conn.Prepare("select n from seq where n >= :minrid and n < :MAXRID and s <> :Skip");
  char low[] = "10";
  char high[] = "20xx";  // only the first two bytes are the value
  char skip[] = "r15";
  OCIBind* binds[3] = {};
  ASSERT_EQ(
      conn.api->BindByName(stmt, &binds[0], conn.err, reinterpret_cast<const OraText*>("MINRID"), 6,
                           low, 2, SQLT_CHR, nullptr, nullptr, nullptr, 1, nullptr, OCI_DEFAULT),
      OCI_SUCCESS);
  ASSERT_EQ(conn.api->BindByName(stmt, &binds[1], conn.err,
                                 reinterpret_cast<const OraText*>(":maxrid"), 7, high, 2, SQLT_CHR,
                                 nullptr, nullptr, nullptr, 1, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(
      conn.api->BindByName(stmt, &binds[2], conn.err, reinterpret_cast<const OraText*>("skip"), 4,
                           skip, 3, SQLT_CHR, nullptr, nullptr, nullptr, 1, nullptr, OCI_DEFAULT),
      OCI_SUCCESS);
  ASSERT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS)
      << conn.ErrorText();
  ub4 values[20];
  OCIDefine* def = nullptr;
  conn.api->DefineByPos(stmt, &def, conn.err, 1, values, 4, SQLT_UIN, nullptr, nullptr, nullptr,
                        OCI_DEFAULT);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 20, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  std::vector<ub4> got(values, values + conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED));
  EXPECT_EQ(got, (std::vector<ub4>{10, 11, 12, 13, 14, 16, 17, 18, 19}));
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // A name the statement has no placeholder for is refused by the bind itself; text in strings
  // and comments holds no placeholder.
  stmt =
      conn.Prepare("select n from seq where n >= :minrid /* :note */ and s <> ':quoted' -- :end");
  for (const char* name : {"note", "quoted", ":end", "min", "minrid2", ":", ""}) {
    OCIBind* bind = nullptr;
    EXPECT_EQ(conn.api->BindByName(stmt, &bind, conn.err, reinterpret_cast<const OraText*>(name),
                                   static_cast<sb4>(std::strlen(name)), low, 2, SQLT_CHR, nullptr,
                                   nullptr, nullptr, 1, nullptr, OCI_DEFAULT),
              OCI_ERROR)
        << name;
    EXPECT_EQ(conn.ErrorText(), "ORA-01036: illegal variable name/number\n") << name;
  }
  ASSERT_EQ(
      conn.api->BindByName(stmt, &binds[0], conn.err, reinterpret_cast<const OraText*>(":MinRid"),
                           7, low, 2, SQLT_CHR, nullptr, nullptr, nullptr, 1, nullptr, OCI_DEFAULT),
      OCI_SUCCESS);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // A placeholder left unbound fails at execute.
  stmt = conn.Prepare("select n from seq where n = :missing");
  EXPECT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
            OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-01008: not all variables bound\n");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineFetch, StatementsThatAreNotQueries) {
  std::string path = MakeDatabase("dml", "CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Prepare("insert into t values (1, 'a'), (2, 'b'), (3, 'c')");
  ASSERT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 1, 0, nullptr, nullptr,
                                  OCI_COMMIT_ON_SUCCESS),
            OCI_SUCCESS);
  EXPECT_EQ(conn.StmtAttr(stmt, OCI_ATTR_ROW_COUNT), 3u);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  EXPECT_EQ(conn.Execute("create table u as select * from t"), OCI_SUCCESS);
  EXPECT_EQ(conn.Execute("delete from u where a > 1"), OCI_SUCCESS);
  EXPECT_EQ(conn.Execute("create table v as select * from t"), OCI_SUCCESS);
  EXPECT_EQ(conn.Execute("Truncate Table v"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select count(*) from v"), "0");
  // Committed: a second connection sees the change.
  Connection other;
  ASSERT_EQ(other.Logon(path), OCI_SUCCESS);
  EXPECT_EQ(other.Column("select b from u"), std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace rowflume::enginetest

namespace rowflume::enginetest {
namespace {

TEST(EngineFetch, CopiedAndFormattedDatesAgree) {
  // The formats the job run sets are served by copying the stored text; an equivalent model
  // written differently goes through the full parse and format. Both must give the same text.
  const char* stored[] = {"2026-03-04 21:05:06.123456",
                          "2026-03-04 21:05:06",
                          "2026-03-04",
                          "2026-03-04T21:05:06.5",
                          "2026-03-04 21:05:06.1234567891",
                          "2026-03-04 21:05",
                          "2026-03-04 21:05:06 +02:00",
                          "2026-13-45 99:99:99",
                          "2026-03-04 21:05:06.",
                          "garbage",
                          "2026-03-04 21:05:06.12x"};
  std::string sql = "CREATE TABLE t(id INTEGER, ts TIMESTAMP, ts0 TIMESTAMP(0), d DATE);";
  int id = 0;
  for (const char* text : stored) {
    sql += "INSERT INTO t VALUES (" + std::to_string(id++) + ", '" + text + "', '" + text + "', '" +
           text + "');";
  }
  std::string path = MakeDatabase("canonical", sql);
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  auto run = [&](const char* date_format, const char* timestamp_format) {
    EXPECT_EQ(conn.Execute(std::string("ALTER SESSION SET NLS_DATE_FORMAT='") + date_format + "'"),
              OCI_SUCCESS);
    EXPECT_EQ(conn.Execute(std::string("ALTER SESSION SET NLS_TIMESTAMP_FORMAT='") +
                           timestamp_format + "'"),
              OCI_SUCCESS);
    std::vector<std::string> all = conn.Column("select ts from t order by id");
    for (const std::string& text : conn.Column("select ts0 from t order by id")) {
      all.push_back(text);
    }
    for (const std::string& text : conn.Column("select d from t order by id")) {
      all.push_back(text);
    }
    return all;
  };
  std::vector<std::string> copied = run("YYYY-MM-DD HH24:MI:SS", "YYYY-MM-DD HH24:MI:SSXFF");
  std::vector<std::string> formatted = run("YYYY-MM-DD HH24:MI:SS\"\"", "YYYY-MM-DD HH24:MI:SS.FF");
  EXPECT_EQ(copied, formatted);
  ASSERT_EQ(copied.size(), 33u);
  EXPECT_EQ(copied[3], "2026-03-04 21:05:06.500000");
  EXPECT_EQ(copied[11 + 0], "2026-03-04 21:05:06.");
  EXPECT_EQ(copied[22 + 2], "2026-03-04 00:00:00");
}

}  // namespace
}  // namespace rowflume::enginetest

namespace rowflume::enginetest {
namespace {

TEST(EngineFetch, ValuesAsTheDeclaredTypeStoresThem) {
  // NUMBER(p,s) holds its values rounded to the scale and CHAR(n) blank-padded, whatever
  // SQLite kept; a fetch shows them that way.
  std::string path = MakeDatabase(
      "declared",
      "CREATE TABLE t(id INTEGER, m NUMBER(10,2), h 'NUMBER(5,-2)', w NUMBER(3), c CHAR(5),"
      " nc NCHAR(3), v VARCHAR2(5));"
      "INSERT INTO t VALUES (1, 0.1 + 0.2, 12345, 2.5, 'ab', 'é', 'ab'),"
      "(2, 2.675, 12355, -2.5, 'abcde', 'xyz', ''),"
      "(3, '1.005', '-149', 7, NULL, NULL, NULL), (4, -0.004, 49, 0.4, '', 'a', 'a');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  EXPECT_EQ(conn.Column("select m from t order by id"),
            (std::vector<std::string>{".3", "2.68", "1.01", "0"}));
  EXPECT_EQ(conn.Column("select h from t order by id"),
            (std::vector<std::string>{"12300", "12400", "-100", "0"}));
  EXPECT_EQ(conn.Column("select w from t order by id"),
            (std::vector<std::string>{"3", "-3", "7", "0"}));
  EXPECT_EQ(conn.Column("select c from t order by id"),
            (std::vector<std::string>{"ab   ", "abcde", "<null>", "     "}));
  EXPECT_EQ(conn.Column("select nc from t order by id"),
            (std::vector<std::string>{"é  ", "xyz", "<null>", "a  "}));
  EXPECT_EQ(conn.Column("select v from t order by id"),
            (std::vector<std::string>{"ab", "", "<null>", "a"}));
  // The internal NUMBER form is rounded the same way.
  OCIStmt* stmt = conn.Query("select m from t where id = 1");
  ASSERT_NE(stmt, nullptr);
  unsigned char bytes[21];
  ub2 len = 0;
  OCIDefine* def = nullptr;
  conn.api->DefineByPos(stmt, &def, conn.err, 1, bytes, 21, SQLT_NUM, nullptr, &len, nullptr,
                        OCI_DEFAULT);
  ASSERT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(std::vector<int>(bytes, bytes + len), (std::vector<int>{192, 31}));
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

}  // namespace
}  // namespace rowflume::enginetest

namespace rowflume::enginetest {
namespace {

TEST(EngineFetch, OwnSchemaQualifiersAreTheDatabase) {
  std::string path = MakeDatabase(
      "owner", "CREATE TABLE emp(name TEXT, scott TEXT); INSERT INTO emp VALUES ('KING', 'x');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path, "Scott", "tiger"), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select name from SCOTT.EMP"), "KING");
  EXPECT_EQ(conn.One("select scott.emp.name from scott.emp"), "KING");
  EXPECT_EQ(conn.One("select e.scott || ' scott.emp' from \"SCOTT\".emp e"), "x scott.emp");
  EXPECT_EQ(conn.One("select scott from emp"), "x");
  // Another owner's schema does not exist here.
  OCIStmt* stmt = conn.Prepare("select name from hr.emp");
  EXPECT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
            OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-00942: table or view does not exist\n");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

// An aggregate that skipped a NULL makes the fetch of its rows succeed with ORA-24347, every
// row asked for delivered; the warning comes once, and a short fetch at the end of the data
// reports only that end.
TEST(EngineFetch, AggregateOverNullWarns) {
  std::string path =
      MakeDatabase("aggregates",
                   "CREATE TABLE t(g INTEGER, v NUMBER);"
                   "INSERT INTO t VALUES (1, 5), (2, NULL), (2, 7), (3, 1), (4, 2);");
  constexpr char kWarning[] = "ORA-24347: Warning of a NULL column in an aggregate function\n";
  struct Case {
    const char* sql;
    std::vector<sword> statuses;  // of fetches of 2 rows, to the end
    std::vector<ub4> rows;
    std::string name;  // of column 2 as described
  } cases[] = {
      {"select g, max(v) from t group by g order by g", {1, 0, 100}, {2, 2, 0}, "MAX(V)"},
      {"select g, min(v) m from t group by g order by g", {1, 0, 100}, {2, 2, 0}, "M"},
      {"select count(*), sum ( distinct v ) from t", {100}, {1}, "SUM ( DISTINCT V )"},
      // A bracket straight after DISTINCT or ALL: the note may not join the keyword's word.
      {"select count(*), max(distinct(v)) from t", {100}, {1}, "MAX(DISTINCT(V))"},
      {"select count(*), min(all(v)) from t", {100}, {1}, "MIN(ALL(V))"},
      {"select count(*), avg(v) from t having count(*) > 0 union all select 1, 2",
       {1, 100},
       {2, 0},
       "AVG(V)"},
      {"select count(*), max(v) from t where v is not null union all select 1, 2",
       {0, 100},
       {2, 0},
       "MAX(V)"},
      {"select g, max(coalesce(v, 0)) from t group by g",
       {0, 0, 100},
       {2, 2, 0},
       "MAX(COALESCE(V, 0))"},
  };
  for (const Case& entry : cases) {
    Connection conn;
    ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
    OCIStmt* stmt = conn.Query(entry.sql);
    ASSERT_NE(stmt, nullptr) << entry.sql;
    void* param = nullptr;
    ASSERT_EQ(conn.api->ParamGet(stmt, OCI_HTYPE_STMT, conn.err, &param, 2), OCI_SUCCESS);
    OraText* name = nullptr;
    ub4 name_size = 0;
    conn.api->AttrGet(param, OCI_DTYPE_PARAM, &name, &name_size, OCI_ATTR_NAME, conn.err);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), name_size), entry.name) << entry.sql;
    char values[2][8];
    OCIDefine* def = nullptr;
    conn.api->DefineByPos(stmt, &def, conn.err, 2, values, 8, SQLT_STR, nullptr, nullptr, nullptr,
                          OCI_DEFAULT);
    std::vector<sword> statuses;
    std::vector<ub4> rows;
    for (sword status = OCI_SUCCESS; status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO;) {
      status = conn.api->StmtFetch(stmt, conn.err, 2, OCI_FETCH_NEXT, OCI_DEFAULT);
      if (status == OCI_SUCCESS_WITH_INFO) {
        EXPECT_EQ(conn.ErrorText(), kWarning) << entry.sql;
      }
      statuses.push_back(status);
      rows.push_back(conn.StmtAttr(stmt, OCI_ATTR_ROWS_FETCHED));
    }
    EXPECT_EQ(statuses, entry.statuses) << entry.sql;
    EXPECT_EQ(rows, entry.rows) << entry.sql;
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  }
}

}  // namespace
}  // namespace rowflume::enginetest
