// The content scramble on arbitrary streams, keys and splits. A stream is written through the
// output buffer in pieces of arbitrary sizes with flushes at arbitrary points, scrambled with the
// key, and the file is unscrambled with the one-shot tool: the bytes must come back. The file
// itself must be the input XORed chunk by chunk, and scrambling the same stream a second time
// through ContentScramble alone, split differently, must give the input back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "job/command_line.h"
#include "output/output_buffer.h"
#include "platform/platform.h"
#include "scramble/scramble.h"

namespace rowflume::fuzz {
namespace {

std::string MakeScratch() {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/rowflume_scramble_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) std::abort();
  close(fd);
  return std::string(name.data());
}

std::string scratch_path;

void RemoveScratch() {
  std::remove(scratch_path.c_str());
}

const std::string& ScratchPath() {
  if (scratch_path.empty()) {
    scratch_path = MakeScratch();
    std::atexit(RemoveScratch);
  }
  return scratch_path;
}

std::string ReadAll(FILE* in) {
  std::string content;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) content.append(block, got);
  return content;
}

// The scrambled form of a whole stream, worked out byte by byte.
std::string Reference(const std::string& plain, const char key[8]) {
  std::string out = plain;
  if (key[0] == '\0' || out.empty()) return out;
  size_t tail = out.size() % 8 == 0 ? 8 : out.size() % 8;
  for (size_t pos = 0; pos + tail < out.size(); ++pos) out[pos] ^= key[pos % 8];
  return out;
}

// A stream scrambled through ContentScramble alone: the unprocessed tail of each write goes in
// front of the next one, and the stream's end is written as it stands.
std::string ScrambleInWrites(const std::string& stream, const char* key,
                             const std::vector<size_t>& splits) {
  std::string out;
  std::string pending;
  size_t pos = 0;
  std::vector<size_t> writes = splits;
  writes.push_back(stream.size());  // whatever the splits leave is the last write
  for (size_t piece : writes) {
    if (pos >= stream.size()) break;
    size_t take = piece < stream.size() - pos ? piece : stream.size() - pos;
    pending += stream.substr(pos, take);
    pos += take;
    std::vector<char> buffer(pending.begin(), pending.end());
    buffer.push_back('\0');
    int done = ContentScramble(buffer.data(), static_cast<int>(pending.size()), key);
    FUZZ_CHECK(done >= 0 && done <= static_cast<int>(pending.size()));
    if (pending.empty()) {
      FUZZ_CHECK(done == 0);
    } else if (key[0] == '\0') {
      FUZZ_CHECK(done == static_cast<int>(pending.size()));
    } else {
      FUZZ_CHECK(done % 8 == 0 && pending.size() - static_cast<size_t>(done) >= 1 &&
                 pending.size() - static_cast<size_t>(done) <= 8);
    }
    // Bytes past the processed part are untouched.
    FUZZ_CHECK(std::memcmp(buffer.data() + done, pending.data() + done, pending.size() - done) ==
               0);
    out.append(buffer.data(), static_cast<size_t>(done));
    pending.erase(0, static_cast<size_t>(done));
  }
  out += pending;
  return out;
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume;
  using namespace rowflume::fuzz;
  Input input(data, size);
  // The key field as the option leaves it: up to 31 decoded bytes, zeros after.
  char key[32] = {};
  std::string key_bytes = input.Bytes(input.Byte() % 12);
  std::memcpy(key, key_bytes.data(), key_bytes.size());

  int capacity = input.Int(kMinOutputBufferBytes, 300);
  int write_count = input.Int(0, 40);
  std::vector<size_t> writes;
  std::vector<bool> flush_after;
  for (int k = 0; k < write_count; ++k) {
    writes.push_back(static_cast<size_t>(input.Int(0, 700)));
    flush_after.push_back(input.Flag());
  }
  std::vector<size_t> resplit;
  for (int k = input.Int(0, 40); k > 0; --k)
    resplit.push_back(static_cast<size_t>(input.Int(0, 700)));
  std::string stream = input.Rest();

  // Through the output buffer to a file.
  OutputBuffer out;
  FUZZ_CHECK(OutputBufferInit(&out, capacity, key));
  out.stream = OpenFileStream(ScratchPath().c_str(), OpenMode::kTruncate);
  FUZZ_CHECK(out.stream != nullptr);
  size_t pos = 0;
  for (size_t k = 0; k < writes.size() && pos < stream.size(); ++k) {
    size_t take = writes[k] < stream.size() - pos ? writes[k] : stream.size() - pos;
    Put(&out, stream.data() + pos, static_cast<int64_t>(take));
    pos += take;
    if (flush_after[k]) FlushBuffer(&out);
  }
  Put(&out, stream.data() + pos, static_cast<int64_t>(stream.size() - pos));
  FUZZ_CHECK(WriteAllBuffered(&out));
  FUZZ_CHECK(CloseStream(out.stream) == 0);
  OutputBufferRelease(&out);

  FILE* file = std::fopen(ScratchPath().c_str(), "rb");
  FUZZ_CHECK(file != nullptr);
  std::string scrambled = ReadAll(file);
  std::fclose(file);
  FUZZ_CHECK(scrambled == Reference(stream, key));

  // The unscramble tool gives the stream back.
  char* restored_bytes = nullptr;
  size_t restored_size = 0;
  FILE* restored = open_memstream(&restored_bytes, &restored_size);
  FUZZ_CHECK(restored != nullptr);
  FUZZ_CHECK(UncrackFile(ScratchPath().c_str(), key, restored) == 0);
  std::fclose(restored);
  FUZZ_CHECK(std::string(restored_bytes, restored_size) == stream);
  std::free(restored_bytes);

  // Scrambling the scrambled stream again, in other writes, gives it back as well.
  FUZZ_CHECK(ScrambleInWrites(scrambled, key, resplit) == stream);
  return 0;
}
