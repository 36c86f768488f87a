// The fixed texts of the INSERT statement formats: the statement head with the table and column
// names, the MySQL duplicate-key tail, and the `unique` key list with its tokenizer. Where the
// texts go between the rows belongs to the unload loop.
#pragma once

#include <cstdint>

#include "db/columns.h"

namespace rowflume {

// Longest column name a ColumnDesc holds: its 32-byte field less the terminator.
constexpr int kMaxInsertName = 31;
// Longest quoted name: every byte doubled (a name of backquotes) and the two quotes.
constexpr int kMaxQuotedName = 2 * kMaxInsertName + 2;
// Areas for the two texts, sized for the longest possible lists: 1023 columns of the longest
// quoted names with the longest `hint` and `table` texts of the job record (a table of one-byte
// parts between dots grows threefold when each is quoted). Each builder also takes its capacity
// and never writes past it.
constexpr int kInsertHeadBytes =
    32 + 255 + 3 * 131 + 2 + kMaxColumns * (kMaxQuotedName + 1) + 16;  // 67,193
constexpr int kDuplicateTailBytes =
    32 + kMaxColumns * (2 + 5 + 2 * kMaxQuotedName + 11);  // 149,390

// Writes "INSERT <hint> INTO <table> (<names>) VALUES \n" into dest, names separated by ",".
// For MySQL the table's parts (between dots) and every name stand between backquotes, a
// backquote inside doubled. For Oracle a name stands bare only where Oracle reads it as written
// (OracleNameIsPlain); any other is double-quoted. The table is the user's text: a part Oracle
// takes bare in any letter case stays as typed, a reserved word is quoted in upper case (the
// only table such a bare name could mean), and any other part is quoted as typed. A table that
// holds the format's own quote character is taken as quoted by the user and written unchanged.
// Returns the text's length; dest is NUL-terminated. A text that does not fit (impossible with
// the sizes above) is cut at the capacity.
int BuildInsertHead(const ColumnDesc* head, char* dest, int capacity, const char* table, int format,
                    const char* hint);

// Whether Oracle reads the described name bare as this very name: an upper-case letter, then
// upper-case letters, digits, "_", "$" and "#", and no reserved word.
bool OracleNameIsPlain(const char* name, int length);

// The first column whose name no Oracle statement can carry (empty, or holding a double quote
// or a NUL byte, which a quoted Oracle name cannot hold); none when every name can be written.
const ColumnDesc* UnwritableOracleName(const ColumnDesc* head);

// Writes "\nON DUPLICATE KEY UPDATE " and, for every column not named in the `unique` list
// (FlagUniqueColumns; unique_bytes its field's size), counting them from 0 as i: ", " when
// i > 0, "\n    " when i is a multiple of 3, then "`name`=VALUES(`name`)", each name quoted
// as in the head. Returns the length;
// the same capacity rule as above.
int BuildDuplicateUpdate(const ColumnDesc* head, const char* unique, int unique_bytes, char* dest,
                         int capacity);

// Splits a comma-separated list. Each call starts one byte after the end of the previous token
// (at 0 on the first call) and ends at the next comma or at the end of the text; it returns
// the new token's length (0 for an empty token or when the text is used up) and leaves the
// token in text[start, end).
struct TokenCursor {
  const char* text;
  int length;  // bytes of text
  int start;   // first byte of the last token
  int end;     // one past its last byte; -1 before the first call
};

void StartTokens(TokenCursor* cursor, const char* text, int length);
int NextToken(TokenCursor* cursor);

// Flags every column named in the comma-separated `unique` list (unique_bytes its field's size),
// the names compared without regard to letter case; the first empty entry ends the list.
// Entries are taken exactly: a blank after a comma belongs to the next name. flags has
// kMaxColumns entries, one per select-list position from 0: 1 for a named column, else 0. The
// flags belong to the INSERT writer, not to the described columns.
void FlagUniqueColumns(const ColumnDesc* head, const char* unique, int unique_bytes,
                       uint8_t* flags);

}  // namespace rowflume
