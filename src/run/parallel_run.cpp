#include "run/parallel_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/statement.h"
#include "output/control_file.h"
#include "output/lob_files.h"
#include "output/name_pattern.h"
#include "parallel/rowid_split.h"
#include "parallel/split_plan.h"
#include "platform/platform.h"
#include "run/job_checks.h"
#include "run/job_run.h"
#include "run/manifest_keeper.h"
#include "run/point_in_time.h"
#include "run/resume.h"
#include "run/split_names.h"
#include "run/split_plans.h"

namespace rowflume {
namespace {

constexpr int kPieceBinds = 2;  // MINRID and MAXRID, added to every piece's binds
// The bounds of a range that holds nothing: no ROWID is at least this and below it.
constexpr char kEmptyRangeRowid[] = "AAAAAAAAAAAAAAAAAA";

bool IsFaithfulExitStatus(long long status) {
  return (status >= 1 && status <= 255) || (status >= -255 && status <= -1);
}

// Everything a piece's copy is made from, prepared once before any piece starts.
struct PieceTemplate {
  const UnloadHandle* job;
  char query[sizeof(UnloadHandle::query)];  // the pieces' query
  char file[sizeof(UnloadHandle::file)];    // output pattern with a piece field
  char log[sizeof(UnloadHandle::log)];      // log pattern with a piece field
  bool ranged;                              // pieces read ROWID ranges through MINRID and MAXRID
  char as_of[48];                           // the flashback clause after the table, or ""
  ManifestKeeper* manifest;                 // the run's manifest (inactive without one)
  const ResumeState* resume;                // what a resumed run skips; null for none
};

void AddBind(UnloadHandle* copy, const char* name, const char* rowid) {
  copy->binds[copy->bind_count++] = MakeBindEntry(name, rowid);
}

// A new heap copy of the job for one piece; none when memory is short.
UnloadHandle* MakePieceCopy(const PieceTemplate& base, const RowidRange* range, int piece) {
  auto* copy = new (std::nothrow) UnloadHandle;
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, base.job, sizeof *copy);
  copy->run_status = 0;
  copy->manifest[0] = '\0';  // the pieces' files go into the run's one manifest
  copy->resume = 0;          // ... which the parallel run resumes
  std::memcpy(copy->query, base.query, sizeof copy->query);
  std::memcpy(copy->file, base.file, sizeof copy->file);
  std::memcpy(copy->log, base.log, sizeof copy->log);
  if (copy->table[0] == '\0') std::memcpy(copy->table, copy->split, sizeof copy->split);
  if (base.ranged) {
    AddBind(copy, "MINRID", range->min_rowid);
    AddBind(copy, "MAXRID", range->max_rowid);
  }
  copy->piece = piece;
  return copy;
}

void ReportNotStarted(DbSession* session, int piece) {
  SessionMessageFormat(session, messages::kPieceNotStarted, piece);
}

// Whether the first file of a piece run elsewhere can be named from the pattern: not when it
// holds the time, or when a piece may write several files.
bool PredictableFirstFile(const UnloadHandle* job, const char* pattern) {
  return pattern[0] != '-' && !HasPatternField(pattern, 't') && !SplitsOutput(job);
}

// The control file of a parallel unload, once its pieces have all succeeded: the files of every
// piece in piece order, those of the planned pieces run elsewhere (elsewhere, null for none)
// named by the pattern where it can tell.
void WritePiecesControlFile(const PieceTemplate& base, const std::vector<PieceWork>& works,
                            const RowidRangeList* elsewhere, DbSession* session) {
  const PieceWork* first = nullptr;
  for (const PieceWork& work : works) {
    if (work.outputs.control_wanted) first = &work;
  }
  if (first == nullptr) return;
  std::vector<std::pair<uint32_t, std::vector<std::string>>> pieces;
  for (const PieceWork& work : works) {
    pieces.emplace_back(static_cast<uint32_t>(work.copy->piece),
                        LoadedFiles(work.copy, work.outputs.unload.files));
  }
  bool unnamed = false;
  for (uint32_t idx = 0; elsewhere != nullptr && idx < elsewhere->count; ++idx) {
    if (!PredictableFirstFile(base.job, base.file)) {
      unnamed = true;
      break;
    }
    UnloadHandle named = *first->copy;
    named.piece = static_cast<int32_t>(elsewhere->ranges[idx].seq);
    pieces.emplace_back(elsewhere->ranges[idx].seq, LoadedFiles(&named, {}));
  }
  std::sort(pieces.begin(), pieces.end());
  std::vector<std::string> files;
  for (const auto& piece : pieces)
    files.insert(files.end(), piece.second.begin(), piece.second.end());
  if (unnamed) SessionMessage(session, messages::kControlNamesPiecesHere);
  ManifestFile control;
  if (WriteControlFile(first->outputs.control, first->copy, files, &control)) {
    base.manifest->AddControlFile(control);
  }
}

// The files no piece's data file may be: any piece's log, here or in another process of the
// plan, and the run's manifest with its checksums.
std::vector<std::string> PieceReservedFiles(const PieceTemplate& base, const RowidRangeList* ranges,
                                            int count, const RowidRangeList* elsewhere) {
  std::vector<std::string> reserved;
  if (base.job->manifest[0] != '\0') {
    reserved.emplace_back(base.job->manifest);
    reserved.emplace_back(std::string(base.job->manifest) + ".sha256");
  }
  if (base.log[0] == '\0') return reserved;
  auto add_log = [&](uint32_t piece) {
    char name[kExpandedNameBytes];
    if (ExpandOutputName(base.log, name, 0, static_cast<int>(piece))) {
      reserved.emplace_back(WrittenFile(name));
    }
  };
  for (int idx = 0; idx < count; ++idx) {
    add_log(ranges != nullptr ? ranges->ranges[idx].seq : static_cast<uint32_t>(idx + 1));
  }
  for (uint32_t idx = 0; elsewhere != nullptr && idx < elsewhere->count; ++idx) {
    add_log(elsewhere->ranges[idx].seq);
  }
  return reserved;
}

// A piece a resumed run skips: it counts as succeeded with the files the manifest lists. When it
// is the piece the control file comes with, its query is described again (no row fetched) for
// the control file's columns. Returns the piece's status.
int SkipResumedPiece(const PieceTemplate& base, PieceWork* work) {
  int status = kRunOk;
  if (work->copy->piece == 1 && work->copy->table[0] != '\0' && work->copy->format == kTextFormat) {
    const int32_t data = work->copy->data;
    work->copy->data = 0;
    status = RunJob(work->copy, &work->outputs);
    work->copy->data = data;
  }
  work->outputs.unload.files = CarriedDataFiles(*base.resume, work->copy->piece);
  return status;
}

// Runs the pieces, one thread each, then re-runs failed ones one at a time; frees every copy.
// elsewhere lists the planned pieces that other processes run (null for none).
int RunPieces(const PieceTemplate& base, const RowidRangeList* ranges, int count,
              const RowidRangeList* elsewhere, DbSession* session) {
  std::vector<PieceWork> works(static_cast<size_t>(count));
  ThreadHandle* threads[kMaxRowidRanges] = {};
  int statuses[kMaxRowidRanges] = {};
  auto piece_number = [&](int idx) {
    return ranges != nullptr ? static_cast<int>(ranges->ranges[idx].seq) : idx + 1;
  };
  auto range_of = [&](int idx) { return ranges != nullptr ? &ranges->ranges[idx] : nullptr; };
  const std::vector<std::string> reserved = PieceReservedFiles(base, ranges, count, elsewhere);
  for (PieceWork& work : works) {
    work.outputs.reserved = reserved;
    work.outputs.unload.digest = base.manifest->active();
    work.manifest = base.manifest;
  }
  // Starts piece idx on a thread of its own, its copy made first when it has none.
  auto start = [&](int idx) -> ThreadHandle* {
    PieceWork& work = works[static_cast<size_t>(idx)];
    if (work.copy == nullptr) work.copy = MakePieceCopy(base, range_of(idx), piece_number(idx));
    work.outputs.control_by_caller = true;
    return work.copy != nullptr ? StartThread(WorkerMain, &work) : nullptr;
  };

  for (int idx = 0; idx < count; ++idx) {
    if (base.resume != nullptr && base.resume->skip[piece_number(idx)]) {
      PieceWork& work = works[static_cast<size_t>(idx)];
      work.copy = MakePieceCopy(base, range_of(idx), piece_number(idx));
      work.outputs.control_by_caller = true;
      statuses[idx] = work.copy != nullptr ? SkipResumedPiece(base, &work) : kParallelFailed;
      continue;
    }
    threads[idx] = start(idx);
    if (threads[idx] == nullptr) {
      statuses[idx] = kParallelFailed;
      ReportNotStarted(session, piece_number(idx));
    }
  }
  // Every thread has ended before any copy's result is read.
  for (int idx = 0; idx < count; ++idx) JoinThread(threads[idx]);
  for (int idx = 0; idx < count; ++idx) {
    if (threads[idx] != nullptr) statuses[idx] = works[static_cast<size_t>(idx)].copy->run_status;
  }

  bool any_succeeded = false;
  for (int idx = 0; idx < count; ++idx) any_succeeded = any_succeeded || statuses[idx] == 0;
  // A failed piece has appended some of its rows already: run again, it would append them twice.
  if (base.file[0] == '+') {
    for (int idx = 0; idx < count; ++idx) {
      if (statuses[idx] != 0) {
        SessionMessageFormat(session, messages::kNoRerunOfAppend, piece_number(idx), base.file + 1);
      }
    }
    any_succeeded = false;
  }
  uint32_t reruns = 0;
  // When every piece failed, the cause is common to all of them: nothing is re-run.
  while (any_succeeded && reruns < base.job->retry) {
    bool any_failed = false;
    for (int idx = 0; idx < count; ++idx) {
      if (statuses[idx] == 0) continue;
      any_failed = true;
      if (base.job->sleep != 0) PauseTenths(base.job->sleep);
      ThreadHandle* thread = start(idx);
      if (thread != nullptr) {
        JoinThread(thread);
        statuses[idx] = works[static_cast<size_t>(idx)].copy->run_status;
      } else {
        statuses[idx] = kParallelFailed;
        ReportNotStarted(session, piece_number(idx));
      }
      ++reruns;
    }
    if (!any_failed) break;
  }

  const int status = CombinePieceStatuses(statuses, count);
  if (status == 0) WritePiecesControlFile(base, works, elsewhere, session);
  for (PieceWork& work : works) delete work.copy;
  return status;
}

// A table without ranges read through MINRID and MAXRID: an empty one gets one range that holds
// nothing (0); a missing one, or one with rows but no ranges, is refused with a message.
int EmptyTableRange(const UnloadHandle* job, const char* source, const char* as_of,
                    DbSession* session, RowidRangeList* empty) {
  char probe[sizeof(UnloadHandle::query)];
  std::snprintf(probe, sizeof probe, "SELECT 1 FROM %s%s", source, as_of);
  char value[8];
  int status = QueryFirstValue(session, probe, value, sizeof value);
  if (status == OCI_SUCCESS) {
    SessionMessageFormat(session, messages::kNoRowidRange, job->split);
    return kParallelFailed;
  }
  if (status != OCI_NO_DATA) {
    SessionMessageFormat(session, messages::kSplitTableMissing, source);
    return kParallelFailed;
  }
  *empty = {};
  empty->count = 1;
  empty->ranges[0].seq = 1;
  std::snprintf(empty->ranges[0].min_rowid, kRowidTextBytes, "%s", kEmptyRangeRowid);
  std::snprintf(empty->ranges[0].max_rowid, kRowidTextBytes, "%s", kEmptyRangeRowid);
  return 0;
}

// Nothing to cut: an empty or missing table, or one without ROWIDs. Never reports success without
// reading the table. The default query reads it whole in one piece (a missing table gives its
// error). A query of the user's reads through MINRID and MAXRID: an empty table gets one piece
// over an empty range, so that it succeeds with its empty file; a missing table, or one with
// rows but no ranges, is refused.
int RunWithoutRanges(PieceTemplate* base, const char* source, const SegmentSet& segments,
                     DbSession* session) {
  const UnloadHandle* job = base->job;
  if (job->query[0] == '\0') {
    std::snprintf(base->query, sizeof base->query, "SELECT * FROM %s%s", source, base->as_of);
    base->ranged = false;
    return RunPieces(*base, nullptr, 1, nullptr, session);
  }
  RowidRangeList empty = {};
  if (EmptyTableRange(job, source, base->as_of, session, &empty) != 0) return kParallelFailed;
  CoverSegments(segments, &empty);
  base->ranged = true;
  return RunPieces(*base, &empty, 1, nullptr, session);
}

// Writes the plan of the split (a plan run): the table's names, SCN, segments and ranges.
int WritePlanOf(const UnloadHandle* job, const SplitNames& names, const SegmentSet& segments,
                const RowidRangeList& ranges, const char* as_of, DbSession* session) {
  auto plan = std::make_unique<SplitPlan>();
  std::memset(plan.get(), 0, sizeof *plan);
  std::memcpy(plan->owner, names.owner, sizeof plan->owner);
  std::memcpy(plan->table, names.table, sizeof plan->table);
  std::memcpy(plan->partition, names.partition, sizeof plan->partition);
  std::snprintf(plan->scn, sizeof plan->scn, "%s", job->scn);
  plan->degree = static_cast<uint32_t>(job->degree);
  plan->segments = segments;
  plan->ranges = ranges;
  // Pieces read through MINRID and MAXRID, so a table without ranges gets one range: over its
  // whole segment, which rows stored later fill.
  if (ranges.count == 0) {
    if (EmptyTableRange(job, names.source, as_of, session, &plan->ranges) != 0) {
      return kParallelFailed;
    }
    CoverSegments(segments, &plan->ranges);
  }
  return WritePlan(job, *plan, session);
}

// The LOB set every piece writes into, claimed for the whole unload; a resumed unload takes up
// the set it had, and the pieces it runs again lose the LOB files their cut attempts left.
int PrepareLobSet(UnloadHandle* job, const ResumeState& resume, const RowidRangeList& ranges,
                  DbSession* session) {
  job->lob_set = kNoLobSet;
  if (job->lob == 0 || job->data == 0) return 0;
  const int32_t before = resume.found ? resume.before.lob_set : kNoLobSet;
  if (before == kNoLobSet) {
    int set = kNoLobSet;
    if (ClaimLobSet(session, job->lobdir, &set) != 0) return kRunWriteFailed;
    job->lob_set = set;
    return 0;
  }
  if (ReclaimLobSet(session, before) != 0) return kRunWriteFailed;
  job->lob_set = before;
  for (uint32_t idx = 0; idx < ranges.count; ++idx) {
    const auto piece = static_cast<int>(ranges.ranges[idx].seq);
    if (!resume.skip[piece] && !RemovePieceLobFiles(before, job->lobdir, piece)) {
      SessionMessage(session, messages::kLobFilesLeft);
      return kRunWriteFailed;
    }
  }
  return 0;
}

// Unloads the pieces of the ranges (a resumed run skipping those done), keeping the manifest.
int UnloadPieces(UnloadHandle* job, PieceTemplate* base, const SplitNames& names,
                 const SegmentSet& segments, const RowidRangeList& ranges,
                 const RowidRangeList* elsewhere, const SplitPlan& plan, DbSession* session,
                 ManifestKeeper* manifest) {
  std::memcpy(base->query, job->query, sizeof base->query);
  if (job->query[0] == '\0' && ranges.count > 0) {
    std::snprintf(base->query, sizeof base->query,
                  "SELECT * FROM %s%s WHERE ROWID >= :minrid AND ROWID < :maxrid", names.table_ref,
                  base->as_of);
  }
  auto resume = std::make_unique<ResumeState>();
  if (job->resume != 0 && LoadResume(job, plan, base->query, session, resume.get()) != 0) {
    return kRunRefused;
  }
  manifest->SetRead(job, base->query, 0);
  DecideResume(ranges, session, resume.get(), manifest);
  for (uint32_t idx = 0; idx < ranges.count; ++idx) {
    const RowidRange& range = ranges.ranges[idx];
    if (!resume->skip[range.seq]) {
      const auto number = static_cast<int32_t>(range.seq);
      manifest->AddPiece(number, range.min_rowid, range.max_rowid, AttemptsBefore(*resume, number));
    }
  }
  if (ranges.count == 0) manifest->AddPiece(1, "", "");
  if (!RemoveCutFiles(ranges, *resume, session)) return kRunWriteFailed;
  if (const int lobs = PrepareLobSet(job, *resume, ranges, session); lobs != 0) return lobs;
  manifest->SetLobSet(job->lob_set, job->lobdir);
  base->manifest = manifest;
  base->resume = resume.get();
  int status = kRunWriteFailed;
  if (manifest->Start(session)) {
    if (ranges.count == 0) {
      status = RunWithoutRanges(base, names.source, segments, session);
    } else {
      base->ranged = true;
      status = RunPieces(*base, &ranges, static_cast<int>(ranges.count), elsewhere, session);
    }
    manifest->SetRead(job, base->query, 0);  // a table read whole in one piece has its query now
  }
  if (job->lob_set != kNoLobSet) ReleaseLobSet(job->lob_set, job->lobdir);
  job->lob_set = kNoLobSet;
  return status;
}

// The parallel run up to its pieces: the plan read (a pieces run) or the table's names, the SCN,
// the segments and the ranges; then the plan written (a plan run) or the pieces unloaded.
int SplitAndRun(UnloadHandle* job, DbSession* session, ManifestKeeper* manifest) {
  // A pieces run reads everything it cuts by from the plan; a plan run cuts and writes it.
  const bool pieces_run = job->pieces[0] != '\0';
  const bool plan_run = !pieces_run && job->plan[0] != '\0';
  auto plan = std::make_unique<SplitPlan>();
  if (pieces_run) {
    if (ReadPlan(job, session, plan.get()) != 0) return kRunRefused;
    if (TakeFromPlan(job, *plan, session) != 0) return kRunRefused;
  }
  SplitNames names;
  const int refused = ResolveSplitNames(job, session, pieces_run ? plan.get() : nullptr, &names);
  if (refused != 0) return refused;

  // One point in time for every piece: taken here, before the first one starts.
  if (IsCurrentScn(job->scn) && ResolveCurrentScn(session, job->scn, sizeof job->scn) != 0) {
    return kRunQueryFailed;
  }
  PieceTemplate base{};
  base.job = job;
  if (job->scn[0] != '\0') FormatFlashbackClause(base.as_of, sizeof base.as_of, job->scn);
  std::memcpy(base.file, job->file, sizeof base.file);
  std::memcpy(base.log, job->log, sizeof base.log);
  if (!PiecePattern(base.file, sizeof base.file) || !PiecePattern(base.log, sizeof base.log)) {
    SessionMessageFormat(session, messages::kNoRoomForPiece);
    return kParallelFailed;
  }
  if (job->bind_count < 0 || job->bind_count > kMaxBinds - kPieceBinds) {
    SessionMessageFormat(session, messages::kTooManyParallelBinds, kMaxBinds - kPieceBinds);
    return kParallelFailed;
  }

  // The segments the table has now: a plan is refused for a table whose segments changed since,
  // and ranges are widened to hold every ROWID the segments can have.
  SegmentSet segments;
  if (int status = QuerySegments(session, names.owner, names.table, names.partition, &segments);
      status != 0) {
    return IsFaithfulExitStatus(status) ? status : kParallelFailed;
  }
  auto ranges = std::make_unique<RowidRangeList>();
  auto elsewhere = std::make_unique<RowidRangeList>();
  if (pieces_run) {
    if (!(segments == plan->segments)) {
      SessionMessageFormat(session, messages::kPlanOtherSegments, job->plan, plan->owner,
                           plan->table, plan->partition[0] != '\0' ? ":" : "", plan->partition);
      return kRunRefused;
    }
    if (SelectPlannedPieces(job, *plan, session, ranges.get(), elsewhere.get()) != 0) {
      return kRunRefused;
    }
  } else {
    int status = SplitRowidRanges(session, names.owner, names.table, names.partition,
                                  static_cast<uint32_t>(job->degree), ranges.get());
    if (status != 0) return IsFaithfulExitStatus(status) ? status : kParallelFailed;
    CoverSegments(segments, ranges.get());
  }
  if (plan_run) return WritePlanOf(job, names, segments, *ranges, base.as_of, session);
  return UnloadPieces(job, &base, names, segments, *ranges, pieces_run ? elsewhere.get() : nullptr,
                      *plan, session, manifest);
}

}  // namespace

void WorkerMain(void* work) {
  auto* piece = static_cast<PieceWork*>(work);
  if (piece->manifest != nullptr) {
    piece->manifest->PieceStarted(piece->copy->piece);
    piece->outputs.unload.file_noted = [piece](const ManifestFile& file) {
      piece->manifest->FileNoted(piece->copy->piece, file);
    };
  }
  RunJob(piece->copy, &piece->outputs);
  if (piece->manifest != nullptr) {
    piece->manifest->PieceEnded(piece->copy->piece, piece->copy->run_status, piece->outputs);
  }
}

int CombinePieceStatuses(const int* statuses, int count) {
  long long sum = 0;
  bool positive = false;
  bool negative = false;
  for (int idx = 0; idx < count; ++idx) {
    sum += statuses[idx];
    positive = positive || statuses[idx] > 0;
    negative = negative || statuses[idx] < 0;
  }
  if (!positive && !negative) return 0;
  if (positive && negative) return kParallelFailed;
  return IsFaithfulExitStatus(sum) ? static_cast<int>(sum) : kParallelFailed;
}

int RunParallel(UnloadHandle* job, DbSession* session) {
  if (CheckParallelJob(job, session) != 0) return kRunRefused;
  // The manifest is only kept where pieces run: a plan run unloads nothing.
  const bool keeps_manifest = job->pieces[0] != '\0' || job->plan[0] == '\0';
  ManifestKeeper manifest(keeps_manifest ? job : nullptr);
  const int status = SplitAndRun(job, session, &manifest);
  // A job refused before it started leaves no manifest: there is no run to describe.
  if (status == kRunRefused && !manifest.started()) return status;
  return manifest.Finish(status, session);
}

}  // namespace rowflume
