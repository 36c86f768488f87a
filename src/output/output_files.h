// Opening output files by their name patterns (output/name_pattern.h), and the progress,
// file-closed and open-failure messages of a run.
//
// The expanded name chooses how a file is opened: "+name" appends to name, "-command" runs the
// command with the output as its standard input, anything else creates or empties the file.
// Names longer than kMaxExpandedName characters are refused, never cut and opened.
#pragma once

#include <cstdint>

#include "db/session.h"
#include "output/name_pattern.h"
#include "platform/platform.h"

namespace rowflume {

enum class OpenFailure { kNone, kNameTooLong, kCannotOpen };

// Expands and opens; null on failure, with the reason in *failure when it is given. The log
// file is opened with sequence 0. A plain file is opened with plain_mode: the data files are
// written under a temporary name and put in place when closed whole (OpenMode::kReplaceOnClose),
// an older plain file of that name removed first, as opening it empty did (so a run that fails
// or is killed leaves nothing under the name); the log as it goes, so that it can be followed
// while the run lasts.
OutputStream* OpenOutput(const char* pattern, char* expanded, int sequence, int piece,
                         OpenFailure* failure = nullptr, OpenMode plain_mode = OpenMode::kTruncate);

// "%12llu rows exported at YYYY-MM-DD HH:MI:SS, size %.0f MB.\n" with the local time.
void ReportProgress(DbSession* session, uint64_t rows, double mb_written);
// "         output file %s closed at %llu rows, size %.0f MB.\n"
void ReportFileClosed(DbSession* session, const char* expanded, uint64_t rows, double mb_written);
// "ERROR -- Cannot write to file : %s\n", preceded by a line naming the limit when the name was
// too long.
void ReportOpenFailure(DbSession* session, const char* expanded, OpenFailure failure);

}  // namespace rowflume
