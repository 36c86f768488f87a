// Real consumers of the INSERT and MySQL load outputs: MySQL INSERT statements and the MySQL
// load layout loaded into a private MariaDB server, Oracle INSERT statements executed by
// SQLite. Each loaded table must equal the source rows byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "support/files.h"
#include "support/private_server.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

// The client prints rows with tabs; the SQLite helper joins columns with "|".
std::string TabsToBars(std::string text) {
  for (char& c : text)
    if (c == '\t') c = '|';
  return text;
}

// A source table with every kind of value the INSERT and load formats must carry: text with
// quotes, backslashes, line breaks, tabs, commas and UTF-8, empty text, NULLs, decimals, dates,
// RAW bytes of every troublesome kind and binary LOBs.
class Consumers : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
    ASSERT_TRUE(db_->Exec(
        "CREATE TABLE SRC (ID NUMBER(6), NAME VARCHAR2(100), AMOUNT NUMBER(10,2), "
        "CREATED DATE, CODE RAW(8), DOC BLOB);"
        "INSERT INTO SRC VALUES (1, 'plain', 12.5, '2020-01-02 03:04:05', x'00ff27225c0a2c09',"
        " NULL);"
        "INSERT INTO SRC VALUES (2, 'it''s \"quoted\"', -3.75, '1999-12-31 23:59:59', x'', NULL);"
        "INSERT INTO SRC VALUES (3, 'back\\slash \\n \\\\ \\N', 0, NULL, NULL, NULL);"
        "INSERT INTO SRC VALUES (4, 'line' || char(10) || 'break' || char(13) || char(10) ||"
        " 'tab' || char(9) || 'comma, end', 1, '2001-02-03 04:05:06', x'41', NULL);"
        "INSERT INTO SRC VALUES (5, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO SRC VALUES (6, '', 99999999.99, '2038-01-19 03:14:07', x'5c', NULL);"
        "INSERT INTO SRC VALUES (7, 'Grüße € ''\\'' \"\"', 0.01, '1970-01-01 00:00:00', x'22',"
        " NULL);"));
    ASSERT_TRUE(db_->ExecWithBlob("UPDATE SRC SET DOC = ?1 WHERE ID = 1", PatternBytes(600)));
    ASSERT_TRUE(db_->ExecWithBlob("UPDATE SRC SET DOC = ?1 WHERE ID = 4", std::string()));
    ASSERT_TRUE(
        db_->ExecWithBlob("UPDATE SRC SET DOC = ?1 WHERE ID = 7", std::string("\0'\"\\,\n", 6)));
  }
  PrivateServer* Server() {
    bool installed = false;
    std::string why;
    PrivateServer* server = PrivateServer::Get("mariadb_server.sh", &installed, &why);
    if (server == nullptr && installed) ADD_FAILURE() << "MariaDB did not start:\n" << why;
    return server;
  }

  // The source rows as both databases print them: hex for text and bytes, NULL as "N".
  std::string SourceRows(const std::string& columns) {
    return db_->Rows("SELECT " + columns + " FROM SRC ORDER BY ID");
  }
};

constexpr char kHexColumns[] =
    "ID, CASE WHEN NAME IS NULL THEN 'N' ELSE hex(NAME) END, "
    "CASE WHEN CREATED IS NULL THEN 'N' ELSE CREATED END, "
    "CASE WHEN CODE IS NULL THEN 'N' ELSE hex(CODE) END, "
    "CASE WHEN DOC IS NULL THEN 'N' ELSE hex(DOC) END";
constexpr char kSqliteAmount[] =
    ", CASE WHEN AMOUNT IS NULL THEN 'N' ELSE printf('%.2f', AMOUNT) END";
constexpr char kMariaAmount[] = ", CASE WHEN AMOUNT IS NULL THEN 'N' ELSE AMOUNT END";

TEST_F(Consumers, MySqlInsertStatementsLoadIntoMariaDb) {
  PrivateServer* server = Server();
  if (server == nullptr) GTEST_SKIP() << "MariaDB is not installed; the MySQL consumer is skipped";
  ASSERT_EQ(server
                ->Sql("DROP TABLE IF EXISTS SRC;"
                      "CREATE TABLE SRC (ID INT PRIMARY KEY, NAME VARCHAR(100), "
                      "AMOUNT DECIMAL(10,2), CREATED DATETIME, CODE VARBINARY(8), DOC BLOB) "
                      "CHARACTER SET utf8mb4;")
                .status,
            0);

  // Array 5: two statements, of 5 and 2 rows. The key is named in lower case.
  ProgramRun unload = RunProgram(
      dir_, {db_->user(), "query=SRC", "text=MYSQLINS", "unique=id", "array=5", "file=src.sql"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  std::string statements = ReadFile(dir_ + "/src.sql");
  size_t heads = 0;
  for (size_t at = statements.find("INSERT  INTO `SRC` (`ID`,`NAME`,"); at != std::string::npos;
       at = statements.find("INSERT  INTO `SRC`", at + 1)) {
    ++heads;
  }
  EXPECT_EQ(heads, 2u) << "one statement per fetched array";
  EXPECT_EQ(statements.find("`ID`=VALUES"), std::string::npos) << "the key column is updated";
  EXPECT_NE(statements.find("`NAME`=VALUES(`NAME`)"), std::string::npos);

  // Applied twice: the duplicate-key tail turns the second load into updates.
  for (int pass = 0; pass < 2; ++pass) {
    ProgramRun load = server->SourceFile(dir_ + "/src.sql");
    ASSERT_EQ(load.status, 0) << "pass " << pass << ": " << load.out;
  }
  std::string columns = std::string(kHexColumns);
  ProgramRun loaded = server->Sql("SELECT " + columns + kMariaAmount + " FROM SRC ORDER BY ID;");
  ASSERT_EQ(loaded.status, 0) << loaded.out;
  EXPECT_EQ(TabsToBars(loaded.out), SourceRows(columns + kSqliteAmount));

  // A changed source row replaces the loaded one instead of failing on its key.
  ASSERT_TRUE(db_->Exec("UPDATE SRC SET NAME = 'changed', AMOUNT = 7 WHERE ID = 2"));
  unload =
      RunProgram(dir_, {db_->user(), "query=SRC", "text=MYSQLINS", "unique=ID", "file=src2.sql"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun reload = server->SourceFile(dir_ + "/src2.sql");
  ASSERT_EQ(reload.status, 0) << reload.out;
  loaded = server->Sql("SELECT " + columns + kMariaAmount + " FROM SRC ORDER BY ID;");
  EXPECT_EQ(TabsToBars(loaded.out), SourceRows(columns + kSqliteAmount));
  EXPECT_EQ(server->Sql("SELECT COUNT(*) FROM SRC;").out, "7\n");
}

TEST_F(Consumers, MySqlLoadLayoutLoadsWithLoadData) {
  PrivateServer* server = Server();
  if (server == nullptr) GTEST_SKIP() << "MariaDB is not installed; the MySQL consumer is skipped";
  // A backslash after a UTF-8 character (its last byte and the backslash look like one GBK
  // character), RAW bytes and a BLOB of random bytes, which hold quotes and backslashes.
  ASSERT_TRUE(
      db_->Exec("INSERT INTO SRC VALUES (8, '\xE4\xB8\xAD\\ \xE2\x82\xAC\\n', 2, NULL,"
                " x'e4b8ad5c22', NULL);"));
  std::mt19937 random(7);
  std::string noise(5000, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  ASSERT_TRUE(db_->ExecWithBlob("UPDATE SRC SET DOC = ?1 WHERE ID = 8", noise));
  ASSERT_EQ(server
                ->Sql("DROP TABLE IF EXISTS LOADED;"
                      "CREATE TABLE LOADED (ID INT PRIMARY KEY, NAME VARCHAR(100), "
                      "AMOUNT DECIMAL(10,2), CREATED DATETIME, CODE VARBINARY(8), DOC BLOB) "
                      "CHARACTER SET utf8mb4;")
                .status,
            0);
  ProgramRun unload = RunProgram(dir_, {db_->user(), "query=SRC", "text=MYSQL", "file=load.txt"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun load = server->Sql("LOAD DATA LOCAL INFILE '" + dir_ +
                                "/load.txt' INTO TABLE LOADED CHARACTER SET utf8mb4 "
                                "FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' "
                                "ESCAPED BY '\\\\' LINES TERMINATED BY '\\n';"
                                "SHOW WARNINGS;");
  ASSERT_EQ(load.status, 0) << load.out;
  EXPECT_EQ(load.out, "") << "the load gave warnings";
  const std::string columns = kHexColumns;
  ProgramRun loaded = server->Sql("SELECT " + columns + kMariaAmount + " FROM LOADED ORDER BY ID;");
  ASSERT_EQ(loaded.status, 0) << loaded.out;
  EXPECT_EQ(TabsToBars(loaded.out), SourceRows(columns + kSqliteAmount));
}

TEST_F(Consumers, OracleInsertStatementsRunInSqlite) {
  // One statement per row, to standard output; executed as a script by SQLite.
  ProgramRun unload =
      RunProgram(dir_, {db_->user(), "query=select ID, NAME, AMOUNT, CREATED from SRC order by ID",
                        "text=ORACLEINS", "table=COPY"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  size_t statements = 0;
  for (size_t at = unload.out.find("INSERT  INTO COPY (ID,NAME,AMOUNT,CREATED) VALUES \n(");
       at != std::string::npos; at = unload.out.find("INSERT  INTO COPY", at + 1)) {
    ++statements;
  }
  EXPECT_EQ(statements, 7u);

  SqliteFile copy(dir_ + "/copy.db");
  ASSERT_TRUE(copy.Exec("CREATE TABLE COPY (ID, NAME, AMOUNT, CREATED);"));
  ASSERT_TRUE(copy.Exec(unload.out));
  const std::string columns =
      "ID, CASE WHEN NAME IS NULL THEN 'N' ELSE hex(NAME) END, "
      "CASE WHEN CREATED IS NULL THEN 'N' ELSE CREATED END" +
      std::string(kSqliteAmount);
  EXPECT_EQ(copy.Rows("SELECT " + columns + " FROM COPY ORDER BY ID"), SourceRows(columns));
}

}  // namespace
}  // namespace rowflume
