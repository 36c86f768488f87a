// What the exported functions leave in the job record behind the handle, which a C caller
// cannot see: defaults, untouched records on unknown keywords, and the run status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "run/library.h"
#include "support/files.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

struct HandleDeleter {
  void operator()(ROWFLUMEHandleRecord* handle) const { ROWFLUMEHandleFree(handle); }
};
using OwnedHandle = std::unique_ptr<ROWFLUMEHandleRecord, HandleDeleter>;

OwnedHandle Allocate() {
  ROWFLUMEHandle handle = nullptr;
  ROWFLUMEHandleAlloc(&handle);
  return OwnedHandle(handle);
}

TEST(LibraryRecord, AllocatedJobHoldsTheDefaultsAndUnknownItemsChangeNothing) {
  OwnedHandle handle = Allocate();
  ASSERT_NE(handle, nullptr);
  auto defaults = std::make_unique<UnloadHandle>();
  InitJobDefaults(defaults.get());
  EXPECT_EQ(std::memcmp(&handle->job, defaults.get(), sizeof(UnloadHandle)), 0);

  EXPECT_EQ(ROWFLUMEHandleSetAttr(handle.get(), "unknown=1"), 0);
  EXPECT_EQ(std::memcmp(&handle->job, defaults.get(), sizeof(UnloadHandle)), 0);

  EXPECT_EQ(ROWFLUMEHandleSetAttr(handle.get(), "text=csv"), 1);
  EXPECT_STREQ(handle->job.field, ",");
  EXPECT_STREQ(handle->job.quote, "\"");
  EXPECT_EQ(handle->job.escape, '"');
  EXPECT_EQ(handle->job.head, 1);
}

TEST(LibraryRecord, RunStatusFollowsTheLatestExecution) {
  const std::string path = MakeDatabase("record_accounts",
                                        "CREATE TABLE rowflume_accounts (username, password);"
                                        "INSERT INTO rowflume_accounts VALUES ('scott', 'tiger');"
                                        "CREATE TABLE T (X NUMBER); INSERT INTO T VALUES (1);");
  ASSERT_FALSE(HasFailure());

  OwnedHandle handle = Allocate();
  ASSERT_NE(handle, nullptr);
  int calls = 0;
  ROWFLUMEHandleCallback(handle.get(), &calls,
                         [](void* context, const char*) { ++*static_cast<int*>(context); });
  ROWFLUMEHandleSetAttr(handle.get(), ("user=scott/wrong@sqlite:" + path).c_str());
  ROWFLUMEHandleSetAttr(handle.get(), "query=t");
  ROWFLUMEHandleSetAttr(handle.get(), ("file=" + TempPath("record.txt")).c_str());
  EXPECT_EQ(ROWFLUMEHandleExecute(handle.get()), -1);
  EXPECT_EQ(handle->job.run_status, -1);
  EXPECT_EQ(calls, 1);

  ROWFLUMEHandleSetAttr(handle.get(), ("user=scott/tiger@sqlite:" + path).c_str());
  EXPECT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
  EXPECT_EQ(handle->job.run_status, 0);
  // The caller's context is kept as given, never replaced by the run's own.
  EXPECT_EQ(handle->job.callback_context, &calls);
}

TEST(LibraryRecord, TableNamedByABareQueryDoesNotOutliveItsRun) {
  const std::string path =
      MakeDatabase("record_tables", "CREATE TABLE EMP (X NUMBER); CREATE TABLE DEPT (Y NUMBER);");
  ASSERT_FALSE(HasFailure());

  OwnedHandle handle = Allocate();
  ASSERT_NE(handle, nullptr);
  ROWFLUMEHandleCallback(handle.get(), nullptr, [](void*, const char*) {});
  ROWFLUMEHandleSetAttr(handle.get(), ("user=a/b@sqlite:" + path).c_str());
  ROWFLUMEHandleSetAttr(handle.get(), ("file=" + TempPath("record_tables.txt")).c_str());
  ROWFLUMEHandleSetAttr(handle.get(), "query=emp");
  ASSERT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
  EXPECT_STREQ(handle->job.table, "");
  ROWFLUMEHandleSetAttr(handle.get(), "query=dept");
  ASSERT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
  EXPECT_STREQ(handle->job.query, "dept");
  EXPECT_STREQ(handle->job.table, "");

  // A table the caller names stays for every run.
  ROWFLUMEHandleSetAttr(handle.get(), "table=target");
  ASSERT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
  EXPECT_STREQ(handle->job.table, "target");
}

}  // namespace
}  // namespace rowflume
