// Whole job runs on the embedded engine with one client call failing: every call the run makes,
// on each of its uses, in a small unload with binds, a LOB column written to files, presql,
// postsql and batch files. Each run must end with the result code of the step that failed,
// report the Oracle error it got, keep every output file finished before the failure, and
// (in the sanitizer build) leak nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "job/options.h"
#include "main/driver.h"
#include "run/client_choice.h"
#include "run/job_run.h"
#include "support/fake_oci.h"
#include "support/files.h"
#include "support/job.h"
#include "support/messages.h"
#include "support/sqlite_file.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ROWFLUME_LEAK_CHECK 1
#endif

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// ---- The fake client with one call failing, and the step of the job each call belongs to -----

constexpr sb4 kInjectedCode = 3113;
constexpr char kInjectedText[] = "ORA-03113: end-of-file on communication channel\n";

// The calls the runs make fail: every one that reports a status, but the error fetch itself.
bool CanFail(OciCall call) {
  return ReportsStatus(call) && call != OciCall::ErrorGet;
}

// Releasing calls take effect and then report the failure, as a client does that loses its
// connection while tidying up.
bool Releases(OciCall call) {
  return call == OciCall::HandleFree || call == OciCall::ServerDetach ||
         call == OciCall::SessionEnd || call == OciCall::LobClose;
}

// The step of the job a call belongs to, which decides the run's result when it fails.
enum class Step { kLogon, kSetting, kPresql, kQuery, kDescribe, kFetch, kLob, kPostsql, kRelease };

struct CallRecord {
  OciCall call;
  Step step;
  bool has_error_handle;
};

// What the fake's hooks track of one run of a job or of the program. The hooks run under the
// fake's lock, which serialises the calls of a parallel unload's workers.
struct StepTracker {
  // Statement texts that tell the steps apart.
  std::string presql, query, postsql;
  Step statement_step = Step::kLogon;
  bool logged_on = false;
  bool query_executed = false;
  bool fetching = false;
  bool fired = false;
  bool fired_off_main = false;  // the failing call came from a worker thread
  std::thread::id main_thread = std::this_thread::get_id();
  std::vector<CallRecord> record;
};

StepTracker g_run;

// The step of calls made on the open statement or between statements.
Step CurrentStep() {
  if (!g_run.logged_on) return Step::kLogon;
  if (g_run.statement_step == Step::kQuery && g_run.query_executed) {
    return g_run.fetching ? Step::kFetch : Step::kDescribe;
  }
  return g_run.statement_step;
}

Step StepOf(const OciCallRecord& call) {
  switch (call.call) {
    case OciCall::EnvNlsCreate:
    case OciCall::ServerAttach:
    case OciCall::SessionBegin:
      return Step::kLogon;
    case OciCall::StmtPrepare:
      return g_run.statement_step;
    case OciCall::HandleFree:
      // A failed free of the presql or postsql statement fails that statement.
      return call.detail == OCI_HTYPE_STMT && g_run.statement_step != Step::kQuery
                 ? g_run.statement_step
                 : Step::kRelease;
    case OciCall::ServerDetach:
    case OciCall::SessionEnd:
      return Step::kRelease;
    case OciCall::StmtFetch:
      return Step::kFetch;
    case OciCall::LobOpen:
    case OciCall::LobRead:
    case OciCall::LobClose:
      return Step::kLob;
    default:
      return CurrentStep();
  }
}

// Starts a run: the fake afresh, passing every call through to the provider each logon chose,
// the use of fail_call that fails (none when fail_use is 0), and the hooks that track the steps.
void Arm(OciCall fail_call, int fail_use, bool error_get_fails = false, const char* presql = "",
         const char* query = "", const char* postsql = "") {
  g_run = StepTracker{};
  g_run.presql = presql;
  g_run.query = query;
  g_run.postsql = postsql;
  FakeOci& fake = FakeOci::Fresh();
  if (fail_use > 0) {
    fake.Fail({.label = OciCallName(fail_call),
               .use = fail_use,
               .takes_effect = Releases(fail_call),
               .error_code = kInjectedCode,
               .error_text = kInjectedText});
  }
  if (error_get_fails) {
    OciFailure unreadable;
    unreadable.label = "ErrorGet";
    unreadable.use = OciFailure::kEveryUse;
    unreadable.status = OCI_NO_DATA;
    fake.Fail(unreadable);
  }
  fake.observe.StmtPrepare = [](OCIStmt*, OCIError*, const OraText* text, ub4 length, ub4, ub4) {
    std::string statement(reinterpret_cast<const char*>(text), length);
    Step step = Step::kSetting;
    if (statement == g_run.presql) step = Step::kPresql;
    if (statement == g_run.query) step = Step::kQuery;
    if (statement == g_run.postsql) step = Step::kPostsql;
    g_run.statement_step = step;
    g_run.query_executed = false;
    g_run.fetching = false;
    // The statement handle allocated just before belongs to this statement.
    if (!g_run.record.empty() && g_run.record.back().call == OciCall::HandleAlloc) {
      g_run.record.back().step = step;
    }
  };
  fake.observe.StmtFetch = [](OCIStmt*, OCIError*, ub4, ub2, ub4) { g_run.fetching = true; };
  fake.script.AttrSet = [](void* target, ub4 target_type, void* value, ub4 size, ub4 attribute,
                           OCIError* error) {
    sword status =
        FakeOci::Get().real()->AttrSet(target, target_type, value, size, attribute, error);
    // The session set into the service context is the last step of a logon.
    if (target_type == OCI_HTYPE_SVCCTX && attribute == OCI_ATTR_SESSION) g_run.logged_on = true;
    return status;
  };
  fake.script.StmtExecute = [](OCISvcCtx* service, OCIStmt* statement, OCIError* error,
                               ub4 iterations, ub4 offset, const OCISnapshot* in, OCISnapshot* out,
                               ub4 mode) {
    sword status = FakeOci::Get().real()->StmtExecute(service, statement, error, iterations, offset,
                                                      in, out, mode);
    if (g_run.statement_step == Step::kQuery) g_run.query_executed = true;
    return status;
  };
  fake.on_call = [](const OciCallRecord& call) {
    if (!CanFail(call.call)) return;
    g_run.record.push_back({call.call, StepOf(call), call.error_handle != nullptr});
    if (call.fails) {
      g_run.fired = true;
      g_run.fired_off_main = call.thread != g_run.main_thread;
    }
  };
}

// ---- The unload --------------------------------------------------------------------------------

using Files = std::map<std::string, std::string>;  // relative path -> content

Files ReadTree(const std::string& dir) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), dir).generic_string()] = ReadFile(entry.path().string());
  }
  return files;
}

struct RunResult {
  int status = 0;
  std::vector<std::string> messages;
  Files files;
  std::vector<CallRecord> record;
  bool fired = false;
};

class ClientFaults : public testing::Test {
 protected:
  static constexpr char kPresql[] = "update emp set sal = sal where empno < 0";
  static constexpr char kPostsql[] = "delete from emp where empno < 0";
  static constexpr char kQuery[] =
      "select empno, ename, hiredate, sal, notes from emp where empno >= :lo and ename <> :skip "
      "order by empno";

  static void SetUpTestSuite() {
    base_ = new std::string(MakeTempDir());
    // Fourteen rows; one note of three read pieces, a NULL note and an empty one.
    const char* sql =
        "CREATE TABLE EMP(EMPNO NUMBER(4), ENAME VARCHAR2(10), HIREDATE DATE, SAL NUMBER(7,2),"
        " NOTES CLOB);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 14)"
        " INSERT INTO EMP SELECT 7360 + i, 'EMP' || i, '1981-02-' || (10 + i) || ' 00:00:00',"
        " i * 125.5, CASE i WHEN 3 THEN replace(hex(zeroblob(35000)), '00', 'ab')"
        " WHEN 7 THEN NULL WHEN 10 THEN '' ELSE 'note of ' || i END FROM n;"
        // Four extents of one block (64 rows) each: four pieces for a parallel unload.
        "CREATE TABLE PIECES(ID NUMBER(8), NAME VARCHAR2(20));"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 255)"
        " INSERT INTO PIECES(rowid, ID, NAME) SELECT i, i, 'name ' || i FROM n;"
        "CREATE TABLE rowflume_extents(owner, segment_name, partition_name, segment_type,"
        " relative_fno, block_id, blocks);"
        "INSERT INTO rowflume_extents VALUES ('SCOTT', 'PIECES', NULL, 'TABLE', 1, 0, 1),"
        " ('SCOTT', 'PIECES', NULL, 'TABLE', 1, 1, 1), ('SCOTT', 'PIECES', NULL, 'TABLE', 1, 2, 1),"
        " ('SCOTT', 'PIECES', NULL, 'TABLE', 1, 3, 1);";
    SqliteFile(*base_ + "/emp.db").Exec(sql);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*base_);
    delete base_;
  }

  void SetUp() override { SetProviderFilter(FakeOci::Filter); }
  void TearDown() override {
    SetProviderFilter(nullptr);
    FakeOci::Fresh();
  }

  // One whole job run in a fresh working folder, with the given use of a call failing (none
  // when fail_use is 0).
  RunResult Run(OciCall fail_call = OciCall::ErrorGet, int fail_use = 0, bool tolerate = false,
                bool error_get_fails = false) {
    Arm(fail_call, fail_use, error_get_fails, kPresql, kQuery, kPostsql);
    std::unique_ptr<UnloadHandle> job = NewJob();
    for (std::string item :
         {"user=scott/tiger@sqlite:" + *base_ + "/emp.db", std::string("query=") + kQuery,
          std::string("presql=") + kPresql, std::string("postsql=") + kPostsql,
          std::string("file=emp_%b.txt"), std::string("batch=yes"), std::string("lob=FILE"),
          std::string("array=5"), std::string("alter=SET NLS_SORT=BINARY")}) {
      EXPECT_EQ(SetOption(job.get(), item.c_str()), 1) << item;
    }
    // Five rows a file (below what the keyword accepts), so the fourteen rows fill three files
    // and a failure can fall into any of them.
    job->rows = 5;
    if (tolerate) SetOption(job.get(), "error=3113");
    const char* binds[][2] = {{"lo", "0"}, {"skip", "nobody"}};
    for (const auto& bind : binds) {
      BindEntry& entry = job->binds[job->bind_count++];
      entry.name_length = static_cast<int32_t>(std::strlen(bind[0]));
      std::memcpy(entry.name, bind[0], entry.name_length);
      entry.value_length = static_cast<int32_t>(std::strlen(bind[1]));
      std::memcpy(entry.value, bind[1], entry.value_length);
    }
    RunResult result;
    job->callback = CaptureMessage;
    job->callback_context = &result.messages;

    const std::string dir = *base_ + "/run";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path home = fs::current_path();
    fs::current_path(dir);
    result.status = RunJob(job.get());
    fs::current_path(home);
    result.files = ReadTree(dir);
    fs::remove_all(dir);
    result.record = g_run.record;
    result.fired = g_run.fired;
    return result;
  }

  static std::string* base_;
};

std::string* ClientFaults::base_ = nullptr;

int ExpectedStatus(Step step) {
  switch (step) {
    case Step::kLogon:
      return kRunLogonFailed;
    case Step::kPresql:
      return kRunPresqlFailed;
    case Step::kQuery:
      return kRunQueryFailed;
    case Step::kDescribe:
      return kRunDescribeFailed;
    case Step::kFetch:
      return kRunFetchFailed;
    case Step::kLob:
      return kRunWriteFailed;
    case Step::kPostsql:
      return kRunPostsqlFailed;
    case Step::kSetting:
    case Step::kRelease:
      return kRunOk;
  }
  return -100;
}

const char* StepName(Step step) {
  static const char* const kNames[] = {"logon", "setting", "presql",  "query",  "describe",
                                       "fetch", "lob",     "postsql", "release"};
  return kNames[static_cast<int>(step)];
}

bool IsDataFile(const std::string& name) {
  return name.rfind("emp_", 0) == 0;
}

TEST_F(ClientFaults, EveryCallFailingOnEachOfItsUses) {
  RunResult clean = Run();
  ASSERT_EQ(clean.status, kRunOk);
  // Three data files of 5, 5 and 4 rows; the LOB files of 13 notes (the NULL has none).
  ASSERT_EQ(clean.files.size(), 3u + 13u);
  EXPECT_EQ(Lines(clean.files["emp_3.txt"]).size(), 4u);
  std::string long_note;
  for (int k = 0; k < 35000; ++k) long_note += "ab";
  EXPECT_TRUE(clean.files["LOB0002/010000000002_0004.dat"] == long_note);
  EXPECT_EQ(clean.files.count("LOB0001/010000000009_0004.dat"), 1u);
  EXPECT_EQ(clean.files["LOB0001/010000000009_0004.dat"], "");
  int steps_seen[9] = {};
  for (const CallRecord& call : clean.record) steps_seen[static_cast<int>(call.step)] += 1;
  for (int step = 0; step < 9; ++step) {
    EXPECT_GT(steps_seen[step], 0) << StepName(static_cast<Step>(step));
  }

  // Every call the run makes is among them, so the loop below makes each one fail.
  int made[kOciCallCount] = {};
  for (const CallRecord& call : clean.record) made[static_cast<int>(call.call)] += 1;
  for (int call = 0; call < kOciCallCount; ++call) {
    if (CanFail(static_cast<OciCall>(call))) {
      EXPECT_GT(made[call], 0) << OciCallName(static_cast<OciCall>(call));
    }
  }
  EXPECT_GE(made[static_cast<int>(OciCall::LobRead)], 15);  // the long note takes three pieces

  int uses[kOciCallCount] = {};
  for (size_t index = 0; index < clean.record.size(); ++index) {
    const CallRecord& call = clean.record[index];
    const int use = ++uses[static_cast<int>(call.call)];
    SCOPED_TRACE(std::string(OciCallName(call.call)) + " use " + std::to_string(use) + " in " +
                 StepName(call.step));
    RunResult got = Run(call.call, use);
    ASSERT_TRUE(got.fired);
    // The run went the same way up to the failure.
    ASSERT_GE(got.record.size(), index + 1);
    const int expected = ExpectedStatus(call.step);
    EXPECT_EQ(got.status, expected);
    // An error the client recorded is reported once, wherever it happened, unless the call only
    // tidied up.
    if (call.has_error_handle && call.step != Step::kRelease) {
      EXPECT_EQ(CountEqual(got.messages, kInjectedText), 1);
    }
    switch (expected) {
      case kRunOk:
        if (call.step == Step::kSetting) {
          // A session setting that failed may change how values look (the date format), never
          // which rows and values arrive.
          ASSERT_EQ(got.files.size(), clean.files.size());
          for (const auto& [name, content] : clean.files) {
            ASSERT_EQ(got.files.count(name), 1u) << name;
            if (IsDataFile(name)) {
              EXPECT_EQ(Lines(got.files[name]).size(), Lines(content).size()) << name;
            } else {
              EXPECT_TRUE(got.files[name] == content) << name;
            }
          }
          break;
        }
        EXPECT_TRUE(got.files == clean.files);
        break;
      default:
        // A failed run takes back every file it made, LOB files included: what it leaves could
        // be taken for complete, and a run again would write its rows a second time.
        EXPECT_TRUE(got.files.empty()) << got.files.begin()->first;
        break;
    }
#ifdef ROWFLUME_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
    if (HasFailure()) break;  // one fault's report is enough to work on
  }
}

// A fetch error listed in `error` costs no rows; an error that cannot be read still fails the
// step it happened in.
TEST_F(ClientFaults, ToleratedFetchErrorAndUnreadableErrors) {
  RunResult clean = Run();
  ASSERT_EQ(clean.status, kRunOk);
  for (int use = 1; use <= 3; ++use) {
    SCOPED_TRACE(use);
    RunResult got = Run(OciCall::StmtFetch, use, /*tolerate=*/true);
    EXPECT_EQ(got.status, kRunOk);
    EXPECT_EQ(CountEqual(got.messages, kInjectedText), 1);
    EXPECT_TRUE(got.files == clean.files);
  }
  // Without a readable error record the failure is still one.
  for (OciCall call : {OciCall::StmtExecute, OciCall::StmtFetch, OciCall::LobRead}) {
    SCOPED_TRACE(OciCallName(call));
    // The query's execute follows five other statements.
    int use = call == OciCall::StmtExecute ? 6 : 2;
    RunResult got = Run(call, use, false, /*error_get_fails=*/true);
    EXPECT_NE(got.status, kRunOk);
    EXPECT_EQ(CountEqual(got.messages, kInjectedText), 0);
  }
}

// The whole program on a parallel unload of four pieces, with one call failing on each of its
// uses, wherever it falls: in the program's own logon and split, or in one piece, which is then
// run again. Never may the run end with success and rows lost or doubled.
TEST_F(ClientFaults, ParallelUnloadHealsOrFailsLoudly) {
  std::vector<std::string> expected;
  for (int id = 0; id < 256; ++id)
    expected.push_back(std::to_string(id) + ",name " + std::to_string(id));
  std::sort(expected.begin(), expected.end());

  struct Outcome {
    int status;
    std::string out;
    std::vector<std::string> rows;
    bool fired;
    bool in_piece;
  };
  // fail_use 0: nothing fails.
  auto run = [&](OciCall call, int use) {
    Arm(call, use);
    const std::string dir = *base_ + "/parallel";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path home = fs::current_path();
    fs::current_path(dir);
    Argv argv({"user=scott/tiger@sqlite:" + *base_ + "/emp.db", "split=PIECES", "degree=5",
               "file=p_%p.txt", "retry=3", "sleep=0", "array=20"});
    Outcome outcome;
    // Messages go to standard output.
    outcome.out = CaptureStdout([&] { outcome.status = RunCommandLine(argv.argc(), argv.argv()); });
    fs::current_path(home);
    Files files = ReadTree(dir);
    fs::remove_all(dir);
    for (const auto& [name, content] : files) {
      if (name.rfind("p_", 0) != 0) continue;
      std::vector<std::string> lines = Lines(content);
      outcome.rows.insert(outcome.rows.end(), lines.begin(), lines.end());
    }
    std::sort(outcome.rows.begin(), outcome.rows.end());
    outcome.fired = g_run.fired;
    outcome.in_piece = g_run.fired_off_main;
    return outcome;
  };

  Outcome clean = run(OciCall::ErrorGet, 0);
  ASSERT_EQ(clean.status, 0) << clean.out;
  ASSERT_TRUE(clean.rows == expected);
  // Four pieces, each closing a file of its own.
  ASSERT_EQ(Count(clean.out, " closed at "), 4u) << clean.out;
  int uses[kOciCallCount];
  for (int call = 0; call < kOciCallCount; ++call) {
    uses[call] = FakeOci::Get().Uses(static_cast<OciCall>(call));
  }

  int healed = 0;
  int failed = 0;
  for (int call = 0; call < kOciCallCount; ++call) {
    if (!CanFail(static_cast<OciCall>(call))) continue;
    for (int use = 1; use <= uses[call]; ++use) {
      SCOPED_TRACE(std::string(OciCallName(static_cast<OciCall>(call))) + " use " +
                   std::to_string(use));
      Outcome got = run(static_cast<OciCall>(call), use);
      ASSERT_TRUE(got.fired);
      if (got.status == 0) {
        ++healed;
        EXPECT_TRUE(got.rows == expected) << got.rows.size() << "\n" << got.out;
      } else {
        ++failed;
        // A piece that failed once is run again and succeeds.
        EXPECT_FALSE(got.in_piece) << got.status << "\n" << got.out;
      }
#ifdef ROWFLUME_LEAK_CHECK
      EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
      if (HasFailure()) return;
    }
  }
  // Most calls are made by the pieces, whose failures are healed.
  EXPECT_GT(healed, 4 * failed) << healed << " healed, " << failed << " failed";
}

}  // namespace
}  // namespace rowflume
