// Statements on a logged-on session, and every client call the rest of the program needs on
// them: prepare, bind, execute, define, array fetch, its row count, LOB reads and the current
// user. A failed client call is reported here once, through ReportError (which leaves its Oracle
// error number in session->last_error_code, 0 when the client kept no error record); callers
// only pass the result on.
#pragma once

#include "db/session.h"
#include "job/job_record.h"
#include "oci/oci_api.h"

namespace rowflume {

// Statement routines: 0 for success, otherwise the reported Oracle error number, or -1 when the
// failure left no error record (so a failure never passes for success).
int StmtPrepare(DbSession* session, OCIStmt** statement, const char* text);
// Executes a statement that is not a query, once, committing on success.
int StmtExecuteOnce(DbSession* session, OCIStmt* statement);
// Executes a query without fetching.
int StmtExecuteQuery(DbSession* session, OCIStmt* statement);
int StmtFree(DbSession* session, OCIStmt* statement);
// Prepares, executes once and frees; *statement is none afterwards.
int ExecuteStatement(DbSession* session, OCIStmt** statement, const char* text);
// Binds the entry's value as text by its placeholder name; *bind receives the client's bind
// handle, which the statement owns and frees. The entry must stay in place until the statement
// has run: the client reads the value from it then. A failure (a name the statement lacks) is
// reported. Returns the client status.
int BindByName(DbSession* session, OCIStmt* statement, const BindEntry* entry, OCIBind** bind);
// Runs the query and fetches the first column of its first row as text into buffer (bytes, the
// terminator included). The status of the last client call: OCI_NO_DATA when there is no row,
// the value left empty unless it is OCI_SUCCESS. Prepare and execute failures are reported. The
// bind entries, when given, are bound by name first (a failed bind leaves the query unrun).
int QueryFirstValue(DbSession* session, const char* text, char* buffer, int bytes,
                    const BindEntry* binds = nullptr, int bind_count = 0);
// Current user name into buffer (at least 30 bytes), by QueryFirstValue.
int QueryCurrentUser(DbSession* session, char* buffer);

// Defines select-list position (from 1) to be fetched into buffer, value_size bytes per row, as
// external type; indicators, lengths and codes may be null. Returns the client status,
// reported when it is not OCI_SUCCESS.
sword DefineColumn(DbSession* session, OCIStmt* statement, int position, void* buffer,
                   sb4 value_size, ub2 type, sb2* indicators, ub2* lengths, ub2* codes,
                   OCIDefine** define);
// Releases a define handle early (the statement releases it otherwise). Not reported: nothing
// is lost when it fails.
void FreeDefine(DbSession* session, OCIDefine* define);

// Fetches the next array of up to rows rows. Returns the client status: OCI_SUCCESS for a full
// array, OCI_SUCCESS_WITH_INFO for rows that came with a warning (reported once, AcceptWarning),
// OCI_NO_DATA at the end of the data (the last rows may come with it), anything else a failure,
// which has been reported: a truncation or null fetch (ORA-24345) is OCI_ERROR.
sword FetchRows(DbSession* session, OCIStmt* statement, ub4 rows);
// The rows delivered by the statement's last fetch (never the cumulative row count, which wraps
// past 2^32 - 1). Returns the client status, reported when it is not OCI_SUCCESS (*rows is
// then 0).
sword LastFetchRows(DbSession* session, OCIStmt* statement, ub4* rows);

// Reading one LOB value through its locator: open, pieces of up to buffer_size bytes from
// offset (from 1; *amount 0 reads on to the end, piece by piece, and receives the bytes of the
// piece), close. Each returns the client status, reported on failure; OCI_NEED_DATA from a read
// means more pieces follow and is not a failure, and OCI_NO_DATA (nothing left, as for an empty
// LOB) is the end of the value: OCI_SUCCESS with *amount 0. A read names the LOB's character-set
// form (ColumnDesc::charset_form): the client refuses a national LOB read under any other.
sword OpenLob(DbSession* session, OCILobLocator* locator);
sword ReadLobPiece(DbSession* session, OCILobLocator* locator, uint8_t charset_form, ub4* amount,
                   ub4 offset, void* buffer, ub4 buffer_size);
sword CloseLob(DbSession* session, OCILobLocator* locator);

}  // namespace rowflume
