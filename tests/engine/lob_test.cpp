// LOB locators and piecewise reads of the embedded engine.
#include <cstring>

#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

class EngineLob : public testing::Test {
 protected:
  void SetUp() override {
    value_ = PatternBytes(100000);
    path_ = MakeDatabase("lob",
                         "CREATE TABLE t(id INTEGER, b BLOB, c CLOB);"
                         "INSERT INTO t VALUES (1, x'" +
                             Hex(value_) +
                             "', 'clob text'),"
                             "(2, x'', ''), (3, NULL, NULL);");
    ASSERT_EQ(conn_.Logon(path_), OCI_SUCCESS);
  }

  // Reads a whole value the way the LOB file writer does: amount 0, 32768-byte pieces; the
  // offset passed after the first call is deliberately wrong to show that it is ignored.
  std::string ReadAll(OCILobLocator* locator, std::vector<sword>* statuses) {
    std::string out;
    char buffer[32768];
    EXPECT_EQ(conn_.api->LobOpen(conn_.svc, conn_.err, locator, OCI_LOB_READONLY), OCI_SUCCESS);
    ub4 offset = 1;
    sword status;
    do {
      ub4 amount = 0;
      status = conn_.api->LobRead(conn_.svc, conn_.err, locator, &amount, offset, buffer,
                                  sizeof buffer, nullptr, nullptr, 0, 0);
      statuses->push_back(status);
      out.append(buffer, amount);
      offset = 999999;
    } while (status == OCI_NEED_DATA);
    EXPECT_EQ(conn_.api->LobClose(conn_.svc, conn_.err, locator), OCI_SUCCESS);
    return out;
  }

  Connection conn_;
  std::string value_;
  std::string path_;
};

TEST_F(EngineLob, LocatorsReadInPieces) {
  OCIStmt* stmt = conn_.Query("select b, c from t order by id");
  ASSERT_NE(stmt, nullptr);
  OCILobLocator* blobs[3] = {};
  OCILobLocator* clobs[3] = {};
  for (int row = 0; row < 3; ++row) {
    ASSERT_EQ(conn_.api->DescriptorAlloc(conn_.env, reinterpret_cast<void**>(&blobs[row]),
                                         OCI_DTYPE_LOB, 0, nullptr),
              OCI_SUCCESS);
    conn_.api->DescriptorAlloc(conn_.env, reinterpret_cast<void**>(&clobs[row]), OCI_DTYPE_LOB, 0,
                               nullptr);
  }
  sb2 blob_ind[3];
  sb2 clob_ind[3];
  OCIDefine* defs[2] = {};
  ASSERT_EQ(conn_.api->DefineByPos(stmt, &defs[0], conn_.err, 1, blobs, 0, SQLT_BLOB, blob_ind,
                                   nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(conn_.api->DefineByPos(stmt, &defs[1], conn_.err, 2, clobs, sizeof(void*), SQLT_CLOB,
                                   clob_ind, nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  std::vector<sword> statuses;
  EXPECT_EQ(ReadAll(blobs[0], &statuses), value_);
  EXPECT_EQ(statuses,
            (std::vector<sword>{OCI_NEED_DATA, OCI_NEED_DATA, OCI_NEED_DATA, OCI_SUCCESS}));
  statuses.clear();
  EXPECT_EQ(ReadAll(clobs[0], &statuses), "clob text");
  EXPECT_EQ(statuses, std::vector<sword>{OCI_SUCCESS});
  // Empty values have nothing to deliver: the client says no data.
  statuses.clear();
  EXPECT_EQ(ReadAll(blobs[1], &statuses), "");
  EXPECT_EQ(statuses, std::vector<sword>{OCI_NO_DATA});
  statuses.clear();
  EXPECT_EQ(ReadAll(clobs[1], &statuses), "");
  EXPECT_EQ(statuses, std::vector<sword>{OCI_NO_DATA});
  EXPECT_EQ(blob_ind[1], 0);
  EXPECT_EQ(blob_ind[2], -1);
  EXPECT_EQ(clob_ind[2], -1);
  // A locator of a NULL value cannot be opened.
  EXPECT_EQ(conn_.api->LobOpen(conn_.svc, conn_.err, blobs[2], OCI_LOB_READONLY), OCI_ERROR);
  // An explicit amount and offset read just that part.
  char part[4];
  ub4 amount = 4;
  ASSERT_EQ(conn_.api->LobRead(conn_.svc, conn_.err, blobs[0], &amount, 32769, part, sizeof part,
                               nullptr, nullptr, 0, 0),
            OCI_SUCCESS);
  EXPECT_EQ(amount, 4u);
  EXPECT_EQ(std::string(part, 4), value_.substr(32768, 4));
  conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

TEST_F(EngineLob, LargeValuesInline) {
  OCIStmt* stmt = conn_.Query("select b from t where id = 1");
  ASSERT_NE(stmt, nullptr);
  std::vector<char> buffer(100004);
  OCIDefine* def = nullptr;
  ASSERT_EQ(conn_.api->DefineByPos(stmt, &def, conn_.err, 1, buffer.data(), 100004, SQLT_LVB,
                                   nullptr, nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  ub4 len = 0;
  std::memcpy(&len, buffer.data(), 4);
  ASSERT_EQ(len, 100000u);
  EXPECT_EQ(std::string(buffer.data() + 4, len), value_);
  conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);

  // Too small a buffer: cut, code 1406, indicator -2 for a length beyond what it can tell.
  stmt = conn_.Query("select b from t where id = 1");
  ASSERT_NE(stmt, nullptr);
  sb2 ind = 0;
  ub2 code = 0;
  ASSERT_EQ(conn_.api->DefineByPos(stmt, &def, conn_.err, 1, buffer.data(), 1004, SQLT_LVB, &ind,
                                   nullptr, &code, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(conn_.api->StmtFetch(stmt, conn_.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT),
            OCI_SUCCESS_WITH_INFO);
  std::memcpy(&len, buffer.data(), 4);
  EXPECT_EQ(len, 1000u);
  EXPECT_EQ(ind, -2);
  EXPECT_EQ(code, 1406);
  conn_.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

// A character LOB is read under its column's form (0 standing for the database set's); any other
// is refused with ORA-24806 and delivers nothing. Binary LOBs have no form to compare.
TEST(EngineLobForm, ReadsMustNameTheColumnsForm) {
  const std::string path = MakeDatabase(
      "lobform",
      "CREATE TABLE t(c CLOB, n NCLOB, b BLOB); INSERT INTO t VALUES ('c', 'n', x'62');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  struct Case {
    ub4 position;
    ub2 type;
    ub1 form;
    sb4 error;  // 0: the value is read
  };
  const Case cases[] = {
      {1, SQLT_CLOB, 0, 0},
      {1, SQLT_CLOB, SQLCS_IMPLICIT, 0},
      {1, SQLT_CLOB, SQLCS_NCHAR, 24806},
      {2, SQLT_CLOB, 0, 24806},
      {2, SQLT_CLOB, SQLCS_IMPLICIT, 24806},
      {2, SQLT_CLOB, SQLCS_NCHAR, 0},
      {3, SQLT_BLOB, 0, 0},
      {3, SQLT_BLOB, SQLCS_NCHAR, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "column " << c.position << " form " << int(c.form));
    OCIStmt* stmt = conn.Query("select c, n, b from t");
    ASSERT_NE(stmt, nullptr);
    OCILobLocator* locator = nullptr;
    conn.api->DescriptorAlloc(conn.env, reinterpret_cast<void**>(&locator), OCI_DTYPE_LOB, 0,
                              nullptr);
    OCIDefine* def = nullptr;
    ASSERT_EQ(conn.api->DefineByPos(stmt, &def, conn.err, c.position, &locator, sizeof locator,
                                    c.type, nullptr, nullptr, nullptr, OCI_DEFAULT),
              OCI_SUCCESS);
    ASSERT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
    char buffer[8] = {};
    ub4 amount = 0;
    sword status = conn.api->LobRead(conn.svc, conn.err, locator, &amount, 1, buffer, sizeof buffer,
                                     nullptr, nullptr, 0, c.form);
    if (c.error == 0) {
      EXPECT_EQ(status, OCI_SUCCESS);
      EXPECT_EQ(std::string(buffer, amount), std::string(1, "cnb"[c.position - 1]));
    } else {
      sb4 code = 0;
      EXPECT_EQ(status, OCI_ERROR);
      EXPECT_EQ(conn.ErrorText(&code), "ORA-24806: LOB form mismatch\n");
      EXPECT_EQ(code, c.error);
    }
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  }
}

// A BFILE is read through its file locator only; defined as a long value, as the other LOBs may
// be, it is refused with ORA-00932 when fetched.
TEST(EngineBfile, ReadOnlyThroughLocators) {
  const std::string path =
      MakeDatabase("bfile", "CREATE TABLE t(f BFILE); INSERT INTO t VALUES (x'0102');");
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  for (ub2 type : {SQLT_LVC, SQLT_LVB}) {
    OCIStmt* stmt = conn.Query("select f from t");
    ASSERT_NE(stmt, nullptr);
    char buffer[64];
    OCIDefine* def = nullptr;
    ASSERT_EQ(conn.api->DefineByPos(stmt, &def, conn.err, 1, buffer, sizeof buffer, type, nullptr,
                                    nullptr, nullptr, OCI_DEFAULT),
              OCI_SUCCESS);
    EXPECT_EQ(conn.api->StmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
    sb4 code = 0;
    EXPECT_EQ(conn.ErrorText(&code).rfind("ORA-00932: ", 0), 0u);
    EXPECT_EQ(code, 932);
    conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
  }
}

}  // namespace
}  // namespace rowflume::enginetest
