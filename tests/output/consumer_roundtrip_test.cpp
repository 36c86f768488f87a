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
// the value put in (SQLite SQL), and for each consumer the type it loads the column into and how
// it prints what it loaded. PostgreSQL prints numbers through trim_scale, so that the text of a
// conversion on the client ("12.50") and the server's ("12.5") print alike.
struct Case {
  const char* alias;
  const char* source_type;
  const char* value;
  const char* postgres_type;
  const char* postgres_printed;
  const char* mariadb_type;
  const char* mariadb_printed;
};

// Stand-ins for texts too long to spell out in the table.
constexpr char kBig[] = "1E50";
constexpr char kTinyPrinted[] = "1E-129 printed";
constexpr char kTinyWritten[] = "1E-129 written";

// Multi-byte characters whose last byte is followed by a backslash, a quote or a line feed;
// names a CSV reader must see quoted; numbers at the edges of their types.
const Case kCases[] = {
    {"ID", "NUMBER(4)", "1", "numeric", "1", "INT", "1"},
    {"a,b", "VARCHAR2(40)", "'中\\'", "text", "中\\", "VARCHAR(40)", "中\\"},
    {"x\"y", "VARCHAR2(40)", "'€' || char(10) || '\"'", "text", "€\n\"", "VARCHAR(40)", "€\n\""},
    {"line\nbreak", "VARCHAR2(40)", "'😀\\\"' || ''''", "text", "😀\\\"'", "VARCHAR(40)", "😀\\\"'"},
    {"T4", "VARCHAR2(40)", "'ü\\n' || char(13)", "text", "ü\\n\r", "VARCHAR(40)", "ü\\n\r"},
    {"T5", "VARCHAR2(40)", "'ħ\\' || char(9) || '€\\\\'", "text", "ħ\\\t€\\\\", "VARCHAR(40)",
     "ħ\\\t€\\\\"},
    {"AMOUNT", "NUMBER(10,2)", "12.5", "numeric(10,2)", "12.5", "DECIMAL(10,2)", "12.50"},
    {"N_BIG", "NUMBER", "1e50", "numeric", kBig, "DECIMAL(65,0)", kBig},
    {"N_FRACTION", "NUMBER", "-0.000000333333333333333333333333333333333", "numeric",
     "-0.00000033333333333333335", "VARCHAR(200)", "-.00000033333333333333335"},
    {"N_SCALE", "NUMBER(2,4)", "-0.0099", "numeric", "-0.0099", "VARCHAR(200)", "-.0099"},
    {"N_NEGATIVE_SCALE", "NUMBER(2,-3)", "-99000", "numeric", "-99000", "VARCHAR(200)", "-99000"},
    {"N_FLOAT", "FLOAT(10)", "123.456", "numeric", "123.456", "VARCHAR(200)", "123.456"},
    {"N_TINY", "NUMBER", "1e-129", "numeric", kTinyPrinted, "VARCHAR(200)", kTinyWritten},
    {"TS9", "TIMESTAMP(9)", "'2020-01-02 03:04:05.123456789'", "text",
     "2020-01-02 03:04:05.123456789", "VARCHAR(40)", "2020-01-02 03:04:05.123456789"},
    {"BD", "BINARY_DOUBLE", "1.5", "float8", "1.5", "DOUBLE", "1.5"},
};

std::string Spelled(const char* text) {
  if (text == kBig) return "1" + std::string(50, '0');
  if (text == kTinyPrinted) return "0." + std::string(128, '0') + "1";
  if (text == kTinyWritten) return "." + std::string(128, '0') + "1";
  return text;
}

std::string Doubled(const char* text, char quote) {
  std::string doubled;
  for (const char* p = text; *p != '\0'; ++p) doubled.append(*p == quote ? 2 : 1, *p);
  return doubled;
}

std::string Column(const Case& c) {
  return "C" + std::to_string(&c - kCases);
}

// The query with every alias quoted, as Oracle takes names that are not plain.
std::string Query() {
  std::string query = "query=select ";
  for (const Case& c : kCases) {
    query += (&c == kCases ? "" : ", ") + Column(c) + " as \"" + Doubled(c.alias, '"') + "\"";
  }
  return query + " from RT";
}

// The consumer's table, its columns named by the aliases.
std::string CreateTable(char quote, bool postgres) {
  std::string sql = "CREATE TABLE rt (";
  for (const Case& c : kCases) {
    sql += (&c == kCases ? "" : ", ") + std::string(1, quote) + Doubled(c.alias, quote) + quote +
           " " + (postgres ? c.postgres_type : c.mariadb_type);
  }
  return sql + ")";
}

class ConsumerRoundTrip : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
    std::string create = "CREATE TABLE RT (";
    std::string insert = "INSERT INTO RT VALUES (";
    for (const Case& c : kCases) {
      create += (&c == kCases ? "" : ", ") + Column(c) + " " + c.source_type;
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
};

TEST_F(ConsumerRoundTrip, CsvCopiedIntoPostgres) {
  PrivateServer* server = Server("postgres_server.sh");
  if (server == nullptr) GTEST_SKIP() << "PostgreSQL is not installed";
  std::string select = "SELECT ";
  std::string expected;
  for (const Case& c : kCases) {
    const bool number = std::string(c.postgres_type).rfind("numeric", 0) == 0;
    const std::string name = "\"" + Doubled(c.alias, '"') + "\"";
    select += (&c == kCases ? "" : ", ") + (number ? "trim_scale(" + name + ")" : name);
    expected += (&c == kCases ? "" : "|") + Spelled(c.postgres_printed);
  }
  // A client of a comma-decimal territory must still write numbers with a point; numbers
  // converted on the client must read back as the same values.
  for (const char* client : {"client=no", "client=yes"}) {
    SCOPED_TRACE(client);
    ProgramRun unload =
        RunShell(dir_, EnvironmentPrefix("NLS_LANG", "GERMAN_GERMANY.AL32UTF8") + ProgramWord() +
                           " " + ShellQuote(db_->user()) + " " + ShellQuote(Query()) +
                           " text=CSV " + client + " file=rt.csv");
    ASSERT_EQ(unload.status, 0) << unload.out;
    ProgramRun load =
        server->Sql("SET client_min_messages = warning; DROP TABLE IF EXISTS rt;" +
                    CreateTable('"', true) + ";\n\\copy rt from '" + dir_ +
                    "/rt.csv' with (format csv, header match)\n" + select + " FROM rt;\n");
    ASSERT_EQ(load.status, 0) << load.out << ReadFile(dir_ + "/rt.csv");
    EXPECT_EQ(load.out, expected + "\n") << ReadFile(dir_ + "/rt.csv");
  }
}

TEST_F(ConsumerRoundTrip, MySqlLayoutLoadedIntoMariaDb) {
  PrivateServer* server = Server("mariadb_server.sh");
  if (server == nullptr) GTEST_SKIP() << "MariaDB is not installed";
  ProgramRun unload = RunProgram(dir_, {db_->user(), Query(), "text=MYSQL", "file=rt.txt"});
  ASSERT_EQ(unload.status, 0) << unload.out;
  ProgramRun load = server->Sql(
      "SET NAMES utf8mb4; DROP TABLE IF EXISTS rt;" + CreateTable('`', false) +
      " CHARACTER SET utf8mb4; LOAD DATA LOCAL INFILE '" + dir_ +
      "/rt.txt' INTO TABLE rt CHARACTER SET utf8mb4 FIELDS TERMINATED BY ',' OPTIONALLY "
      "ENCLOSED BY '\"' ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'; SHOW WARNINGS;"
      "SELECT * FROM rt;");
  ASSERT_EQ(load.status, 0) << load.out;
  // The client prints tabs between columns and escapes control characters in values.
  std::string expected;
  for (const Case& c : kCases) {
    if (&c != kCases) expected += '\t';
    for (char ch : Spelled(c.mariadb_printed)) {
      expected += ch == '\n'   ? "\\n"
                  : ch == '\t' ? "\\t"
                  : ch == '\\' ? "\\\\"
                               : std::string(1, ch);
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
