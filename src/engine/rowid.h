// ROWID texts of the embedded engine: their encoding, the SQLite rowids they stand for, and the
// SQL functions that convert between the two inside statements.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>

namespace rowflume::engine {

// ROWID texts: 18 characters of Oracle's base-64 alphabet, OOOOOOFFFBBBBBBRRR (data object,
// relative file, block, slot). A SQLite rowid n (0 <= n <= kMaxRowidPosition) is slot n % 64 of
// block (n / 64) % 2^22 in file 1 + n / 2^28, so ROWID order is rowid order within a table. The
// data object number is the table's (schemas.h).
constexpr int kRowidTextChars = 18;
constexpr int64_t kRowidRowsPerBlock = 64;
constexpr int kRowidBlockBits = 22;
constexpr int64_t kMaxRowidPosition = (int64_t{1023} << 28) - 1;
constexpr int64_t kMaxRowidBlock = (int64_t{1} << kRowidBlockBits) - 1;

struct RowidParts {
  int64_t object;  // data object number, 0 to 2^32-1
  int64_t file;    // relative file number, 0 to 1023
  int64_t block;   // 0 to 2^22-1
  int64_t slot;    // 0 to 65535
};

// Writes the 18 characters and a NUL; false when a part is out of its range.
bool EncodeRowid(const RowidParts& parts, char* text);
// False unless text is 18 characters of the alphabet with every part in range.
bool DecodeRowid(const char* text, size_t len, RowidParts* parts);
// The ROWID text of rowid n of the table with that data object number; false when n cannot be
// written as a ROWID.
bool RowidText(int64_t object, int64_t rowid, char* text);
// Which rows of a table "ROWID OP text" selects (OP one of = < <= > >=). ROWIDs compare as
// Oracle's do: data object number first, then file, block and slot. So a bound of another data
// object selects all of the table's rows or none, and only a bound of the table's own object
// selects a stretch, the rows whose rowid satisfies "rowid OP bound".
enum class RowidSelection : uint8_t { kNone, kAll, kStretch };
RowidSelection RowidBound(const RowidParts& parts, int64_t object, const char* op, int64_t* bound);

struct Catalog;

// Adds rowflume_rowid_create (DBMS_ROWID.ROWID_CREATE), rowflume_rowid_number and
// rowflume_rowid_text, the functions rewritten statements call, to a connection whose owners
// catalog names.
int RegisterRowidFunctions(sqlite3* db, const Catalog* catalog);

}  // namespace rowflume::engine
