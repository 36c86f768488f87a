// The one output buffer of an unload run: direct appends with a capacity check, and the flush
// that scrambles the filled part and writes it to the current output stream. Appends never
// write past the buffer: a value larger than the room left is written in parts, with flushes in
// between, so the bytes that reach the output do not depend on the buffer size.
#pragma once

#include <cstdint>
#include <cstring>

#include "output/digest_worker.h"
#include "platform/platform.h"

namespace rowflume {

constexpr int kOutputBufferBytes = 4194304;  // 4 MiB: one write per flush
constexpr int kMinOutputBufferBytes = 64;    // room for a scrambled tail of 8 bytes and progress

struct OutputBuffer {
  char* data;            // capacity bytes
  int capacity;          // bytes of data
  int fill;              // bytes in use
  OutputStream* stream;  // where flushes write; none while no file is open
  const char* crack;     // content scramble key; empty for none
  double mb_written;     // MiB written by the run, over all its files
  bool failed;           // a write failed; later bytes are dropped and never written
  DigestWorker* digest;  // given every byte written, for a manifest; none without one
};

// Obtains the buffer; false when it cannot be allocated.
bool OutputBufferInit(OutputBuffer* out, int capacity, const char* crack);
void OutputBufferRelease(OutputBuffer* out);

// Scrambles the filled part and writes what the scramble transformed (all of it without a key),
// keeping the untransformed tail at the front. Sets failed when the write fails.
void FlushBuffer(OutputBuffer* out);
// Writes the whole filled part, its untransformed tail included: the end of one output file.
// Returns false when the write fails.
bool WriteAllBuffered(OutputBuffer* out);

void PutSlow(OutputBuffer* out, const char* bytes, int64_t count);

// Flushes when the fill length plus the need of the next step reaches the capacity.
inline void FlushIfNeeded(OutputBuffer* out, int64_t need) {
  if (out->fill + need >= out->capacity) FlushBuffer(out);
}

inline void Put(OutputBuffer* out, const char* bytes, int64_t count) {
  if (count <= 0) return;
  // Separators and quotes are mostly one byte: a store is cheaper than a call to memcpy.
  if (count == 1 && out->fill < out->capacity) {
    out->data[out->fill++] = *bytes;
    return;
  }
  if (out->fill + count <= out->capacity) {
    std::memcpy(out->data + out->fill, bytes, static_cast<size_t>(count));
    out->fill += static_cast<int>(count);
  } else {
    PutSlow(out, bytes, count);
  }
}

inline void PutByte(OutputBuffer* out, char byte) {
  if (out->fill >= out->capacity) FlushBuffer(out);
  out->data[out->fill++] = byte;
}

// Appends count spaces (0x20), always written explicitly so no older byte shows through.
void PutSpaces(OutputBuffer* out, int64_t count);

}  // namespace rowflume
