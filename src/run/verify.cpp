#include "run/verify.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/messages.h"
#include "db/session.h"
#include "db/statement.h"
#include "output/manifest.h"
#include "output/parquet_writer.h"
#include "output/record_count.h"
#include "platform/platform.h"
#include "run/client_choice.h"
#include "run/job_checks.h"
#include "run/point_in_time.h"

namespace rowflume {
namespace {

// One file read again: its bytes, digest and, for a data file of a layout that can be counted,
// its records.
struct FileReading {
  bool found = false;
  bool read = false;
  uint64_t bytes = 0;
  std::string sha256;
  bool counted = false;
  bool whole = false;  // the counter took the bytes as whole records
  uint64_t records = 0;
  std::string problem;  // why the counter refused them
  bool exact = true;    // the layout's count is its rows, whatever the values hold
};

FileReading ReadAgain(const ManifestFile& file, const ManifestLayout& layout) {
  FileReading reading;
  if (FileBytes(file.name.c_str()) < 0) return reading;
  reading.found = true;
  // The recount follows the layout: a scrambled file's bytes say nothing of its records.
  // A Parquet file's rows are counted by its footer, read once its bytes have been checked.
  const bool parquet = layout.format == kParquetFormat;
  const bool count = file.kind == kDataFile && !layout.scrambled && !parquet;
  const RecordLayout records = RecordLayoutOf(layout, file.appended);
  RecordCounter counter(records);
  Sha256Digest* digest = Sha256Begin();
  reading.read = ReadFileBlocks(file.name, [&](const char* data, size_t got) {
    Sha256Add(digest, data, got);
    if (count) counter.Add(data, got);
    reading.bytes += got;
  });
  unsigned char value[kSha256Bytes];
  if (Sha256End(digest, value)) reading.sha256 = Sha256Hex(value);
  // What an appended file held before the run is not the run's rows: its records are not its own.
  if (count && !file.appended) {
    reading.counted = true;
    reading.whole = counter.Finish(&reading.records, &reading.problem);
    reading.exact = RecordCountIsExact(records);
  }
  if (parquet && file.kind == kDataFile && !layout.scrambled && reading.read) {
    reading.counted = true;
    reading.whole = ParquetFileRows(file.name, &reading.records);
    if (!reading.whole) reading.problem = "its Parquet footer cannot be read";
  }
  return reading;
}

std::string RowsText(uint64_t records, uint64_t rows) {
  std::string text = std::to_string(records) + " rows instead of " + std::to_string(rows);
  if (records < rows) return text + " (" + std::to_string(rows - records) + " missing)";
  return text + " (" + std::to_string(records - rows) + " extra)";
}

// "" when the file matches its entry; otherwise every way in which it does not.
std::string Mismatches(const ManifestFile& file, const FileReading& reading) {
  if (!reading.found) return "missing";
  if (!reading.read) return "cannot be read";
  std::string found;
  auto add = [&](const std::string& text) { found += (found.empty() ? "" : "; ") + text; };
  if (reading.bytes != file.bytes) {
    add(std::string(reading.bytes < file.bytes ? "short" : "longer") + ": " +
        std::to_string(reading.bytes) + " bytes instead of " + std::to_string(file.bytes));
  } else if (!file.sha256.empty() && reading.sha256 != file.sha256) {
    add("changed: its SHA-256 is " + reading.sha256);
  }
  if (!reading.counted) return found;
  // Unchanged bytes hold the rows written; a layout that cannot protect its record separator
  // counts more records than rows where values hold it, which is no mismatch.
  const bool unchanged = found.empty() && !file.sha256.empty();
  if (!reading.whole && !(unchanged && !reading.exact))
    add("not whole records: " + reading.problem);
  if (reading.records != file.rows && !(unchanged && !reading.exact)) {
    add(RowsText(reading.records, file.rows));
  }
  return found;
}

// Checks every file of the manifest, naming each; returns the mismatches.
int CheckFiles(const Manifest& manifest, DbSession* session, uint64_t* rows) {
  int mismatches = 0;
  for (const ManifestFile& file : manifest.files) {
    if (file.kind == kCommandOutput || file.kind == kStandardOutput) {
      SessionMessageFormat(session, messages::kVerifyNotAFile, file.name.c_str(),
                           static_cast<unsigned long long>(file.rows));
      *rows += file.rows;
      continue;
    }
    const FileReading reading = ReadAgain(file, manifest.layout);
    const std::string mismatch =
        file.whole ? Mismatches(file, reading) : "the run stopped while it wrote this file";
    if (file.kind == kDataFile) *rows += file.rows;
    if (!mismatch.empty()) {
      ++mismatches;
      SessionMessageFormat(session, messages::kVerifyMismatch, file.name.c_str(), mismatch.c_str());
    } else if (file.kind == kDataFile) {
      SessionMessageFormat(session, messages::kVerifyDataFile, file.name.c_str(),
                           static_cast<unsigned long long>(file.rows),
                           static_cast<unsigned long long>(file.bytes));
    }
  }
  return mismatches;
}

// The rows of one piece in the database, counted by the query the unload sent, with its binds:
// 0 with *count, or kRunQueryFailed after the database's message.
int CountPieceRows(DbSession* session, const Manifest& manifest, const ManifestPiece& piece,
                   unsigned long long* count) {
  std::vector<BindEntry> binds;
  for (const auto& [name, value] : manifest.binds) {
    binds.push_back(MakeBindEntry(name.c_str(), value.c_str()));
  }
  if (!piece.min_rowid.empty() && HasPlaceholder(manifest.query.c_str(), "MINRID")) {
    binds.push_back(MakeBindEntry("MINRID", piece.min_rowid.c_str()));
    binds.push_back(MakeBindEntry("MAXRID", piece.max_rowid.c_str()));
  }
  const std::string text = "SELECT COUNT(*) FROM (" + manifest.query + ")";
  char value[32];
  const int status = QueryFirstValue(session, text.c_str(), value, sizeof value, binds.data(),
                                     static_cast<int>(binds.size()));
  if (status != OCI_SUCCESS) return kRunQueryFailed;
  *count = std::strtoull(value, nullptr, 10);
  return kRunOk;
}

// Counts each complete piece's rows in the database as of the manifest's SCN: 0 with the
// mismatches added to *mismatches, or the failing status.
int CountInDatabase(const UnloadHandle* job, const Manifest& manifest, DbSession* session,
                    int* mismatches) {
  if (manifest.scn.empty()) {
    SessionMessage(session, messages::kVerifyNoScn);
    return kRunOk;
  }
  if (LogonChosenClient(session, job->user) != 0) return kRunLogonFailed;
  char clause[48];
  FormatFlashbackClause(clause, sizeof clause, manifest.scn.c_str());
  // A query that reads at the SCN by itself (a table's, a piece's) needs no session flashback.
  const bool session_flashback = manifest.query.find(clause) == std::string::npos;
  if (session_flashback && EnableSessionFlashback(session, manifest.scn.c_str()) != 0) {
    return kRunQueryFailed;
  }
  int status = kRunOk;
  for (const ManifestPiece& piece : manifest.pieces) {
    if (!piece.complete) continue;
    unsigned long long count = 0;
    status = CountPieceRows(session, manifest, piece, &count);
    if (status != kRunOk) break;
    uint64_t rows = 0;
    for (const ManifestFile& file : manifest.files) {
      if (file.piece == piece.number && file.kind != kLobFile && file.kind != kControlFile) {
        rows += file.rows;
      }
    }
    if (count == rows) {
      SessionMessageFormat(session, messages::kVerifyCounted, piece.number, count,
                           manifest.scn.c_str());
    } else {
      ++*mismatches;
      SessionMessageFormat(session, messages::kVerifyCountDiffers, piece.number, count,
                           manifest.scn.c_str(), static_cast<unsigned long long>(rows));
    }
  }
  if (session_flashback) DisableSessionFlashback(session);
  return status;
}

}  // namespace

int RunVerify(UnloadHandle* job) {
  DbSession session;
  SessionInit(&session);
  if (job->callback != nullptr) {
    session.callback = job->callback;
    session.callback_context = job->callback_context != nullptr ? job->callback_context : &session;
  }
  Manifest manifest;
  std::string error = "no such file";
  if (LoadManifest(job->verify, &manifest, &error) != kManifestLoaded) {
    SessionMessageFormat(&session, messages::kVerifyUnreadable, job->verify, error.c_str());
    return job->run_status = kRunRefused;
  }
  uint64_t rows = 0;
  int mismatches = CheckFiles(manifest, &session, &rows);
  if (!manifest.complete) {
    ++mismatches;
    SessionMessageFormat(&session, messages::kVerifyIncomplete, job->verify,
                         manifest.failure.empty() ? "it never ended" : manifest.failure.c_str());
  }
  int status = kRunOk;
  if (job->user[0] != '\0') status = CountInDatabase(job, manifest, &session, &mismatches);
  Logoff(&session);
  if (status != kRunOk) return job->run_status = status;
  if (mismatches > 0) {
    SessionMessageFormat(&session, messages::kVerifyFailed, mismatches, job->verify);
    return job->run_status = kVerifyMismatch;
  }
  SessionMessageFormat(&session, messages::kVerifyPassed,
                       static_cast<unsigned long long>(manifest.files.size()),
                       static_cast<unsigned long long>(rows), job->verify);
  return job->run_status = kRunOk;
}

}  // namespace rowflume
