// Describe of the embedded engine: types, sizes, precision and scale, names, exact widths.
#include <cstring>
#include <vector>

#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

struct Described {
  ub2 type;
  ub2 size;
  sb2 precision;
  sb1 scale;
  std::string name;
};

// Reads one parameter the way the program does, with every target inside a poisoned block so
// that a write wider than the attribute shows.
Described DescribeColumn(Connection& conn, OCIStmt* stmt, ub4 pos) {
  Described out{};
  void* param = nullptr;
  EXPECT_EQ(conn.api->ParamGet(stmt, OCI_HTYPE_STMT, conn.err, &param, pos), OCI_SUCCESS);
  unsigned char block[16];
  auto read = [&](ub4 attr, size_t width, void* target) {
    std::memset(block, 0xA5, sizeof block);
    EXPECT_EQ(conn.api->AttrGet(param, OCI_DTYPE_PARAM, block + 4, nullptr, attr, conn.err),
              OCI_SUCCESS);
    for (size_t idx = 0; idx < sizeof block; ++idx) {
      if (idx < 4 || idx >= 4 + width) {
        EXPECT_EQ(block[idx], 0xA5) << "attribute " << attr << " wrote byte " << idx;
      }
    }
    std::memcpy(target, block + 4, width);
  };
  read(OCI_ATTR_DATA_TYPE, sizeof(ub2), &out.type);
  read(OCI_ATTR_DATA_SIZE, sizeof(ub2), &out.size);
  read(OCI_ATTR_PRECISION, sizeof(sb2), &out.precision);
  read(OCI_ATTR_SCALE, sizeof(sb1), &out.scale);
  OraText* name = nullptr;
  ub4 name_len = 0;
  EXPECT_EQ(conn.api->AttrGet(param, OCI_DTYPE_PARAM, &name, &name_len, OCI_ATTR_NAME, conn.err),
            OCI_SUCCESS);
  out.name.assign(reinterpret_cast<const char*>(name), name_len);
  return out;
}

TEST(EngineDescribe, EveryTypeFamily) {
  std::string path = MakeDatabase(
      "describe",
      "CREATE TABLE t(n NUMBER, n10 NUMBER(10), n102 NUMBER(10,2), nneg NUMBER(5,-2),"
      " nstar 'NUMBER(*,3)', i INTEGER, f FLOAT, f20 FLOAT(20), r REAL,"
      " v VARCHAR2(30), vc 'VARCHAR2(10 CHAR)', nv NVARCHAR2(10), c CHAR(5), nc NCHAR(3), tx TEXT,"
      " d DATE, ts TIMESTAMP, ts3 TIMESTAMP(3), tz TIMESTAMP WITH TIME ZONE,"
      // SQLite reads type names with parentheses inside or the word TO only when quoted.
      " ltz 'TIMESTAMP(9) WITH LOCAL TIME ZONE', ym 'INTERVAL YEAR TO MONTH',"
      " ds 'INTERVAL DAY(3) TO SECOND(2)', rw RAW(16), lg LONG, lr LONG RAW, cl CLOB, ncl NCLOB,"
      " bl BLOB, bf BFILE, rid ROWID, bfl BINARY_FLOAT, bdb BINARY_DOUBLE, untyped);"
      "INSERT INTO t(n) VALUES (1);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select * from t");
  ASSERT_NE(stmt, nullptr);
  struct Expect {
    const char* name;
    ub2 type;
    ub2 size;
    sb2 precision;
    sb1 scale;
  } expected[] = {
      {"N", 2, 22, 0, -127},
      {"N10", 2, 22, 10, 0},
      {"N102", 2, 22, 10, 2},
      {"NNEG", 2, 22, 5, -2},
      {"NSTAR", 2, 22, 38, 3},
      {"I", 2, 22, 38, 0},
      {"F", 2, 22, 126, -127},
      {"F20", 2, 22, 20, -127},
      {"R", 2, 22, 0, -127},
      {"V", 1, 30, 0, 0},
      {"VC", 1, 40, 0, 0},
      {"NV", 1, 20, 0, 0},
      {"C", 96, 5, 0, 0},
      {"NC", 96, 6, 0, 0},
      {"TX", 1, 4000, 0, 0},
      {"D", 12, 7, 0, 0},
      {"TS", 187, 11, 0, 6},
      {"TS3", 187, 11, 0, 3},
      {"TZ", 188, 13, 0, 6},
      {"LTZ", 232, 11, 0, 9},
      {"YM", 189, 5, 2, 0},
      {"DS", 190, 11, 3, 2},
      {"RW", 23, 16, 0, 0},
      {"LG", 8, 0, 0, 0},
      {"LR", 24, 0, 0, 0},
      {"CL", 112, 4000, 0, 0},
      {"NCL", 112, 4000, 0, 0},
      {"BL", 113, 4000, 0, 0},
      {"BF", 114, 530, 0, 0},
      {"RID", 104, 18, 0, 0},
      {"BFL", 100, 4, 0, 0},
      {"BDB", 101, 8, 0, 0},
      // No declared type: the first row's value (NULL here) decides.
      {"UNTYPED", 1, 4000, 0, 0},
  };
  ASSERT_EQ(conn.StmtAttr(stmt, OCI_ATTR_PARAM_COUNT), sizeof expected / sizeof expected[0]);
  ub4 pos = 1;
  for (const Expect& want : expected) {
    Described got = DescribeColumn(conn, stmt, pos++);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.type, want.type) << want.name;
    EXPECT_EQ(got.size, want.size) << want.name;
    EXPECT_EQ(got.precision, want.precision) << want.name;
    EXPECT_EQ(got.scale, want.scale) << want.name;
  }
  void* param = nullptr;
  EXPECT_EQ(conn.api->ParamGet(stmt, OCI_HTYPE_STMT, conn.err, &param, pos), OCI_ERROR);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineDescribe, ExpressionsTakeTheTypeOfTheirFirstValue) {
  std::string path = MakeDatabase("exprs", "CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (3);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query(
      "select a + 1, a * 1.5, 'x' || a, x'00ff', null, count(*) as total, a \"Mixed\", "
      "a \"x\"\"y\" from t");
  ASSERT_NE(stmt, nullptr);
  Described plus = DescribeColumn(conn, stmt, 1);
  EXPECT_EQ(plus.name, "A + 1");
  EXPECT_EQ(plus.type, 2);
  EXPECT_EQ(plus.precision, 0);
  EXPECT_EQ(plus.scale, -127);
  EXPECT_EQ(DescribeColumn(conn, stmt, 2).type, 2);
  Described text = DescribeColumn(conn, stmt, 3);
  EXPECT_EQ(text.type, 1);
  EXPECT_EQ(text.size, 4000);
  Described raw = DescribeColumn(conn, stmt, 4);
  EXPECT_EQ(raw.type, 23);
  EXPECT_EQ(raw.size, 2000);
  EXPECT_EQ(DescribeColumn(conn, stmt, 5).type, 1);
  EXPECT_EQ(DescribeColumn(conn, stmt, 6).name, "TOTAL");
  EXPECT_EQ(DescribeColumn(conn, stmt, 7).name, "Mixed");
  EXPECT_EQ(DescribeColumn(conn, stmt, 8).name, "x\"y") << "a quoted name keeps its quote";
  // The row stepped for the description is still delivered by the first fetch.
  char value[8];
  ub2 len = 0;
  OCIDefine* def = nullptr;
  ASSERT_EQ(conn.api->DefineByPos(stmt, &def, conn.err, 1, value, sizeof value, SQLT_CHR, nullptr,
                                  &len, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(std::string(value, len), "4");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // An empty result describes expressions as VARCHAR2(4000).
  stmt = conn.Query("select a + 1 from t where a > 100");
  ASSERT_NE(stmt, nullptr);
  EXPECT_EQ(DescribeColumn(conn, stmt, 1).type, 1);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(EngineDescribe, RowidPseudoColumnIsARowid) {
  std::string path = MakeDatabase("rowid_items",
                                  "CREATE TABLE t(a INTEGER, b VARCHAR2(5)); CREATE TABLE u(c);"
                                  "INSERT INTO t VALUES (1, 'x'); INSERT INTO u VALUES (2);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  constexpr ub2 kRowid = 104;
  struct Case {
    const char* sql;
    std::vector<ub2> types;
  } cases[] = {
      {"select rowid, t.* from t", {kRowid, 2, 1}},
      {"select t.*, rowid from t", {2, 1, kRowid}},
      {"select a, t.rowid as r, b from t", {2, kRowid, 1}},
      {"select distinct ROWID from t", {kRowid}},
      {"select rowid from t union all select rowid from t", {kRowid}},
      {"select t.rowid r, u.* from t, u", {kRowid, 2}},
      // A quoted qualifier straight after SELECT: the rewrite may not join the keyword's word.
      {"select\"T\".ROWID, a from t \"T\"", {kRowid, 2}},
      // Where a column list of unknown width lies on both sides, the position is unknown.
      {"select t.*, t.rowid, u.* from t, u", {2, 1, 1, 2}},
      // An expression of a ROWID is text.
      {"select rowid || '' from t", {1}},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.sql);
    OCIStmt* stmt = conn.Query(entry.sql);
    ASSERT_NE(stmt, nullptr);
    ASSERT_EQ(conn.StmtAttr(stmt, OCI_ATTR_PARAM_COUNT), entry.types.size());
    for (ub4 pos = 1; pos <= entry.types.size(); ++pos) {
      Described got = DescribeColumn(conn, stmt, pos);
      EXPECT_EQ(got.type, entry.types[pos - 1]) << "column " << pos;
      if (got.type == kRowid) {
        EXPECT_EQ(got.size, 18) << "column " << pos;
      }
    }
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  }
}

TEST(EngineDescribe, StatementAttributesHaveTheirWidths) {
  std::string path = MakeDatabase("widths", "CREATE TABLE t(a, b, c);");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select a, b, c from t");
  ASSERT_NE(stmt, nullptr);
  unsigned char block[12];
  std::memset(block, 0xA5, sizeof block);
  ASSERT_EQ(
      conn.api->AttrGet(stmt, OCI_HTYPE_STMT, block + 4, nullptr, OCI_ATTR_PARAM_COUNT, conn.err),
      OCI_SUCCESS);
  ub4 count = 0;
  std::memcpy(&count, block + 4, 4);
  EXPECT_EQ(count, 3u);
  for (int idx : {0, 1, 2, 3, 8, 9, 10, 11}) EXPECT_EQ(block[idx], 0xA5);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

}  // namespace
}  // namespace rowflume::enginetest
