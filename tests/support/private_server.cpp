#include "support/private_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "support/files.h"

namespace rowflume::testing_support {
namespace {

std::string ScriptPath(const std::string& script) {
  return ShellQuote(std::string(ROWFLUME_SOURCE_DIR) + "/tests/output/" + script);
}

struct Started {
  std::unique_ptr<PrivateServer> server;
  int status = 0;
  std::string why;
};

// The servers started by this program, by script; all stopped when the program's tests end.
std::map<std::string, Started>& Servers() {
  static std::map<std::string, Started> servers;
  return servers;
}

class StopServers : public testing::Environment {
 public:
  void TearDown() override {
    for (auto& [script, started] : Servers()) {
      if (started.server == nullptr) continue;
      const std::string dir = started.server->dir();
      RunShell(dir, "bash " + ScriptPath(script) + " stop " + ShellQuote(dir));
      std::filesystem::remove_all(dir);
    }
    Servers().clear();
  }
};
testing::Environment* const kStopServers = testing::AddGlobalTestEnvironment(new StopServers);

}  // namespace

PrivateServer::PrivateServer(std::string script, std::string dir)
    : script_(std::move(script)), dir_(std::move(dir)) {}

PrivateServer* PrivateServer::Get(const std::string& script, bool* installed, std::string* why) {
  auto found = Servers().find(script);
  if (found == Servers().end()) {
    Started& started = Servers()[script];
    std::string dir = MakeTempDir();
    ProgramRun run =
        RunShell(dir, "bash " + ScriptPath(script) + " start " + ShellQuote(dir) + " 2>&1");
    started.status = run.status;
    started.why = run.out;
    if (run.status == 0) {
      started.server.reset(new PrivateServer(script, dir));
    } else {
      std::filesystem::remove_all(dir);
    }
    found = Servers().find(script);
  }
  *installed = found->second.status != 3;
  *why = found->second.why;
  return found->second.server.get();
}

ProgramRun PrivateServer::Sql(const std::string& sql) {
  std::string path = dir_ + "/statements.sql";
  WriteFile(path, sql);
  return SourceFile(path);
}

ProgramRun PrivateServer::SourceFile(const std::string& path) {
  return RunShell(dir_, "bash " + ScriptPath(script_) + " sql " + ShellQuote(dir_) + " < " +
                            ShellQuote(path) + " 2>&1");
}

}  // namespace rowflume::testing_support
