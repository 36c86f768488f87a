#include "support/program_run.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "support/files.h"

namespace rowflume::testing_support {

#if defined(_WIN32)

// Quoted for the C runtime's argument rules; cmd.exe leaves text inside double quotes alone.
std::string ShellQuote(const std::string& word) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    quoted += c;
  }
  quoted.append(backslashes, '\\');
  return quoted + "\"";
}

namespace {

// The build's paths are those of the machine that built it; under Wine its root is drive Z:.
std::string NativePath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return "Z:" + path;
}

}  // namespace

#else

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

#endif

ProgramRun RunShell(const std::string& dir, const std::string& command, const std::string& input) {
  // Runs may overlap when a test starts them from several threads.
  static std::atomic<int> serial{0};
  const std::string stem = TempPath("run_" + std::to_string(++serial));
  const std::string in_path = stem + ".in", out_path = stem + ".out", err_path = stem + ".err";
  WriteFile(in_path, input);
  ProgramRun run;
#if defined(_WIN32)
  // cmd.exe /c drops the first and the last quote of its line; the outer pair is for it.
  std::string line = "\"cd /d " + ShellQuote(dir) + " && " + command + " <" + ShellQuote(in_path) +
                     " >" + ShellQuote(out_path) + " 2>" + ShellQuote(err_path) + "\"";
  run.status = std::system(line.c_str());
#else
  std::string line = "cd " + ShellQuote(dir) + " && ( " + command + " ) <" + ShellQuote(in_path) +
                     " >" + ShellQuote(out_path) + " 2>" + ShellQuote(err_path);
  int raw = std::system(line.c_str());
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
#endif
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  for (const std::string& path : {in_path, out_path, err_path}) std::remove(path.c_str());
  return run;
}

ProgramRun RunProgram(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& input) {
#if defined(_WIN32)
  std::string command = ShellQuote(NativePath(ROWFLUME_BINARY));
#else
  std::string command = ShellQuote(ROWFLUME_BINARY);
#endif
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunShell(dir, command, input);
}

}  // namespace rowflume::testing_support
