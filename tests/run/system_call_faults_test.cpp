// Whole job runs with one system call of the output failing: every open, write and close that a
// clean unload makes (data files split by batch and rows, LOB files, the control file and the
// log), each in turn, failing as a refused open, a full disk or a failed close would, or cut
// short as a write may be. Each run must end with the result code of what failed, name the file
// in its messages, and leave no data file that could pass for complete.
#if !defined(_WIN32)

#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "job/options.h"
#include "platform/platform.h"
#include "run/job_run.h"
#include "support/files.h"
#include "support/job.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

enum class Call { kOpen, kWrite, kClose };
// How the chosen call fails: as the system reports a refused open, a full disk or a failed
// close, or, for a write, by taking only part of the bytes (which a writer must go on from).
enum class Fault { kFails, kShortWrite };

struct CallRecord {
  Call call;
  std::string path;
  bool failed;  // the call failed of its own accord (a LOB file's folder not made yet)
};

// What the replaced calls track of one run. Only calls on descriptors opened through the table
// are counted: the standard streams are the test's own.
struct Tracker {
  Call fail_call = Call::kOpen;
  int fail_use = 0;  // 0: nothing fails
  Fault fault = Fault::kFails;
  int uses[3] = {};
  bool fired = false;
  std::map<int, std::string> paths;  // open descriptor -> file name
  std::vector<CallRecord> record;
};

Tracker g_run;

bool Fires(Call call) {
  if (++g_run.uses[static_cast<int>(call)] != g_run.fail_use || call != g_run.fail_call) {
    return false;
  }
  g_run.fired = true;
  return true;
}

// Data and control files are written under a temporary name (".emp_1.txt.part") that becomes
// theirs when whole; a call on it is a call on that file.
std::string FinalName(const char* path) {
  std::string name = path;
  const size_t folder = name.rfind('/') + 1;  // 0 when there is none
  const std::string part = ".part";
  if (name.size() > folder + part.size() + 1 && name[folder] == '.' &&
      name.compare(name.size() - part.size(), part.size(), part) == 0) {
    name = name.substr(0, folder) + name.substr(folder + 1, name.size() - folder - 1 - part.size());
  }
  return name;
}

int TrackedOpen(const char* given, int flags, unsigned mode) {
  const std::string name = FinalName(given);
  const char* path = name.c_str();
  const char* opened = given;
  if (Fires(Call::kOpen)) {
    g_run.record.push_back({Call::kOpen, path, false});
    errno = EACCES;
    return -1;
  }
  int fd = DefaultSystemCalls().open(opened, flags, mode);
  g_run.record.push_back({Call::kOpen, path, fd < 0});
  if (fd >= 0) g_run.paths[fd] = path;
  return fd;
}

long TrackedWrite(int fd, const void* data, size_t count) {
  auto tracked = g_run.paths.find(fd);
  if (tracked == g_run.paths.end()) return DefaultSystemCalls().write(fd, data, count);
  g_run.record.push_back({Call::kWrite, tracked->second, false});
  if (Fires(Call::kWrite)) {
    if (g_run.fault == Fault::kShortWrite && count > 1) {
      return DefaultSystemCalls().write(fd, data, count / 2);
    }
    errno = ENOSPC;
    return -1;
  }
  return DefaultSystemCalls().write(fd, data, count);
}

int TrackedClose(int fd) {
  auto tracked = g_run.paths.find(fd);
  if (tracked == g_run.paths.end()) return DefaultSystemCalls().close(fd);
  g_run.record.push_back({Call::kClose, tracked->second, false});
  g_run.paths.erase(tracked);
  const bool fails = Fires(Call::kClose);
  int result = DefaultSystemCalls().close(fd);  // a failed close still releases the descriptor
  if (!fails) return result;
  errno = EIO;
  return -1;
}

using Files = std::map<std::string, std::string>;  // relative path -> content

struct RunResult {
  int status = 0;
  std::string messages;  // the log, then standard error
  Files files;           // every file of the run but the log
  std::vector<CallRecord> record;
  bool fired = false;
};

class SystemCallFaults : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new std::string(MakeTempDir());
    // Twelve rows, three files of five, five and two; a NULL note and an empty one.
    SqliteFile(*base_ + "/emp.db")
        .Exec(
            "CREATE TABLE EMP(EMPNO NUMBER(4), ENAME VARCHAR2(10), NOTES CLOB);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12)"
            " INSERT INTO EMP SELECT 7360 + i, 'EMP' || i, CASE i WHEN 3 THEN NULL"
            " WHEN 4 THEN '' ELSE 'note of ' || i END FROM n;");
  }
  static void TearDownTestSuite() {
    fs::remove_all(*base_);
    delete base_;
  }
  void TearDown() override { *ReplaceableSystemCalls() = DefaultSystemCalls(); }

  // One whole job run in a fresh working folder with the given use of a call failing.
  RunResult Run(Call fail_call = Call::kOpen, int fail_use = 0, Fault fault = Fault::kFails) {
    std::unique_ptr<UnloadHandle> job = NewJob();
    for (std::string item :
         {"user=scott/tiger@sqlite:" + *base_ + "/emp.db",
          std::string("query=select empno, ename, notes from emp order by empno"),
          std::string("file=emp_%b.txt"), std::string("batch=yes"), std::string("lob=FILE"),
          std::string("array=5"), std::string("table=EMP"), std::string("control=emp.ctl"),
          std::string("log=run.log")}) {
      EXPECT_EQ(SetOption(job.get(), item.c_str()), 1) << item;
    }
    job->rows = 5;  // below what the keyword accepts: three files of a few rows

    const std::string dir = *base_ + "/run";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path home = fs::current_path();
    fs::current_path(dir);
    g_run = Tracker{};
    g_run.fail_call = fail_call;
    g_run.fail_use = fail_use;
    g_run.fault = fault;
    *ReplaceableSystemCalls() = SystemCalls{&TrackedOpen, &TrackedWrite, &TrackedClose};
    testing::internal::CaptureStderr();
    RunResult result;
    result.status = RunJob(job.get());
    const std::string err = testing::internal::GetCapturedStderr();
    *ReplaceableSystemCalls() = DefaultSystemCalls();
    fs::current_path(home);
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::string name = fs::relative(entry.path(), dir).generic_string();
      if (name == "run.log") {
        result.messages = ReadFile(entry.path().string());
      } else {
        result.files[name] = ReadFile(entry.path().string());
      }
    }
    result.messages += err;
    fs::remove_all(dir);
    result.record = g_run.record;
    result.fired = g_run.fired;
    return result;
  }

  static std::string* base_;
};

std::string* SystemCallFaults::base_ = nullptr;

const char* CallName(Call call) {
  static const char* const kNames[] = {"open", "write", "close"};
  return kNames[static_cast<int>(call)];
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What a run with the call failing must end with and say.
struct Expected {
  int status;
  std::string message;
  bool keeps_files = false;  // the data, LOB and control files are those of the clean run
};

// A first open of a LOB file that fails is taken as its folder missing: the folder is made and
// the open tried again, which decides. A log that fails later costs no data: its messages go to
// standard error, and the run does not end with 0.
Expected ExpectedOf(const CallRecord& call, bool retried_open) {
  const std::string& path = call.path;
  if (path == "run.log") {
    // Without its log the run does not start.
    if (call.call == Call::kOpen) return {kRunOpenFailed, "Cannot write to log file : run.log"};
    return {kRunWriteFailed, "could not be written to log file run.log", true};
  }
  // The unload does not depend on its control file: one that fails is skipped in silence, and
  // never left half written.
  if (path == "emp.ctl") return {kRunOk, "", false};
  const bool lob = path.rfind("LOB", 0) == 0;
  if (lob && call.call == Call::kOpen && !retried_open) return {kRunOk, "", true};
  if (call.call == Call::kClose && !lob) {
    return {kRunWriteFailed, "ERROR -- Cannot close file : " + path + "\n", false};
  }
  if (call.call == Call::kOpen && !lob) {
    return {kRunOpenFailed, "ERROR -- Cannot write to file : " + path + "\n", false};
  }
  return {kRunWriteFailed, "ERROR -- Cannot write to file : " + path + "\n", false};
}

TEST_F(SystemCallFaults, EveryCallFailingOnEachOfItsUses) {
  RunResult clean = Run();
  ASSERT_EQ(clean.status, kRunOk) << clean.messages;
  // Three data files, eleven LOB files (the NULL note has none) and the control file.
  ASSERT_EQ(clean.files.size(), 3u + 11u + 1u);
  ASSERT_EQ(clean.files.count("emp.ctl"), 1u);
  int seen[3][4] = {};  // call by file kind: data, LOB, control, log
  for (const CallRecord& call : clean.record) {
    const int kind = call.path == "run.log"           ? 3
                     : call.path == "emp.ctl"         ? 2
                     : call.path.rfind("LOB", 0) == 0 ? 1
                                                      : 0;
    seen[static_cast<int>(call.call)][kind] += 1;
  }
  for (int call = 0; call < 3; ++call) {
    for (int kind = 0; kind < 4; ++kind) EXPECT_GT(seen[call][kind], 0) << call << " " << kind;
  }

  int uses[3] = {};
  for (size_t index = 0; index < clean.record.size(); ++index) {
    const CallRecord& call = clean.record[index];
    const int use = ++uses[static_cast<int>(call.call)];
    const bool retried_open = index > 0 && clean.record[index - 1].call == Call::kOpen &&
                              clean.record[index - 1].failed &&
                              clean.record[index - 1].path == call.path;
    for (Fault fault : {Fault::kFails, Fault::kShortWrite}) {
      if (fault == Fault::kShortWrite && call.call != Call::kWrite) continue;
      SCOPED_TRACE(std::string(CallName(call.call)) + " use " + std::to_string(use) + " on " +
                   call.path + (fault == Fault::kShortWrite ? ", cut short" : ""));
      RunResult got = Run(call.call, use, fault);
      ASSERT_TRUE(got.fired);
      // The run went the same way up to the failure.
      ASSERT_GE(got.record.size(), index + 1);
      ASSERT_EQ(got.record[index].path, call.path);
      const Expected expected = fault == Fault::kShortWrite || call.failed
                                    ? Expected{kRunOk, "", true}
                                    : ExpectedOf(call, retried_open);
      EXPECT_EQ(got.status, expected.status) << got.messages;
      if (!expected.message.empty()) {
        EXPECT_TRUE(Contains(got.messages, expected.message)) << got.messages;
      }
      if (expected.keeps_files) {
        EXPECT_TRUE(got.files == clean.files);
      } else if (call.path == "emp.ctl") {
        Files without_control = clean.files;
        without_control.erase("emp.ctl");
        EXPECT_TRUE(got.files == without_control);
      } else {
        // A failed run takes back every file it made, so that none passes for the unload.
        EXPECT_TRUE(got.files.empty()) << got.files.begin()->first;
      }
      if (HasFailure()) return;  // one fault's report is enough to work on
    }
  }
}

}  // namespace
}  // namespace rowflume

#endif  // !defined(_WIN32)
