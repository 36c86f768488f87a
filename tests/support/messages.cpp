#include "support/messages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "support/files.h"

namespace rowflume::testing_support {

void CaptureMessage(void* context, const char* text) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

int CountEqual(const std::vector<std::string>& messages, const std::string& text) {
  int count = 0;
  for (const std::string& message : messages) count += message == text ? 1 : 0;
  return count;
}

StdoutCapture::StdoutCapture() {
  static int serial = 0;
  path_ = TempPath("stdout_" + std::to_string(++serial) + ".txt");
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(fd, 0) << path_;
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

StdoutCapture::~StdoutCapture() {
  Finish();
}

std::string StdoutCapture::Finish() {
  if (saved_ < 0) return "";
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  saved_ = -1;
  std::string text = ReadFile(path_);
  std::remove(path_.c_str());
  return text;
}

}  // namespace rowflume::testing_support
