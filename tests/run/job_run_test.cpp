// The query text of a job run: a bare table name becomes a select, a query stays as written; and
// the fetch size describing decides is the one the run's unload loop fetches by.
#include "run/job_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "job/options.h"
#include "support/files.h"
#include "support/job.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

// PrepareQueryText on a fresh job holding the query text.
struct Prepared {
  std::string query;
  std::string table;
};

Prepared Prepare(const std::string& query, const std::string& table = "") {
  std::unique_ptr<UnloadHandle> job = NewJob();
  std::snprintf(job->query, sizeof job->query, "%s", query.c_str());
  std::snprintf(job->table, sizeof job->table, "%s", table.c_str());
  PrepareQueryText(job.get());
  return {job->query, job->table};
}

TEST(QueryText, TableNamesBecomeSelects) {
  Prepared p = Prepare("emp;");
  EXPECT_EQ(p.query, "select * from emp");
  EXPECT_EQ(p.table, "emp");
  p = Prepare("  scott.emp ;\n/\n");
  EXPECT_EQ(p.query, "select * from scott.emp");
  EXPECT_EQ(p.table, "scott.emp");
  // A table already named stays.
  p = Prepare("emp", "EMP_COPY");
  EXPECT_EQ(p.query, "select * from emp");
  EXPECT_EQ(p.table, "EMP_COPY");
  // 31 characters do not fill `table`; 30 do.
  p = Prepare(std::string(31, 'T'));
  EXPECT_EQ(p.query, "select * from " + std::string(31, 'T'));
  EXPECT_EQ(p.table, "");
  p = Prepare(std::string(30, 'T'));
  EXPECT_EQ(p.table, std::string(30, 'T'));
  // Nothing left: a select from nothing, which the server refuses.
  p = Prepare(" ;/ ");
  EXPECT_EQ(p.query, "select * from ");
  EXPECT_EQ(p.table, "");
}

TEST(QueryText, QueriesStayAsWritten) {
  Prepared p = Prepare("   SELECT * FROM EMP /");
  EXPECT_EQ(p.query, "   SELECT * FROM EMP");
  EXPECT_EQ(p.table, "");
  p = Prepare("With x as (select 1 from dual) select * from x;\n");
  EXPECT_EQ(p.query, "With x as (select 1 from dual) select * from x");
  // WITH and SELECT count as whole words only: tables named after them are tables.
  for (const char* name : {"SELECTIONS", "withdrawals", "select_1", "With$x", "select#"}) {
    p = Prepare(name);
    EXPECT_EQ(p.query, std::string("select * from ") + name);
    EXPECT_EQ(p.table, name);
  }
  for (const char* query : {"select*from t", "with\nx as (select 1 from dual) select * from x",
                            "SELECT(1)from dual", "select"}) {
    EXPECT_EQ(Prepare(query).query, query);
  }
  // A slash inside the statement stays; only the trailing run goes.
  p = Prepare("select a/b from t;;  //");
  EXPECT_EQ(p.query, "select a/b from t");
}

// A wide LONG column lowers the fetch size to what the define buffers hold (10485760 bytes over
// rows of 1 + 8 + 1000004 + 1 bytes: 10 rows). The run must fetch by that decision, not by the
// `array` asked for: MySQL statements hold one fetched array each, so 25 rows give three, of
// 10, 10 and 5 rows; fetching 2000 rows into buffers for 10 would give one and overrun them.
TEST(FetchSize, TheLoopFetchesByTheDecidedArray) {
  const std::string path =
      MakeDatabase("decided_array",
                   "CREATE TABLE W (ID NUMBER(6), BODY LONG);"
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 25) "
                   "INSERT INTO W SELECT i, 'body ' || i FROM n;");
  std::unique_ptr<UnloadHandle> job = NewJob();
  const std::string file = TempPath("decided_array.sql");
  for (const std::string& item :
       {"user=scott/tiger@sqlite:" + path, std::string("query=W"), std::string("text=MYSQLINS"),
        std::string("long=1000000"), std::string("array=2000"), "file=" + file}) {
    ASSERT_EQ(SetOption(job.get(), item.c_str()), 1) << item;
  }
  job->callback = [](void*, const char*) {};
  ASSERT_EQ(RunJob(job.get()), 0);
  EXPECT_EQ(job->array, 10u);
  const std::string statements = ReadFile(file);
  std::vector<size_t> rows_per_statement;
  for (size_t at = statements.find("INSERT "); at != std::string::npos;
       at = statements.find("INSERT ", at + 1)) {
    const size_t end = statements.find(";", at);
    size_t rows = 0;
    for (size_t row = statements.find("(", statements.find("VALUES", at)); row < end;
         row = statements.find("\n(", row + 1)) {
      ++rows;
    }
    rows_per_statement.push_back(rows);
  }
  EXPECT_EQ(rows_per_statement, (std::vector<size_t>{10, 10, 5})) << statements;
}

}  // namespace
}  // namespace rowflume
