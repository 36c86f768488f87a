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
#include "run/point_in_time.h"

namespace rowflume {
namespace {

constexpr int kNameBytes = 132;        // the name fields of the job record
constexpr size_t kMaxNameChars = 128;  // longest Oracle identifier

constexpr int kPieceBinds = 2;            // MINRID and MAXRID, added to every piece's binds
constexpr size_t kPlanFileBytes = 65536;  // far more than a plan of 128 pieces takes
// The bounds of a range that holds nothing: no ROWID is at least this and below it.
constexpr char kEmptyRangeRowid[] = "AAAAAAAAAAAAAAAAAA";

static_assert(sizeof(UnloadHandle::split) == kNameBytes &&
                  sizeof(UnloadHandle::split_owner) == kNameBytes &&
                  sizeof(UnloadHandle::part) == kNameBytes,
              "split names share one capacity");

// Position of the first ch outside double quotes, or -1.
int FindOutsideQuotes(const char* text, char ch) {
  bool quoted = false;
  for (int pos = 0; text[pos] != '\0'; ++pos) {
    if (text[pos] == '"') quoted = !quoted;
    if (!quoted && text[pos] == ch) return pos;
  }
  return -1;
}

// Splits field at its first separator outside double quotes, unless that is its first or last
// character. With other_is_head the part before goes to other and field keeps the part after;
// otherwise field keeps the part before and other receives the part after.
void SplitAt(char* field, char separator, char* other, bool other_is_head) {
  int pos = FindOutsideQuotes(field, separator);
  int length = static_cast<int>(std::strlen(field));
  if (pos <= 0 || pos >= length - 1) return;
  char before[kNameBytes];
  char after[kNameBytes];
  std::snprintf(before, sizeof before, "%.*s", pos, field);
  std::snprintf(after, sizeof after, "%s", field + pos + 1);
  std::snprintf(other, kNameBytes, "%s", other_is_head ? before : after);
  std::snprintf(field, kNameBytes, "%s", other_is_head ? after : before);
}

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
};

void AddBind(UnloadHandle* copy, const char* name, const char* rowid) {
  BindEntry& entry = copy->binds[copy->bind_count++];
  std::memset(&entry, 0, sizeof entry);
  std::snprintf(entry.name, sizeof entry.name, "%s", name);
  entry.name_length = static_cast<int32_t>(std::strlen(entry.name));
  std::snprintf(entry.value, sizeof entry.value, "%s", rowid);
  entry.value_length = static_cast<int32_t>(std::strlen(entry.value));
}

// A new heap copy of the job for one piece; none when memory is short.
UnloadHandle* MakePieceCopy(const PieceTemplate& base, const RowidRange* range, int piece) {
  auto* copy = new (std::nothrow) UnloadHandle;
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, base.job, sizeof *copy);
  copy->run_status = 0;
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
  WriteControlFile(first->outputs.control, first->copy, files);
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
  // No piece's data file may be any piece's log, here or in another process of the plan.
  std::vector<std::string> logs;
  if (base.log[0] != '\0') {
    auto add_log = [&](uint32_t piece) {
      char name[kExpandedNameBytes];
      if (ExpandOutputName(base.log, name, 0, static_cast<int>(piece))) {
        logs.emplace_back(WrittenFile(name));
      }
    };
    for (int idx = 0; idx < count; ++idx) add_log(static_cast<uint32_t>(piece_number(idx)));
    for (uint32_t idx = 0; elsewhere != nullptr && idx < elsewhere->count; ++idx) {
      add_log(elsewhere->ranges[idx].seq);
    }
  }
  for (PieceWork& work : works) work.outputs.reserved = logs;
  // Starts piece idx on a thread of its own, its copy made first when it has none.
  auto start = [&](int idx) -> ThreadHandle* {
    PieceWork& work = works[static_cast<size_t>(idx)];
    if (work.copy == nullptr) work.copy = MakePieceCopy(base, range_of(idx), piece_number(idx));
    work.outputs.control_by_caller = true;
    return work.copy != nullptr ? StartThread(WorkerMain, &work) : nullptr;
  };

  for (int idx = 0; idx < count; ++idx) {
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

// A dictionary name (at most kMaxNameChars) as the split value would give it: as it stands
// when it reads the same unquoted (upper case), otherwise in double quotes.
void QuoteName(const char* name, char* out) {
  size_t length = strnlen(name, kMaxNameChars);
  bool plain = IsAsciiLetter(name[0]);
  for (size_t pos = 0; plain && pos < length; ++pos) {
    plain = IsNameChar(name[pos]) && AsciiUpper(name[pos]) == name[pos];
  }
  if (plain) {
    std::memcpy(out, name, length + 1);
    return;
  }
  out[0] = '"';
  std::memcpy(out + 1, name, length);
  out[length + 1] = '"';
  out[length + 2] = '\0';
}

// Reads the plan file named by `plan` whole: 0, or kRunRefused after a message.
int ReadPlan(const UnloadHandle* job, DbSession* session, SplitPlan* plan) {
  std::FILE* input = std::fopen(job->plan, "rb");
  if (input == nullptr) {
    SessionMessageFormat(session, messages::kPlanUnreadable, job->plan);
    return kRunRefused;
  }
  auto text = std::make_unique<char[]>(kPlanFileBytes);
  size_t length = std::fread(text.get(), 1, kPlanFileBytes, input);
  const bool read_whole = std::ferror(input) == 0 && length < kPlanFileBytes;
  std::fclose(input);
  char error[128] = "too long";
  if (!read_whole || !ParseSplitPlan(text.get(), length, plan, error, sizeof error)) {
    SessionMessageFormat(session, messages::kPlanInvalid, job->plan, error);
    return kRunRefused;
  }
  return 0;
}

// A pieces run takes its table and SCN from the plan: the split value, when the command line
// gives none, names the plan's table in quotes (its exact dictionary names); an scn of the
// command line must be the plan's.
int TakeFromPlan(UnloadHandle* job, const SplitPlan& plan, DbSession* session) {
  if (job->scn[0] != '\0' && std::strcmp(job->scn, plan.scn) != 0) {
    SessionMessageFormat(session, messages::kPlanOtherScn, job->plan,
                         plan.scn[0] != '\0' ? plan.scn : "(none)", job->scn);
    return kRunRefused;
  }
  std::memcpy(job->scn, plan.scn, sizeof job->scn);
  if (job->split[0] == '\0') {
    QuoteName(plan.owner, job->split_owner);
    QuoteName(plan.table, job->split);
    if (plan.partition[0] != '\0') QuoteName(plan.partition, job->part);
  }
  return 0;
}

// The plan's ranges of the pieces the list selects, in the plan's order: 0, or kRunRefused
// after naming a selected piece the plan lacks.
int SelectPlannedPieces(const UnloadHandle* job, const SplitPlan& plan, DbSession* session,
                        RowidRangeList* ranges, RowidRangeList* elsewhere) {
  bool selected[kMaxRowidRanges + 1];
  ParsePieceList(job->pieces, selected);  // checked before the logon
  bool planned[kMaxRowidRanges + 1] = {};
  ranges->count = 0;
  elsewhere->count = 0;
  for (uint32_t idx = 0; idx < plan.ranges.count; ++idx) {
    const RowidRange& range = plan.ranges.ranges[idx];
    planned[range.seq] = true;
    if (selected[range.seq]) {
      ranges->ranges[ranges->count++] = range;
    } else {
      elsewhere->ranges[elsewhere->count++] = range;
    }
  }
  for (int piece = 1; piece <= kMaxRowidRanges; ++piece) {
    if (selected[piece] && !planned[piece]) {
      SessionMessageFormat(session, messages::kPieceNotInPlan, piece, job->plan, plan.ranges.count);
      return kRunRefused;
    }
  }
  return 0;
}

// Writes the plan file: 0, or kRunWriteFailed after a message.
int WritePlan(const UnloadHandle* job, const SplitPlan& plan, DbSession* session) {
  auto text = std::make_unique<char[]>(kPlanFileBytes);
  OutputStream* out = nullptr;
  bool written = FormatSplitPlan(plan, text.get(), kPlanFileBytes) &&
                 (out = OpenFileStream(job->plan, OpenMode::kTruncate)) != nullptr &&
                 WriteAll(out, text.get(), std::strlen(text.get()));
  if (out != nullptr && CloseStream(out) != 0) written = false;
  if (!written) {
    SessionMessageFormat(session, messages::kPlanNotWritten, job->plan);
    return kRunWriteFailed;
  }
  SessionMessageFormat(session, messages::kPlanWritten, plan.ranges.count, plan.owner, plan.table,
                       plan.partition[0] != '\0' ? ":" : "", plan.partition, job->plan);
  return kRunOk;
}

// The split table's names, checked and resolved: the dictionary names (the owner the logged-on
// user when none is given), the names as SQL text, and what the statements read.
struct SplitNames {
  char table[kNameBytes];
  char table_sql[kNameBytes];
  char owner[kNameBytes];
  char owner_sql[kNameBytes];
  char partition[kNameBytes];
  char partition_sql[kNameBytes];
  char table_ref[2 * kNameBytes];  // [owner.]table as SQL text
  char source[4 * kNameBytes];     // table_ref with its PARTITION clause
};

// Checks and resolves the split table's names into *names and stores the resolved ones in the
// job: 0, or kSplitRefused or kRunRefused after the message. plan, when given, is the plan a
// pieces run reads: its table must be the one named.
int ResolveSplitNames(UnloadHandle* job, DbSession* session, const SplitPlan* plan,
                      SplitNames* names) {
  SplitPartitionName(job);
  SplitOwnerName(job);

  // Every name is checked before it goes into a dictionary query or a statement.
  *names = SplitNames{};
  bool valid =
      CheckSplitName(job->split, names->table, names->table_sql) &&
      (job->split_owner[0] == '\0' ||
       CheckSplitName(job->split_owner, names->owner, names->owner_sql)) &&
      (job->part[0] == '\0' || CheckSplitName(job->part, names->partition, names->partition_sql));
  if (!valid) {
    SessionMessageFormat(session, messages::kSplitRefused, job->split_owner,
                         job->split_owner[0] ? "." : "", job->split, job->part[0] ? ":" : "",
                         job->part);
    return kSplitRefused;
  }
  if (names->owner[0] == '\0') {
    QueryCurrentUser(session, names->owner);
    // A name with a quote in it is never pasted into a literal.
    if (std::strchr(names->owner, '\'') != nullptr) names->owner[0] = '\0';
  }
  if (plan != nullptr &&
      (std::strcmp(names->owner, plan->owner) != 0 || std::strcmp(names->table, plan->table) != 0 ||
       std::strcmp(names->partition, plan->partition) != 0)) {
    SessionMessageFormat(session, messages::kPlanOtherTable, job->plan, plan->owner, plan->table,
                         plan->partition[0] != '\0' ? ":" : "", plan->partition);
    return kRunRefused;
  }
  // The statements read the table the ranges are cut from: the named owner's, not the table of
  // that name the logged-on user may have as well.
  std::snprintf(names->table_ref, sizeof names->table_ref, "%s%s%s", names->owner_sql,
                names->owner_sql[0] ? "." : "", names->table_sql);
  if (names->partition[0] != '\0') {
    std::snprintf(names->source, sizeof names->source, "%s PARTITION (%s)", names->table_ref,
                  names->partition_sql);
  } else {
    std::snprintf(names->source, sizeof names->source, "%s", names->table_ref);
  }
  std::memcpy(job->split, names->table_sql, sizeof job->split);
  std::memcpy(job->part, names->partition, sizeof job->part);
  std::memcpy(job->split_owner, names->owner, sizeof job->split_owner);
  return 0;
}

}  // namespace

void WorkerMain(void* work) {
  auto* piece = static_cast<PieceWork*>(work);
  RunJob(piece->copy, &piece->outputs);
}

void SplitPartitionName(UnloadHandle* job) {
  SplitAt(job->split, ':', job->part, false);
}

void SplitOwnerName(UnloadHandle* job) {
  SplitAt(job->split, '.', job->split_owner, true);
}

bool CheckSplitName(const char* text, char* dictionary_name, char* sql_name) {
  size_t length = std::strlen(text);
  if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
    size_t inner = length - 2;
    if (inner == 0 || inner > kMaxNameChars) return false;
    for (size_t pos = 1; pos + 1 < length; ++pos) {
      auto ch = static_cast<unsigned char>(text[pos]);
      if (ch < 0x20 || ch == 0x7f || ch == '"' || ch == '\'') return false;
    }
    std::snprintf(dictionary_name, kNameBytes, "%.*s", static_cast<int>(inner), text + 1);
    std::snprintf(sql_name, kNameBytes, "%s", text);
    return true;
  }
  if (length == 0 || length > kMaxNameChars || !IsAsciiLetter(text[0])) return false;
  for (size_t pos = 0; pos < length; ++pos) {
    if (!IsNameChar(text[pos])) return false;
  }
  for (size_t pos = 0; pos <= length; ++pos) dictionary_name[pos] = AsciiUpper(text[pos]);
  std::memcpy(sql_name, dictionary_name, length + 1);
  return true;
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
  PieceTemplate base;
  base.job = job;
  base.as_of[0] = '\0';
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
  if (plan_run) {
    std::memset(plan.get(), 0, sizeof *plan);
    std::memcpy(plan->owner, names.owner, sizeof plan->owner);
    std::memcpy(plan->table, names.table, sizeof plan->table);
    std::memcpy(plan->partition, names.partition, sizeof plan->partition);
    std::snprintf(plan->scn, sizeof plan->scn, "%s", job->scn);
    plan->degree = static_cast<uint32_t>(job->degree);
    plan->segments = segments;
    plan->ranges = *ranges;
    // Pieces read through MINRID and MAXRID, so a table without ranges gets one range: over its
    // whole segment, which rows stored later fill.
    if (ranges->count == 0) {
      if (EmptyTableRange(job, names.source, base.as_of, session, &plan->ranges) != 0) {
        return kParallelFailed;
      }
      CoverSegments(segments, &plan->ranges);
    }
    return WritePlan(job, *plan, session);
  }

  // Every piece writes its LOB files into one set of LOB folders, claimed for the whole unload.
  int32_t lob_set = kNoLobSet;
  if (job->lob != 0 && job->data != 0) {
    int set = kNoLobSet;
    if (ClaimLobSet(session, job->lobdir, &set) != 0) return kRunWriteFailed;
    lob_set = set;
  }
  job->lob_set = lob_set;
  const bool user_query = job->query[0] != '\0';
  std::memcpy(base.query, job->query, sizeof base.query);
  int status;
  if (ranges->count == 0) {
    status = RunWithoutRanges(&base, names.source, segments, session);
  } else {
    if (!user_query) {
      std::snprintf(base.query, sizeof base.query,
                    "SELECT * FROM %s%s WHERE ROWID >= :minrid AND ROWID < :maxrid",
                    names.table_ref, base.as_of);
    }
    base.ranged = true;
    status = RunPieces(base, ranges.get(), static_cast<int>(ranges->count),
                       pieces_run ? elsewhere.get() : nullptr, session);
  }
  if (lob_set != kNoLobSet) ReleaseLobSet(lob_set, job->lobdir);
  job->lob_set = kNoLobSet;
  return status;
}

}  // namespace rowflume
