#include "engine/injected_fault.h"

#include <sqlite3.h>

#include <cstring>

#include "common/ascii.h"
#include "engine/errors.h"

namespace rowflume::engine {

sword InjectedFault(Stmt* stmt, Server* server, Error* error) {
  const Bind* minrid = nullptr;
  for (const Bind* bind : stmt->binds) {
    if (bind != nullptr && EqualIgnoringCase("MINRID", bind->name)) minrid = bind;
  }
  if (minrid == nullptr || minrid->value == nullptr) return OCI_SUCCESS;
  const char* value = static_cast<const char*>(minrid->value);
  size_t len = minrid->dty == SQLT_STR ? strnlen(value, static_cast<size_t>(minrid->value_sz))
               : minrid->length        ? *minrid->length
                                       : static_cast<size_t>(minrid->value_sz);
  // Looked up before anything is written, so that runs without a listed fault never write.
  sqlite3_stmt* probe = nullptr;
  if (sqlite3_prepare_v2(server->db,
                         "SELECT 1 FROM main.rowflume_faults WHERE minrid = ?1 AND remaining > 0",
                         -1, &probe, nullptr) != SQLITE_OK) {
    sqlite3_finalize(probe);
    return OCI_SUCCESS;
  }
  sqlite3_bind_text(probe, 1, value, static_cast<int>(len), SQLITE_TRANSIENT);
  bool listed = sqlite3_step(probe) == SQLITE_ROW;
  sqlite3_finalize(probe);
  if (!listed) return OCI_SUCCESS;
  sqlite3_stmt* take = nullptr;
  bool taken = false;
  if (sqlite3_prepare_v2(server->db,
                         "UPDATE main.rowflume_faults SET remaining = remaining - 1 "
                         "WHERE minrid = ?1 AND remaining > 0",
                         -1, &take, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(take, 1, value, static_cast<int>(len), SQLITE_TRANSIENT);
    taken = sqlite3_step(take) == SQLITE_DONE && sqlite3_changes(server->db) > 0;
  }
  sqlite3_finalize(take);
  if (!taken) return OCI_SUCCESS;
  return Fail(error, ora::kSnapshotTooOld);
}

}  // namespace rowflume::engine
