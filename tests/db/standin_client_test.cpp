// The run-time loader against the stand-in client library (the embedded engine exported under
// the client's names), found through the library search path like an installed client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "db/statement.h"
#include "oci/client_library.h"
#include "run/client_choice.h"
#include "run/job_run.h"
#include "support/messages.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

const char kChildMarker[] = "ROWFLUME_STANDIN_CHILD";

struct Worker {
  std::string user_string;
  int logon = 1;
  int query = 1;
  const OciApi* provider = nullptr;
  char user[30] = "";
};

void RunWorker(void* arg) {
  Worker* worker = static_cast<Worker*>(arg);
  DbSession session;
  SessionInit(&session);
  worker->logon = LogonChosenClient(&session, worker->user_string.c_str());
  worker->provider = session.oci;
  if (worker->logon == 0) worker->query = QueryCurrentUser(&session, worker->user);
  Logoff(&session);
}

TEST(StandinClient, LoadedFromTheSearchPathLogsOnAndQueries) {
  const std::string standin_dir = ROWFLUME_BUILD_DIR "/standin";
  if (getenv(kChildMarker) == nullptr) {
    // The loader reads the search path when a process starts, so the check runs in a child
    // started with the stand-in's directory on that path.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string command = std::string(kChildMarker) + "=1 LD_LIBRARY_PATH='" + standin_dir + "' '" +
                          self + "' --gtest_filter=StandinClient.*";
    OutputStream* child = OpenCommandStream(command.c_str());
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(CloseStream(child), 0) << "the stand-in run failed; see its output above";
    return;
  }

  std::string path = MakeDatabase("standin_accounts",
                                  "CREATE TABLE rowflume_accounts(username TEXT, password TEXT);"
                                  "INSERT INTO rowflume_accounts VALUES('scott', 'tiger');");
  ASSERT_FALSE(HasFailure());

  char message[2048] = "";
  const OciApi* api = ClientLibraryApi(message, sizeof(message));
  ASSERT_NE(api, nullptr) << message;
  EXPECT_STREQ(api->provider, "libclntsh.so");

  // Parallel workers log on at the same time, each with its own environment.
  Worker workers[4];
  ThreadHandle* threads[4];
  for (int worker_idx = 0; worker_idx < 4; ++worker_idx) {
    workers[worker_idx].user_string = "scott/tiger@" + path;
    threads[worker_idx] = StartThread(RunWorker, &workers[worker_idx]);
    ASSERT_NE(threads[worker_idx], nullptr);
  }
  for (int worker_idx = 0; worker_idx < 4; ++worker_idx) {
    JoinThread(threads[worker_idx]);
    EXPECT_EQ(workers[worker_idx].logon, 0);
    EXPECT_EQ(workers[worker_idx].query, 0);
    EXPECT_EQ(workers[worker_idx].provider, api);
    EXPECT_STREQ(workers[worker_idx].user, "SCOTT");
  }

  // A wrong password: the library's own error text reaches the callback once.
  DbSession session;
  SessionInit(&session);
  std::vector<std::string> texts;
  session.callback = CaptureMessage;
  session.callback_context = &texts;
  EXPECT_EQ(LogonChosenClient(&session, ("scott/wrong@" + path).c_str()), -1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("ORA-01017: ", 0), 0u) << texts[0];
  EXPECT_EQ(session.last_error_code, 1017);
  Logoff(&session);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace rowflume
