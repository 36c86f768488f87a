#include "output/lob_files.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/statement.h"
#include "platform/platform.h"

namespace rowflume {
namespace {

char* PutHex(char* p, uint64_t value, int digits) {
  for (int k = digits - 1; k >= 0; --k) {
    p[k] = kLowerHexDigits[value & 15];
    value >>= 4;
  }
  return p + digits;
}

void ReportCannotWrite(DbSession* session, const char* name) {
  SessionMessageFormat(session, messages::kCannotWriteFile, name);
}

// A client failure has been reported by the call; when the client kept no error record to
// report, the file name is named instead, so that no value is lost in silence.
sword ClientFailure(DbSession* session, sword status, const char* name) {
  if (session->last_error_code == 0) ReportCannotWrite(session, name);
  return status;
}

OutputStream* OpenLobFile(const char* name) {
  OutputStream* stream = OpenFileStream(name, OpenMode::kCreateNew);
  if (stream != nullptr) return stream;
  char directory[kLobDirectoryLength + 1];
  std::memcpy(directory, name, kLobDirectoryLength);
  directory[kLobDirectoryLength] = '\0';
  // Another worker may have made it meanwhile; the second open decides either way.
  MakeDirectory(directory);
  return OpenFileStream(name, OpenMode::kCreateNew);
}

void FormatLobDirectory(char* dest, int set, int index) {
  std::memcpy(dest, "LOB", 3);
  PutHex(dest + 3, static_cast<uint64_t>(set) * kLobSetDirectories + static_cast<uint64_t>(index),
         4);
  dest[kLobDirectoryLength] = '\0';
}

int ClampLobdir(int lobdir) {
  return lobdir < 1 ? 1 : lobdir > kLobSetDirectories ? kLobSetDirectories : lobdir;
}

// The files of one piece in one subdirectory: names of the form above with the piece's digits.
struct PieceFiles {
  const char* directory;
  char piece_digits[2];
  bool failed;
};

void RemoveIfPieceFile(void* context, const char* name) {
  auto* files = static_cast<PieceFiles*>(context);
  const size_t length = std::strlen(name);
  constexpr size_t kFileLength = kLobNameLength - kLobDirectoryLength - 1;
  if (length != kFileLength || std::memcmp(name, files->piece_digits, 2) != 0 ||
      std::strcmp(name + length - 4, ".dat") != 0) {
    return;
  }
  char path[kLobNameBytes];
  std::snprintf(path, sizeof path, "%s%c%s", files->directory, DirectorySeparator(), name);
  if (RemoveRegularFile(path) != 0) files->failed = true;
}

}  // namespace

int ClaimLobSet(DbSession* session, int lobdir, int* set) {
  char directory[kLobDirectoryLength + 1];
  for (int candidate = 0; candidate < kLobSets; ++candidate) {
    FormatLobDirectory(directory, candidate, 0);
    const int made = MakeNewDirectory(directory);
    if (made == kDirectoryExists) continue;
    if (made != kDirectoryMade) {
      ReportCannotWrite(session, directory);
      return -1;
    }
    // A later folder of the set left by an unload whose first one is gone keeps the set taken.
    bool free = true;
    char later[kLobDirectoryLength + 1];
    for (int index = 1; free && index < ClampLobdir(lobdir); ++index) {
      FormatLobDirectory(later, candidate, index);
      free = !PathExists(later);
    }
    if (free) {
      *set = candidate;
      return 0;
    }
    RemoveEmptyDirectory(directory);
  }
  SessionMessageFormat(session, messages::kLobSetsTaken, kLobSets);
  return -1;
}

int ReclaimLobSet(DbSession* session, int set) {
  char directory[kLobDirectoryLength + 1];
  FormatLobDirectory(directory, set, 0);
  if (MakeDirectory(directory) == 0) return 0;
  ReportCannotWrite(session, directory);
  return -1;
}

void ReleaseLobSet(int set, int lobdir) {
  char directory[kLobDirectoryLength + 1];
  bool emptied = true;
  for (int index = ClampLobdir(lobdir) - 1; index > 0; --index) {
    FormatLobDirectory(directory, set, index);
    if (RemoveEmptyDirectory(directory) != 0 && PathExists(directory)) emptied = false;
  }
  // The first subdirectory is the claim: it goes last, and only with the set's last file.
  FormatLobDirectory(directory, set, 0);
  if (emptied) RemoveEmptyDirectory(directory);
}

bool RemovePieceLobFiles(int set, int lobdir, int piece) {
  bool removed = true;
  char directory[kLobDirectoryLength + 1];
  for (int index = 0; index < ClampLobdir(lobdir); ++index) {
    FormatLobDirectory(directory, set, index);
    PieceFiles files{directory, {}, false};
    PutHex(files.piece_digits, static_cast<uint64_t>(piece) & 0xff, 2);
    ListDirectory(directory, RemoveIfPieceFile, &files);
    if (files.failed) removed = false;
    // The set's first subdirectory stays: it holds the claim until the set is released.
    if (index > 0) RemoveEmptyDirectory(directory);
  }
  return removed;
}

int FormatLobFileName(char* dest, int capacity, int lobdir, int set, int piece, uint64_t row_number,
                      int position) {
  if (capacity < kLobNameLength + 1) return -1;
  if (lobdir < 1) lobdir = 1;
  char* p = dest;
  FormatLobDirectory(p, set, static_cast<int>(row_number % static_cast<uint64_t>(lobdir)));
  p += kLobDirectoryLength;
  *p++ = DirectorySeparator();
  p = PutHex(p, static_cast<uint64_t>(piece) & 0xff, 2);
  p = PutHex(p, row_number, 10);
  *p++ = '_';
  p = PutHex(p, static_cast<uint64_t>(position), 4);
  std::memcpy(p, ".dat", 4);
  p += 4;
  *p = '\0';
  return static_cast<int>(p - dest);
}

int WriteLobFile(DbSession* session, OCILobLocator* locator, uint8_t charset_form, const char* name,
                 bool digest, StreamTally* tally) {
  sword status = OpenLob(session, locator);
  if (status != OCI_SUCCESS) return ClientFailure(session, status, name);

  int result = 0;
  OutputStream* file = OpenLobFile(name);
  if (file == nullptr) {
    ReportCannotWrite(session, name);
    result = -1;
  } else {
    if (digest) DigestStream(file);
    static_assert(kLobReadBytes <= 65536, "the read buffer lives on the stack");
    char buffer[kLobReadBytes];
    std::memset(buffer, 0, sizeof buffer);
    ub4 offset = 1;
    bool written = true;
    do {
      ub4 amount = 0;  // 0: read on to the end of the value, piece by piece
      status = ReadLobPiece(session, locator, charset_form, &amount, offset, buffer, kLobReadBytes);
      if (status != OCI_SUCCESS && status != OCI_NEED_DATA) break;
      if (amount > static_cast<ub4>(kLobReadBytes)) amount = kLobReadBytes;
      if (written && !WriteAll(file, buffer, amount)) written = false;
      offset += amount;
    } while (status == OCI_NEED_DATA);
    const bool closed = CloseStream(file, tally) == 0;
    if (status != OCI_SUCCESS) {
      result = ClientFailure(session, status, name);
    } else if (!written || !closed) {
      ReportCannotWrite(session, name);
      result = -1;
    }
  }

  sword close_status = CloseLob(session, locator);
  if (close_status != OCI_SUCCESS && result == 0) {
    result = ClientFailure(session, close_status, name);
  }
  return result;
}

void InitLobFileSink(LobFileSink* sink, DbSession* session, int lobdir, int set, int piece) {
  sink->session = session;
  sink->lobdir = lobdir > 0 ? lobdir : 1;
  sink->set = set;
  sink->piece = piece;
  sink->failures = 0;
}

int WriteLobValue(void* context, ColumnDesc* column, int row_idx, uint64_t row_number, int position,
                  char* name, int name_capacity) {
  auto* sink = static_cast<LobFileSink*>(context);
  char file_name[kLobNameBytes];
  int length = FormatLobFileName(file_name, sizeof file_name, sink->lobdir, sink->set, sink->piece,
                                 row_number, position);
  if (length < 0 || length >= name_capacity) {
    sink->failures += 1;
    return -1;
  }
  // Each row's slot of the define buffer holds that row's locator reference.
  OCILobLocator* locator = nullptr;
  const size_t slot = static_cast<size_t>(column->define_width);
  if (slot < sizeof locator) {
    sink->failures += 1;
    return -1;
  }
  std::memcpy(&locator, column->define_buffer + static_cast<size_t>(row_idx) * slot,
              sizeof locator);
  StreamTally tally;
  if (WriteLobFile(sink->session, locator, column->charset_form, file_name, sink->digest, &tally) !=
      0) {
    sink->failures += 1;
    return -1;
  }
  if (sink->written != nullptr) {
    ManifestFile file;
    file.name = file_name;
    file.kind = kLobFile;
    file.piece = sink->piece;
    TakeTally(tally, &file);
    sink->written->push_back(std::move(file));
  }
  std::memcpy(name, file_name, static_cast<size_t>(length) + 1);
  return length;
}

}  // namespace rowflume
