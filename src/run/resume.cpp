#include "run/resume.h"

#include "common/messages.h"

namespace rowflume {
namespace {

bool SameLayout(const ManifestLayout& a, const ManifestLayout& b) {
  return a.format == b.format && a.field == b.field && a.record == b.record && a.quote == b.quote &&
         a.null_text == b.null_text && a.rowpre == b.rowpre && a.rowsuf == b.rowsuf &&
         a.colsep == b.colsep && a.prehead == b.prehead && a.exec == b.exec && a.escf == b.escf &&
         a.esct == b.esct && a.double_byte == b.double_byte && a.escape == b.escape &&
         a.head == b.head && a.charset == b.charset && a.ncharset == b.ncharset &&
         a.client == b.client && a.scrambled == b.scrambled;
}

// Why the manifest cannot be continued by this run, or "".
std::string Mismatch(const UnloadHandle* job, const SplitPlan& plan, const std::string& query,
                     const Manifest& before) {
  if (before.scn != plan.scn) return "it was read at another SCN";
  if (!before.query.empty() && before.query != query) return "it ran another query";
  // Only the layout's options are compared: the record length is known once described.
  if (!SameLayout(before.layout, ManifestLayoutOf(job, 0)))
    return "it was written with other options";
  for (const ManifestPiece& piece : before.pieces) {
    bool planned = false;
    for (uint32_t idx = 0; idx < plan.ranges.count; ++idx) {
      const RowidRange& range = plan.ranges.ranges[idx];
      if (static_cast<int32_t>(range.seq) != piece.number) continue;
      planned = piece.min_rowid == range.min_rowid && piece.max_rowid == range.max_rowid;
    }
    if (!planned) return "its piece " + std::to_string(piece.number) + " is not this plan's";
  }
  return "";
}

const ManifestPiece* FindPiece(const Manifest& manifest, int32_t number) {
  for (const ManifestPiece& piece : manifest.pieces) {
    if (piece.number == number) return &piece;
  }
  return nullptr;
}

std::vector<ManifestFile> PieceFiles(const Manifest& manifest, int32_t number) {
  std::vector<ManifestFile> files;
  for (const ManifestFile& file : manifest.files) {
    if (file.piece == number && file.kind != kControlFile) files.push_back(file);
  }
  return files;
}

}  // namespace

int LoadResume(const UnloadHandle* job, const SplitPlan& plan, const std::string& query,
               DbSession* session, ResumeState* resume) {
  std::string error;
  const int loaded = LoadManifest(job->manifest, &resume->before, &error);
  if (loaded == kNoManifest) {
    SessionMessageFormat(session, messages::kResumeNothing, job->manifest);
    return 0;
  }
  if (loaded != kManifestLoaded) {
    SessionMessageFormat(session, messages::kResumeRefused, job->manifest, error.c_str());
    return kRunRefused;
  }
  const std::string mismatch = Mismatch(job, plan, query, resume->before);
  if (!mismatch.empty()) {
    SessionMessageFormat(session, messages::kResumeRefused, job->manifest, mismatch.c_str());
    return kRunRefused;
  }
  resume->found = true;
  return 0;
}

void DecideResume(const RowidRangeList& ranges, DbSession* session, ResumeState* resume,
                  ManifestKeeper* keeper) {
  if (!resume->found) return;
  const Manifest& before = resume->before;
  bool selected[kMaxRowidRanges + 1] = {};
  for (uint32_t idx = 0; idx < ranges.count; ++idx) {
    const int32_t number = static_cast<int32_t>(ranges.ranges[idx].seq);
    selected[number] = true;
    const ManifestPiece* piece = FindPiece(before, number);
    if (piece == nullptr || !piece->complete) continue;
    const std::vector<ManifestFile> files = PieceFiles(before, number);
    std::string why;
    for (const ManifestFile& file : files) {
      if (file.kind == kCommandOutput || file.kind == kStandardOutput) {
        why = file.name + ": an output that cannot be read again";
      } else if (const std::string mismatch = FileMismatch(file); !mismatch.empty()) {
        why = file.name + ": " + mismatch;
      }
      if (!why.empty()) break;
    }
    if (!why.empty()) {
      SessionMessageFormat(session, messages::kResumeRerun, number, why.c_str());
      continue;
    }
    resume->skip[number] = true;
    keeper->CarryPiece(*piece, files);
    SessionMessageFormat(session, messages::kResumeSkipped, number,
                         static_cast<unsigned long long>(files.size()));
  }
  for (const ManifestPiece& piece : before.pieces) {
    if (piece.number < 1 || piece.number > kMaxRowidRanges || selected[piece.number]) continue;
    keeper->CarryPiece(
        piece, piece.complete ? PieceFiles(before, piece.number) : std::vector<ManifestFile>{});
  }
}

bool RemoveCutFiles(const RowidRangeList& ranges, const ResumeState& resume, DbSession* session) {
  if (!resume.found) return true;
  for (uint32_t idx = 0; idx < ranges.count; ++idx) {
    const auto number = static_cast<int32_t>(ranges.ranges[idx].seq);
    if (resume.skip[number]) continue;
    for (const ManifestFile& file : resume.before.files) {
      if (file.piece != number || file.kind != kDataFile || file.appended) continue;
      if (RemoveRegularFile(file.name.c_str()) != 0 && PathExists(file.name.c_str())) {
        SessionMessageFormat(session, messages::kCannotRemoveCutFile, file.name.c_str());
        return false;
      }
    }
  }
  return true;
}

int32_t AttemptsBefore(const ResumeState& resume, int32_t piece) {
  const ManifestPiece* entry = resume.found ? FindPiece(resume.before, piece) : nullptr;
  return entry != nullptr ? entry->attempts : 0;
}

std::vector<std::string> CarriedDataFiles(const ResumeState& resume, int32_t piece) {
  std::vector<std::string> names;
  for (const ManifestFile& file : resume.before.files) {
    if (file.piece == piece && file.kind == kDataFile) names.push_back(file.name);
  }
  return names;
}

}  // namespace rowflume
