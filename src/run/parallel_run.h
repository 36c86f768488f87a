// The parallel unload of one table: the `split` value taken apart and checked, its ROWID ranges,
// one worker thread per range on a copy of the job of its own, the re-runs of failed pieces and
// the exit status. Runs on the driver's logged-on session; the library interface never gets here.
// The pieces' file and log patterns get their piece field through PiecePattern
// (output/name_pattern.h).
#pragma once

#include <cstddef>

#include "db/session.h"
#include "job/job_record.h"
#include "run/job_run.h"
#include "run/split_names.h"

namespace rowflume {

// Statuses of a parallel run beside the pieces' own result codes.
constexpr int kParallelFailed = 10;  // a failure that no faithful sum of result codes can carry

// Status of a parallel run:
// - the split value (or `part`) is not made of valid names: kSplitRefused, before any query;
// - the ROWID split fails: its status when that is a faithful exit status (1 to 255 or -255 to
//   -1), otherwise kParallelFailed;
// - no range with the default query: the table is unloaded by one piece reading it whole (an
//   empty table gives its empty file, a missing table its error); with a query of the user's:
//   a message and kParallelFailed;
// - otherwise the pieces' final result codes combined by CombinePieceStatuses.
// A piece whose job copy cannot be allocated or whose thread cannot be started never runs
// without its copy: it counts as failed with kParallelFailed and is retried like any failed
// piece. A failed piece takes back its files (run/job_run.h) before it is run again. The pieces
// share one set of LOB folders, claimed here. The loader control file is written here, once every
// piece has succeeded, naming the files of all pieces in piece order; a pieces run of a plan adds
// the first file of each planned piece it did not run, when the pattern says what that is.
int RunParallel(UnloadHandle* job, DbSession* session);

class ManifestKeeper;

// One piece's work: its job copy and what its runs wrote.
struct PieceWork {
  UnloadHandle* copy = nullptr;
  RunOutputs outputs;
  ManifestKeeper* manifest = nullptr;  // told when each attempt starts and ends; may be null
};

// Thread entry of one piece (a PieceWork): runs the job copy, whose run status then holds the
// result.
void WorkerMain(void* work);

// The exit status of the pieces' result codes: 0 when all are 0; their sum when every non-zero
// code has the same sign and the sum stays within 1 to 255 (or -255 to -1), so that the exit
// status cannot wrap to 0 or cancel out; kParallelFailed otherwise.
int CombinePieceStatuses(const int* statuses, int count);

}  // namespace rowflume
