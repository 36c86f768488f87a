// What a run says: the messages it passes to its callback, and what the process prints on its
// standard output.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace rowflume::testing_support {

// A message callback: appends each text to the std::vector<std::string> given as context.
void CaptureMessage(void* context, const char* text);

// How many of the messages are exactly text.
int CountEqual(const std::vector<std::string>& messages, const std::string& text);

// Sends this process's standard output to a file from construction until Finish, which returns
// what was printed (the destructor restores the stream when Finish was not reached).
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Finish();

 private:
  std::string path_;
  int saved_ = -1;
};

// Runs fn with standard output captured; returns what it printed.
template <typename Fn>
std::string CaptureStdout(Fn&& fn) {
  StdoutCapture capture;
  std::forward<Fn>(fn)();
  return capture.Finish();
}

}  // namespace rowflume::testing_support
