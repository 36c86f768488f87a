// The ROWID-range split run with its real stored queries against the embedded engine. Stretch
// weights are shaped by the dictionary rows a test database states for itself (rowflume_extents),
// or computed from a table's rows.
#include "parallel/rowid_split.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/statement.h"
#include "engine/embedded_api.h"
#include "engine/sql_text.h"
#include "run/client_choice.h"
#include "run/job_run.h"
#include "support/environment.h"
#include "support/fake_oci.h"
#include "support/files.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

struct Extent {
  int64_t block;
  int64_t blocks;
  const char* partition = nullptr;
};

class Split : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = TempPath(std::string("split_") +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db");
    db_ = std::make_unique<SqliteFile>(path_);
    Exec(
        "CREATE TABLE T(ID INTEGER, NAME VARCHAR2(20));"
        "CREATE TABLE rowflume_extents(owner, segment_name, partition_name, segment_type, "
        "relative_fno, block_id, blocks);"
        "CREATE TABLE rowflume_objects(owner, object_name, subobject_name, object_id, "
        "data_object_id, object_type);");
  }
  void TearDown() override { Logoff(&session_); }

  void Exec(const std::string& sql) { ASSERT_TRUE(db_->Exec(sql)); }
  int64_t RootPage(const char* table) {
    std::string root =
        db_->One(std::string("SELECT rootpage FROM sqlite_master WHERE name = '") + table + "'");
    return root == "<none>" ? -1 : std::stoll(root);
  }
  // States extents of T in file 7; every extent's bounds are what the stretch query makes.
  void StateExtents(const std::vector<Extent>& extents) {
    Exec("BEGIN");
    for (const Extent& extent : extents) {
      std::string partition = extent.partition ? std::string("'") + extent.partition + "'" : "NULL";
      std::string type = extent.partition ? "'TABLE PARTITION'" : "'TABLE'";
      Exec("INSERT INTO rowflume_extents VALUES('SCOTT', 'T', " + partition + ", " + type +
           ", 7, " + std::to_string(extent.block) + ", " + std::to_string(extent.blocks) + ")");
    }
    Exec("COMMIT");
  }
  void StateEqualExtents(int count, int64_t blocks) {
    std::vector<Extent> extents;
    for (int idx = 0; idx < count; ++idx) extents.push_back({1000 + idx * 1000LL, blocks});
    StateExtents(extents);
  }
  std::string Low(int64_t block, int64_t object = -1) {
    char text[32];
    EXPECT_TRUE(engine::EncodeRowid({object < 0 ? RootPage("T") : object, 7, block, 0}, text));
    return text;
  }
  std::string High(int64_t block, int64_t blocks, int64_t object = -1) {
    char text[32];
    EXPECT_TRUE(engine::EncodeRowid(
        {object < 0 ? RootPage("T") : object, 7, block + blocks - 1, 32767}, text));
    return text;
  }
  void Logon(const OciApi* provider = nullptr) {
    SessionInit(&session_);
    session_.callback = [](void* context, const char* text) {
      static_cast<Split*>(context)->messages_ += text;
    };
    session_.callback_context = this;
    const std::string user_string = "scott/tiger@sqlite:" + path_;
    session_.oci = provider;
    // Without a table of its own the test logs on as the program does.
    ASSERT_EQ(provider != nullptr ? LogonUserString(&session_, user_string.c_str())
                                  : LogonChosenClient(&session_, user_string.c_str()),
              0)
        << messages_;
  }
  // (first stretch, last stretch) of every range, 0-based, given equal stretches stated with
  // StateEqualExtents.
  std::vector<std::pair<int, int>> Shape(const RowidRangeList& list, int64_t blocks) {
    std::vector<std::pair<int, int>> shape;
    for (uint32_t idx = 0; idx < list.count; ++idx) {
      EXPECT_EQ(list.ranges[idx].seq, idx + 1);
      int first = -1;
      int last = -1;
      for (int stretch = 0; stretch < 300; ++stretch) {
        int64_t block = 1000 + stretch * 1000LL;
        if (list.ranges[idx].min_rowid == Low(block)) first = stretch;
        if (list.ranges[idx].max_rowid == High(block, blocks)) last = stretch;
      }
      shape.emplace_back(first, last);
    }
    return shape;
  }

  std::string path_;
  std::unique_ptr<SqliteFile> db_;
  DbSession session_{};
  std::string messages_;
};

using Ranges = std::vector<std::pair<int, int>>;

TEST_F(Split, RangesCloseOnceTheirWeightExceedsTotalOverDegree) {
  StateEqualExtents(10, 100);
  Logon();
  auto list = std::make_unique<RowidRangeList>();
  uint32_t total = 0;
  ASSERT_EQ(QueryTotalWeight(&session_, "SCOTT", "T", "", &total), 0) << messages_;
  EXPECT_EQ(total, 1000u);
  // Threshold 250: 300 closes after the 3rd, 6th and 9th; the 10th is a range alone.
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 4, list.get()), 0) << messages_;
  EXPECT_EQ(Shape(*list, 100), (Ranges{{0, 2}, {3, 5}, {6, 8}, {9, 9}}));
  // Degrees below 2 work as 2 (threshold 500: closes after the 6th), above 128 as 128 (7: every
  // stretch closes a range).
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 0, list.get()), 0);
  EXPECT_EQ(Shape(*list, 100), (Ranges{{0, 5}, {6, 9}}));
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 1000, list.get()), 0);
  EXPECT_EQ(list->count, 10u);
  EXPECT_EQ(messages_, "");
}

TEST_F(Split, ASumEqualToTheThresholdStaysOpen) {
  std::vector<Extent> extents = {{1000, 50}, {2000, 50}, {3000, 1}, {4000, 99}};
  StateExtents(extents);
  Logon();
  auto list = std::make_unique<RowidRangeList>();
  // Total 200, degree 2: 50 + 50 = 100 is not above 100; the third stretch closes.
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 2, list.get()), 0) << messages_;
  ASSERT_EQ(list->count, 2u);
  EXPECT_EQ(list->ranges[0].min_rowid, Low(1000));
  EXPECT_EQ(list->ranges[0].max_rowid, High(3000, 1));
  EXPECT_EQ(list->ranges[1].min_rowid, Low(4000));
  EXPECT_EQ(list->ranges[1].max_rowid, High(4000, 99));
}

TEST_F(Split, ThresholdZeroAndWeightlessStretches) {
  // Total 3 below degree 4: every weighted stretch closes; weightless ones join the next
  // weighted one, and those at the end make a range of their own.
  StateExtents({{1000, 0}, {2000, 1}, {3000, 0}, {4000, 2}, {5000, 0}, {6000, 0}});
  Logon();
  auto list = std::make_unique<RowidRangeList>();
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 4, list.get()), 0) << messages_;
  ASSERT_EQ(list->count, 3u);
  EXPECT_EQ(list->ranges[0].min_rowid, Low(1000));
  EXPECT_EQ(list->ranges[0].max_rowid, High(2000, 1));
  EXPECT_EQ(list->ranges[1].min_rowid, Low(3000));
  EXPECT_EQ(list->ranges[1].max_rowid, High(4000, 2));
  EXPECT_EQ(list->ranges[2].min_rowid, Low(5000));
  EXPECT_EQ(list->ranges[2].max_rowid, High(6000, 0));

  // All weights 0: one range from the first stretch to the last.
  Exec("UPDATE rowflume_extents SET blocks = 0");
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 4, list.get()), 0);
  ASSERT_EQ(list->count, 1u);
  EXPECT_EQ(list->ranges[0].min_rowid, Low(1000));
  EXPECT_EQ(list->ranges[0].max_rowid, High(6000, 0));
}

TEST_F(Split, FetchBoundariesOfTheStretchQuery) {
  // 200 stretches: two full fetches and an empty last one; 250: the last fetch brings 50. Also
  // with the statement's cumulative row count starting 3 below 2^32, so that it wraps.
  for (const char* count_start : {"", "4294967293"}) {
    SetEnvironment("ROWFLUME_ENGINE_ROW_COUNT_START", count_start);
    for (int count : {200, 250}) {
      Exec("DELETE FROM rowflume_extents");
      StateEqualExtents(count, 1);
      Logon();
      auto list = std::make_unique<RowidRangeList>();
      ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 2, list.get()), 0) << messages_;
      int threshold = count / 2;
      EXPECT_EQ(Shape(*list, 1), (Ranges{{0, threshold}, {threshold + 1, count - 1}}))
          << count << " " << count_start;
      Logoff(&session_);
    }
    UnsetEnvironment("ROWFLUME_ENGINE_ROW_COUNT_START");
  }
}

TEST_F(Split, MoreRangesThanTheListHoldsMergeIntoTheLast) {
  StateEqualExtents(200, 1);
  Logon();
  auto list = std::make_unique<RowidRangeList>();
  // A threshold of 0 closes a range on every stretch: 200 would not fit.
  ASSERT_EQ(BuildRowidRanges(&session_, "SCOTT", "T", "", 0, list.get()), 0) << messages_;
  ASSERT_EQ(list->count, 128u);
  EXPECT_EQ(list->ranges[126].min_rowid, Low(1000 + 126 * 1000));
  EXPECT_EQ(list->ranges[126].max_rowid, High(1000 + 126 * 1000, 1));
  EXPECT_EQ(list->ranges[127].min_rowid, Low(1000 + 127 * 1000));
  EXPECT_EQ(list->ranges[127].max_rowid, High(1000 + 199 * 1000, 1));
}

TEST_F(Split, PartitionNameSelectsThePartitionForms) {
  Exec("INSERT INTO rowflume_objects VALUES('SCOTT', 'T', 'P1', 900, 901, 'TABLE PARTITION')");
  StateExtents({{1000, 10}, {2000, 10, "P1"}, {3000, 10, "P1"}});
  Logon();
  uint32_t total = 0;
  ASSERT_EQ(QueryTotalWeight(&session_, "SCOTT", "T", "P1", &total), 0) << messages_;
  EXPECT_EQ(total, 20u);
  ASSERT_EQ(QueryTotalWeight(&session_, "SCOTT", "T", "", &total), 0);
  EXPECT_EQ(total, 30u);
  auto list = std::make_unique<RowidRangeList>();
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "P1", 2, list.get()), 0);
  ASSERT_EQ(list->count, 1u);
  EXPECT_EQ(list->ranges[0].min_rowid, Low(2000, 901));
  EXPECT_EQ(list->ranges[0].max_rowid, High(3000, 10, 901));
  // The table form walks the table's own segment first (lower data object number).
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 128, list.get()), 0);
  ASSERT_EQ(list->count, 3u);
  EXPECT_EQ(list->ranges[0].min_rowid, Low(1000));
  EXPECT_EQ(list->ranges[2].min_rowid, Low(3000, 901));
  // Another owner's table, or a partition that does not exist, has no stretch.
  ASSERT_EQ(SplitRowidRanges(&session_, "OTHER", "T", "", 2, list.get()), 0);
  EXPECT_EQ(list->count, 0u);
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "P9", 2, list.get()), 0);
  EXPECT_EQ(list->count, 0u);
  EXPECT_EQ(messages_, "");
}

TEST_F(Split, ComputedExtentsCoverEveryRowOnce) {
  // Rows in three runs of 8192 rowids, one of them far away; the empty runs between them are no
  // extents.
  Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
      "INSERT INTO T(rowid, ID, NAME) SELECT i, i, 'n' || i FROM n;"
      "INSERT INTO T(rowid, ID, NAME) VALUES (5000000000, -1, 'far');"
      "CREATE TABLE EMPTY_T(X INTEGER);");
  Logon();
  uint32_t total = 0;
  ASSERT_EQ(QueryTotalWeight(&session_, "SCOTT", "T", "", &total), 0) << messages_;
  EXPECT_EQ(total, 3u * 128u);
  auto list = std::make_unique<RowidRangeList>();
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "t", "", 3, list.get()), 0) << messages_;
  ASSERT_EQ(list->count, 2u);  // 256 > 128 closes after the 2nd; the far one is pending

  // The workers' predicate reads each range as a rowid range; together they hold every row.
  std::vector<int64_t> seen;
  for (uint32_t idx = 0; idx < list->count; ++idx) {
    OCIStmt* statement = nullptr;
    ASSERT_EQ(StmtPrepare(&session_, &statement,
                          "SELECT ID FROM T WHERE ROWID >= :minrid AND ROWID < :maxrid"),
              0);
    BindEntry binds[2] = {};
    for (int bind_idx = 0; bind_idx < 2; ++bind_idx) {
      std::snprintf(binds[bind_idx].name, sizeof binds[bind_idx].name, "%s",
                    bind_idx == 0 ? "MINRID" : "MAXRID");
      binds[bind_idx].name_length = 6;
      std::snprintf(binds[bind_idx].value, sizeof binds[bind_idx].value, "%s",
                    bind_idx == 0 ? list->ranges[idx].min_rowid : list->ranges[idx].max_rowid);
      binds[bind_idx].value_length = 18;
      OCIBind* bind = nullptr;
      BindByName(&session_, statement, &binds[bind_idx], &bind);
    }
    ASSERT_EQ(StmtExecuteQuery(&session_, statement), 0) << messages_;
    int64_t ids[64];
    OCIDefine* define = nullptr;
    session_.oci->DefineByPos(statement, &define, session_.error, 1, ids, 8, SQLT_INT, nullptr,
                              nullptr, nullptr, OCI_DEFAULT);
    for (;;) {
      sword status = session_.oci->StmtFetch(statement, session_.error, 64, OCI_FETCH_NEXT, 0);
      ub4 rows = 0;
      session_.oci->AttrGet(statement, OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROWS_FETCHED,
                            session_.error);
      seen.insert(seen.end(), ids, ids + rows);
      if (status != OCI_SUCCESS) break;
    }
    StmtFree(&session_, statement);
  }
  ASSERT_EQ(seen.size(), 10001u);
  for (size_t idx = 0; idx < 10000; ++idx) ASSERT_EQ(seen[idx], static_cast<int64_t>(idx + 1));
  EXPECT_EQ(seen.back(), -1);

  // A table without rows has no stretch at all.
  ASSERT_EQ(SplitRowidRanges(&session_, "SCOTT", "EMPTY_T", "", 2, list.get()), 0);
  EXPECT_EQ(list->count, 0u);
}

// The embedded client with its next fetch made to find no row, to drive the total query's
// no-row path through the real texts.
TEST_F(Split, FailuresOfTheQueriesAreReturnedAndReportedOnce) {
  StateEqualExtents(3, 10);
  FakeOci& fake = FakeOci::Fresh();
  fake.PassThrough(EmbeddedApi());
  Logon(fake.api());
  auto list = std::make_unique<RowidRangeList>();
  fake.FailNextUse("StmtFetch", OCI_NO_DATA);
  const int fetches_before = fake.Uses(OciCall::StmtFetch);
  EXPECT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 2, list.get()), OCI_NO_DATA);
  // The stretch query never ran.
  EXPECT_EQ(fake.Uses(OciCall::StmtFetch) - fetches_before, 1);
  EXPECT_EQ(list->count, 0u);

  // A dictionary that cannot be read: the Oracle error, reported once, is the status.
  messages_.clear();
  Exec("DROP TABLE rowflume_extents; CREATE TABLE rowflume_extents(x)");
  EXPECT_EQ(SplitRowidRanges(&session_, "SCOTT", "T", "", 2, list.get()), 904);
  EXPECT_EQ(messages_.find("ORA-00904"), 0u) << messages_;
  EXPECT_EQ(messages_.find("ORA-", 5), std::string::npos) << messages_;
}

// The stretches of the last fetch are counted by its row count: when that cannot be read, the
// split fails and says why, rather than leaving the last stretches out of every range (whose
// rows no piece would then read).
TEST_F(Split, UnreadableRowCountFailsTheSplit) {
  StateEqualExtents(250, 1);
  FakeOci& fake = FakeOci::Fresh();
  fake.PassThrough(EmbeddedApi());
  Logon(fake.api());
  auto list = std::make_unique<RowidRangeList>();
  fake.Fail({.label = "AttrGet(197)",
             .error_code = 3113,
             .error_text = "ORA-03113: end-of-file on communication channel\n"});
  EXPECT_NE(SplitRowidRanges(&session_, "SCOTT", "T", "", 2, list.get()), 0);
  EXPECT_EQ(messages_, "ORA-03113: end-of-file on communication channel\n");
}

}  // namespace
}  // namespace rowflume
