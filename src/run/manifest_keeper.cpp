#include "run/manifest_keeper.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/messages.h"
#include "version.h"

namespace rowflume {

ManifestKeeper::ManifestKeeper(const UnloadHandle* job) {
  if (job == nullptr || job->manifest[0] == '\0') return;
  active_ = true;
  path_ = job->manifest;
  quiet_ = std::strcmp(job->file, "-") == 0 && job->log[0] == '\0';
  manifest_.program = std::string("rowflume ") + ROWFLUME_VERSION;
  manifest_.started = UtcTimestamp(CurrentTimeSeconds());
  const UserStringParts parts = SplitUserString(job->user);
  manifest_.user.assign(job->user, parts.user_length);
  if (parts.connect != nullptr) manifest_.connect = parts.connect;
  manifest_.plan = job->plan;
  manifest_.layout = ManifestLayoutOf(job, 0);
  manifest_.lobdir = job->lobdir;
}

void ManifestKeeper::SetRead(const UnloadHandle* job, const std::string& query,
                             int64_t record_length) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  if (record_length > 0) manifest_.layout.fixed_record_length = record_length;
  manifest_.query = query;
  manifest_.scn = job->scn;
  manifest_.table = job->table;
  manifest_.binds.clear();
  for (int idx = 0; idx < job->bind_count && idx < kMaxBinds; ++idx) {
    const BindEntry& bind = job->binds[idx];
    manifest_.binds.emplace_back(std::string(bind.name, static_cast<size_t>(bind.name_length)),
                                 std::string(bind.value, static_cast<size_t>(bind.value_length)));
  }
}

void ManifestKeeper::SetLobSet(int32_t set, int32_t lobdir) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  manifest_.lob_set = set;
  manifest_.lobdir = lobdir;
}

void ManifestKeeper::AddPiece(int32_t number, const std::string& min_rowid,
                              const std::string& max_rowid, int32_t attempts) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  ManifestPiece piece;
  piece.number = number;
  piece.min_rowid = min_rowid;
  piece.max_rowid = max_rowid;
  piece.attempts = attempts;
  manifest_.pieces.push_back(piece);
}

void ManifestKeeper::CarryPiece(const ManifestPiece& piece,
                                const std::vector<ManifestFile>& files) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  manifest_.pieces.push_back(piece);
  manifest_.files.insert(manifest_.files.end(), files.begin(), files.end());
}

ManifestPiece* ManifestKeeper::FindPiece(int32_t number) {
  for (ManifestPiece& piece : manifest_.pieces) {
    if (piece.number == number) return &piece;
  }
  return nullptr;
}

void ManifestKeeper::DropFiles(int32_t number) {
  std::erase_if(manifest_.files, [number](const ManifestFile& file) {
    return file.piece == number && file.kind != kControlFile;
  });
}

void ManifestKeeper::FileNoted(int32_t number, const ManifestFile& file) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  std::erase_if(manifest_.files, [&](const ManifestFile& listed) {
    return !listed.whole && listed.piece == number && listed.name == file.name;
  });
  manifest_.files.push_back(file);
  manifest_.files.back().piece = number;
  WriteLocked();
}

void ManifestKeeper::PieceStarted(int32_t number) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  DropFiles(number);
  if (ManifestPiece* piece = FindPiece(number)) {
    piece->attempts += 1;
    piece->status = -1;
    piece->complete = false;
  }
}

void ManifestKeeper::PieceEnded(int32_t number, int status, const RunOutputs& outputs) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  ManifestPiece* piece = FindPiece(number);
  if (piece == nullptr) return;
  piece->status = status;
  piece->complete = status == kRunOk;
  DropFiles(number);
  if (status == kRunOk) {
    manifest_.files.insert(manifest_.files.end(), outputs.unload.written.begin(),
                           outputs.unload.written.end());
  } else if (manifest_.failure.empty()) {
    manifest_.failure = "piece " + std::to_string(number) + ": " + outputs.failure;
  }
  WriteLocked();
}

void ManifestKeeper::AddControlFile(const ManifestFile& file) {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(lock_);
  manifest_.files.push_back(file);
}

bool ManifestKeeper::WriteLocked() {
  // Files in piece order, each piece's in the order they were written, whichever piece ended
  // first: the manifest of a resumed run lists them as a run in one go does.
  std::stable_sort(manifest_.files.begin(), manifest_.files.end(),
                   [](const ManifestFile& a, const ManifestFile& b) {
                     const bool a_control = a.kind == kControlFile;
                     const bool b_control = b.kind == kControlFile;
                     if (a_control != b_control) return b_control;
                     return a.piece < b.piece;
                   });
  std::stable_sort(
      manifest_.pieces.begin(), manifest_.pieces.end(),
      [](const ManifestPiece& a, const ManifestPiece& b) { return a.number < b.number; });
  if (!WriteManifestFiles(path_, manifest_)) failed_ = true;
  return !failed_;
}

bool ManifestKeeper::Start(DbSession* session) {
  if (!active_) return true;
  std::lock_guard<std::mutex> hold(lock_);
  started_ = true;
  if (WriteLocked()) return true;
  SessionMessageFormat(session, messages::kManifestNotWritten, path_.c_str());
  return false;
}

int ManifestKeeper::Finish(int status, DbSession* session) {
  if (!active_) return status;
  std::lock_guard<std::mutex> hold(lock_);
  manifest_.ended = UtcTimestamp(CurrentTimeSeconds());
  manifest_.status = status;
  bool pieces_complete = true;
  for (const ManifestPiece& piece : manifest_.pieces) {
    pieces_complete = pieces_complete && piece.complete;
  }
  manifest_.complete = status == kRunOk && pieces_complete && !failed_;
  if (status != kRunOk && manifest_.failure.empty()) {
    manifest_.failure = FailureText(status, session);
  }
  // A failure of an earlier write is the run's failure too: the manifest it left may be stale.
  if (!WriteLocked() || failed_) {
    SessionMessageFormat(session, messages::kManifestNotWritten, path_.c_str());
    return status == kRunOk ? kRunWriteFailed : status;
  }
  if (quiet_) return status;
  SessionMessageFormat(session, messages::kManifestWritten,
                       static_cast<unsigned long long>(manifest_.files.size()), path_.c_str());
  return status;
}

std::string FailureText(int status, const DbSession* session) {
  const char* text = "the run failed";
  switch (status) {
    case kRunLogonFailed:
      text = "the logon failed";
      break;
    case kRunWriteFailed:
      text = "a write failed";
      break;
    case kRunQueryFailed:
      text = "the query failed to prepare, bind or execute";
      break;
    case kRunRefused:
      text = "the job was refused";
      break;
    case kRunDescribeFailed:
      text = "the describe failed";
      break;
    case kRunOpenFailed:
      text = "an output file could not be opened";
      break;
    case kRunFetchFailed:
      text = "a fetch failed";
      break;
    case kRunPresqlFailed:
      text = "presql failed";
      break;
    case kRunPostsqlFailed:
      text = "postsql failed";
      break;
    default:
      break;
  }
  std::string failure = std::string(text) + " (status " + std::to_string(status) + ")";
  if (session != nullptr && session->last_error_code != 0) {
    failure += ": ";
    failure += session->last_error_text;
    while (!failure.empty() && (failure.back() == '\n' || failure.back() == ' '))
      failure.pop_back();
  }
  return failure;
}

}  // namespace rowflume
