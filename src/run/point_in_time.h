// Reading at one point in time (`scn`): the value checked, CURRENT taken from the database once,
// the flashback clause that the program's own query texts put after their table, and the
// session-level flashback around a query of the user's, whose tables the program cannot name.
#pragma once

#include <cstddef>

#include "db/session.h"

namespace rowflume {

// "" (no point in time), CURRENT in any letter case, or 1 to 20 decimal digits.
bool IsValidScn(const char* value);
bool IsCurrentScn(const char* value);

// Replaces CURRENT in scn (scn_bytes long) by the database's current SCN, read with
// "SELECT CURRENT_SCN FROM V$DATABASE" and, where that is refused (it needs access to the view),
// with "SELECT DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER FROM DUAL". 0, or kRunQueryFailed after
// the Oracle texts and a message.
int ResolveCurrentScn(DbSession* session, char* scn, size_t scn_bytes);

// The flashback clause " AS OF SCN n" into out (bytes long, NUL included); false when it does
// not fit.
bool FormatFlashbackClause(char* out, size_t bytes, const char* scn);

// Appends the flashback clause to text (capacity bytes, NUL included). False, text unchanged, when
// it does not fit.
bool AppendFlashbackClause(char* text, size_t capacity, const char* scn);

// The session reads at scn until DisableSessionFlashback: 0, or the failed call's status after
// its Oracle text.
int EnableSessionFlashback(DbSession* session, const char* scn);
void DisableSessionFlashback(DbSession* session);

// True when text is one table name, [OWNER.]NAME with each part plain or double-quoted, so that
// "select * from " text reads that table and the flashback clause may follow it.
bool IsBareTableName(const char* text);

}  // namespace rowflume
