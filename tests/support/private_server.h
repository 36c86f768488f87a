// Database servers private to one test program, for the consumers that read what the program
// wrote: each is started on first use by its script (tests/output/<name>_server.sh) in a folder
// of its own, with its own socket and no network, and stopped when the program ends.
#pragma once

#include <string>

#include "support/program_run.h"

namespace rowflume::testing_support {

class PrivateServer {
 public:
  // The running server of that script, or null with the reason in *why; *installed is false
  // when the server's programs are missing (the script's exit status 3).
  static PrivateServer* Get(const std::string& script, bool* installed, std::string* why);

  // Runs SQL text on the server's database "test"; the client's output in out (rows and any
  // message, so that comparing the rows also catches a warning).
  ProgramRun Sql(const std::string& sql);
  // The same for an SQL file.
  ProgramRun SourceFile(const std::string& path);
  const std::string& dir() const { return dir_; }

 private:
  PrivateServer(std::string script, std::string dir);
  std::string script_;
  std::string dir_;
};

}  // namespace rowflume::testing_support
