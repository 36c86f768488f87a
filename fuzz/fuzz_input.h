// Shared pieces of the fuzz targets: a reader that turns the raw input into bounded choices
// (never failing when the input runs out) and the check that stops a run with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rowflume::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// Reads the input front to back. Once it is used up every read gives zeros or empty texts, so a
// short input is still a complete case.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // A value from low to high inclusive (two bytes of input).
  int Int(int low, int high) {
    unsigned span = static_cast<unsigned>(high - low) + 1;
    unsigned raw = Byte();
    raw = raw << 8 | Byte();
    return low + static_cast<int>(raw % span);
  }

  bool Flag() { return (Byte() & 1) != 0; }

  // Up to count bytes, fewer when the input ends.
  std::string Bytes(size_t count) {
    size_t take = size_ - pos_ < count ? size_ - pos_ : count;
    std::string out(reinterpret_cast<const char*>(data_ + pos_), take);
    pos_ += take;
    return out;
  }

  std::string Rest() { return Bytes(size_ - pos_); }
  size_t remaining() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace rowflume::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::rowflume::fuzz::Fail(__FILE__, __LINE__, #condition))
