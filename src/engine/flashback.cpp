#include "engine/flashback.h"

#include <string>

#include "engine/errors.h"
#include "engine/handles.h"

namespace rowflume::engine {
namespace {

// Bytes 18 to 27 of a database file: the write and read versions at 18 and 19 (2 in WAL mode),
// the file change counter at 24 to 27.
constexpr int kHeaderOffset = 18;
constexpr int kHeaderBytes = 10;
constexpr int kCounterAt = 24 - kHeaderOffset;
constexpr unsigned char kWalVersion = 2;

// Takes the shared lock of every file the connection reads: the main database and the schema
// files. Inside an open transaction each stays held until the transaction ends.
int LockFiles(Server* server) {
  std::string sql = "SELECT count(*) FROM main.sqlite_master";
  for (const Schema& schema : server->catalog.attached) {
    sql += " UNION ALL SELECT count(*) FROM " + schema.sql_name + ".sqlite_master";
  }
  return sqlite3_exec(server->db, sql.c_str(), nullptr, nullptr, nullptr);
}

// Adds the change counter of one attached file to *sum, read through the file handle SQLite
// holds the file's locks on; sets *wal when the file is in WAL mode.
int AddCounter(sqlite3* db, const char* schema, uint64_t* sum, bool* wal) {
  sqlite3_file* file = nullptr;
  int rc = sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file);
  if (rc != SQLITE_OK) return rc;
  if (file == nullptr || file->pMethods == nullptr) return SQLITE_CANTOPEN;
  unsigned char header[kHeaderBytes] = {};
  rc = file->pMethods->xRead(file, header, kHeaderBytes, kHeaderOffset);
  // A file that is still empty has had no commit; a short read fills the rest with zeros.
  if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
  if (header[0] == kWalVersion || header[1] == kWalVersion) *wal = true;
  *sum += (uint64_t{header[kCounterAt]} << 24) | (uint64_t{header[kCounterAt + 1]} << 16) |
          (uint64_t{header[kCounterAt + 2]} << 8) | uint64_t{header[kCounterAt + 3]};
  return SQLITE_OK;
}

// Opens or joins the connection's read transaction and reads its SCN into server->scn.
sword OpenSnapshot(Server* server, Error* error) {
  sqlite3* db = server->db;
  bool began = false;
  if (server->snapshot_statements == 0 && sqlite3_get_autocommit(db)) {
    int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return FailSqlite(error, nullptr, rc, sqlite3_errmsg(db), nullptr);
    began = true;
  }
  uint64_t scn = 0;
  bool wal = false;
  int rc = LockFiles(server);
  if (rc == SQLITE_OK) rc = AddCounter(db, "main", &scn, &wal);
  for (const Schema& schema : server->catalog.attached) {
    if (rc == SQLITE_OK) rc = AddCounter(db, schema.owner.c_str(), &scn, &wal);
  }
  if (rc != SQLITE_OK || wal) {
    sword status = wal ? Fail(error, ora::kUnimplementedFeature)
                       : FailSqlite(error, nullptr, rc, sqlite3_errmsg(db), nullptr);
    if (began) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
  }
  server->snapshot_began = server->snapshot_began || began;
  server->snapshot_statements += 1;
  server->scn = scn;
  return OCI_SUCCESS;
}

void CloseSnapshot(Server* server) {
  server->snapshot_statements -= 1;
  if (server->snapshot_statements > 0 || !server->snapshot_began) return;
  server->snapshot_began = false;
  // Only reads ran inside (writes are refused meanwhile), so there is nothing a failed commit
  // could lose.
  if (sqlite3_exec(server->db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(server->db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

// rowflume_current_scn(): the SCN of the statement's read transaction.
void CurrentScnFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** /*argv*/) {
  const auto* server = static_cast<const Server*>(sqlite3_user_data(context));
  if (server->snapshot_statements == 0) {
    sqlite3_result_error(context, OraMessage(ora::kSnapshotNotAllowedHere).c_str(), -1);
    return;
  }
  sqlite3_result_int64(context, static_cast<sqlite3_int64>(server->scn));
}

}  // namespace

sword EnterSnapshot(Stmt* stmt, Error* error) {
  sword status = OpenSnapshot(stmt->server, error);
  if (status == OCI_SUCCESS) stmt->in_snapshot = true;
  return status;
}

void LeaveSnapshot(Stmt* stmt) {
  if (!stmt->in_snapshot) return;
  stmt->in_snapshot = false;
  if (stmt->server != nullptr && stmt->server->db != nullptr) CloseSnapshot(stmt->server);
}

sword CheckScn(int64_t wanted, uint64_t current, Error* error) {
  if (wanted <= 0 || static_cast<uint64_t>(wanted) > current) return Fail(error, ora::kInvalidScn);
  if (static_cast<uint64_t>(wanted) < current) return Fail(error, ora::kSnapshotTooOld);
  return OCI_SUCCESS;
}

sword CurrentScn(Server* server, Error* error, uint64_t* scn) {
  sword status = OpenSnapshot(server, error);
  if (status != OCI_SUCCESS) return status;
  *scn = server->scn;
  CloseSnapshot(server);
  return OCI_SUCCESS;
}

int RegisterFlashback(sqlite3* db, Server* server) {
  int rc = sqlite3_create_function(db, "rowflume_current_scn", 0, SQLITE_UTF8, server,
                                   CurrentScnFunction, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  // In the temporary schema, as DUAL: it works on read-only files and never touches them.
  return sqlite3_exec(db,
                      "CREATE TEMP VIEW \"v$database\" AS "
                      "SELECT rowflume_current_scn() AS current_scn",
                      nullptr, nullptr, nullptr);
}

}  // namespace rowflume::engine
