// Character sets of the embedded engine: what describe reports of a database that declares its
// set, and text converted into the client's set on fetch.
#include <string>

#include "engine/engine_support.h"

namespace rowflume::enginetest {
namespace {

constexpr ub4 kAttrCharsetId = 31;

const char kLatin1Database[] =
    "CREATE TABLE rowflume_settings(name TEXT, value TEXT);"
    "INSERT INTO rowflume_settings VALUES ('nls_characterset', 'WE8ISO8859P1');"
    "CREATE TABLE t(v VARCHAR2(5), c CHAR(3), n NVARCHAR2(3), w 'VARCHAR2(2 CHAR)');"
    "INSERT INTO t VALUES (CAST(x'e9e9e9e9e9' AS TEXT), CAST(x'fc' AS TEXT),"
    " 'a\xe2\x82\xac', CAST(x'41' AS TEXT));";

// DATA_SIZE stays the bytes in the column's set; CHAR_SIZE is characters; CHARSET_ID the
// column's set (the declared one, the national one), and the environment's the client's.
TEST(EngineCharsets, DescribeReportsTheColumnsSet) {
  const std::string path = MakeDatabase("charset_describe", kLatin1Database);
  Connection conn;
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  OCIStmt* stmt = conn.Query("select v, c, n from t");
  ASSERT_NE(stmt, nullptr);
  struct Want {
    ub2 data_size, char_size, charset;
  };
  const Want wants[] = {{5, 5, 31}, {3, 3, 31}, {6, 3, 2000}};
  for (ub4 pos = 1; pos <= 3; ++pos) {
    SCOPED_TRACE(pos);
    void* param = nullptr;
    ASSERT_EQ(conn.api->ParamGet(stmt, OCI_HTYPE_STMT, conn.err, &param, pos), OCI_SUCCESS);
    ub2 data_size = 0, char_size = 0, charset = 0;
    conn.api->AttrGet(param, OCI_DTYPE_PARAM, &data_size, nullptr, OCI_ATTR_DATA_SIZE, conn.err);
    conn.api->AttrGet(param, OCI_DTYPE_PARAM, &char_size, nullptr, OCI_ATTR_CHAR_SIZE, conn.err);
    conn.api->AttrGet(param, OCI_DTYPE_PARAM, &charset, nullptr, kAttrCharsetId, conn.err);
    EXPECT_EQ(data_size, wants[pos - 1].data_size);
    EXPECT_EQ(char_size, wants[pos - 1].char_size);
    EXPECT_EQ(charset, wants[pos - 1].charset);
  }
  ub2 client = 0;
  ASSERT_EQ(conn.api->AttrGet(conn.env, OCI_HTYPE_ENV, &client, nullptr, OCI_ATTR_ENV_CHARSET_ID,
                              conn.err),
            OCI_SUCCESS);
  EXPECT_EQ(client, 873) << "AL32UTF8 without NLS_LANG";
  conn.api->HandleFree(stmt, OCI_HTYPE_STMT);
}

// Each value in the client's set: expanded into UTF-8, kept in Latin-1, replaced where US7ASCII
// or Latin-1 lacks the character; CHAR values padded to their characters after conversion.
TEST(EngineCharsets, FetchConvertsIntoTheClientsSet) {
  const std::string path = MakeDatabase("charset_fetch", kLatin1Database);
  struct Case {
    ub2 client;
    const char* v;
    const char* c;
    const char* n;
  };
  const Case cases[] = {
      {873, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "\xc3\xbc  ", "a\xe2\x82\xac"},
      {871, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "\xc3\xbc  ", "a\xe2\x82\xac"},
      {31, "\xe9\xe9\xe9\xe9\xe9", "\xfc  ", "a\xbf"},
      {1, "?????", "?  ", "a?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.client);
    Connection conn(EmbeddedApi(), c.client);
    ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
    EXPECT_EQ(conn.One("select v from t"), c.v);
    EXPECT_EQ(conn.One("select c from t"), c.c);
    EXPECT_EQ(conn.One("select n from t"), c.n);
    EXPECT_EQ(conn.One("select w from t"), "A");
  }
}

// Without a declared set the text passes as stored, whatever the client's set.
TEST(EngineCharsets, UndeclaredDatabasePassesTextAsStored) {
  const std::string path = MakeDatabase(
      "charset_none", "CREATE TABLE t(v VARCHAR2(4)); INSERT INTO t VALUES ('\xc3\xa9');");
  Connection conn(EmbeddedApi(), 31);
  ASSERT_EQ(conn.Logon(path), OCI_SUCCESS);
  EXPECT_EQ(conn.One("select v from t"), "\xc3\xa9");
}

}  // namespace
}  // namespace rowflume::enginetest
