// Whole job runs on the embedded engine with one client call failing: every call the run makes,
// on each of its uses, in a small unload with binds, a LOB column written to files, presql,
// postsql and batch files. Each run must end with the result code of the step that failed,
// report the Oracle error it got, keep every output file finished before the failure, and
// (in the sanitizer build) leak nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/statement.h"
#include "job/options.h"
#include "main/driver.h"
#include "run/job_run.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ROWFLUME_LEAK_CHECK 1
#endif

namespace rowflume {
namespace {

namespace fs = std::filesystem;

// ---- A client table whose calls fail on demand ---------------------------------------------

enum Call {
  kEnvNlsCreate,
  kHandleAlloc,
  kHandleFree,
  kDescriptorAlloc,
  kServerAttach,
  kServerDetach,
  kAttrSet,
  kAttrGet,
  kSessionBegin,
  kSessionEnd,
  kStmtPrepare,
  kStmtExecute,
  kBindByName,
  kParamGet,
  kDefineByPos,
  kStmtFetch,
  kLobOpen,
  kLobRead,
  kLobClose,
  kErrorGet,
  kCallCount
};

const char* const kCallNames[kCallCount] = {
    "EnvNlsCreate", "HandleAlloc", "HandleFree", "DescriptorAlloc", "ServerAttach",
    "ServerDetach", "AttrSet",     "AttrGet",    "SessionBegin",    "SessionEnd",
    "StmtPrepare",  "StmtExecute", "BindByName", "ParamGet",        "DefineByPos",
    "StmtFetch",    "LobOpen",     "LobRead",    "LobClose",        "ErrorGet"};

constexpr sb4 kInjectedCode = 3113;
constexpr char kInjectedText[] = "ORA-03113: end-of-file on communication channel\n";

// The step of the job a call belongs to, which decides the run's result when it fails.
enum class Step { kLogon, kSetting, kPresql, kQuery, kDescribe, kFetch, kLob, kPostsql, kRelease };

struct CallRecord {
  Call call;
  Step step;
  bool has_error_handle;
};

// What the wrapper is told and what it saw, for one run of a job or of the program at a time.
struct FaultState {
  const OciApi* real = nullptr;
  Call fail_call = kCallCount;  // none
  int fail_use = 0;             // which use of fail_call fails, from 1
  bool fired = false;
  bool fired_off_main = false;  // the failing call came from a worker thread
  std::thread::id main_thread = std::this_thread::get_id();
  bool error_get_fails = false;  // every ErrorGet finds nothing
  int uses[kCallCount] = {};
  // The error record the injected failure left, for its error handle, until that handle is used
  // by another call (which, in a real client, replaces the record).
  OCIError* pending = nullptr;
  // Statement texts that tell the steps apart.
  std::string presql, query, postsql;
  Step statement_step = Step::kLogon;
  bool logged_on = false;
  bool query_executed = false;
  bool fetching = false;
  std::vector<CallRecord> record;
};

FaultState g_fault;
// Workers of a parallel unload call at the same time: each call of the wrapper holds this lock
// (the calls are serialised, which changes nothing of what each of them does).
std::mutex g_lock;

// Counts a use; true when this use is the one to fail. Records the step it belongs to.
bool Hit(Call call, OCIError* error_handle, Step step) {
  g_fault.uses[call] += 1;
  g_fault.record.push_back({call, step, error_handle != nullptr});
  if (call == g_fault.fail_call && g_fault.uses[call] == g_fault.fail_use) {
    g_fault.fired = true;
    g_fault.fired_off_main = std::this_thread::get_id() != g_fault.main_thread;
    if (error_handle != nullptr) g_fault.pending = error_handle;
    return true;
  }
  if (error_handle != nullptr && error_handle == g_fault.pending) g_fault.pending = nullptr;
  return false;
}

// The step of calls made on the open statement or between statements.
Step CurrentStep() {
  if (!g_fault.logged_on) return Step::kLogon;
  if (g_fault.statement_step == Step::kQuery && g_fault.query_executed) {
    return g_fault.fetching ? Step::kFetch : Step::kDescribe;
  }
  return g_fault.statement_step;
}

sword FEnvNlsCreate(OCIEnv** envhpp, ub4 mode, void* ctxp, void* (*malocfp)(void*, size_t),
                    void* (*ralocfp)(void*, void*, size_t), void (*mfreefp)(void*, void*),
                    size_t xtramem_sz, void** usrmempp, ub2 charset, ub2 ncharset) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kEnvNlsCreate, nullptr, Step::kLogon)) return OCI_ERROR;
  return g_fault.real->EnvNlsCreate(envhpp, mode, ctxp, malocfp, ralocfp, mfreefp, xtramem_sz,
                                    usrmempp, charset, ncharset);
}

ub2 FNlsCharSetNameToId(void* envhp, const OraText* name) {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_fault.real->NlsCharSetNameToId(envhp, name);
}

sword FHandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t xtramem_sz,
                   void** usrmempp) {
  std::lock_guard<std::mutex> lock(g_lock);
  // A statement handle belongs to the statement prepared next; its step is fixed up there.
  if (Hit(kHandleAlloc, nullptr, CurrentStep())) return OCI_ERROR;
  return g_fault.real->HandleAlloc(parenth, hndlpp, type, xtramem_sz, usrmempp);
}

// Releasing calls take effect and then report the failure, as a client does that loses its
// connection while tidying up.
sword FHandleFree(void* hndlp, ub4 type) {
  std::lock_guard<std::mutex> lock(g_lock);
  Step step = Step::kRelease;
  if (type == OCI_HTYPE_STMT && g_fault.statement_step != Step::kQuery) {
    step = g_fault.statement_step;  // presql or postsql: a failed free fails the statement
  }
  bool fail = Hit(kHandleFree, nullptr, step);
  sword status = g_fault.real->HandleFree(hndlp, type);
  return fail ? OCI_ERROR : status;
}

sword FDescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t xtramem_sz,
                       void** usrmempp) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kDescriptorAlloc, nullptr, CurrentStep())) return OCI_ERROR;
  return g_fault.real->DescriptorAlloc(parenth, descpp, type, xtramem_sz, usrmempp);
}

sword FServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len,
                    ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kServerAttach, errhp, Step::kLogon)) return OCI_ERROR;
  return g_fault.real->ServerAttach(srvhp, errhp, dblink, dblink_len, mode);
}

sword FServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  bool fail = Hit(kServerDetach, errhp, Step::kRelease);
  sword status = g_fault.real->ServerDetach(srvhp, errhp, mode);
  return fail ? OCI_ERROR : status;
}

sword FAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype,
               OCIError* errhp) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kAttrSet, errhp, CurrentStep())) return OCI_ERROR;
  sword status = g_fault.real->AttrSet(trgthndlp, trghndltyp, attributep, size, attrtype, errhp);
  // The session set into the service context is the last step of a logon.
  if (trghndltyp == OCI_HTYPE_SVCCTX && attrtype == OCI_ATTR_SESSION) g_fault.logged_on = true;
  return status;
}

sword FAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
               OCIError* errhp) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kAttrGet, errhp, CurrentStep())) return OCI_ERROR;
  return g_fault.real->AttrGet(trgthndlp, trghndltyp, attributep, sizep, attrtype, errhp);
}

sword FSessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kSessionBegin, errhp, Step::kLogon)) return OCI_ERROR;
  return g_fault.real->SessionBegin(svchp, errhp, usrhp, credt, mode);
}

sword FSessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  bool fail = Hit(kSessionEnd, errhp, Step::kRelease);
  sword status = g_fault.real->SessionEnd(svchp, errhp, usrhp, mode);
  return fail ? OCI_ERROR : status;
}

sword FStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len, ub4 language,
                   ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  std::string text(reinterpret_cast<const char*>(stmt), stmt_len);
  Step step = Step::kSetting;
  if (text == g_fault.presql) step = Step::kPresql;
  if (text == g_fault.query) step = Step::kQuery;
  if (text == g_fault.postsql) step = Step::kPostsql;
  g_fault.statement_step = step;
  g_fault.query_executed = false;
  g_fault.fetching = false;
  // The statement handle allocated just before belongs to this statement.
  if (!g_fault.record.empty() && g_fault.record.back().call == kHandleAlloc) {
    g_fault.record.back().step = step;
  }
  if (Hit(kStmtPrepare, errhp, step)) return OCI_ERROR;
  return g_fault.real->StmtPrepare(stmtp, errhp, stmt, stmt_len, language, mode);
}

sword FStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                   const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kStmtExecute, errhp, CurrentStep())) return OCI_ERROR;
  sword status =
      g_fault.real->StmtExecute(svchp, stmtp, errhp, iters, rowoff, snap_in, snap_out, mode);
  if (g_fault.statement_step == Step::kQuery) g_fault.query_executed = true;
  return status;
}

sword FBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                  sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp,
                  ub2* rcodep, ub4 maxarr_len, ub4* curelep, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kBindByName, errhp, CurrentStep())) return OCI_ERROR;
  return g_fault.real->BindByName(stmtp, bindp, errhp, placeholder, placeh_len, valuep, value_sz,
                                  dty, indp, alenp, rcodep, maxarr_len, curelep, mode);
}

sword FParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kParamGet, errhp, CurrentStep())) return OCI_ERROR;
  return g_fault.real->ParamGet(hndlp, htype, errhp, parmdpp, pos);
}

sword FDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                   sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kDefineByPos, errhp, CurrentStep())) return OCI_ERROR;
  return g_fault.real->DefineByPos(stmtp, defnp, errhp, position, valuep, value_sz, dty, indp,
                                   rlenp, rcodep, mode);
}

sword FStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_fault.fetching = true;
  if (Hit(kStmtFetch, errhp, Step::kFetch)) return OCI_ERROR;
  return g_fault.real->StmtFetch(stmtp, errhp, nrows, orientation, mode);
}

sword FLobOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub1 mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kLobOpen, errhp, Step::kLob)) return OCI_ERROR;
  return g_fault.real->LobOpen(svchp, errhp, locp, mode);
}

sword FLobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset,
               void* bufp, ub4 bufl, void* ctxp,
               sb4 (*cbfp)(void* ctxp, const void* bufp, ub4 len, ub1 piece), ub2 csid, ub1 csfrm) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (Hit(kLobRead, errhp, Step::kLob)) return OCI_ERROR;
  return g_fault.real->LobRead(svchp, errhp, locp, amtp, offset, bufp, bufl, ctxp, cbfp, csid,
                               csfrm);
}

sword FLobClose(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp) {
  std::lock_guard<std::mutex> lock(g_lock);
  bool fail = Hit(kLobClose, errhp, Step::kLob);
  sword status = g_fault.real->LobClose(svchp, errhp, locp);
  return fail ? OCI_ERROR : status;
}

sword FErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp,
                ub4 bufsiz, ub4 type) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_fault.uses[kErrorGet] += 1;
  if (g_fault.error_get_fails) return OCI_NO_DATA;
  if (hndlp != nullptr && hndlp == g_fault.pending) {
    *errcodep = kInjectedCode;
    std::snprintf(reinterpret_cast<char*>(bufp), bufsiz, "%s", kInjectedText);
    return OCI_SUCCESS;
  }
  return g_fault.real->ErrorGet(hndlp, recordno, sqlstate, errcodep, bufp, bufsiz, type);
}

const OciApi kFaultyApi = {
    "fault injection", FEnvNlsCreate, FNlsCharSetNameToId, FHandleAlloc, FHandleFree,
    FDescriptorAlloc,  FServerAttach, FServerDetach,       FAttrSet,     FAttrGet,
    FSessionBegin,     FSessionEnd,   FStmtPrepare,        FStmtExecute, FBindByName,
    FParamGet,         FDefineByPos,  FStmtFetch,          FLobOpen,     FLobRead,
    FLobClose,         FErrorGet};

const OciApi* WrapProvider(const OciApi* chosen) {
  g_fault.real = chosen;
  return &kFaultyApi;
}

// ---- The unload --------------------------------------------------------------------------------

void Capture(void* context, const char* text) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

using Files = std::map<std::string, std::string>;  // relative path -> content

Files ReadTree(const std::string& dir) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), dir).string()] =
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

int Count(const std::vector<std::string>& messages, const std::string& text) {
  int count = 0;
  for (const std::string& message : messages) count += message == text ? 1 : 0;
  return count;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ClientFaults : public testing::Test {
 protected:
  static constexpr char kPresql[] = "update emp set sal = sal where empno < 0";
  static constexpr char kPostsql[] = "delete from emp where empno < 0";
  static constexpr char kQuery[] =
      "select empno, ename, hiredate, sal, notes from emp where empno >= :lo and ename <> :skip "
      "order by empno";

  static void SetUpTestSuite() {
    base_ = new std::string(testing::TempDir() + "client_faults_" + std::to_string(getpid()));
    fs::create_directories(*base_);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((*base_ + "/emp.db").c_str(), &db), SQLITE_OK);
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
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_free(error);
    sqlite3_close(db);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*base_);
    delete base_;
  }

  void SetUp() override { SetProviderFilter(WrapProvider); }
  void TearDown() override { SetProviderFilter(nullptr); }

  // One whole job run in a fresh working folder, with the given call failing on its use.
  RunResult Run(Call fail_call, int fail_use, bool tolerate = false, bool error_get_fails = false) {
    g_fault = FaultState{};
    g_fault.fail_call = fail_call;
    g_fault.fail_use = fail_use;
    g_fault.error_get_fails = error_get_fails;
    g_fault.presql = kPresql;
    g_fault.query = kQuery;
    g_fault.postsql = kPostsql;

    auto job = std::make_unique<UnloadHandle>();
    InitJobDefaults(job.get());
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
    job->callback = Capture;
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
    result.record = g_fault.record;
    result.fired = g_fault.fired;
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

// The failure of a LOB value leaves its row's field empty and nothing else different.
void ExpectOneLobNameDropped(const Files& clean, const Files& got) {
  int dropped = 0;
  for (const auto& [name, content] : clean) {
    if (!IsDataFile(name)) continue;
    auto found = got.find(name);
    ASSERT_NE(found, got.end()) << name;
    std::vector<std::string> want = Lines(content);
    std::vector<std::string> have = Lines(found->second);
    ASSERT_EQ(have.size(), want.size()) << name;
    for (size_t k = 0; k < want.size(); ++k) {
      if (have[k] == want[k]) continue;
      ++dropped;
      EXPECT_EQ(have[k] + want[k].substr(want[k].rfind(',') + 1), want[k]);
    }
  }
  EXPECT_EQ(dropped, 1);
  // Every LOB file a data file names holds its whole value.
  for (const auto& [name, content] : got) {
    if (IsDataFile(name)) {
      for (const std::string& line : Lines(content)) {
        std::string lob = line.substr(line.rfind(',') + 1);
        if (lob.empty()) continue;
        ASSERT_TRUE(got.count(lob) == 1 && clean.count(lob) == 1) << lob;
        EXPECT_TRUE(got.at(lob) == clean.at(lob)) << lob;
      }
    }
  }
}

TEST_F(ClientFaults, EveryCallFailingOnEachOfItsUses) {
  RunResult clean = Run(kCallCount, 0);
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
  int made[kCallCount] = {};
  for (const CallRecord& call : clean.record) made[call.call] += 1;
  for (int call = 0; call < kCallCount; ++call) {
    if (call != kErrorGet) {
      EXPECT_GT(made[call], 0) << kCallNames[call];
    }
  }
  EXPECT_GE(made[kLobRead], 15);  // the long note takes three pieces

  int uses[kCallCount] = {};
  for (size_t index = 0; index < clean.record.size(); ++index) {
    const CallRecord& call = clean.record[index];
    const int use = ++uses[call.call];
    SCOPED_TRACE(std::string(kCallNames[call.call]) + " use " + std::to_string(use) + " in " +
                 StepName(call.step));
    RunResult got = Run(call.call, use);
    ASSERT_TRUE(got.fired);
    // The run went the same way up to the failure.
    ASSERT_GE(got.record.size(), index + 1);
    const int expected = ExpectedStatus(call.step);
    EXPECT_EQ(got.status, expected);
    // An error the client recorded is reported once, wherever it happened, unless the call only
    // tidied up.
    if (call.call == kBindByName) {
      // A failed bind shows as the execute error of the query it left unbound.
      EXPECT_EQ(Count(got.messages, "ORA-01008: not all variables bound\n"), 1);
    } else if (call.has_error_handle && call.step != Step::kRelease) {
      EXPECT_EQ(Count(got.messages, kInjectedText), 1);
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
      case kRunPostsqlFailed:
        EXPECT_TRUE(got.files == clean.files);
        break;
      case kRunWriteFailed:
        ExpectOneLobNameDropped(clean.files, got.files);
        break;
      case kRunFetchFailed: {
        // Files closed before the failure are whole; the one open at the failure holds a
        // beginning of its rows; no later file exists.
        int open_files = 0;
        for (const auto& [name, content] : got.files) {
          if (!IsDataFile(name)) {
            EXPECT_TRUE(clean.files.count(name) == 1 && clean.files.at(name) == content) << name;
            continue;
          }
          ASSERT_EQ(clean.files.count(name), 1u) << name;
          const std::string& whole = clean.files.at(name);
          if (content != whole) {
            ++open_files;
            EXPECT_EQ(whole.compare(0, content.size(), content), 0) << name;
          }
        }
        EXPECT_LE(open_files, 1);
        break;
      }
      default:
        // Nothing was unloaded.
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
  RunResult clean = Run(kCallCount, 0);
  ASSERT_EQ(clean.status, kRunOk);
  for (int use = 1; use <= 3; ++use) {
    SCOPED_TRACE(use);
    RunResult got = Run(kStmtFetch, use, /*tolerate=*/true);
    EXPECT_EQ(got.status, kRunOk);
    EXPECT_EQ(Count(got.messages, kInjectedText), 1);
    EXPECT_TRUE(got.files == clean.files);
  }
  // Without a readable error record the failure is still one.
  for (Call call : {kStmtExecute, kStmtFetch, kLobRead}) {
    SCOPED_TRACE(kCallNames[call]);
    int use = call == kStmtExecute ? 6 : 2;  // the query's execute follows five other statements
    RunResult got = Run(call, use, false, /*error_get_fails=*/true);
    EXPECT_NE(got.status, kRunOk);
    EXPECT_EQ(Count(got.messages, kInjectedText), 0);
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
  auto run = [&](Call call, int use) {
    g_fault = FaultState{};
    g_fault.fail_call = call;
    g_fault.fail_use = use;
    const std::string dir = *base_ + "/parallel";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path home = fs::current_path();
    fs::current_path(dir);
    std::vector<std::string> args = {
        "rowflume",      "user=scott/tiger@sqlite:" + *base_ + "/emp.db",
        "split=PIECES",  "degree=5",
        "file=p_%p.txt", "retry=3",
        "sleep=0",       "array=20"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    // Messages go to standard output: into a file for the time of the run.
    std::fflush(stdout);
    const int saved = dup(1);
    const int capture = open("messages.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(capture, 1);
    close(capture);
    Outcome outcome;
    outcome.status = RunCommandLine(static_cast<int>(argv.size()), argv.data());
    dup2(saved, 1);
    close(saved);
    fs::current_path(home);
    Files files = ReadTree(dir);
    fs::remove_all(dir);
    outcome.out = files["messages.txt"];
    for (const auto& [name, content] : files) {
      if (name.rfind("p_", 0) != 0) continue;
      std::vector<std::string> lines = Lines(content);
      outcome.rows.insert(outcome.rows.end(), lines.begin(), lines.end());
    }
    std::sort(outcome.rows.begin(), outcome.rows.end());
    outcome.fired = g_fault.fired;
    outcome.in_piece = g_fault.fired_off_main;
    return outcome;
  };

  Outcome clean = run(kCallCount, 0);
  ASSERT_EQ(clean.status, 0) << clean.out;
  ASSERT_TRUE(clean.rows == expected);
  // Four pieces, each closing a file of its own.
  size_t closed = 0;
  for (size_t at = 0; (at = clean.out.find(" closed at ", at)) != std::string::npos; ++at) ++closed;
  ASSERT_EQ(closed, 4u) << clean.out;
  int uses[kCallCount];
  std::copy(std::begin(g_fault.uses), std::end(g_fault.uses), uses);

  int healed = 0;
  int failed = 0;
  for (int call = 0; call < kCallCount; ++call) {
    if (call == kErrorGet) continue;
    for (int use = 1; use <= uses[call]; ++use) {
      SCOPED_TRACE(std::string(kCallNames[call]) + " use " + std::to_string(use));
      Outcome got = run(static_cast<Call>(call), use);
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
