// The manifest of an unload: what it was asked (the options that shape the bytes), what it read
// (the query as sent, the SCN), its pieces, and every file it wrote with its rows, bytes and
// SHA-256, as one JSON document; and the same checksums as `sha256sum` lines beside it, so that
// the files can be checked with no tool of ours. The run layer fills and writes it while it runs;
// verify and resume read it back. The document's fields are listed in the README.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "job/job_record.h"
#include "platform/platform.h"

namespace rowflume {

constexpr int kManifestVersion = 1;

// Kinds of ManifestFile::kind.
inline constexpr char kDataFile[] = "data";
inline constexpr char kControlFile[] = "control";
inline constexpr char kLobFile[] = "lob";
inline constexpr char kCommandOutput[] = "command";  // a command's input: no file to check
inline constexpr char kStandardOutput[] = "stdout";  // standard output: no file either

struct ManifestFile {
  std::string name;  // the file's name as opened (no leading "+"), or the command
  std::string kind;
  int32_t piece = 1;
  bool appended = false;   // `file=+...`: bytes and digest are those of the whole file
  uint64_t rows = 0;       // data files: the rows the run wrote into it
  uint64_t first_row = 0;  // row numbers of the job (or piece) from 1; 0 when it holds none
  uint64_t last_row = 0;
  uint64_t bytes = 0;
  std::string sha256;  // lower-case hexadecimal; empty when no digest was made
  bool whole = true;   // false for a file still being written: its name only
};

struct ManifestPiece {
  int32_t number = 1;
  std::string min_rowid;  // the range read; both empty for a piece reading the table whole
  std::string max_rowid;
  int32_t attempts = 0;
  int32_t status = -1;    // the last attempt's result code; -1 while it has not ended
  bool complete = false;  // the last attempt succeeded and every file of the piece is listed
};

// The options that decide the bytes of the data files, recorded so that verify can recount
// records without the command line. Separators and texts are their bytes.
struct ManifestLayout {
  std::string layout;  // the `text` layout asked for, "FIXED" or "TEXT" (delimited) without one
  int32_t format = kTextFormat;
  std::string field, record, quote, null_text, rowpre, rowsuf, colsep, prehead, exec;
  char escape = ' ';
  std::string escf, esct;    // bytes escaped besides the escape character, and what each becomes
  bool double_byte = false;  // the client's character set keeps double-byte characters whole
  bool head = false;
  std::string charset, ncharset;
  bool client = false;
  int64_t fixed_record_length = 0;  // the fixed-width layout's record length; 0 for the others
  bool scrambled = false;           // `crack`: the bytes are scrambled
};

struct Manifest {
  std::string program;  // "rowflume VERSION"
  std::string started;  // UTC, "2026-12-08T16:00:00Z"
  std::string ended;    // empty while the run goes on
  std::string user;     // the user name, never the password
  std::string connect;
  std::string query;  // as sent; a parallel unload's with its :minrid and :maxrid
  std::string scn;    // empty: no SCN
  std::string plan;
  std::string table;
  std::vector<std::pair<std::string, std::string>> binds;  // the user's, by name, as bound
  ManifestLayout layout;
  int32_t status = -1;  // the run's result code; -1 while it goes on
  bool complete = false;
  std::string failure;  // what went wrong, when status is not 0
  int32_t lob_set = kNoLobSet;
  int32_t lobdir = 0;
  std::vector<ManifestPiece> pieces;
  std::vector<ManifestFile> files;
};

// The layout part of a job: what the encoder and the unload loop write by.
ManifestLayout ManifestLayoutOf(const UnloadHandle* job, int64_t fixed_record_length);

std::string ManifestJson(const Manifest& manifest);
// Reads a manifest's text; false with a reason when it is not one this program wrote.
bool ParseManifest(const std::string& text, Manifest* manifest, std::string* error);

// Reads the manifest file: kManifestLoaded, kNoManifest when nothing has that name, or
// kManifestInvalid with the reason.
constexpr int kManifestLoaded = 0;
constexpr int kNoManifest = 1;
constexpr int kManifestInvalid = -1;
int LoadManifest(const std::string& path, Manifest* manifest, std::string* error);

// One "HEX  NAME" line for every file with a digest, as sha256sum writes them (a name holding a
// backslash or a line break is escaped and its line starts with a backslash).
std::string ChecksumLines(const Manifest& manifest);

// Writes the manifest to path and its checksums to path + ".sha256", each under a temporary name
// put in place when whole: true when both were written.
bool WriteManifestFiles(const std::string& path, const Manifest& manifest);

std::string Sha256Hex(const unsigned char (&digest)[kSha256Bytes]);
// The file's rows and position come from the caller; bytes and digest from the stream's tally.
void TakeTally(const StreamTally& tally, ManifestFile* file);
// Reads the file from its start to its end in blocks of up to 1 MiB, handing each to take; false
// when it cannot be opened or read to its end.
bool ReadFileBlocks(const std::string& path, const std::function<void(const char*, size_t)>& take);
// The bytes and SHA-256 of a whole file, read again; false when it cannot be read.
bool HashFile(const std::string& path, uint64_t* bytes, std::string* sha256);
// Why a file does not match its entry ("missing", "short: 24 bytes of 1088", "changed: ..."),
// or "" when its bytes and digest match. A file without a digest is checked by its bytes.
std::string FileMismatch(const ManifestFile& file);
// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimestamp(int64_t seconds);

}  // namespace rowflume
