// The Oracle forms of statement text that SQLite lacks, rewritten into forms it runs: ROWID
// comparisons, the ROWID pseudo-column (and where the select list has it),
// DBMS_ROWID.ROWID_CREATE, and partition clauses refused.
#pragma once

#include "engine/sql_text.h"

namespace rowflume::engine {

// Rewrites plan->sql (of a query, UPDATE or DELETE) in place: DBMS_ROWID.ROWID_CREATE; the ROWID
// pseudo-column compared with a bind or a literal becomes a rowid comparison whose bound is
// decoded once per execution, so that a range of ROWIDs is read as a rowid range; ROWID in ORDER
// BY orders by rowid; any other ROWID is the ROWID text. Both name the owner and table the ROWID
// belongs to, whose data object number they need. The main select list's ROWID items are noted
// in the plan for describe. A partition clause names a partition SQLite cannot have: the plan
// refuses the statement. Text the scanner cannot read stays as it is, for SQLite to report.
void RewriteOracleForms(StatementPlan* plan);

}  // namespace rowflume::engine
