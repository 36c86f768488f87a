#include "support/job.h"

#include <cstring>

namespace rowflume::testing_support {

std::unique_ptr<UnloadHandle> NewJob() {
  auto job = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  return job;
}

void SetText(char* dest, int* length, const std::string& value) {
  std::memcpy(dest, value.data(), value.size());
  dest[value.size()] = '\0';
  if (length != nullptr) *length = static_cast<int>(value.size());
}

void CsvOptions(UnloadHandle* job) {
  job->escape = '"';
  SetText(job->quote, nullptr, "\"");
  job->head = 1;
}

Argv::Argv(std::vector<std::string> args) : words_(std::move(args)) {
  words_.insert(words_.begin(), "rowflume");
  for (std::string& word : words_) pointers_.push_back(word.data());
  pointers_.push_back(nullptr);
}

}  // namespace rowflume::testing_support
