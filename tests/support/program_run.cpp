#include "support/program_run.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
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

std::string ProgramWord() {
  return ShellQuote(NativePath(ROWFLUME_BINARY));
}

std::string HookedProgramWord() {
  return ShellQuote(NativePath(ROWFLUME_HOOKED_BINARY));
}

// cmd.exe keeps the variable for the rest of its line, which is that command's.
std::string EnvironmentPrefix(const std::string& name, const std::string& value) {
  return "set \"" + name + "=" + value + "\" && ";
}

std::string CopyToFileCommand(const std::string& path) {
  return ShellQuote(NativePath(ROWFLUME_COPY_INPUT)) + " " + ShellQuote(path);
}

std::string ReadAllThenExitCommand(int status) {
  return ShellQuote(NativePath(ROWFLUME_COPY_INPUT)) + " NUL & exit " + std::to_string(status);
}

std::string ReadLittleCommand() {
  return "set /p line=";
}

#else

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ProgramWord() {
  return ShellQuote(ROWFLUME_BINARY);
}

std::string HookedProgramWord() {
  return ShellQuote(ROWFLUME_HOOKED_BINARY);
}

std::string EnvironmentPrefix(const std::string& name, const std::string& value) {
  return name + "=" + ShellQuote(value) + " ";
}

std::string CopyToFileCommand(const std::string& path) {
  return "cat > " + ShellQuote(path);
}

std::string ReadAllThenExitCommand(int status) {
  return "cat > /dev/null; exit " + std::to_string(status);
}

std::string ReadLittleCommand() {
  return "head -c 10 > /dev/null";
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

namespace {

ProgramRun RunWords(const std::string& dir, std::string command,
                    const std::vector<std::string>& args, const std::string& input) {
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunShell(dir, command, input);
}

}  // namespace

ProgramRun RunProgram(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& input) {
  return RunWords(dir, ProgramWord(), args, input);
}

ProgramRun RunHookedProgram(const std::string& dir, const std::vector<std::string>& args) {
  return RunWords(dir, HookedProgramWord(), args, "");
}

#if defined(_WIN32)

struct StartedProgram {
  HANDLE process;
};

StartedProgram* StartProgram(const std::string& dir, const std::vector<std::string>& args) {
  std::string line = ShellQuote(NativePath(ROWFLUME_BINARY));
  for (const std::string& arg : args) line += " " + ShellQuote(arg);
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE null_device =
      CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (null_device == INVALID_HANDLE_VALUE) return nullptr;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device;
  PROCESS_INFORMATION started = {};
  bool ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                           &startup, &started);
  CloseHandle(null_device);
  if (!ok) return nullptr;
  CloseHandle(started.hThread);
  return new StartedProgram{started.hProcess};
}

bool KillProgram(StartedProgram* program) {
  DWORD code = 0;
  bool running = GetExitCodeProcess(program->process, &code) && code == STILL_ACTIVE;
  if (running) TerminateProcess(program->process, 137);
  WaitForSingleObject(program->process, INFINITE);
  CloseHandle(program->process);
  delete program;
  return running;
}

#else

struct StartedProgram {
  pid_t pid;
  int input_fd;  // the writing end of the program's standard input, or -1
};

namespace {

StartedProgram* Start(const std::string& dir, const std::vector<std::string>& args,
                      bool open_input) {
  // The words are copied before the fork: the child only calls what is safe there.
  std::vector<std::string> words = args;
  std::vector<char*> argv = {const_cast<char*>(ROWFLUME_BINARY)};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int input[2] = {-1, -1};
  if (open_input && pipe(input) != 0) return nullptr;
  if (open_input) fcntl(input[1], F_SETFD, FD_CLOEXEC);  // the program's own end is 0 alone
  pid_t child = fork();
  if (child < 0) return nullptr;
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    if (open_input) dup2(input[0], 0);
    execv(ROWFLUME_BINARY, argv.data());
    _exit(127);
  }
  if (open_input) close(input[0]);
  return new StartedProgram{child, input[1]};
}

}  // namespace

StartedProgram* StartProgram(const std::string& dir, const std::vector<std::string>& args) {
  return Start(dir, args, false);
}

StartedProgram* StartProgramOnOpenInput(const std::string& dir,
                                        const std::vector<std::string>& args) {
  return Start(dir, args, true);
}

long ProgramId(const StartedProgram* program) {
  return static_cast<long>(program->pid);
}

bool KillProgram(StartedProgram* program) {
  kill(program->pid, SIGKILL);
  int status = 0;
  bool killed = waitpid(program->pid, &status, 0) == program->pid && WIFSIGNALED(status) &&
                WTERMSIG(status) == SIGKILL;
  // Closed only now: at the end of its input the program would end of its own accord.
  if (program->input_fd >= 0) close(program->input_fd);
  delete program;
  return killed;
}

#endif

}  // namespace rowflume::testing_support
