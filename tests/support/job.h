// Job records as the tests make them: defaults, texts set directly, and command lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "job/job_record.h"

namespace rowflume::testing_support {

// A job record holding the defaults.
std::unique_ptr<UnloadHandle> NewJob();

// Copies value with its terminator into a text field of the job record; length, when given,
// receives its length.
void SetText(char* dest, int* length, const std::string& value);

// The CSV layout's quoting, escape and header.
void CsvOptions(UnloadHandle* job);

// A command line as main receives it: the program name, then each argument as one word.
class Argv {
 public:
  explicit Argv(std::vector<std::string> args);
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

}  // namespace rowflume::testing_support
