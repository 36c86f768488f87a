#include "run/split_plans.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/ascii.h"
#include "common/messages.h"
#include "platform/platform.h"

namespace rowflume {
namespace {

constexpr size_t kMaxNameChars = 128;     // longest Oracle identifier
constexpr size_t kPlanFileBytes = 65536;  // far more than a plan of 128 pieces takes

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

}  // namespace

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

}  // namespace rowflume
