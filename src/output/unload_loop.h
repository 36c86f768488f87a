// The unload loop: fetches the executed query's rows in arrays, encodes every field into the
// run's output buffer, writes the buffer when it fills, switches output files by row count or
// size, and reports progress and file closes through the session's callback.
#pragma once

#include "db/columns.h"
#include "db/session.h"
#include "job/job_record.h"

namespace rowflume {

// Fetches with a tolerated error that deliver no rows, in a row, before the run gives up.
constexpr int kMaxEmptyToleratedFetches = 100;

// True when code is one of the job's tolerated fetch error numbers.
bool IsToleratedError(const UnloadHandle* job, int code);

// Runs the loop to the end of the data. The outcome is left in session->status: untouched on
// success, 2 when a write or close of the output failed, a value was longer than its fixed-width
// field (the run stops at that row: nothing is cut), or a LOB value could not be written to
// its file (reported, its field left empty, the unload carried on to the end), 6 when an output
// file could not be opened, 7 when a fetch failed with an error that is not tolerated (or a
// tolerated one kept repeating without rows). On every stop the buffer is released and the open
// file closed.
void UnloadRows(UnloadHandle* job, DbSession* session, OCIStmt* statement, ColumnDesc* head);

// The same loop with an output buffer of buffer_bytes (at least 64), so that tests can drive
// every flush and file-switch path with small data.
void UnloadRowsWithBuffer(UnloadHandle* job, DbSession* session, OCIStmt* statement,
                          ColumnDesc* head, int buffer_bytes);

}  // namespace rowflume
