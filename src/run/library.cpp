// The exported functions of the shared library: the C face of one job record. Every entry point
// catches everything, so that no C++ exception ever reaches a C caller, and accepts a null
// handle without touching memory.
#include <cstring>
#include <memory>
#include <new>

#include "run/library.h"

#include "job/options.h"
#include "run/job_run.h"

namespace {

constexpr int kNoHandleResult = rowflume::kRunLogonFailed;  // a run without a job logs on nowhere

}  // namespace

extern "C" {

ROWFLUME_API ROWFLUMEHandle ROWFLUME_CALL ROWFLUMEHandleAlloc(ROWFLUMEHandle* handle) {
  ROWFLUMEHandle created = nullptr;
  try {
    created = new (std::nothrow) ROWFLUMEHandleRecord;
    if (created != nullptr) rowflume::InitJobDefaults(&created->job);
  } catch (...) {
    delete created;
    created = nullptr;
  }
  if (handle != nullptr) *handle = created;
  return created;
}

ROWFLUME_API int ROWFLUME_CALL ROWFLUMEHandleSetAttr(ROWFLUMEHandle handle, const char* item) {
  if (handle == nullptr || item == nullptr) return 0;
  try {
    return rowflume::SetOption(&handle->job, item);
  } catch (...) {
    return 0;
  }
}

ROWFLUME_API ROWFLUMEHandle ROWFLUME_CALL ROWFLUMEHandleCallback(ROWFLUMEHandle handle,
                                                                 void* context,
                                                                 ROWFLUMECallback callback) {
  if (handle == nullptr) return nullptr;
  handle->job.callback_context = context;
  handle->job.callback = callback;
  return handle;
}

ROWFLUME_API int ROWFLUME_CALL ROWFLUMEHandleExecute(ROWFLUMEHandle handle) {
  if (handle == nullptr) return kNoHandleResult;
  rowflume::UnloadHandle& job = handle->job;
  // The run works on a copy: it forms the query text, fills `table` from a bare table name and
  // binds, and none of that may stay in the handle, so that every run of it is like the first.
  std::unique_ptr<rowflume::UnloadHandle> run(new (std::nothrow) rowflume::UnloadHandle);
  int result = rowflume::kRunLogonFailed;
  if (run != nullptr) {
    std::memcpy(run.get(), &job, sizeof job);
    try {
      result = rowflume::RunJob(run.get());
    } catch (...) {
      // Nothing in the run is meant to throw; should anything still escape (memory exhaustion
      // in the standard library), the job did not complete and must not look as if it had.
      result = rowflume::kRunLogonFailed;
    }
  }
  job.run_status = result;
  return result;
}

ROWFLUME_API void ROWFLUME_CALL ROWFLUMEHandleFree(ROWFLUMEHandle handle) {
  delete handle;
}

}  // extern "C"
