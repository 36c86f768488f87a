// What the embedded engine reads from SQL text: the one place where statement text is inspected
// (and, where needed, rewritten) before SQLite sees it, the session settings of ALTER SESSION,
// and the Oracle description of a declared column type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/oci_api.h"

namespace rowflume::engine {

// Oracle's statement type codes (OCI_ATTR_STMT_TYPE).
constexpr ub2 kStmtUnknown = 0;
constexpr ub2 kStmtSelect = 1;
constexpr ub2 kStmtUpdate = 2;
constexpr ub2 kStmtDelete = 3;
constexpr ub2 kStmtInsert = 4;
constexpr ub2 kStmtCreate = 5;
constexpr ub2 kStmtDrop = 6;
constexpr ub2 kStmtAlter = 7;
constexpr ub2 kStmtBegin = 8;
constexpr ub2 kStmtDeclare = 9;

enum class StatementKind : uint8_t {
  kSql,           // handed to SQLite
  kAlterSession,  // handled by the engine itself
};

// One NAME=VALUE pair of ALTER SESSION SET that the engine keeps.
struct SessionSetting {
  enum Which : uint8_t { kDateFormat, kTimestampFormat, kTimestampTzFormat };
  Which which;
  std::string value;  // the format model, quotes removed
};

struct StatementPlan {
  StatementKind kind = StatementKind::kSql;
  ub2 stmt_type = kStmtUnknown;
  std::string sql;            // text to prepare (kSql)
  bool uses_sysdate = false;  // refresh the clock of DUAL before running
  int error_code = 0;         // ALTER SESSION refused: the Oracle error raised at execute
  std::string error_text;     // its message, without the "ORA-nnnnn: " prefix
  std::vector<SessionSetting> settings;  // ALTER SESSION settings to apply at execute
};

// Classifies statement text and prepares what execute needs. Never fails: errors that Oracle
// would raise at execute are kept in the plan.
void InspectStatement(const char* text, size_t len, StatementPlan* plan);

// The text to run for a session: names qualified with the session user's own schema
// ("SCOTT.EMP" for user SCOTT) lose the qualifier, since that schema is the database itself.
std::string SqlForSession(const StatementPlan& plan, const std::string& user);

// How the engine converts a column's values: the family of its Oracle type.
enum class Family : uint8_t {
  kNumber,
  kDate,
  kTimestamp,
  kTimestampTz,
  kTimestampLtz,
  kText,
  kBinary,
};

// What describe reports for one select-list column.
struct ColumnType {
  ub2 data_type;     // OCI_ATTR_DATA_TYPE
  ub2 data_size;     // OCI_ATTR_DATA_SIZE, bytes
  sb2 precision;     // OCI_ATTR_PRECISION
  sb1 scale;         // OCI_ATTR_SCALE
  ub1 charset_form;  // 1 database character set, 2 national, 0 none
  Family family;
  uint8_t fraction_digits;  // what FF prints for this column
  ub2 char_length;          // CHAR and NCHAR: the length in characters values are padded to
};

// The description of a declared type written with Oracle's or SQLite's type names; false when
// there is no declared type (null or empty), so that the value decides.
bool TypeFromDeclared(const char* declared, ColumnType* out);
// The description of an expression by the storage class of its first value (SQLITE_INTEGER...,
// 0 when there is no row).
ColumnType TypeFromStorage(int storage_class);

// ROWID texts: 18 characters of Oracle's base-64 alphabet, OOOOOOFFFBBBBBBRRR (data object,
// relative file, block, slot). A SQLite rowid n (0 <= n <= kMaxRowidPosition) is slot n % 64 of
// block (n / 64) % 2^22 in file 1 + n / 2^28, so ROWID order is rowid order within a table.
constexpr int kRowidTextChars = 18;
constexpr int64_t kRowidRowsPerBlock = 64;
constexpr int kRowidBlockBits = 22;
constexpr int64_t kMaxRowidPosition = (int64_t{1023} << 28) - 1;

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
// The integer bound b for which "rowid OP b" holds for exactly the rows whose ROWID text
// satisfies "ROWID OP text" (OP one of = < <= > >=); the object number is not compared. False
// for "=" with a slot no row can have.
bool RowidBound(const RowidParts& parts, const char* op, int64_t* bound);

}  // namespace rowflume::engine
