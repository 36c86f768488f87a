// Every test process gets a temporary folder of its own, so test programs and the cases CTest
// runs side by side never share a file name. testing::TempDir() and TMPDIR both point there;
// the folder is removed when the process ends.
#include <stdlib.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/environment.h"

namespace {

using rowflume::testing_support::SetEnvironment;

#if defined(_WIN32)
int ProcessId() {
  return _getpid();
}
#else
int ProcessId() {
  return static_cast<int>(getpid());
}
#endif

struct PrivateTempDir {
  std::string path;
  int owner = ProcessId();  // a forked child that exits must not remove the parent's folder

  PrivateTempDir() {
#if defined(_WIN32)
    const char* base = std::getenv("TEMP");
    std::string stem = std::string(base != nullptr && *base != '\0' ? base : ".") +
                       "\\rowflume-test-" + std::to_string(owner) + "-";
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      std::string candidate = stem + std::to_string(attempt);
      if (std::filesystem::create_directory(candidate, error)) path = candidate;
    }
    if (path.empty()) return;
    SetEnvironment("TEMP", path.c_str());
    SetEnvironment("TMP", path.c_str());
#else
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rowflume-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    path = pattern;
    // Tests that drop privileges in a child still reach their own files by name.
    chmod(path.c_str(), 0711);
#endif
    SetEnvironment("TEST_TMPDIR", path.c_str());
    SetEnvironment("TMPDIR", path.c_str());
  }

  ~PrivateTempDir() {
    if (path.empty() || ProcessId() != owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// Constructed before main, so before gtest reads its temporary folder.
PrivateTempDir private_temp_dir;

}  // namespace
