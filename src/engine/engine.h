// The embedded engine: the 21 client functions of oci/oci_api.h implemented on SQLite, behaving
// like an Oracle server seen through them. The program reaches it through EmbeddedApi(); the
// stand-in client library exports the same functions under their client names.
//
// Connect strings are "sqlite:PATH" or a plain PATH naming an existing database file, which is
// never created; a file that cannot be written is opened read-only.
// Owners: the main database holds the session user's tables. When it has a table
// rowflume_schemas(owner TEXT, path TEXT), every attach (each connection) also attaches each
// row's file as the tables of that owner, upper-cased, in the order of the owner names: a
// relative path is taken from the folder of the main database file, a file is never created
// and one that cannot be written is read only. A row whose file cannot be attached (missing, not
// a database, no owner, an owner already taken or MAIN or TEMP, more than 15 rows; SQLite allows
// 10) fails the attach with "ORA-01157: cannot identify/lock data file N - see DBWR trace file"
// and a second line "ORA-01110: data file N: 'PATH'", N being the row's place in owner order.
// OWNER.NAME and "OWNER"."NAME" (any letter case, as SQLite compares names) read that owner's
// table; an owner that does not exist gives ORA-00942. The session user's own name qualifies
// the main database, also when a schema file has that owner name (the file is then shadowed).
// An unqualified name the main database lacks is found in the schema files, as SQLite looks
// names up (like a public synonym on a server).
// Authentication:
// - database credentials (OCI_CRED_RDBMS): when the database holds a table
//   rowflume_accounts(username, password), the pair must match one row, the user name compared
//   without regard to letter case and the password exactly; otherwise ORA-01017. Without that
//   table every user name and password is accepted. The session user is the name upper-cased.
//   An optional column EXPIRES holds the password's expiry date (a date text; NULL: none): from
//   N days before it through the day itself the logon succeeds and the session is open, but
//   SessionBegin returns OCI_SUCCESS_WITH_INFO with "ORA-28002: the password will expire within
//   N days"; after it the logon fails with "ORA-28001: the password has expired". Days are
//   counted between dates in local time.
//   A "sqlite:" identifier is a connect string like any other: the program passes it on as the
//   user string gave it, whatever the credentials, as it would pass a TNS alias.
// - operating-system credentials (OCI_CRED_EXT): always accepted; the session user is "SYS" in
//   OCI_SYSDBA mode, otherwise "OPS$" followed by the upper-cased USER environment variable, or
//   "OPS$ROWFLUME" when that variable is not set.
// SQL is SQLite's, with these Oracle forms added: DUAL (with DUMMY, USER and SYSDATE), ALTER
// SESSION for the date and timestamp formats, NLS_NUMERIC_CHARACTERS and the tuning settings
// (accepted, without effect), TRUNCATE TABLE, owner-qualified names, NVL, and what a ROWID-range
// split needs:
// - ROWID: a table's rows have 18-character ROWID texts (rowid.h: 64 rows a block, 2^22 blocks a
//   file, so ROWID order is rowid order). Their data object number is the table's root page in
//   the main database, and root page + n * 2^28 in the n-th schema file, so no two tables share
//   one. ROWID in a select list reads as that text and is described as a ROWID (type 104,
//   SQLT_RDD, data size 18) where its column is known: no "*" before it or none after it in the
//   main select list; it orders by rowid in ORDER BY. "ROWID op :bind" and "ROWID op 'text'"
//   (op one of = <> != < <= > >=, also [NOT] BETWEEN) compare as Oracle's ROWIDs do, data
//   object number first, then file, block and slot, with the bound decoded once per execution:
//   a ROWID range is read by a rowid range search, and bounds of another data object select all
//   of a table's rows or none. An invalid ROWID text raises ORA-01410.
// - DBMS_ROWID.ROWID_CREATE(1, object, file, block, slot) gives the ROWID text.
// - DBA_OBJECTS lists every table of every owner as OBJECT_TYPE 'TABLE' (owner the session user
//   for the main database, the upper-cased owner name for a schema file), with its data object
//   number as OBJECT_ID and DATA_OBJECT_ID. DBA_EXTENTS lists each table's extents: runs of 128
//   blocks (8192 rows) that hold rows, BLOCKS 128, RELATIVE_FNO = FILE_ID, no partitions.
//   Equalities on OWNER and on OBJECT_NAME or SEGMENT_NAME narrow what is read. Names compare
//   without regard to letter case, as SQLite's do.
// - Stated dictionary rows, for tests: the rows of a table rowflume_objects(owner, object_name,
//   subobject_name, object_id, data_object_id, object_type) are added to DBA_OBJECTS; a table
//   rowflume_extents(owner, segment_name, partition_name, segment_type, relative_fno, block_id,
//   blocks) replaces the computed extents of every segment (owner and name) it names. Both are
//   read from the main database only.
// - PARTITION (name) after a table raises ORA-02149: SQLite tables have no partitions.
// Binds: OCIBindByName refuses a name that is no placeholder of the prepared statement (":name",
// outside strings and comments; compared without the colon and without regard to letter case)
// with ORA-01036, as the client does.
// Warnings: the arguments of MAX, MIN, SUM and AVG pass through a function that counts the NULLs
// they skip (a rewrite of the statement text that column names do not show). A fetch that
// delivers every row it asked for, of which stepping a row made an aggregate skip a NULL since
// the previous fetch (for GROUP BY usually all at the first), returns OCI_SUCCESS_WITH_INFO with
// "ORA-24347: Warning of a NULL column in an aggregate function"; a truncation takes precedence
// (ORA-24345), and a short fetch at the end of the data returns OCI_NO_DATA alone.
// Errors carry Oracle's texts only. An open /* comment is ORA-01742 at execute. A failure of
// SQLite's that has no Oracle counterpart is ORA-00600 with SQLite's result code and its generic
// name. SQLite's own words go to standard error, and only when the environment variable
// ROWFLUME_ENGINE_DEBUG is set (not to "" or "0").
// Fault hook, for tests, compiled only into the builds made with ROWFLUME_FAULT_HOOK (the
// stand-in client and the test programs; the shipped program and library never look for the
// table): when the database holds rowflume_faults(minrid TEXT, remaining INTEGER) and a
// statement is executed with a bind named MINRID whose value is listed there with remaining > 0,
// remaining is lowered by one and the execute fails with "ORA-01555: snapshot too old: rollback
// segment number  with name "" too small". Databases without that table never
// write anything for it. Lowering remaining is a commit: the SCN moves on, and reads at the SCN
// before it fail with ORA-01555 from then on, as they would on a server whose undo is gone.
// System change numbers (flashback.h): SELECT CURRENT_SCN FROM V$DATABASE (a one-row view) and
// DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER in a query (SYS. before it and "()" after it optional)
// give the database's current SCN: the sum of the file change counters (bytes 24..27) of the main
// database and of each schema file the connection attached, which grows by one with every commit
// to one of those files, whoever makes it. Two forms hold a query to the state of SCN n:
// "AS OF SCN n" after a table (n a number literal; an alias may follow), and the session's
// flashback, which the block "BEGIN DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(n); END;" turns
// on for every later query of the session until "BEGIN DBMS_FLASHBACK.DISABLE; END;". Such a
// query runs inside a read transaction opened at execute, whose SCN must be n, and kept until its
// data ends or it is released, so that it reads exactly that state (its other tables too). No
// undo is kept: once the database has moved past n the query fails with ORA-01555 (the fault
// hook's text); an SCN ahead of the current one, 0, negative or anything but a number literal
// fails with ORA-08181. Enabling takes an SCN not ahead of the current one (else ORA-08181), and
// not while enabled (ORA-08184). While such a transaction is open, a statement of its connection
// that writes is refused with ORA-08182; V$DATABASE or the function in a statement that is no
// query fail with ORA-08187. With a file in WAL mode every one of them fails with "ORA-03001:
// unimplemented feature": no number the files keep grows across the WAL's restarts.
// Row counts, as a client's: OCI_ATTR_ROWS_FETCHED is the rows of the last fetch and
// OCI_ATTR_ROW_COUNT the rows of all fetches since execute, a ub4 that wraps past 2^32 - 1.
// Row count hook, for tests: when the environment variable ROWFLUME_ENGINE_ROW_COUNT_START holds
// a decimal number below 2^32 at execute, a query's row count starts there instead of at 0, as
// if that many rows had been fetched; any other value is ignored.
// Columns are described from their declared Oracle type names; SQLite keeps number-like text of
// a NUMBER column only to 15 digits, so a column declared 'NUMBER AS TEXT' serves values that
// need all 40. BINARY_FLOAT and BINARY_DOUBLE columns are described as types 100 and 101 (data
// size 4 and 8) and read as text in the client's scientific form ("1.5E+000", number.h).
// NLS_LANG ([LANGUAGE][_TERRITORY][.CHARSET]) is read when an environment is created. A
// character set part that names no set NlsCharSetNameToId knows, or a UTF-16 one (UTF16,
// AL16UTF16), fails EnvNlsCreate with OCI_ERROR as the client does: the environment is still
// returned, and OCIErrorGet on it (OCI_HTYPE_ENV) gives "ORA-12705: Cannot access NLS data files
// or invalid environment specified". Language and territory names are not checked.
// Number text carries the session's decimal character: the one of the territory the environment
// variable NLS_LANG names when the environment is created (a comma for the territories listed in
// number.cpp, as a client in such a territory writes "12,5"), until ALTER SESSION SET
// NLS_NUMERIC_CHARACTERS sets another; a value that is not two different ASCII characters other
// than digits and "+-<>" is refused with ORA-12705.
// Character sets: a database may declare the set of its text in a table
// rowflume_settings(name, value) under the name NLS_CHARACTERSET (any letter case; a set name
// NlsCharSetNameToId knows, e.g. WE8ISO8859P1), its values then being stored as bytes of that set.
// Describe reports a character column's DATA_SIZE in the bytes of its set, OCI_ATTR_CHAR_SIZE
// (286) in characters, and OCI_ATTR_CHARSET_ID (31) the column's set: the declared one, AL32UTF8
// when none is declared, AL16UTF16 for national columns. OCI_ATTR_ENV_CHARSET_ID (31) on the
// environment is the client's set: the one given to OCIEnvNlsCreate, else the one NLS_LANG names,
// else AL32UTF8. Fetched text (character columns and CLOBs, inline or through locators) is
// converted into the client's set as a client converts it, when both sets are among US7ASCII,
// WE8ISO8859P1, UTF8 and AL32UTF8 and differ (UTF8 and AL32UTF8 counting as one): Latin-1 bytes
// reach an AL32UTF8 client as UTF-8, so they may need more bytes than DATA_SIZE, and a character
// the client's set lacks becomes its replacement character ('?' in US7ASCII, 0xBF in
// WE8ISO8859P1). National text is stored as UTF-8 and converted likewise. A database that
// declares no set has its form-1 text passed on as stored, whatever the client's set.
// LOB reads: a character LOB's locator keeps its column's character-set form (CLOB 1, NCLOB 2,
// as describe reports it in OCI_ATTR_CHARSET_FORM); OCILobRead under another form (0 counts as
// 1) fails with "ORA-24806: LOB form mismatch", as a client does. BLOBs and BFILEs have none.
// A read with nothing to deliver (an empty LOB, an offset past the end) answers OCI_NO_DATA with
// amount 0, as a client does. A BFILE is read through its OCI_DTYPE_FILE locator only: defined as
// SQLT_LVC or SQLT_LVB, as the other LOBs may be, its fetch fails with ORA-00932.
#pragma once

#include <type_traits>

#include "oci/oci_api.h"

namespace rowflume::engine {

// One function for each entry of the client function list, under the same name.
#define ROWFLUME_ENGINE_DECLARE(result, name, parameters, arguments) result name parameters;
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_DECLARE)
#undef ROWFLUME_ENGINE_DECLARE

// Threads: an environment keeps the mode it was created with. A client made for one thread at a
// time may corrupt its own state when a second thread calls it meanwhile, so every call through
// the function table (EmbeddedApi(), the stand-in library's exports) that starts while another
// thread is inside the engine, where either call is on an environment created without
// OCI_THREADED, is counted and reported on standard error (once a process), whatever
// ROWFLUME_ENGINE_DEBUG says. Calls are told apart by their first argument: a live handle of
// the engine names its environment; EnvNlsCreate is not counted.
class EnvironmentCall {
 public:
  explicit EnvironmentCall(const void* handle);
  ~EnvironmentCall();
  EnvironmentCall(const EnvironmentCall&) = delete;
  EnvironmentCall& operator=(const EnvironmentCall&) = delete;

 private:
  bool counted_ = false;
  bool unthreaded_ = false;
};

// The first argument of a call, when it may be a handle.
template <typename First, typename... Rest>
const void* CallHandle(First first, Rest...) {
  if constexpr (std::is_pointer_v<First> && !std::is_pointer_v<std::remove_pointer_t<First>>) {
    return first;
  } else {
    return nullptr;
  }
}

// Test hook: environments created since the process started, by mode, and the calls found
// overlapping another thread's with an environment not created threaded.
struct EnvironmentTally {
  int threaded;
  int unthreaded;
  int unsafe_overlaps;
};
EnvironmentTally CountEnvironments();

}  // namespace rowflume::engine
