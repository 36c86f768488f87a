#include "run/split_names.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/statement.h"

namespace rowflume {
namespace {

constexpr size_t kMaxNameChars = 128;  // longest Oracle identifier

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

}  // namespace

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

}  // namespace rowflume
