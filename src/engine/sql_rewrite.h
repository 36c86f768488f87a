// The Oracle forms of statement text that SQLite lacks, rewritten into forms it runs: ROWID
// comparisons, the ROWID pseudo-column (and where the select list has it),
// DBMS_ROWID.ROWID_CREATE, and partition clauses refused.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/sql_text.h"

namespace rowflume::engine {

// What a rewrite puts between a word of the source and a word it writes right after it: an empty
// comment parts two words as a blank does, and, unlike a blank, the name of an expression column
// can shed it again without touching a blank the query had (statement.cpp).
constexpr std::string_view kWordParting = "/**/";

// Rewrites plan->sql (of a query, UPDATE or DELETE) in place: DBMS_ROWID.ROWID_CREATE; the ROWID
// pseudo-column compared with a bind or a literal becomes a rowid comparison whose bound is
// decoded once per execution, so that a range of ROWIDs is read as a rowid range; ROWID in ORDER
// BY orders by rowid; any other ROWID is the ROWID text. Both name the owner and table the ROWID
// belongs to, whose data object number they need. The main select list's ROWID items are noted
// in the plan for describe. A partition clause names a partition SQLite cannot have: the plan
// refuses the statement. Text the scanner cannot read stays as it is, for SQLite to report.
void RewriteOracleForms(StatementPlan* plan);

// Takes the flashback forms out of a query's plan->sql, before RewriteOracleForms reads the table
// references: each "AS OF SCN number" after a table goes into plan->as_of_scns (the alias after
// it stays); DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER (optionally SYS. before it, "()" after it)
// becomes the engine's SCN function; V$DATABASE or that function sets plan->reads_scn. AS OF SCN
// followed by anything but a number literal refuses the query with ORA-08181.
void TakeFlashbackForms(StatementPlan* plan);

// The SCN a number literal names: its digits, after a minus sign when negative is set; 0 when
// that is no valid SCN (not all digits, zero, negative, beyond 2^63 - 1).
int64_t ScnLiteral(std::string_view digits, bool negative);

}  // namespace rowflume::engine
