#include "output/output_files.h"

#include <cstdio>
#include <cstring>

namespace rowflume {

namespace {

// Appends text to the name being built; false once the name would pass the limit.
struct NameBuilder {
  char* out;
  int length;
  bool too_long;

  void Add(const char* text, int count) {
    for (int k = 0; k < count; ++k) {
      if (length >= kMaxExpandedName) {
        too_long = true;
        return;
      }
      out[length++] = text[k];
    }
  }
  void AddNumber(long long value, int min_digits) {
    char digits[32];
    int count = std::snprintf(digits, sizeof digits, "%0*lld", min_digits, value);
    Add(digits, count);
  }
};

bool HasSequenceField(const char* pattern) {
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == 'b' || p[1] == 'B') return true;
    if (p[1] == '\0') break;
    ++p;  // the character after % is taken literally
  }
  return false;
}

// Inserts "_<sequence>" before the last extension of the file part of the name.
bool InsertSequence(char* name, int sequence) {
  int length = static_cast<int>(std::strlen(name));
  int base = 0;
  for (int k = 0; k < length; ++k) {
    if (name[k] == '/' || name[k] == DirectorySeparator()) base = k + 1;
  }
  int at = length;
  for (int k = length - 1; k > base; --k) {  // a leading dot names a file, not an extension
    if (name[k] == '.') {
      at = k;
      break;
    }
  }
  char suffix[16];
  int suffix_length = std::snprintf(suffix, sizeof suffix, "_%d", sequence);
  if (length + suffix_length > kMaxExpandedName) return false;
  std::memmove(name + at + suffix_length, name + at, static_cast<size_t>(length - at + 1));
  std::memcpy(name + at, suffix, static_cast<size_t>(suffix_length));
  return true;
}

}  // namespace

bool ExpandOutputName(const char* pattern, char* expanded, int sequence, int piece) {
  NameBuilder name{expanded, 0, false};
  LocalTime now = CurrentLocalTime();
  for (const char* p = pattern; *p != '\0' && !name.too_long; ++p) {
    if (*p != '%') {
      name.Add(p, 1);
      continue;
    }
    char field = p[1];
    if (field == '\0') break;  // a trailing % gives nothing
    ++p;
    switch (field) {
      case 'B':
      case 'b':
        name.AddNumber(sequence, 1);
        break;
      case 'D':
      case 'd':
        name.AddNumber(now.day, 2);
        break;
      case 'M':
      case 'm':
        name.AddNumber(now.month, 2);
        break;
      case 'P':
      case 'p':
        name.AddNumber(piece, 1);
        break;
      case 'T':
      case 't':
        name.AddNumber(static_cast<int32_t>(static_cast<uint32_t>(CurrentTimeSeconds())), 1);
        break;
      case 'W':
      case 'w':
        name.AddNumber(now.weekday, 1);
        break;
      case 'Y':
      case 'y':
        name.AddNumber(now.year, 4);
        break;
      default:
        name.Add(&field, 1);
        break;
    }
  }
  expanded[name.length] = '\0';
  if (name.too_long) return false;
  if (sequence >= 2 && expanded[0] != '+' && expanded[0] != '-' && !HasSequenceField(pattern)) {
    return InsertSequence(expanded, sequence);
  }
  return true;
}

OutputStream* OpenOutput(const char* pattern, char* expanded, int sequence, int piece,
                         OpenFailure* failure) {
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
      stream = OpenFileStream(expanded, OpenMode::kTruncate);
    }
    if (stream == nullptr) reason = OpenFailure::kCannotOpen;
  }
  if (failure != nullptr) *failure = reason;
  return stream;
}

void ReportMessage(DbSession* session, const char* text) {
  if (session->callback != nullptr) session->callback(session->callback_context, text);
}

void ReportProgress(DbSession* session, uint64_t rows, double mb_written) {
  LocalTime now = CurrentLocalTime();
  char text[kMessageBytes];
  std::snprintf(text, sizeof text,
                "%12llu rows exported at %04d-%02d-%02d %02d:%02d:%02d, size %.0f MB.\n",
                static_cast<unsigned long long>(rows), now.year, now.month, now.day, now.hour,
                now.minute, now.second, mb_written);
  ReportMessage(session, text);
}

void ReportFileClosed(DbSession* session, const char* expanded, uint64_t rows, double mb_written) {
  char text[kMessageBytes + 128];  // a name of the longest length is never cut
  std::snprintf(text, sizeof text, "         output file %s closed at %llu rows, size %.0f MB.\n",
                expanded, static_cast<unsigned long long>(rows), mb_written);
  ReportMessage(session, text);
}

void ReportOpenFailure(DbSession* session, const char* expanded, OpenFailure failure) {
  char text[kMessageBytes + 64];
  if (failure == OpenFailure::kNameTooLong) {
    std::snprintf(text, sizeof text,
                  "ERROR -- Output file name longer than %d characters, not opened\n",
                  kMaxExpandedName);
    ReportMessage(session, text);
  }
  std::snprintf(text, sizeof text, "ERROR -- Cannot write to file : %s\n", expanded);
  ReportMessage(session, text);
}

}  // namespace rowflume
