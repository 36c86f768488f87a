// The Parquet writer's packer: the thread that compresses data pages while the row loop fills
// the next ones. Pages are compressed in the order they were ended, so that each chunk's pages
// stay in order; the row loop waits for room when kQueuedPages are waiting, and for all of them
// before a row group is written out.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>

#include "output/parquet_internal.h"
#include "platform/platform.h"

namespace rowflume {

namespace {

// Enough for the row loop to end a page while one is being compressed and a few more wait; each
// holds up to a page's bytes, counted in the row group's held bytes.
constexpr size_t kQueuedPages = 4;
constexpr int kPageData = 0;

struct QueuedPage {
  ParquetColumnState* column;
  std::string body;
  int32_t values;
  int encoding;
};

}  // namespace

struct PagePacker {
  ParquetWriter* writer = nullptr;
  PageScratch scratch;  // the packer thread's own
  ThreadHandle* thread = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<QueuedPage> queue;  // the front is being compressed while busy
  bool busy = false;
  bool stopping = false;
  bool failed = false;  // a page could not be compressed or kept
};

namespace {

// Compresses and adds the front page; called with the lock released, as only this thread
// touches a queued page's column chunk until the row loop has drained the packer.
bool PackFront(PagePacker* packer, QueuedPage* page) {
  const char* packed;
  size_t packed_count;
  if (!PackPage(packer->writer->options.codec, &packer->scratch, kPageData, page->body.data(),
                page->body.size(), page->values, page->encoding, &packed, &packed_count)) {
    return false;
  }
  try {
    AddPage(packer->writer, page->column, packer->scratch, packed, packed_count, page->body.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void PackerThread(void* context) {
  auto* packer = static_cast<PagePacker*>(context);
  std::unique_lock<std::mutex> hold(packer->lock);
  for (;;) {
    packer->changed.wait(hold, [packer] { return !packer->queue.empty() || packer->stopping; });
    if (packer->stopping) return;
    packer->busy = true;
    QueuedPage* page = &packer->queue.front();  // stays put: the row loop only appends
    hold.unlock();
    const bool packed = !packer->failed && PackFront(packer, page);
    // The body's bytes leave the held count as the compressed page's enter it.
    packer->writer->pages_bytes -= static_cast<int64_t>(page->body.size());
    hold.lock();
    if (!packed) packer->failed = true;
    packer->queue.pop_front();
    packer->busy = false;
    packer->changed.notify_all();
  }
}

}  // namespace

PagePacker* StartPacker(ParquetWriter* writer) {
  if (writer->options.codec == ParquetCodec::kNone) return nullptr;
  auto* packer = new (std::nothrow) PagePacker;
  if (packer == nullptr) return nullptr;
  packer->writer = writer;
  if (StartScratch(&packer->scratch, writer->options.codec)) {
    packer->thread = StartThread(PackerThread, packer);
  }
  if (packer->thread == nullptr) {
    FreeScratch(&packer->scratch);
    delete packer;
    return nullptr;
  }
  return packer;
}

void QueuePage(PagePacker* packer, ParquetColumnState* column, std::string* body, int32_t values,
               int encoding) {
  std::unique_lock<std::mutex> hold(packer->lock);
  packer->changed.wait(hold, [packer] { return packer->queue.size() < kQueuedPages; });
  packer->writer->pages_bytes += static_cast<int64_t>(body->size());
  packer->queue.push_back(QueuedPage{column, std::move(*body), values, encoding});
  packer->changed.notify_all();
}

bool DrainPacker(PagePacker* packer) {
  std::unique_lock<std::mutex> hold(packer->lock);
  packer->changed.wait(hold, [packer] { return packer->queue.empty(); });
  return !packer->failed;
}

void StopPacker(PagePacker* packer) {
  if (packer == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(packer->lock);
    packer->stopping = true;
    packer->changed.notify_all();
  }
  JoinThread(packer->thread);
  FreeScratch(&packer->scratch);
  delete packer;
}

}  // namespace rowflume
