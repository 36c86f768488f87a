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

// Runs a shell command line with dir as its working folder and `input` as its standard input.
// The streams are collected through files outside dir, so a test that lists dir sees only what
// the command left there.
ProgramRun RunShell(const std::string& dir, const std::string& command,
                    const std::string& input = "");

// Runs the built program in dir, each argument passed as one word.
ProgramRun RunProgram(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& input = "");

}  // namespace rowflume::testing_support
