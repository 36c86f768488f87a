// Runs a fuzz target without the fuzzing engine: every file named on the command line, and every
// regular file inside a named directory, is passed once to the target. CI uses it to replay the
// saved corpus under the flags of an ordinary build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that a read past its end is caught by AddressSanitizer.
  auto* exact = new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
  std::copy(bytes.begin(), bytes.end(), exact);
  LLVMFuzzerTestOneInput(exact, bytes.size());
  delete[] exact;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int arg = 1; arg < argc; ++arg) {
    std::filesystem::path path(argv[arg]);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      std::vector<std::filesystem::path> entries;
      for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (entry.is_regular_file()) entries.push_back(entry.path());
      }
      std::sort(entries.begin(), entries.end());  // the same order on every run
      for (const auto& entry : entries) {
        ok = RunFile(entry) && ok;
        ++files;
      }
    } else {
      ok = RunFile(path) && ok;
      ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  // An empty corpus would make a replay test pass without running anything.
  if (files == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return ok ? 0 : 1;
}
