// Oracle error texts of the embedded engine.
#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

class EngineErrors : public testing::Test {
 protected:
  void SetUp() override {
    path_ = MakeDatabase("errors",
                         "CREATE TABLE emp(id INTEGER PRIMARY KEY, name TEXT NOT NULL);"
                         "INSERT INTO emp VALUES (1, 'KING');");
    ASSERT_EQ(conn_.Logon(path_), OCI_SUCCESS);
  }

  // The whole error text of executing `sql` as a query: SQLite's own words never follow it.
  std::string QueryError(const std::string& sql) {
    OCIStmt* stmt = conn_.Prepare(sql);
    EXPECT_EQ(
        conn_.api->StmtExecute(conn_.svc, stmt, conn_.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
        OCI_ERROR)
        << sql;
    conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);
    return conn_.ErrorText();
  }

  Connection conn_;
  std::string path_;
};

TEST_F(EngineErrors, ClassicTexts) {
  EXPECT_EQ(QueryError("select * from nosuch"), "ORA-00942: table or view does not exist\n");
  EXPECT_EQ(QueryError("select id, last_login from emp"),
            "ORA-00904: \"LAST_LOGIN\": invalid identifier\n");
  EXPECT_EQ(QueryError("select e.nope from emp e"),
            "ORA-00904: \"E\".\"NOPE\": invalid identifier\n");
  EXPECT_EQ(QueryError("selec 1 from dual"), "ORA-00900: invalid SQL statement\n");
  EXPECT_EQ(QueryError("select * from emp e f g"), "ORA-00933: SQL command not properly ended\n");
  EXPECT_EQ(QueryError("select * from "), "ORA-00921: unexpected end of SQL command\n");
  EXPECT_EQ(QueryError("select 1 from dual; select 2 from dual"),
            "ORA-00933: SQL command not properly ended\n");
  EXPECT_EQ(QueryError("SELECTIONS"), "ORA-00900: invalid SQL statement\n");
  // An open comment is refused whatever else the statement holds; comment marks inside strings
  // and line comments are no comments.
  for (const char* open : {"select * from emp /* to the end", "select /*+ FULL(e) from emp e",
                           "select * from nosuch /*", "selec /* 1 from dual",
                           "ALTER SESSION SET NLS_DATE_FORMAT='YYYY' /* year"}) {
    EXPECT_EQ(QueryError(open), "ORA-01742: comment not terminated properly\n") << open;
  }
  EXPECT_EQ(conn_.One("select '/*' || name from emp -- /* not a comment"), "/*KING");
  EXPECT_EQ(conn_.One("select /* */ name /**/ from emp /* closed at the end */"), "KING");
  sb4 code = 0;
  EXPECT_EQ(conn_.Execute("insert into emp values (1, 'BLAKE')"), OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(&code), "ORA-00001: unique constraint (SCOTT.EMP_ID) violated\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(conn_.Execute("insert into emp values (2, NULL)"), OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(), "ORA-01400: cannot insert NULL into (\"SCOTT\".\"EMP\".\"NAME\")\n");
}

TEST_F(EngineErrors, ErrorRecordsFollowTheLastCall) {
  OCIError* fresh = nullptr;
  conn_.api->HandleAlloc(conn_.env, reinterpret_cast<void**>(&fresh), OCI_HTYPE_ERROR, 0, nullptr);
  sb4 code = -7;
  char text[16] = "untouched";
  EXPECT_EQ(conn_.api->ErrorGet(fresh, 1, nullptr, &code, reinterpret_cast<OraText*>(text),
                                sizeof text, OCI_HTYPE_ERROR),
            OCI_NO_DATA);
  EXPECT_EQ(code, -7);
  EXPECT_STREQ(text, "untouched");
  // A small buffer gets the start of the text, terminated.
  EXPECT_EQ(QueryError("select * from nosuch"), "ORA-00942: table or view does not exist\n");
  EXPECT_EQ(conn_.api->ErrorGet(conn_.err, 1, nullptr, &code, reinterpret_cast<OraText*>(text),
                                sizeof text, OCI_HTYPE_ERROR),
            OCI_SUCCESS);
  EXPECT_STREQ(text, "ORA-00942: tabl");
  EXPECT_EQ(conn_.api->ErrorGet(conn_.err, 2, nullptr, &code, reinterpret_cast<OraText*>(text),
                                sizeof text, OCI_HTYPE_ERROR),
            OCI_NO_DATA);
  // A later successful call leaves no record behind.
  EXPECT_EQ(conn_.One("select name from emp"), "KING");
  EXPECT_EQ(conn_.ErrorText(), "");
}

TEST_F(EngineErrors, MisuseIsRefusedNotCrashed) {
  OCIStmt* stmt = conn_.Prepare("select id from emp");
  OCIDefine* def = nullptr;
  char buffer[8];
  EXPECT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  ASSERT_EQ(conn_.api->StmtExecute(conn_.svc, stmt, conn_.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(conn_.api->DefineByPos(stmt, &def, conn_.err, 2, buffer, 8, SQLT_CHR, nullptr, nullptr,
                                   nullptr, OCI_DEFAULT),
            OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(), "ORA-01007: variable not in select list\n");
  // A locator slot narrower than a pointer cannot hold one.
  if (sizeof(void*) > 4) {
    EXPECT_EQ(conn_.api->DefineByPos(stmt, &def, conn_.err, 1, buffer, 4, SQLT_BLOB, nullptr,
                                     nullptr, nullptr, OCI_DEFAULT),
              OCI_ERROR);
  }
  EXPECT_EQ(conn_.api->HandleFree(stmt, OCI_HTYPE_ERROR), OCI_INVALID_HANDLE);
  EXPECT_EQ(conn_.api->HandleFree(stmt, OCI_HTYPE_STMT), OCI_SUCCESS);
  EXPECT_EQ(conn_.api->HandleFree(nullptr, OCI_HTYPE_STMT), OCI_INVALID_HANDLE);
  EXPECT_EQ(conn_.Execute("insert into emp select 5, 'X' where 0"), OCI_SUCCESS);
  OCIStmt* query = conn_.Prepare("delete from emp where id = 99");
  EXPECT_EQ(
      conn_.api->StmtExecute(conn_.svc, query, conn_.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
      OCI_ERROR);
  EXPECT_EQ(conn_.ErrorText(), "ORA-24333: zero iteration count\n");
  conn_.api->HandleFree(query, OCI_HTYPE_STMT);
}

}  // namespace
}  // namespace rowflume::enginetest
