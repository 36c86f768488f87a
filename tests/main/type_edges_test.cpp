// Values at the edges of their types unloaded by the built program: every layout succeeds, a
// fixed-width record is exactly as long as its control file says and each field reads back from
// the positions the control file gives, and a client in a decimal-comma territory still writes a
// decimal point.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/program_run.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

// One column of every kind whose values outgrew their widths, their longest values and NULL,
// beside an ordinary amount.
const std::string kEdges =
    "CREATE TABLE W(U 'NUMBER AS TEXT', F FLOAT(10), A 'NUMBER(2,4)', B 'NUMBER(2,-3)',"
    " C 'NUMBER(3,3)', T TIMESTAMP(9), Z 'TIMESTAMP(9) WITH TIME ZONE', BF BINARY_FLOAT,"
    " BD BINARY_DOUBLE, N 'NUMBER(10,2)');"
    "INSERT INTO W VALUES ('1E50', -1.23e-100, -0.0099, -99000, -0.125,"
    " '2024-01-02 03:04:05.123456789', '2024-01-02 03:04:05.123456789 +02:00', -3.4e38,"
    " -1.7976931348623157e308, 12.5);"
    "INSERT INTO W VALUES ('-0.0000000333333333333333333333333333333333333333', 1, 0.0099,"
    " 99000, 0.999, '1999-12-31 23:59:59', '1999-12-31 23:59:59 -11:30', 1.5, 0.1, -0.5);"
    "INSERT INTO W VALUES ('1E-130', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
    "INSERT INTO W VALUES ('-." +
    std::string(128, '0') + std::string(40, '9') + "', 0, 0, 0, 0, NULL, NULL, 0, 0, 0);";

class TypeEdges : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(MakeTempDir());
    ASSERT_FALSE(dir_->empty());
    SqliteFile db(*dir_ + "/edges.db");
    ASSERT_TRUE(db.Exec(kEdges));
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  static ProgramRun Unload(std::vector<std::string> args) {
    args.insert(args.begin(), "user=scott/tiger@sqlite:edges.db");
    args.insert(args.begin() + 1, "query=W");
    return RunProgram(*dir_, args);
  }
  static std::string Path(const std::string& name) { return *dir_ + "/" + name; }

  static std::string* dir_;
};

std::string* TypeEdges::dir_ = nullptr;

std::string Trimmed(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

// The fields of a CSV line of values without commas, quotes taken off.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    std::string field = line.substr(start, comma == std::string::npos ? comma : comma - start);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = field.substr(1, field.size() - 2);
    }
    fields.push_back(field);
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

TEST_F(TypeEdges, EveryLayoutUnloadsTheLongestValues) {
  for (const char* client : {"client=no", "client=yes"}) {
    for (const char* layout : {"head=no", "text=CSV", "text=MYSQL", "text=MYSQLINS",
                               "text=ORACLEINS", "field=0x20", "text=FORM"}) {
      SCOPED_TRACE(std::string(client) + " " + layout);
      ProgramRun run = Unload({client, layout, "file=w.out"});
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.out.find("ORA-"), std::string::npos) << run.out;
      EXPECT_NE(run.out.find("closed at 4 rows"), std::string::npos) << run.out;
    }
  }
}

// The control file's FIX length is every record's length, and the field at each POSITION is the
// value the CSV unload of the same options writes.
TEST_F(TypeEdges, FixedWidthRecordsReadBackThroughTheControlFile) {
  const std::regex position("\"([A-Z]+)\" POSITION\\(([0-9]+):([0-9]+)\\)");
  const std::regex fix("\"FIX ([0-9]+)\"");
  for (const char* client : {"client=no", "client=yes"}) {
    SCOPED_TRACE(client);
    ProgramRun csv = Unload({client, "text=CSV", "head=no", "file=-"});
    ASSERT_EQ(csv.status, 0) << csv.out;
    const std::vector<std::string> rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 4u);
    ProgramRun fixed = Unload({client, "field=0x20", "file=w.dat", "control=w.ctl"});
    ASSERT_EQ(fixed.status, 0) << fixed.out;
    const std::string control = ReadFile(Path("w.ctl"));
    std::smatch found;
    ASSERT_TRUE(std::regex_search(control, found, fix)) << control;
    const size_t record = std::stoul(found[1]);
    const std::string data = ReadFile(Path("w.dat"));
    ASSERT_EQ(data.size(), 4 * record) << control;
    std::vector<std::smatch> fields;
    for (auto it = std::sregex_iterator(control.begin(), control.end(), position);
         it != std::sregex_iterator(); ++it) {
      fields.push_back(*it);
    }
    ASSERT_EQ(fields.size(), 10u) << control;
    for (size_t row = 0; row < rows.size(); ++row) {
      const std::string line = data.substr(row * record, record);
      EXPECT_EQ(line.back(), '\n') << "row " << row;
      const std::vector<std::string> want = CsvFields(rows[row]);
      ASSERT_EQ(want.size(), fields.size());
      for (size_t k = 0; k < fields.size(); ++k) {
        const size_t first = std::stoul(fields[k][2]);
        const size_t last = std::stoul(fields[k][3]);
        EXPECT_EQ(Trimmed(line.substr(first - 1, last - first + 1)), want[k])
            << fields[k][1] << " of row " << row;
      }
    }
  }
}

// The control file's table sketch names each type as it was declared.
TEST_F(TypeEdges, ControlFileSketchNamesTheDeclaredTypes) {
  ProgramRun run = Unload({"text=CSV", "file=w.csv", "control=w.ctl", "data=no"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(ReadFile(Path("w.ctl"))
                .find("--    U NUMBER,\n--    F FLOAT(10),\n--    A NUMBER(2,4),\n"
                      "--    B NUMBER(2,-3),\n--    C NUMBER(3,3),\n--    T TIMESTAMP(9),\n"
                      "--    Z TIMESTAMP(9) WITH TIME ZONE,\n--    BF BINARY_FLOAT,\n"
                      "--    BD BINARY_DOUBLE,\n--    N NUMBER(10,2)\n"),
            std::string::npos)
      << ReadFile(Path("w.ctl"));
}

// The job run asks for a decimal point: a client whose territory writes a decimal comma would
// otherwise split 12.5 into two fields of a comma-separated file.
TEST_F(TypeEdges, DecimalPointWhateverTheClientsTerritory) {
  const std::string command = EnvironmentPrefix("NLS_LANG", "GERMAN_GERMANY.AL32UTF8") +
                              ProgramWord() + " user=scott/tiger@sqlite:edges.db " +
                              ShellQuote("query=select n, a, bd from w") +
                              " text=CSV head=no file=-";
  ProgramRun run = RunShell(*dir_, command);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out,
            "12.5,-.0099,-1.7976931348623157E+308\n-.5,.0099,1.0000000000000001E-001\n,,\n0,0,0\n");
  // A decimal comma the job asks for itself is the job's to have.
  ProgramRun asked =
      RunShell(*dir_, command + " " + ShellQuote("alter=SET NLS_NUMERIC_CHARACTERS=',.'"));
  ASSERT_EQ(asked.status, 0) << asked.out << asked.err;
  EXPECT_EQ(Lines(asked.out)[0], "12,5,-,0099,-1,7976931348623157E+308");
}

}  // namespace
}  // namespace rowflume
