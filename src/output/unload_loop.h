// The unload loop: fetches the executed query's rows in arrays, encodes every field into the
// run's output buffer, writes the buffer when it fills, switches output files by row count or
// size, and reports progress and file closes through the session's callback.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/columns.h"
#include "db/session.h"
#include "job/job_record.h"
#include "output/manifest.h"

namespace rowflume {

// Fetches with a tolerated error that deliver no rows, in a row, before the run gives up.
constexpr int kMaxEmptyToleratedFetches = 100;

// True when code is one of the job's tolerated fetch error numbers.
bool IsToleratedError(const UnloadHandle* job, int code);

// What one run of the loop may not overwrite and what it wrote, kept by the run that owns it.
struct UnloadOutputs {
  // Given by the caller: files no data file of the run may be (its log, the control file written
  // after it, a plan); an empty name is skipped.
  std::vector<std::string> reserved;
  // Given by the caller: every output keeps the SHA-256 of what it writes, for a manifest.
  bool digest = false;
  // Every data file the run opened, as expanded (a leading "+" or "-" kept), in order. None in
  // stdout mode.
  std::vector<std::string> files;
  // Every output closed whole, standard output included, and every LOB file, in order, with its
  // rows, bytes and digest. A file whose run stopped while it was open is not among them: a
  // plain file of that name was never put in place (OpenMode::kReplaceOnClose).
  std::vector<ManifestFile> written;
  // Plain files the run stopped in, whose temporary files it removed.
  int discarded = 0;
  // Given by the caller, may be empty: told of each data file when it is opened (not whole yet)
  // and again once it is closed whole, so that a manifest names every file of the run before it
  // stands under its name, even when the run is killed before its end.
  std::function<void(const ManifestFile&)> file_noted;
};

// Runs the loop to the end of the data. The outcome is left in session->status: untouched on
// success, 2 when a write or close of the output failed, a value was longer than its fixed-width
// field (the run stops at that row: nothing is cut), or a LOB value could not be written to
// its file (reported, its field left empty, the unload carried on to the end), 6 when an output
// file could not be opened, 7 when a fetch failed with an error that is not tolerated (or a
// tolerated one kept repeating without rows). On every stop the buffer is released and the open
// file closed.
// Files: the first is opened before the first fetch, so that an empty result still gives its
// one file; every later one only once a row is there to go into it, so that no split output
// ends with a file without rows. `size` counts every byte produced, buffered or written, so a
// file ends at the first row end past its share, whatever the buffer's size. A file that would
// be one of outputs->reserved, or one the run opened before, stops the run (6) before it is
// opened. outputs may be null.
void UnloadRows(const UnloadHandle* job, DbSession* session, OCIStmt* statement, ColumnDesc* head,
                UnloadOutputs* outputs);

// The same loop with an output buffer of buffer_bytes (at least 64), so that tests can drive
// every flush and file-switch path with small data.
void UnloadRowsWithBuffer(const UnloadHandle* job, DbSession* session, OCIStmt* statement,
                          ColumnDesc* head, int buffer_bytes, UnloadOutputs* outputs = nullptr);

}  // namespace rowflume
