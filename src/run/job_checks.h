// What a run refuses before anything is sent or any output exists: values that were cut or could
// not be read whole, texts too long for their statement, and outputs that would replace or
// interleave one another. Each refusal is one message through the session and kRunRefused.
#pragma once

#include "db/columns.h"
#include "db/session.h"
#include "job/job_record.h"

namespace rowflume {

constexpr int kSettingBytes = 512;  // one session setting statement with its terminator
constexpr char kAlterPrefix[] = "ALTER SESSION ";
// The longest `alter` clause that fits one setting statement after its prefix.
constexpr int kMaxAlterClause = kSettingBytes - 1 - static_cast<int>(sizeof kAlterPrefix - 1);

// Every value was taken whole: none was cut to its option's limit, and the command line left no
// refusal. 0, or kRunRefused after the reason has been reported.
int CheckValuesTaken(const UnloadHandle* job, DbSession* session);

// The checks of one run of the job (CheckValuesTaken first), serial or one parallel piece: 0, or
// kRunRefused after the reason has been reported.
int CheckJob(const UnloadHandle* job, DbSession* session);

// The further checks of a parallel unload into `degree` pieces: 0 or kRunRefused, reported.
int CheckParallelJob(const UnloadHandle* job, DbSession* session);

// Once the query is described: an empty `field` would run the values of a row of several
// columns together. 0, or kRunRefused after the message.
int CheckFieldSeparator(const UnloadHandle* job, int column_count, DbSession* session);
// Once the query is described: Oracle INSERT statements need every column name in a form Oracle
// can read, which a name holding a double quote has not. 0, or kRunRefused after the message.
int CheckInsertNames(const UnloadHandle* job, const ColumnDesc* head, DbSession* session);

// A parallel run: a split into pieces, or the writing or running of a split plan, which are
// parallel runs whatever the degree.
bool IsParallelJob(const UnloadHandle* job);
// An output split into several files, by `batch` or `size`.
bool SplitsOutput(const UnloadHandle* job);

// True when text holds the placeholder ":name" (name in upper case; the text's in any case),
// not followed by a further name character.
bool HasPlaceholder(const char* text, const char* name);

// True when the query text is a statement of the user's own: after leading white space it starts
// with the word WITH or SELECT, letter case ignored, followed by a character that cannot
// continue a name (or by nothing). Any other text is a table name (`withdrawals` included).
bool IsQueryStatement(const char* query);

// The end of the `alter` clause starting at clause: its ";" separator, or its terminating NUL.
// A ";" inside a '...' literal or a "..." name is part of the clause.
const char* AlterClauseEnd(const char* clause);

}  // namespace rowflume
