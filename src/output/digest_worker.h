// The SHA-256 of the data an unload writes, made on a thread of its own: the row loop hands each
// buffer it has written over as a copy and goes on encoding while the digest is made, so that a
// manifest costs the loop a copy of its output rather than a second pass over every byte.
#pragma once

#include <cstddef>
#include <string>

namespace rowflume {

struct DigestWorker;  // opaque

// A worker for pieces of at most chunk_bytes; null when it cannot be made. When its thread
// cannot be started it makes the digest on the caller's thread instead.
DigestWorker* StartDigestWorker(size_t chunk_bytes);
// Adds the bytes, which the worker copies (waiting, when it is still at the piece before); a
// piece larger than chunk_bytes is added in parts.
void DigestWorkerAdd(DigestWorker* worker, const char* data, size_t count);
// The digest, in lower-case hexadecimal, of everything added since the last call ("" when none
// could be made); the next bytes start a new one.
std::string DigestWorkerTake(DigestWorker* worker);
// Ends the thread and releases the worker; null is ignored.
void StopDigestWorker(DigestWorker* worker);

}  // namespace rowflume
