// Output file names and opening, and the progress, file-closed and open-failure messages.
//
// A pattern expands %B %D %M %P %T %W %Y (either case) to the file sequence number, day, month,
// piece number, time in seconds, week day and year; "%" before any other character gives that
// character ("%%" one percent sign), a trailing "%" gives nothing. The expanded name then
// chooses how it is opened: "+name" appends to name, "-command" runs the command with the output
// as its standard input, anything else creates or empties the file.
//
// Names of later files: when a run switches files and the pattern has no %b, every file would
// expand to the same name and the next one would empty the one before. So the first file keeps
// its expanded name and every later file (sequence number 2 and up) gets "_<sequence>" inserted
// before the last extension of the expanded name, or at its end when there is none: emp.csv,
// emp_2.csv, emp_3.csv. Appending ("+") and command ("-") patterns keep their names, since
// neither loses what was written before.
//
// Names longer than kMaxExpandedName characters are refused, never cut and opened.
#pragma once

#include <cstdint>

#include "db/session.h"
#include "platform/platform.h"

namespace rowflume {

constexpr int kExpandedNameBytes = 512;  // 511 characters and a NUL
constexpr int kMaxExpandedName = kExpandedNameBytes - 1;
constexpr int kMessageBytes = 512;

enum class OpenFailure { kNone, kNameTooLong, kCannotOpen };

// Expands pattern into expanded (kExpandedNameBytes), applying the later-file rule above when
// sequence is 2 or more. Returns false when the name does not fit; expanded then holds its
// first kMaxExpandedName characters.
bool ExpandOutputName(const char* pattern, char* expanded, int sequence, int piece);

// Expands and opens; null on failure, with the reason in *failure when it is given. The log
// file is opened with sequence 0.
OutputStream* OpenOutput(const char* pattern, char* expanded, int sequence, int piece,
                         OpenFailure* failure = nullptr);

// Passes the message text to the session's callback, when one is set.
void ReportMessage(DbSession* session, const char* text);
// "%12llu rows exported at YYYY-MM-DD HH:MI:SS, size %.0f MB.\n" with the local time.
void ReportProgress(DbSession* session, uint64_t rows, double mb_written);
// "         output file %s closed at %llu rows, size %.0f MB.\n"
void ReportFileClosed(DbSession* session, const char* expanded, uint64_t rows, double mb_written);
// "ERROR -- Cannot write to file : %s\n", preceded by a line naming the limit when the name was
// too long.
void ReportOpenFailure(DbSession* session, const char* expanded, OpenFailure failure);

}  // namespace rowflume
