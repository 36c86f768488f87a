#include "support/program_run.h"

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "support/files.h"

namespace rowflume::testing_support {

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ProgramRun RunShell(const std::string& dir, const std::string& command, const std::string& input) {
  // Runs may overlap when a test starts them from several threads.
  static std::atomic<int> serial{0};
  const std::string stem = TempPath("run_" + std::to_string(++serial));
  const std::string in_path = stem + ".in", out_path = stem + ".out", err_path = stem + ".err";
  WriteFile(in_path, input);
  std::string line = "cd " + ShellQuote(dir) + " && ( " + command + " ) <" + ShellQuote(in_path) +
                     " >" + ShellQuote(out_path) + " 2>" + ShellQuote(err_path);
  int raw = std::system(line.c_str());
  ProgramRun run;
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  for (const std::string& path : {in_path, out_path, err_path}) std::remove(path.c_str());
  return run;
}

ProgramRun RunProgram(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& input) {
  std::string command = ShellQuote(ROWFLUME_BINARY);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunShell(dir, command, input);
}

}  // namespace rowflume::testing_support
