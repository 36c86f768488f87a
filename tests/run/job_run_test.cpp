// The query text of a job run: a bare table name becomes a select, a query stays as written.
#include "run/job_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/job.h"

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

}  // namespace
}  // namespace rowflume
