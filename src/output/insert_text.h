// The fixed texts of the INSERT statement formats: the statement head with the table and column
// names, the MySQL duplicate-key tail, and the `unique` key list with its tokenizer. Where the
// texts go between the rows belongs to the unload loop.
#pragma once

#include <cstdint>

#include "db/columns.h"

namespace rowflume {

// Longest column name a ColumnDesc holds: its 32-byte field less the terminator.
constexpr int kMaxInsertName = 31;
// Areas for the two texts, sized for the longest possible lists: 1023 columns of the longest
// names with the longest `hint` and `table` texts of the job record. Each builder also takes
// its capacity and never writes past it.
constexpr int kInsertHeadBytes =
    32 + 255 + 131 + kMaxColumns * (kMaxInsertName + 3) + 16;                              // 35,216
constexpr int kDuplicateTailBytes = 32 + kMaxColumns * (2 + 5 + 2 * kMaxInsertName + 13);  // 83,918

// Writes "INSERT <hint> INTO <table> (<names>) VALUES \n" into dest: for MySQL the table and
// every name stand between backquotes, names separated by ",". Returns the text's length; dest
// is NUL-terminated. A text that does not fit (impossible with the sizes above) is cut at the
// capacity.
int BuildInsertHead(const ColumnDesc* head, char* dest, int capacity, const char* table, int format,
                    const char* hint);

// Writes "\nON DUPLICATE KEY UPDATE " and, for every column not named in the `unique` list
// (FlagUniqueColumns; unique_bytes its field's size), counting them from 0 as i: ", " when
// i > 0, "\n    " when i is a multiple of 3, then "`name`=VALUES(`name`)". Returns the length;
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
