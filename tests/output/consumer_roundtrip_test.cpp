// Awkward but ordinary values read back by real consumers: the CSV layout copied into a private
// PostgreSQL server (COPY, FORMAT csv, HEADER MATCH) and read by Python's csv module, and the
// MySQL load layout loaded into a private MariaDB server (LOAD DATA). Every value must come back
// equal, whatever bytes it holds and whatever the column's type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/private_server.h"
#include "support/program_folder.h"

namespace rowflume {
namespace {

using namespace testing_support;

// One column of the source table: its alias in the query (the header name), its declared type,
// the value put in (SQLite SQL), the type each consumer loads it into, and how the consumers
// print what they loaded.
struct Case {
  const char* alias;
  const char* source_type;
  const char* value;
  const char* postgres_type;
  const char* mariadb_type;
  const char* printed;
};

// The sources of awkward bytes: multi-byte characters whose last byte is followed by a backslash,
// a quote or a line feed, and names a CSV reader must see quoted.
const Case kCases[] = {
    {"ID", "NUMBER(4)", "1", "int", "INT", "1"},
    {"a,b", "VARCHAR2(40)", "'中\\'", "text", "VARCHAR(40)", "中\\"},
    {"x\"y", "VARCHAR2(40)", "'€' || char(10) || '\"'", "text", "VARCHAR(40)", "€\n\""},
    {"line\nbreak", "VARCHAR2(40)", "'😀\\\"' || ''''", "text", "VARCHAR(40)", "😀\\\"'"},
    {"T4", "VARCHAR2(40)", "'ü\\n' || char(13)", "text", "VARCHAR(40)", "ü\\n\r"},
    {"T5", "VARCHAR2(40)", "'ħ\\' || char(9) || '€\\\\'", "text", "VARCHAR(40)", "ħ\\\t€\\\\"},
    {"AMOUNT", "NUMBER(10,2)", "12.5", "numeric(10,2)", "DECIMAL(10,2)", "12.50"},
};

// The query with every alias quoted, as Oracle takes names that are not plain.
std::string Query() {
  std::string query = "query=select ";
  for (const Case& c : kCases) {
    if (&c != kCases) query += ", ";
    std::string alias;
    for (const char* p = c.alias; *p != '\0'; ++p) alias += *p == '"' ? "\"\"" : std::string(1, *p);
    query += std::string("C") + std::to_string(&c - kCases) + " as \"" + alias + "\"";
  }
  return query + " from RT";
}

class ConsumerRoundTrip : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
    std::string create = "CREATE TABLE RT (";
    std::string insert = "INSERT INTO RT VALUES (";
    for (const Case& c : kCases) {
      const std::string column = "C" + std::to_string(&c - kCases);
      create += (&c == kCases ? "" : ", ") + column + " " + c.source_type;
      insert += (&c == kCases ? "" : ", ") + std::string(c.value);
    }
    ASSERT_TRUE(db_->Exec(create + "); " + insert + ");"));
  }

  PrivateServer* Server(const char* script) {
    bool installed = false;
    std::string why;
    PrivateServer* server = PrivateServer::Get(script, &installed, &why);
    if (server == nullptr && installed) ADD_FAILURE() << script << " did not start:\n" << why;
    return server;
  }

  // The expected rows as a consumer prints them: columns joined by sep.
  static std::string Expected(char sep) {
    std::string row;
    for (const Case& c : kCases) row += (&c == kCases ? "" : std::string(1, sep)) + c.printed;
    return row;
  }
};

// A table definition for a consumer whose names are the aliases.
std::string CreateTable(const char* quote, bool postgres) {
  std::string sql = "CREATE TABLE rt (";
  for (const Case& c : kCases) {
    std::string name;
    for (const char* p = c.alias; *p != '\0'; ++p) {
      name += *p == quote[0] ? std::string(2, *p) : std::string(1, *p);
    }
    sql += (&c == kCases ? "" : ", ") + std::string(quote) + name + quote + " " +
           (postgres ? c.postgres_type : c.mariadb_type);
  }
  return sql + ")";
}

TEST_F(ConsumerRoundTrip, CsvCopiedIntoPostgres) {
  PrivateServer* server = Server("postgres_server.sh");
  if (server == nullptr) GTEST_SKIP() << "PostgreSQL is not installed";
  // A client of a comma-decimal territory: the numbers must still be written with a point.
  ProgramRun unload = RunShell(
      dir_, "NLS_LANG=GERMAN_GERMANY.AL32UTF8 " + ShellQuote(ROWFLUME_BINARY) + " " +
                ShellQuote(db_->user()) + " " + ShellQuote(Query()) + " text=CSV file=rt.csv");
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun load = server->Sql(CreateTable("\"", true) + ";\n\\copy rt from '" + dir_ +
                                "/rt.csv' with (format csv, header match)\n"
                                "select * from rt;\n");
  ASSERT_EQ(load.status, 0) << load.out << ReadFile(dir_ + "/rt.csv");
  EXPECT_EQ(load.out, Expected('|') + "\n") << ReadFile(dir_ + "/rt.csv");
}

TEST_F(ConsumerRoundTrip, MySqlLayoutLoadedIntoMariaDb) {
  PrivateServer* server = Server("mariadb_server.sh");
  if (server == nullptr) GTEST_SKIP() << "MariaDB is not installed";
  ProgramRun unload = RunProgram(dir_, {db_->user(), Query(), "text=MYSQL", "file=rt.txt"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun load = server->Sql(
      "SET NAMES utf8mb4; DROP TABLE IF EXISTS rt;" + CreateTable("`", false) +
      " CHARACTER SET utf8mb4; LOAD DATA LOCAL INFILE '" + dir_ +
      "/rt.txt' INTO TABLE rt CHARACTER SET utf8mb4 FIELDS TERMINATED BY ',' OPTIONALLY "
      "ENCLOSED BY '\"' ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'; SHOW WARNINGS;"
      "SELECT * FROM rt;");
  ASSERT_EQ(load.status, 0) << load.out;
  // The client prints tabs between columns and escapes control characters in values.
  std::string expected;
  for (const Case& c : kCases) {
    if (&c != kCases) expected += '\t';
    for (const char* p = c.printed; *p != '\0'; ++p) {
      expected += *p == '\n'   ? "\\n"
                  : *p == '\t' ? "\\t"
                  : *p == '\\' ? "\\\\"
                               : std::string(1, *p);
    }
  }
  EXPECT_EQ(load.out, expected + "\n") << ReadFile(dir_ + "/rt.txt");
}

// RAW values holding every byte 0x00 to 0xff, 16 to a value: the MySQL load layout into MariaDB
// and CSV read by Python's csv module must give every byte back.
TEST_F(ConsumerRoundTrip, RawBytesOfEveryValue) {
  std::string expected;
  for (int row = 0; row < 16; ++row) {
    std::string hex;
    for (int k = 0; k < 16; ++k) {
      static const char kDigits[] = "0123456789ABCDEF";
      const int byte = row * 16 + k;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
    ASSERT_TRUE(
        db_->Exec("CREATE TABLE IF NOT EXISTS RAWS (ID NUMBER(4), R RAW(16));"
                  "INSERT INTO RAWS VALUES (" +
                  std::to_string(row) + ", x'" + hex + "');"));
    expected += std::to_string(row) + "\t" + hex + "\n";
  }
  const std::string query = "query=select ID, R from RAWS order by ID";

  ProgramRun unload = RunProgram(dir_, {db_->user(), query, "text=CSV", "file=raws.csv"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun read =
      RunShell(dir_,
               "python3 -c 'import csv\n"
               "with open(\"raws.csv\", newline=\"\", encoding=\"latin-1\") as f:\n"
               "    for row in list(csv.reader(f))[1:]:\n"
               "        print(row[0] + \"\\t\" + row[1].encode(\"latin-1\").hex().upper())'");
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, expected);

  PrivateServer* server = Server("mariadb_server.sh");
  if (server == nullptr) GTEST_SKIP() << "MariaDB is not installed";
  unload = RunProgram(dir_, {db_->user(), query, "text=MYSQL", "file=raws.txt"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun load = server->Sql(
      "DROP TABLE IF EXISTS raws; CREATE TABLE raws (ID INT, R VARBINARY(16));"
      "LOAD DATA LOCAL INFILE '" +
      dir_ +
      "/raws.txt' INTO TABLE raws FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' "
      "ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'; SHOW WARNINGS;"
      "SELECT ID, hex(R) FROM raws ORDER BY ID;");
  ASSERT_EQ(load.status, 0) << load.out;
  EXPECT_EQ(load.out, expected);
}

}  // namespace
}  // namespace rowflume
