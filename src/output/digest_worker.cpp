#include "output/digest_worker.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "output/manifest.h"
#include "platform/platform.h"

namespace rowflume {

// One piece waits at a time: the loop fills its next buffer far more slowly than a digest takes
// one, so a second piece would only cost memory.
struct DigestWorker {
  std::unique_ptr<char[]> piece;
  size_t capacity = 0;
  size_t fill = 0;
  bool pending = false;  // piece holds bytes the thread has not added yet
  bool stopping = false;
  Sha256Digest* digest = nullptr;
  ThreadHandle* thread = nullptr;
  std::mutex lock;
  std::condition_variable changed;
};

namespace {

void WorkerThread(void* context) {
  auto* worker = static_cast<DigestWorker*>(context);
  std::unique_lock<std::mutex> hold(worker->lock);
  for (;;) {
    worker->changed.wait(hold, [worker] { return worker->pending || worker->stopping; });
    if (!worker->pending) return;
    // The piece is the thread's until pending is cleared: it is added without the lock.
    hold.unlock();
    Sha256Add(worker->digest, worker->piece.get(), worker->fill);
    hold.lock();
    worker->pending = false;
    worker->changed.notify_all();
  }
}

// Waits until the thread has added the piece before; the caller holds the lock.
void WaitIdle(DigestWorker* worker, std::unique_lock<std::mutex>& hold) {
  worker->changed.wait(hold, [worker] { return !worker->pending; });
}

}  // namespace

DigestWorker* StartDigestWorker(size_t chunk_bytes) {
  auto* worker = new (std::nothrow) DigestWorker;
  if (worker == nullptr) return nullptr;
  worker->piece.reset(new (std::nothrow) char[chunk_bytes]);
  worker->capacity = chunk_bytes;
  worker->digest = Sha256Begin();
  if (worker->piece == nullptr || worker->digest == nullptr) {
    StopDigestWorker(worker);
    return nullptr;
  }
  worker->thread = StartThread(WorkerThread, worker);
  return worker;
}

void DigestWorkerAdd(DigestWorker* worker, const char* data, size_t count) {
  if (worker == nullptr) return;
  if (worker->thread == nullptr) {
    Sha256Add(worker->digest, data, count);
    return;
  }
  while (count > 0) {
    const size_t take = count < worker->capacity ? count : worker->capacity;
    std::unique_lock<std::mutex> hold(worker->lock);
    WaitIdle(worker, hold);
    std::memcpy(worker->piece.get(), data, take);
    worker->fill = take;
    worker->pending = true;
    worker->changed.notify_all();
    data += take;
    count -= take;
  }
}

std::string DigestWorkerTake(DigestWorker* worker) {
  if (worker == nullptr) return "";
  std::unique_lock<std::mutex> hold(worker->lock);
  WaitIdle(worker, hold);
  unsigned char value[kSha256Bytes];
  const bool made = Sha256End(worker->digest, value);
  worker->digest = Sha256Begin();
  return made ? Sha256Hex(value) : "";
}

void StopDigestWorker(DigestWorker* worker) {
  if (worker == nullptr) return;
  if (worker->thread != nullptr) {
    {
      std::lock_guard<std::mutex> hold(worker->lock);
      worker->stopping = true;
      worker->changed.notify_all();
    }
    JoinThread(worker->thread);
  }
  if (worker->digest != nullptr) {
    unsigned char ignored[kSha256Bytes];
    Sha256End(worker->digest, ignored);
  }
  delete worker;
}

}  // namespace rowflume
