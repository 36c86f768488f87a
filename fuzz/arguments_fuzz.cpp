// The two passes over the command-line arguments on arbitrary argument vectors (NUL bytes of the
// input separate the arguments). Bind entries are compared with an independent reading of the
// ":name=value" arguments; the option pass must leave the record a replay of the same arguments
// through SetOption would leave, with the user-string and "-si" rules on top.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/job_checks.h"
#include "job/command_line.h"
#include "job/job_record.h"
#include "job/options.h"

namespace rowflume::fuzz {
namespace {

bool StartsWithIgnoringCase(const std::string& text, const char* head) {
  size_t length = std::strlen(head);
  if (text.size() < length) return false;
  for (size_t pos = 0; pos < length; ++pos) {
    char c = text[pos];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != head[pos]) return false;
  }
  return true;
}

void CheckBinds(const UnloadHandle& job, const std::vector<std::string>& args) {
  size_t entry = 0;
  bool refused = false;  // a bind that cannot be taken whole refuses the job
  for (size_t idx = 1; idx < args.size(); ++idx) {
    if (args[idx].empty() || args[idx][0] != ':') continue;
    std::string text = args[idx].substr(1);
    size_t equals = text.find('=');
    std::string name = text.substr(0, equals);
    if (name.empty()) continue;
    if (entry == static_cast<size_t>(kMaxCommandLineBinds)) {
      refused = true;
      break;
    }
    if (name.size() > 30) {
      refused = true;
      continue;
    }
    std::string value = equals == std::string::npos ? std::string() : text.substr(equals + 1);
    if (value.size() > 127) {
      refused = true;
      value.resize(127);
    }
    const BindEntry& bind = job.binds[entry++];
    FUZZ_CHECK(bind.name_length == static_cast<int32_t>(name.size()));
    FUZZ_CHECK(bind.value_length == static_cast<int32_t>(value.size()));
    FUZZ_CHECK(std::memcmp(bind.name, name.data(), name.size()) == 0);
    FUZZ_CHECK(std::memcmp(bind.value, value.data(), value.size()) == 0);
    for (size_t pos = name.size(); pos < sizeof bind.name; ++pos) FUZZ_CHECK(bind.name[pos] == 0);
    for (size_t pos = value.size(); pos < sizeof bind.value; ++pos) {
      FUZZ_CHECK(bind.value[pos] == 0);
    }
  }
  FUZZ_CHECK(job.bind_count == static_cast<int32_t>(entry));
  if (refused) FUZZ_CHECK(job.refusal[0] != '\0');
}

void SetUser(UnloadHandle* job, const std::string& text) {
  std::memset(job->user, 0, sizeof job->user);
  std::memcpy(job->user, text.data(), text.size() < 128 ? text.size() : 128);
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume;
  using namespace rowflume::fuzz;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = {"rowflume"};
  size_t start = 0;
  while (start < text.size() && args.size() < 64) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    std::string arg = text.substr(start, end - start);
    // Parameter files would be read from the file system (a name beginning with "-" from
    // standard input); their reading has a target of its own.
    if (!StartsWithIgnoringCase(arg, "parfile=")) args.push_back(arg);
    start = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());

  auto job = std::make_unique<UnloadHandle>();
  auto expected = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  InitJobDefaults(expected.get());
  ApplyOptionArguments(job.get(), argc, argv.data(), nullptr);
  bool user_cut = false;  // a user string over its limit refuses the job
  for (int idx = 1; idx < argc; ++idx) {
    const std::string& arg = args[static_cast<size_t>(idx)];
    if (arg.size() == 3 && StartsWithIgnoringCase(arg, "-si")) {
      SetUser(expected.get(), "/");
    } else if (SetOption(expected.get(), arg.c_str()) == 0 && idx == 1) {
      SetUser(expected.get(), arg);
      user_cut = arg.size() > 128;
    }
  }
  CheckJobRecord(*job);
  FUZZ_CHECK((job->refusal[0] != '\0') == user_cut);
  std::memcpy(expected->refusal, job->refusal, sizeof job->refusal);
  FUZZ_CHECK(std::memcmp(job.get(), expected.get(), sizeof(UnloadHandle)) == 0);

  CollectBindArguments(job.get(), argc, argv.data());
  CheckJobRecord(*job);
  CheckBinds(*job, args);
  return 0;
}
