// Every test process gets a temporary folder of its own, so test programs and the cases CTest
// runs side by side never share a file name. testing::TempDir() and TMPDIR both point there;
// the folder is removed when the process ends.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

struct PrivateTempDir {
  std::string path;
  pid_t owner = getpid();  // a forked child that exits must not remove the parent's folder

  PrivateTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rowflume-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    path = pattern;
    // Tests that drop privileges in a child still reach their own files by name.
    chmod(path.c_str(), 0711);
    setenv("TEST_TMPDIR", path.c_str(), 1);
    setenv("TMPDIR", path.c_str(), 1);
  }

  ~PrivateTempDir() {
    if (path.empty() || getpid() != owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// Constructed before main, so before gtest reads its temporary folder.
PrivateTempDir private_temp_dir;

}  // namespace
