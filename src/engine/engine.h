// The embedded engine: the 21 client functions of db/oci_api.h implemented on SQLite, behaving
// like an Oracle server seen through them. The program reaches it through EmbeddedApi(); the
// stand-in client library exports the same functions under their client names.
//
// Connect strings are "sqlite:PATH" or a plain PATH naming an existing database file, which is
// never created; a file that cannot be written is opened read-only.
// Authentication:
// - database credentials (OCI_CRED_RDBMS): when the database holds a table
//   rowflume_accounts(username, password), the pair must match one row, the user name compared
//   without regard to letter case and the password exactly; otherwise ORA-01017. Without that
//   table every user name and password is accepted. The session user is the name upper-cased.
// - operating-system credentials (OCI_CRED_EXT): always accepted; the session user is "SYS" in
//   OCI_SYSDBA mode, otherwise "OPS$" followed by the upper-cased USER environment variable, or
//   "OPS$ROWFLUME" when that variable is not set.
// SQL is SQLite's, with these Oracle forms added: DUAL (with DUMMY, USER and SYSDATE), ALTER
// SESSION for the date and timestamp formats and the tuning settings (accepted, without effect),
// TRUNCATE TABLE, names qualified with the session user's schema, NVL, and what a ROWID-range
// split needs:
// - ROWID: a table's rows have 18-character ROWID texts (rowid.h: data object = the table's
//   root page, 64 rows a block, 2^22 blocks a file, so ROWID order is rowid order). ROWID in a
//   select list reads as that text, and orders by rowid in ORDER BY; "ROWID op :bind" and
//   "ROWID op 'text'" (op one of = <> != < <= > >=, also [NOT] BETWEEN) compare rowids with
//   the bound decoded once per execution, so a ROWID range is read by a rowid range search.
//   An invalid ROWID text raises ORA-01410. The data object part of a bound is not compared.
// - DBMS_ROWID.ROWID_CREATE(1, object, file, block, slot) gives the ROWID text.
// - DBA_OBJECTS lists every table as OBJECT_TYPE 'TABLE' owned by the session user, with its
//   root page as OBJECT_ID and DATA_OBJECT_ID. DBA_EXTENTS lists each table's extents: runs of
//   128 blocks (8192 rows) that hold rows, BLOCKS 128, RELATIVE_FNO = FILE_ID, no partitions.
//   Names compare without regard to letter case, as SQLite's do.
// - Stated dictionary rows, for tests: the rows of a table rowflume_objects(owner, object_name,
//   subobject_name, object_id, data_object_id, object_type) are added to DBA_OBJECTS; a table
//   rowflume_extents(owner, segment_name, partition_name, segment_type, relative_fno, block_id,
//   blocks) replaces the computed extents of every segment it names.
// - PARTITION (name) after a table raises ORA-02149: SQLite tables have no partitions.
// Fault hook, for tests: when the database holds rowflume_faults(minrid TEXT, remaining INTEGER)
// and a statement is executed with a bind named MINRID whose value is listed there with
// remaining > 0, remaining is lowered by one and the execute fails with "ORA-01555: snapshot too
// old: rollback segment number  with name "" too small". Databases without that table never
// write anything for it.
// Columns are described
// from their declared Oracle type names; SQLite keeps number-like text of a NUMBER column only
// to 15 digits, so a column declared 'NUMBER AS TEXT' serves values that need all 40.
#pragma once

#include "db/oci_api.h"

namespace rowflume::engine {

// One function for each entry of the client function list, under the same name.
#define ROWFLUME_ENGINE_DECLARE(result, name, parameters, arguments) result name parameters;
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_DECLARE)
#undef ROWFLUME_ENGINE_DECLARE

}  // namespace rowflume::engine
