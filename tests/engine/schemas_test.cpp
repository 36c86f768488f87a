// Owners of the embedded engine: schema files attached at logon, names qualified with their
// owners, the dictionary across owners, and ROWID ranges that stay within one owner's table.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/engine_support.h"
#include "engine/rowid.h"
#include "support/files.h"

namespace rowflume::enginetest {
namespace {

using testing_support::MakeTempDir;
using testing_support::SqliteFile;

constexpr int64_t kSchemaBase = int64_t{1} << 28;  // schema n's tables: n * 2^28 + root page
constexpr int kHrRows = 20000;                     // rowids 1 to 20000: blocks 0 to 312

// SCOTT's main database names three schema files: HR (beside it), SALES (in a folder below it)
// and one under the session user's own name, which the main database shadows.
class Schemas : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    std::filesystem::create_directory(dir_ + "/more");
    SqliteFile(dir_ + "/hr.db")
        .Exec(
            "CREATE TABLE LINES(X); CREATE TABLE ORDERS(ID INTEGER, NOTE VARCHAR2(20));"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(kHrRows) + ") INSERT INTO ORDERS SELECT i, 'hr ' || i FROM n;");
    SqliteFile(dir_ + "/more/sales.db")
        .Exec(
            "CREATE TABLE ORDERS(ID INTEGER, NOTE VARCHAR2(20));"
            "INSERT INTO ORDERS VALUES (1, 's'), (2, 's'), (3, 's'), (4, 's'), (5, 's');");
    main_ = dir_ + "/main.db";
    SqliteFile(main_).Exec(
        "CREATE TABLE ORDERS(ID INTEGER, NOTE VARCHAR2(20));"
        "INSERT INTO ORDERS VALUES (1, 'main'), (2, 'main'), (3, 'main');"
        "CREATE TABLE rowflume_schemas(owner TEXT, path TEXT);"
        "INSERT INTO rowflume_schemas VALUES ('Sales', 'more/sales.db'), ('hr', 'hr.db'),"
        " ('scott', 'more/sales.db');");
    ASSERT_EQ(conn_.Logon("sqlite:" + main_), OCI_SUCCESS) << conn_.ErrorText();
  }
  void TearDown() override {
    // The session's files are closed first: Windows removes no file that is still open.
    conn_.api->HandleFree(conn_.env, OCI_HTYPE_ENV);
    conn_.env = nullptr;
    std::filesystem::remove_all(dir_);
  }

  int64_t RootPage(const std::string& file, const char* table) {
    return std::stoll(
        SqliteFile(file, SqliteFile::Mode::kOpen)
            .One(std::string("SELECT rootpage FROM sqlite_master WHERE name = '") + table + "'"));
  }

  // Column 1 of a query run with :minrid and :maxrid bound.
  std::vector<std::string> Range(const std::string& sql, const std::string& low,
                                 const std::string& high) {
    std::vector<std::string> values;
    OCIStmt* stmt = conn_.Prepare(sql);
    OCIBind* binds[2] = {};
    const std::string* bounds[2] = {&low, &high};
    const char* names[2] = {":minrid", ":maxrid"};
    for (int idx = 0; idx < 2; ++idx) {
      EXPECT_EQ(conn_.api->BindByName(
                    stmt, &binds[idx], conn_.err, reinterpret_cast<const OraText*>(names[idx]), 7,
                    const_cast<char*>(bounds[idx]->data()), static_cast<sb4>(bounds[idx]->size()),
                    SQLT_CHR, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
                OCI_SUCCESS);
    }
    char value[32];
    ub2 len = 0;
    OCIDefine* def = nullptr;
    EXPECT_EQ(conn_.api->StmtExecute(conn_.svc, stmt, conn_.err, 0, 0, nullptr, nullptr, 0),
              OCI_SUCCESS)
        << conn_.ErrorText();
    conn_.api->DefineByPos(stmt, &def, conn_.err, 1, value, sizeof value, SQLT_CHR, nullptr, &len,
                           nullptr, OCI_DEFAULT);
    while (conn_.api->StmtFetch(stmt, conn_.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT) == OCI_SUCCESS) {
      values.emplace_back(value, len);
    }
    conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);
    return values;
  }

  std::string dir_;
  std::string main_;
  Connection conn_;
};

TEST_F(Schemas, OwnerQualifiedNamesReadThatOwnersTables) {
  struct Case {
    const char* sql;
    const char* result;
  } cases[] = {
      {"select count(*) from hr.orders", "20000"},
      {"select count(*) from \"HR\".\"ORDERS\"", "20000"},
      {"select count(*) from Hr.Orders", "20000"},
      {"select note from HR.ORDERS o where o.id = 7", "hr 7"},
      {"select count(*) from sales.orders", "5"},
      {"select count(*) from hr.orders h join sales.orders s on h.id = s.id", "5"},
      // The session user's own schema is the main database, also when a file has its name.
      {"select count(*) from scott.orders", "3"},
      {"select count(*) from \"SCOTT\".ORDERS", "3"},
      {"select count(*) from orders", "3"},
  };
  for (const Case& entry : cases) EXPECT_EQ(conn_.One(entry.sql), entry.result) << entry.sql;
  for (const char* missing : {"select * from xy.orders", "select * from hr.nosuch"}) {
    EXPECT_EQ(conn_.Execute(missing), OCI_ERROR) << missing;
    EXPECT_EQ(conn_.ErrorText(), "ORA-00942: table or view does not exist\n") << missing;
  }
}

TEST_F(Schemas, DictionaryListsEveryOwnersTablesUnderDistinctObjects) {
  int64_t hr = kSchemaBase + RootPage(dir_ + "/hr.db", "ORDERS");
  int64_t sales = 2 * kSchemaBase + RootPage(dir_ + "/more/sales.db", "ORDERS");
  int64_t scott = RootPage(main_, "ORDERS");
  EXPECT_EQ(conn_.Column("select owner || '.' || object_name || ' ' || data_object_id || ' ' || "
                         "object_id from dba_objects where object_name = 'orders' order by 1"),
            (std::vector<std::string>{
                "HR.ORDERS " + std::to_string(hr) + " " + std::to_string(hr),
                "SALES.ORDERS " + std::to_string(sales) + " " + std::to_string(sales),
                "SCOTT.ORDERS " + std::to_string(scott) + " " + std::to_string(scott)}));
  EXPECT_EQ(conn_.One("select count(*) from dba_objects where owner = 'hr'"), "2");
  EXPECT_EQ(conn_.One("select count(*) from dba_objects where owner = 'HR' and object_name = "
                      "'LINES' and object_type = 'TABLE'"),
            "1");
  // 20000 rows fill 313 blocks: three extents of 128 blocks.
  EXPECT_EQ(conn_.One("select count(*) || ' ' || sum(blocks) from dba_extents where owner = 'HR' "
                      "and segment_name = 'ORDERS'"),
            "3 384");
  EXPECT_EQ(conn_.Column("select owner || ' ' || count(*) from dba_extents where segment_name = "
                         "'ORDERS' group by owner order by owner"),
            (std::vector<std::string>{"HR 3", "SALES 1", "SCOTT 1"}));
  // A row's ROWID carries its table's data object number.
  engine::RowidParts parts{};
  std::string rowid = conn_.One("select rowid from hr.orders where id = 65");
  ASSERT_TRUE(engine::DecodeRowid(rowid.data(), rowid.size(), &parts)) << rowid;
  EXPECT_EQ(parts.object, hr);
  EXPECT_EQ(parts.block, 1);
  EXPECT_EQ(parts.slot, 1);
}

TEST_F(Schemas, RangesFromAnOwnersExtentsReadExactlyThatOwnersRows) {
  // The stretches of HR.ORDERS as a ROWID-range split asks for them.
  std::vector<std::string> stretches = conn_.Column(
      "SELECT DBMS_ROWID.ROWID_CREATE(1,o.DATA_OBJECT_ID,e.RELATIVE_FNO,e.BLOCK_ID,0) || ' ' || "
      "DBMS_ROWID.ROWID_CREATE(1,o.DATA_OBJECT_ID,e.RELATIVE_FNO,e.BLOCK_ID+e.BLOCKS-1,32767) "
      "FROM DBA_EXTENTS e,DBA_OBJECTS o WHERE o.OWNER='HR' AND o.OBJECT_NAME='ORDERS' AND "
      "o.OBJECT_TYPE LIKE 'TABLE%' AND e.OWNER=o.OWNER AND e.SEGMENT_NAME=o.OBJECT_NAME AND "
      "NVL(e.PARTITION_NAME,' ')=NVL(o.SUBOBJECT_NAME,' ') AND e.SEGMENT_TYPE=o.OBJECT_TYPE "
      "ORDER BY o.DATA_OBJECT_ID,e.RELATIVE_FNO,e.BLOCK_ID");
  ASSERT_EQ(stretches.size(), 3u);
  std::vector<int> ids;
  for (const std::string& stretch : stretches) {
    std::string low = stretch.substr(0, 18);
    std::string high = stretch.substr(19);
    std::vector<std::string> piece =
        Range("SELECT ID FROM HR.ORDERS WHERE ROWID >= :minrid AND ROWID < :maxrid", low, high);
    EXPECT_FALSE(piece.empty()) << stretch;
    for (const std::string& id : piece) ids.push_back(std::stoi(id));
    // Another owner's table of the same name lies wholly outside HR's ROWIDs: nothing of it.
    for (const char* other : {"SCOTT.ORDERS", "SALES.ORDERS", "ORDERS"}) {
      EXPECT_EQ(Range(std::string("SELECT ID FROM ") + other +
                          " WHERE ROWID >= :minrid AND ROWID < :maxrid",
                      low, high)
                    .size(),
                0u)
          << other << " " << stretch;
    }
  }
  std::sort(ids.begin(), ids.end());
  ASSERT_EQ(ids.size(), static_cast<size_t>(kHrRows));
  for (int idx = 0; idx < kHrRows; ++idx) ASSERT_EQ(ids[static_cast<size_t>(idx)], idx + 1);
  // Equal bounds make an empty range.
  EXPECT_EQ(Range("SELECT ID FROM HR.ORDERS WHERE ROWID >= :minrid AND ROWID < :maxrid",
                  "AAAAAAAAAAAAAAAAAA", "AAAAAAAAAAAAAAAAAA")
                .size(),
            0u);
}

TEST_F(Schemas, FilesThatCannotBeAttachedRefuseTheLogon) {
  testing_support::WriteFile(dir_ + "/notes.txt", std::string(4096, 'x'));
  struct Case {
    const char* rows;  // of rowflume_schemas
    int file;          // the failing row, in owner order
    std::string path;  // as the error names it
  } cases[] = {
      {"('HR', 'missing.db')", 1, "missing.db"},
      {"('HR', 'notes.txt')", 1, "notes.txt"},
      {"('A', 'hr.db'), ('B', NULL)", 2, ""},
      {"(NULL, 'hr.db')", 1, "hr.db"},
      {"('HR', 'hr.db'), ('hr', 'more/sales.db')", 2, "more/sales.db"},
      {"('MAIN', 'hr.db')", 1, "hr.db"},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.rows);
    std::string path = dir_ + "/refused.db";
    SqliteFile(path).Exec(std::string("CREATE TABLE rowflume_schemas(owner TEXT, path TEXT);"
                                      "INSERT INTO rowflume_schemas VALUES ") +
                          entry.rows);
    Connection conn;
    sb4 code = 0;
    EXPECT_EQ(conn.Logon("sqlite:" + path), OCI_ERROR);
    std::string number = std::to_string(entry.file);
    EXPECT_EQ(conn.ErrorText(&code), "ORA-01157: cannot identify/lock data file " + number +
                                         " - see DBWR trace file\nORA-01110: data file " + number +
                                         ": '" + entry.path + "'\n");
    EXPECT_EQ(code, 1157);
  }
  EXPECT_NE(access((dir_ + "/missing.db").c_str(), F_OK), 0) << "a schema file was created";
  // A path from the root is taken as it is.
  SqliteFile(dir_ + "/elsewhere.db")
      .Exec(
          "CREATE TABLE rowflume_schemas(owner TEXT, path TEXT);"
          "INSERT INTO rowflume_schemas VALUES ('HR', '" +
          dir_ + "/hr.db');");
  Connection conn;
  ASSERT_EQ(conn.Logon("sqlite:" + dir_ + "/elsewhere.db"), OCI_SUCCESS) << conn.ErrorText();
  EXPECT_EQ(conn.One("select count(*) from hr.lines"), "0");
}

}  // namespace
}  // namespace rowflume::enginetest
