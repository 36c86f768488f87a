// Running the built program (or any shell command line) in a folder, with its exit status and
// both output streams collected.
#pragma once

#include <string>
#include <vector>

namespace rowflume::testing_support {

struct ProgramRun {
  int status = -1;  // exit status; -1 when the command did not exit normally
  std::string out;  // standard output: data in stdout mode, and every message of the program
  std::string err;  // standard error
};

// The word quoted for the shell.
std::string ShellQuote(const std::string& word);

// Command lines for the platform's command processor (sh, or cmd.exe on Windows), for tests of
// output commands. cmd.exe has no cat or head: on Windows a small program of the tests copies.
// Copies standard input to the file unchanged.
std::string CopyToFileCommand(const std::string& path);
// Reads all of standard input, then exits with the status.
std::string ReadAllThenExitCommand(int status);
// Reads a little of standard input and exits with 0, leaving the rest unread.
std::string ReadLittleCommand();

// The built program as the first word of a command line; the hooked one is the test build of
// it whose engine fails the executes that a database's rowflume_faults table lists (engine.h).
std::string ProgramWord();
std::string HookedProgramWord();
// Put before a command, sets the environment variable for that command only.
std::string EnvironmentPrefix(const std::string& name, const std::string& value);

// Runs a shell command line with dir as its working folder and `input` as its standard input.
// The streams are collected through files outside dir, so a test that lists dir sees only what
// the command left there.
ProgramRun RunShell(const std::string& dir, const std::string& command,
                    const std::string& input = "");

// Runs the built program in dir, each argument passed as one word.
ProgramRun RunProgram(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& input = "");
// RunProgram with the test build that has the engine's fault hook.
ProgramRun RunHookedProgram(const std::string& dir, const std::vector<std::string>& args);

// The built program started in dir, each argument one word, with its standard output discarded;
// the test goes on while it runs. Null when it could not be started.
struct StartedProgram;
StartedProgram* StartProgram(const std::string& dir, const std::vector<std::string>& args);
#if !defined(_WIN32)
// StartProgram with the program's standard input a pipe the test holds open until KillProgram,
// so that a program reading it waits; ProgramId gives its process id.
StartedProgram* StartProgramOnOpenInput(const std::string& dir,
                                        const std::vector<std::string>& args);
long ProgramId(const StartedProgram* program);
#endif
// Kills the program without warning, as a power cut or the system's own kill would end it, and
// waits for its end. True when it was still running until then; the handle is released.
bool KillProgram(StartedProgram* program);

}  // namespace rowflume::testing_support
