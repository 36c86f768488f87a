// What the embedded engine reads from statement text: the one place where it is inspected (and,
// where needed, rewritten) before SQLite sees it, and the session settings of ALTER SESSION.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ora_errors.h"
#include "oci/oci_api.h"
// ROWID texts, which rewritten statements compare; users of statement plans work with them too.
#include "engine/rowid.h"

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
  kFlashback,     // DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER or DISABLE in a block
};

// One NAME=VALUE pair of ALTER SESSION SET that the engine keeps.
struct SessionSetting {
  enum Which : uint8_t {
    kDateFormat,
    kTimestampFormat,
    kTimestampTzFormat,
    kNumericCharacters,
    kTimeZone,
  };
  Which which;
  std::string value;  // the format model, numeric characters or zone, quotes removed
};

struct StatementPlan {
  StatementKind kind = StatementKind::kSql;
  ub2 stmt_type = kStmtUnknown;
  std::string sql;            // text to prepare (kSql)
  bool uses_sysdate = false;  // refresh the clock of DUAL before running
  // The error execute raises instead of running the statement (a refused ALTER SESSION, a
  // partition named); null when there is none.
  const OraError* refusal = nullptr;
  std::vector<SessionSetting> settings;  // ALTER SESSION settings to apply at execute
  // The SCN of a DBMS_FLASHBACK block (kFlashback): the one ENABLE_AT_SYSTEM_CHANGE_NUMBER names
  // (0 for one that is no valid number), or -1 for DISABLE.
  int64_t flashback_scn = -1;
  // The SCNs of the query's AS OF SCN clauses, removed from sql: each must be the database's
  // current SCN when the query runs. 0 stands for a number that is no valid SCN.
  std::vector<int64_t> as_of_scns;
  // The query names V$DATABASE or DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER, which report the SCN
  // the statement reads at.
  bool reads_scn = false;
  // Names of the statement's placeholders (":name"), without the colon, as written; a bind to
  // any other name is refused at once.
  std::vector<std::string> placeholders;
  // Where the main select list has the ROWID pseudo-column, which describe reports as a ROWID:
  // 0-based column positions where no "*" comes before it, and positions from the end (1 is the
  // last column) where none follows. An item between two "*" is in neither list.
  std::vector<int> rowid_from_front;
  std::vector<int> rowid_from_back;
};

// Whether the statement has a placeholder of that name (without the colon), letter case ignored.
bool HasPlaceholder(const StatementPlan& plan, std::string_view name);

// Classifies statement text and prepares what execute needs. Never fails: errors that Oracle
// would raise at execute are kept in the plan.
void InspectStatement(const char* text, size_t len, StatementPlan* plan);

// The text to run for a session: names qualified with the session user's own schema
// ("SCOTT.EMP" for user SCOTT) lose the qualifier, since that schema is the main database; other
// owners' qualifiers stay, naming the schema files attached under their names.
std::string SqlForSession(const StatementPlan& plan, const std::string& user);

}  // namespace rowflume::engine
