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

// Every run of a handle is like its first: the query text it forms, the table a bare name gives
// and the binds it makes stay with the run, and the handle keeps what the caller set.
TEST(LibraryRecord, EveryRunOfAHandleIsLikeTheFirst) {
  const std::string path = MakeDatabase(
      "record_reruns",
      "CREATE TABLE DEPT (DEPTNO NUMBER(2), DNAME VARCHAR2(14)); CREATE TABLE EMP (X NUMBER);"
      "INSERT INTO DEPT VALUES (10, 'ACCOUNTING'), (20, 'O''BRIEN');");
  ASSERT_FALSE(HasFailure());
  OwnedHandle handle = Allocate();
  ASSERT_NE(handle, nullptr);
  ROWFLUMEHandleCallback(handle.get(), nullptr, [](void*, const char*) {});
  ROWFLUMEHandleSetAttr(handle.get(), ("user=a/b@sqlite:" + path).c_str());
  ROWFLUMEHandleSetAttr(handle.get(), "query=dept");
  auto as_set = std::make_unique<UnloadHandle>();

  struct Layout {
    const char* text;
    const char* expected_line;  // found in every output
    bool control;               // a control file goes with every run
  };
  for (const Layout& layout : {Layout{"text=ORACLEINS", " INTO dept (DEPTNO,DNAME) VALUES", false},
                               Layout{"text=CSV", "10,\"ACCOUNTING\"", true}}) {
    SCOPED_TRACE(layout.text);
    // Each preset replaces the layout of the one before it, INSERT statements included.
    ROWFLUMEHandleSetAttr(handle.get(), layout.text);
    std::string outputs[3];
    for (int run = 0; run < 3; ++run) {
      const std::string name = "record_reruns_" + std::to_string(run);
      ROWFLUMEHandleSetAttr(handle.get(), ("file=" + TempPath(name + ".txt")).c_str());
      ROWFLUMEHandleSetAttr(handle.get(), ("control=" + TempPath(name + ".ctl")).c_str());
      std::memcpy(as_set.get(), &handle->job, sizeof(UnloadHandle));
      ASSERT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
      EXPECT_EQ(handle->job.run_status, 0);
      as_set->run_status = 0;
      EXPECT_EQ(std::memcmp(&handle->job, as_set.get(), sizeof(UnloadHandle)), 0);
      outputs[run] = ReadFile(TempPath(name + ".txt"));
      EXPECT_NE(outputs[run].find(layout.expected_line), std::string::npos) << outputs[run];
      EXPECT_EQ(FileExists(TempPath(name + ".ctl")), layout.control);
      if (layout.control) {
        EXPECT_NE(ReadFile(TempPath(name + ".ctl")).find("INTO TABLE dept"), std::string::npos);
      }
    }
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_EQ(outputs[2], outputs[0]);
  }

  // A table the caller names is used by every run.
  ROWFLUMEHandleSetAttr(handle.get(), "text=ORACLEINS");
  ROWFLUMEHandleSetAttr(handle.get(), ("file=" + TempPath("record_reruns_t.txt")).c_str());
  ROWFLUMEHandleSetAttr(handle.get(), "table=target");
  ASSERT_EQ(ROWFLUMEHandleExecute(handle.get()), 0);
  EXPECT_STREQ(handle->job.table, "target");
  EXPECT_NE(ReadFile(TempPath("record_reruns_t.txt")).find(" INTO target (DEPTNO,DNAME)"),
            std::string::npos);
}

}  // namespace
}  // namespace rowflume
