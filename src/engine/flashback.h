// System change numbers (SCNs) in the embedded engine: the database's current SCN, and queries
// held to the committed state of one SCN, which read exactly that state or fail. Which statements
// name an SCN is found in their text (sql_rewrite.h); this module owns the numbers and the read
// transactions that keep a query on one state.
//
// The number. SQLite keeps no history and no snapshot a later reader could ask for (Debian's
// library lacks the snapshot functions), so a state can be read only while it is the newest one,
// and the SCN must tell whether it still is. In the rollback-journal modes (DELETE, TRUNCATE,
// PERSIST, MEMORY, OFF) every commit that writes to a database file stores, in bytes 24..27 of
// the file (big-endian), the value that field had when its transaction began plus one: the file
// change counter, which SQLite's own connections compare to tell whether their page cache is
// still valid. It changes only under an exclusive lock, so it cannot change while any connection
// holds the shared lock of a read transaction, and then the file holds exactly the committed
// state that transaction reads. A connection's SCN is the sum of the counters of its main
// database and of every schema file it attached (engine.h "Owners"): each commit adds one for
// each file it writes, so the SCN strictly increases with every commit, whoever makes it (any
// process, a plain sqlite3 shell), and every connection with the same files computes the same
// number for the same state. Commits by a writer in exclusive locking mode count once until it
// lets go of the file; no other connection can read the states in between.
// Limits: a counter wraps after 2^32 commits to its file; a connection keeps the schema files it
// attached at logon, so one made before rowflume_schemas changed sums other files.
//
// Reading at SCN n. A statement that reads at an SCN opens a read transaction before its first
// row (BEGIN, then a read of every attached file's schema, which takes each file's shared lock),
// reads the counters through SQLite's own file handles (a second handle could not be closed
// without dropping the locks of the process on POSIX systems) and compares their sum with n:
// equal, the statement runs inside that transaction, whose view cannot change until it ends, so
// every row comes from state n; smaller (the database moved on, and no undo is kept) fails with
// ORA-01555; larger, zero or no number fails with ORA-08181. The transaction ends when the
// statement's result ends: its last row read, the statement executed again, freed, cancelled or
// its connection gone. Statements of one connection that read at SCNs meanwhile share the one
// transaction; a statement that writes on a connection while it is open is refused with
// ORA-08182, since its commit would wait for the transaction's end and might fail there.
//
// WAL mode is refused: a WAL commit changes the counter only when it writes page 1, and what
// does change with every commit (the wal-index header's frame count, its salts and the WAL
// header's checkpoint sequence) starts again from zero or from random values when the last
// connection closes the database and the WAL file is deleted, so no number read from the files
// would keep increasing across such a close. Any SCN request on a connection with a file in WAL
// mode fails with "ORA-03001: unimplemented feature".
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "oci/oci_api.h"

namespace rowflume::engine {

struct Error;
struct Server;
struct Stmt;

// Opens the connection's read transaction for a statement, or joins the one its other statements
// hold, and reads the SCN of its state into stmt->server->scn. On failure (a file in WAL mode, a
// lock that cannot be had) nothing is held and the error is recorded.
sword EnterSnapshot(Stmt* stmt, Error* error);

// Ends the statement's part in the read transaction; the last one out ends the transaction. The
// statement's SQLite statement must be finalized first.
void LeaveSnapshot(Stmt* stmt);

// Whether a statement held to SCN wanted may run at current: OCI_SUCCESS when they are equal;
// otherwise ORA-08181 for an SCN ahead of current or no valid SCN (0), ORA-01555 for an older
// one.
sword CheckScn(int64_t wanted, uint64_t current, Error* error);

// The current SCN, read under the shared locks of a read transaction taken for that alone (or
// within the one the connection holds).
sword CurrentScn(Server* server, Error* error, uint64_t* scn);

// Adds V$DATABASE (one row, column CURRENT_SCN) and the function that the rewritten
// DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER calls to a connection: both report the SCN of the
// statement's read transaction, and fail with ORA-08187 in a statement that took none.
int RegisterFlashback(sqlite3* db, Server* server);

}  // namespace rowflume::engine
