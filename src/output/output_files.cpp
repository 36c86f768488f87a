#include "output/output_files.h"

#include "common/messages.h"

namespace rowflume {

OutputStream* OpenOutput(const char* pattern, char* expanded, int sequence, int piece,
                         OpenFailure* failure, OpenMode plain_mode) {
  OpenFailure reason = OpenFailure::kNone;
  OutputStream* stream = nullptr;
  if (!ExpandOutputName(pattern, expanded, sequence, piece)) {
    reason = OpenFailure::kNameTooLong;
  } else {
    if (expanded[0] == '+') {
      stream = OpenFileStream(expanded + 1, OpenMode::kAppend);
    } else if (expanded[0] == '-') {
      stream = OpenCommandStream(expanded + 1);
    } else {
      // A file written whole under a temporary name first takes the place of the old one: until
      // the new one is whole, nothing of either stands under the name.
      if (plain_mode == OpenMode::kReplaceOnClose) RemoveRegularFile(expanded);
      stream = OpenFileStream(expanded, plain_mode);
    }
    if (stream == nullptr) reason = OpenFailure::kCannotOpen;
  }
  if (failure != nullptr) *failure = reason;
  return stream;
}

void ReportProgress(DbSession* session, uint64_t rows, double mb_written) {
  LocalTime now = CurrentLocalTime();
  SessionMessageFormat(session, messages::kProgress, static_cast<unsigned long long>(rows),
                       now.year, now.month, now.day, now.hour, now.minute, now.second, mb_written);
}

void ReportFileClosed(DbSession* session, const char* expanded, uint64_t rows, double mb_written) {
  SessionMessageFormat(session, messages::kFileClosed, expanded,
                       static_cast<unsigned long long>(rows), mb_written);
}

void ReportOpenFailure(DbSession* session, const char* expanded, OpenFailure failure) {
  if (failure == OpenFailure::kNameTooLong) {
    SessionMessageFormat(session, messages::kNameTooLong, kMaxExpandedName);
  }
  SessionMessageFormat(session, messages::kCannotWriteFile, expanded);
}

}  // namespace rowflume
