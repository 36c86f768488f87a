// The split value of a parallel run taken apart and checked: [OWNER.]TABLE[:PARTITION], each
// name checked before it goes into a dictionary query or a statement, resolved to the names the
// dictionary stores and the text the statements read.
#pragma once

#include "db/session.h"
#include "job/job_record.h"
#include "parallel/split_plan.h"

namespace rowflume {

constexpr int kSplitRefused = 1;  // the split value is not [OWNER.]TABLE[:PARTITION]
constexpr int kNameBytes = 132;   // the name fields of the job record

// "TABLE:PART" leaves TABLE in `split` and PART in `part`; "OWNER.TABLE" leaves TABLE in `split`
// and OWNER in `split_owner`. Only the first separator outside double quotes counts, and one in
// the first or last position does not split.
void SplitPartitionName(UnloadHandle* job);
void SplitOwnerName(UnloadHandle* job);

// Checks one name: unquoted, a letter followed by letters, digits, "_", "$" and "#", at most
// 128 characters, stored upper-cased; in double quotes, 1 to 128 characters without quotes or
// control characters, kept as written. dictionary_name receives the name as the dictionary
// stores it, sql_name the name as a statement writes it (both at least 132 bytes). False when
// text is no valid name.
bool CheckSplitName(const char* text, char* dictionary_name, char* sql_name);

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
                      SplitNames* names);

}  // namespace rowflume
