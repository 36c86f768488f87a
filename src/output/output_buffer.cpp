#include "output/output_buffer.h"

#include <cstdlib>

#include "scramble/scramble.h"

namespace rowflume {

bool OutputBufferInit(OutputBuffer* out, int capacity, const char* crack) {
  if (capacity < kMinOutputBufferBytes) capacity = kMinOutputBufferBytes;
  out->data = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
  out->capacity = capacity;
  out->fill = 0;
  out->stream = nullptr;
  out->crack = crack;
  out->mb_written = 0.0;
  out->failed = false;
  out->digest = nullptr;
  if (out->data == nullptr) return false;
  std::memset(out->data, ' ', static_cast<size_t>(capacity));
  return true;
}

void OutputBufferRelease(OutputBuffer* out) {
  std::free(out->data);
  out->data = nullptr;
  out->capacity = 0;
  out->fill = 0;
}

void FlushBuffer(OutputBuffer* out) {
  if (out->failed) {
    // Nothing more reaches the output after a failed write; keep room for the caller.
    out->fill = 0;
    return;
  }
  int done = ContentScramble(out->data, out->fill, out->crack);
  if (done <= 0) return;
  if (!WriteAll(out->stream, out->data, static_cast<size_t>(done))) {
    out->failed = true;
    out->fill = 0;
    return;
  }
  out->mb_written += done / 1048576.0;
  DigestWorkerAdd(out->digest, out->data, static_cast<size_t>(done));
  int rest = out->fill - done;
  std::memmove(out->data, out->data + done, static_cast<size_t>(rest));
  out->fill = rest;
}

bool WriteAllBuffered(OutputBuffer* out) {
  if (out->failed) return false;
  if (out->fill <= 0) return true;
  ContentScramble(out->data, out->fill, out->crack);
  bool ok = WriteAll(out->stream, out->data, static_cast<size_t>(out->fill));
  if (ok) {
    out->mb_written += out->fill / 1048576.0;
    DigestWorkerAdd(out->digest, out->data, static_cast<size_t>(out->fill));
  }
  out->fill = 0;
  if (!ok) out->failed = true;
  return ok;
}

void PutSlow(OutputBuffer* out, const char* bytes, int64_t count) {
  while (count > 0) {
    int64_t room = out->capacity - out->fill;
    if (room <= 0) {
      FlushBuffer(out);
      continue;
    }
    int64_t take = count < room ? count : room;
    std::memcpy(out->data + out->fill, bytes, static_cast<size_t>(take));
    out->fill += static_cast<int>(take);
    bytes += take;
    count -= take;
  }
}

void PutSpaces(OutputBuffer* out, int64_t count) {
  while (count > 0) {
    int64_t room = out->capacity - out->fill;
    if (room <= 0) {
      FlushBuffer(out);
      continue;
    }
    int64_t take = count < room ? count : room;
    std::memset(out->data + out->fill, ' ', static_cast<size_t>(take));
    out->fill += static_cast<int>(take);
    count -= take;
  }
}

}  // namespace rowflume
