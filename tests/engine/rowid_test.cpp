// ROWID texts of the embedded engine: their encoding, the ROWID pseudo-column, ROWID
// comparisons read as rowid ranges, and the fault hook the parallel tests use.
#include <cstring>

#include "engine/engine_support.h"
#include "engine/handles.h"
#include "engine/sql_text.h"

namespace rowflume::enginetest {
namespace {

std::string Rowid(int64_t object, int64_t file, int64_t block, int64_t slot) {
  char text[32] = {};
  EXPECT_TRUE(engine::EncodeRowid({object, file, block, slot}, text));
  return text;
}

// T holds rowids 1 to 200: blocks 0 to 3 of 64 rows in file 1.
std::string Numbers() {
  return "CREATE TABLE T(ID INTEGER, NAME VARCHAR2(10));"
         "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200) "
         "INSERT INTO T(rowid, ID, NAME) SELECT x, x, 'r' || x FROM c;";
}

TEST(RowidText, EncodingMatchesOracleExamples) {
  EXPECT_EQ(Rowid(173494, 6, 229, 0), "AAAqW2AAGAAAADlAAA");
  EXPECT_EQ(Rowid(81652, 32, 147, 0), "AAAT70AAgAAAACTAAA");
  engine::RowidParts parts{};
  ASSERT_TRUE(engine::DecodeRowid("AAACcPAAMAAAAPoAAN", 18, &parts));
  EXPECT_EQ(parts.object, 9999);
  EXPECT_EQ(parts.file, 12);
  EXPECT_EQ(parts.block, 1000);
  EXPECT_EQ(parts.slot, 13);
  for (const char* bad : {"AAACcPAAMAAAAPoAA", "AAACcPAAMAAAAPoAA*", "AAACcPAAMAAAAPoAANA"}) {
    EXPECT_FALSE(engine::DecodeRowid(bad, std::strlen(bad), &parts)) << bad;
  }
  EXPECT_FALSE(engine::DecodeRowid("AAACcPQAMAAAAPoAAN", 18, &parts));  // file above 1023
  char text[32];
  EXPECT_FALSE(engine::EncodeRowid({1, 1, int64_t{1} << 22, 0}, text));

  std::string db = MakeDatabase("rowid_create", Numbers());
  Connection conn;
  ASSERT_EQ(conn.Logon("sqlite:" + db), OCI_SUCCESS);
  EXPECT_EQ(conn.One("SELECT DBMS_ROWID.ROWID_CREATE(1, 9999, 12, 1000, 13) FROM DUAL"),
            "AAACcPAAMAAAAPoAAN");
  EXPECT_EQ(conn.One("SELECT NVL(NULL, 7) + NVL(1, 9) FROM DUAL"), "8");
  OCIStmt* stmt = conn.Prepare("SELECT dbms_rowid.rowid_create(1, 1, 1, 4194304, 0) FROM dual");
  EXPECT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, 0), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText().rfind("ORA-06502: ", 0), 0u);
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(RowidText, PseudoColumnOrdersLikeTheRows) {
  std::string db = MakeDatabase("rowid_column", Numbers());
  Connection conn;
  ASSERT_EQ(conn.Logon("sqlite:" + db), OCI_SUCCESS);
  std::string object = conn.One("SELECT DATA_OBJECT_ID FROM DBA_OBJECTS WHERE OBJECT_NAME = 't'");
  std::vector<std::string> rowids = conn.Column("SELECT ROWID, ID FROM T ORDER BY ROWID DESC");
  ASSERT_EQ(rowids.size(), 200u);
  for (int64_t idx = 0; idx < 200; ++idx) {
    int64_t rowid = 200 - idx;
    ASSERT_EQ(rowids[static_cast<size_t>(idx)],
              Rowid(std::stoll(object), 1, rowid / 64, rowid % 64));
  }
  // Qualified by an alias, and in a WHERE clause beside a column.
  EXPECT_EQ(conn.One("SELECT e.ROWID FROM T e WHERE e.ID = 65"),
            Rowid(std::stoll(object), 1, 1, 1));
  // Described under its own name.
  OCIStmt* stmt = conn.Query("SELECT ROWID FROM T");
  ASSERT_NE(stmt, nullptr);
  void* param = nullptr;
  ASSERT_EQ(conn.api->ParamGet(stmt, OCI_HTYPE_STMT, conn.err, &param, 1), OCI_SUCCESS);
  OraText* name = nullptr;
  ub4 length = 0;
  conn.api->AttrGet(param, OCI_DTYPE_PARAM, &name, &length, OCI_ATTR_NAME, conn.err);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), length), "ROWID");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(RowidText, ComparisonsSelectTheRowsOracleWould) {
  std::string db = MakeDatabase("rowid_compare", Numbers());
  Connection conn;
  ASSERT_EQ(conn.Logon("sqlite:" + db), OCI_SUCCESS);
  int64_t object =
      std::stoll(conn.One("SELECT DATA_OBJECT_ID FROM DBA_OBJECTS WHERE "
                          "OBJECT_NAME = 'T'"));
  auto literal = [](const std::string& rowid) { return "'" + rowid + "'"; };
  // A bound past the last slot of block 1 lies between rowid 127 and 128.
  std::string past = literal(Rowid(object, 1, 1, 32767));
  std::string slot5 = literal(Rowid(object, 1, 1, 5));
  std::string first = literal(Rowid(object, 1, 0, 10));
  // ROWIDs of the objects just below and above T's: every row of T is above the one and below
  // the other, whatever their file, block and slot.
  std::string lower = literal(Rowid(object - 1, 1023, 4194303, 65535));
  std::string higher = literal(Rowid(object + 1, 0, 0, 0));
  std::string zero = literal("AAAAAAAAAAAAAAAAAA");
  struct Case {
    std::string where;
    const char* count;
  } cases[] = {
      {"ROWID < " + past, "127"},
      {"ROWID <= " + past, "127"},
      {"ROWID > " + past, "73"},
      {"ROWID>=" + past, "73"},
      {"ROWID = " + slot5, "1"},
      {"ROWID = " + past, "0"},
      {"ROWID <> " + past, "200"},
      {"ROWID != " + slot5, "199"},
      {"ROWID BETWEEN " + first + " AND " + past, "118"},
      {"ROWID NOT BETWEEN " + first + " AND " + past, "82"},
      {"ROWID >= " + lower, "200"},
      {"ROWID > " + lower, "200"},
      {"ROWID < " + lower, "0"},
      {"ROWID <= " + lower, "0"},
      {"ROWID = " + lower, "0"},
      {"ROWID <> " + lower, "200"},
      {"ROWID < " + higher, "200"},
      {"ROWID >= " + higher, "0"},
      {"ROWID BETWEEN " + lower + " AND " + higher, "200"},
      {"ROWID BETWEEN " + higher + " AND " + lower, "0"},
      {"ROWID NOT BETWEEN " + higher + " AND " + past, "200"},
      {"ROWID NOT BETWEEN " + first + " AND " + higher, "9"},
      {"ROWID >= " + lower + " AND ROWID < " + past, "127"},
      {"ROWID >= " + first + " AND ROWID < " + higher, "191"},
      // An empty range: both bounds the same.
      {"ROWID >= " + zero + " AND ROWID < " + zero, "0"},
      {"ROWID >= " + slot5 + " AND ROWID < " + slot5, "0"},
      // Comparisons with NULL hold for no row.
      {"ROWID <> NULL", "0"},
  };
  for (const Case& entry : cases) {
    EXPECT_EQ(conn.One("SELECT COUNT(*) FROM T WHERE " + entry.where), entry.count) << entry.where;
  }
  EXPECT_EQ(conn.One("SELECT ID FROM T WHERE ROWID = " + slot5), "69");

  OCIStmt* stmt = conn.Prepare("SELECT ID FROM T WHERE ROWID >= 'not a rowid'");
  EXPECT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, 0), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-01410: invalid ROWID\n");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST(RowidText, RangePredicateIsARowidRangeSearch) {
  engine::StatementPlan plan;
  const char* text = "SELECT * FROM T WHERE ROWID >= :minrid AND ROWID < :maxrid";
  engine::InspectStatement(text, std::strlen(text), &plan);
  std::string db = MakeDatabase("rowid_plan", Numbers());
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  engine::Catalog catalog;
  ASSERT_EQ(engine::RegisterDictionary(handle, &catalog), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(handle, ("EXPLAIN QUERY PLAN " + plan.sql).c_str(), -1, &st, nullptr),
      SQLITE_OK)
      << plan.sql;
  std::string details;
  while (sqlite3_step(st) == SQLITE_ROW) {
    details += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
  }
  sqlite3_finalize(st);
  sqlite3_close(handle);
  EXPECT_NE(details.find("INTEGER PRIMARY KEY (rowid>? AND rowid<?)"), std::string::npos)
      << details;
}

TEST(RowidText, FaultHookFailsListedRunsOnly) {
  std::string db = MakeDatabase("rowid_fault",
                                Numbers() +
                                    "CREATE TABLE rowflume_faults(minrid TEXT, remaining INTEGER);"
                                    "INSERT INTO rowflume_faults VALUES('AAAAAFAABAAAAAAAAA', 1);");
  Connection conn;
  ASSERT_EQ(conn.Logon("sqlite:" + db), OCI_SUCCESS);
  char value[] = "AAAAAFAABAAAAAAAAA";
  auto run = [&]() {
    OCIStmt* stmt = conn.Prepare("SELECT COUNT(*) FROM T WHERE ROWID >= :minrid");
    OCIBind* bind = nullptr;
    conn.api->BindByName(stmt, &bind, conn.err, reinterpret_cast<const OraText*>("MINRID"), 6,
                         value, 18, SQLT_CHR, nullptr, nullptr, nullptr, 0, nullptr, 0);
    sword status = conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, 0);
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
    return status;
  };
  EXPECT_EQ(run(), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(),
            "ORA-01555: snapshot too old: rollback segment number  with name \"\" too small\n");
  EXPECT_EQ(run(), OCI_SUCCESS);
  EXPECT_EQ(conn.One("SELECT remaining FROM rowflume_faults"), "0");
  value[17] = 'B';  // not listed
  EXPECT_EQ(run(), OCI_SUCCESS);

  OCIStmt* stmt = conn.Prepare("SELECT * FROM T PARTITION (P1)");
  EXPECT_EQ(conn.api->StmtExecute(conn.svc, stmt, conn.err, 0, 0, nullptr, nullptr, 0), OCI_ERROR);
  EXPECT_EQ(conn.ErrorText(), "ORA-02149: Specified partition does not exist\n");
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

}  // namespace
}  // namespace rowflume::enginetest
