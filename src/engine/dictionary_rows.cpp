#include "engine/dictionary_rows.h"

#include "common/ascii.h"
#include "engine/ora_errors.h"
#include "engine/rowid.h"
#include "engine/sql_scanner.h"

namespace rowflume::engine {
namespace {

constexpr int64_t kBlocksPerExtent = 128;
constexpr int64_t kBlockBytes = 8192;

bool HasTable(sqlite3* db, const char* name) {
  sqlite3_stmt* st = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db,
                         "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?1 "
                         "COLLATE NOCASE",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    found = sqlite3_step(st) == SQLITE_ROW;
  }
  sqlite3_finalize(st);
  return found;
}

// Rows a database states for itself in one of its own tables (see engine.h); the query takes
// the object name as ?1 and the owner as ?2, NULL for any.
int AppendStatedRows(sqlite3* db, const char* sql, const char* owner, const char* name,
                     std::vector<Row>* rows, std::string* error) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  if (name != nullptr) sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
  if (owner != nullptr) sqlite3_bind_text(st, 2, owner, -1, SQLITE_TRANSIENT);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    Row row;
    for (int col = 0; col < sqlite3_column_count(st); ++col) row.push_back(FromColumn(st, col));
    rows->push_back(std::move(row));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  return SQLITE_OK;
}

// The tables of one schema with their data object numbers, restricted to name when given.
int ListTables(sqlite3* db, const Schema& schema, const char* name,
               std::vector<std::pair<std::string, int64_t>>* out, std::string* error) {
  std::string sql = "SELECT name, rootpage FROM " + schema.sql_name +
                    ".sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                    "ESCAPE '\\' AND (?1 IS NULL OR name = ?1 COLLATE NOCASE) ORDER BY rootpage";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  if (name != nullptr) sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    out->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                      schema.object_base + sqlite3_column_int64(st, 1));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  return SQLITE_OK;
}

// The owner the dictionary shows for a schema's tables.
const std::string& OwnerOf(const Catalog& catalog, const Schema& schema) {
  return &schema == &catalog.main ? catalog.user : schema.owner;
}

// The schemas whose tables a listing restricted to owner (null for any) shows.
std::vector<const Schema*> SchemasOf(const Catalog& catalog, const char* owner) {
  std::vector<const Schema*> schemas;
  for (const Schema* schema : ListedSchemas(catalog)) {
    if (owner == nullptr || EqualIgnoringCase(owner, OwnerOf(catalog, *schema))) {
      schemas.push_back(schema);
    }
  }
  return schemas;
}

// The extents of one table: runs of 128 blocks that hold at least one row, found by seeking
// from one run to the next, so a sparse table costs one seek per run that has rows.
int TableExtents(sqlite3* db, const Schema& schema, const std::string& owner,
                 const std::string& table, std::vector<Row>* rows, std::string* error) {
  std::string quoted = schema.sql_name + "." + Quoted(table, '"');
  // One aggregate a statement: SQLite answers a lone min() or max() by one seek.
  std::string sql = "SELECT max(rowid) FROM " + quoted;
  sqlite3_stmt* seek = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &seek, nullptr) != SQLITE_OK) {
    // A table without rowids, like an index-organized table, has no ROWID extents.
    sqlite3_finalize(seek);
    return SQLITE_OK;
  }
  int64_t last = sqlite3_step(seek) == SQLITE_ROW ? sqlite3_column_int64(seek, 0) : 0;
  sqlite3_finalize(seek);
  seek = nullptr;
  sql = "SELECT min(rowid) FROM " + quoted + " WHERE rowid >= ?1";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &seek, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(seek);
    return SQLITE_ERROR;
  }
  int64_t from = INT64_MIN;
  int64_t extent_id = 0;
  int rc = SQLITE_OK;
  for (;;) {
    sqlite3_bind_int64(seek, 1, from);
    rc = sqlite3_step(seek);
    if (rc != SQLITE_ROW) break;
    if (sqlite3_column_type(seek, 0) == SQLITE_NULL) {
      rc = SQLITE_DONE;
      break;
    }
    int64_t first = sqlite3_column_int64(seek, 0);
    sqlite3_reset(seek);
    if (first < 0 || last > kMaxRowidPosition) {
      *error = OraMessage(ora::kInvalidRowid) + " (table " + table +
               " has rowids outside 0 to 274609471487, which ROWID texts cannot hold)";
      sqlite3_finalize(seek);
      return SQLITE_ERROR;
    }
    int64_t start_block = (first / kRowidRowsPerBlock) / kBlocksPerExtent * kBlocksPerExtent;
    rows->push_back({Text(owner), Text(table), Cell(), Text("TABLE"), Text("USERS"),
                     Number(extent_id++), Number(1 + (start_block >> kRowidBlockBits)),
                     Number(start_block & kMaxRowidBlock), Number(kBlocksPerExtent * kBlockBytes),
                     Number(kBlocksPerExtent), Number(1 + (start_block >> kRowidBlockBits))});
    from = (start_block + kBlocksPerExtent) * kRowidRowsPerBlock;
  }
  if (rc != SQLITE_DONE) *error = sqlite3_errmsg(db);
  sqlite3_finalize(seek);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace

int FillObjects(sqlite3* db, const Catalog& catalog, const char* owner, const char* name,
                std::vector<Row>* rows, std::string* error) {
  for (const Schema* schema : SchemasOf(catalog, owner)) {
    std::vector<std::pair<std::string, int64_t>> tables;
    int rc = ListTables(db, *schema, name, &tables, error);
    if (rc != SQLITE_OK) return rc;
    const std::string& table_owner = OwnerOf(catalog, *schema);
    for (const auto& [table, object] : tables) {
      rows->push_back(
          {Text(table_owner), Text(table), Cell(), Number(object), Number(object), Text("TABLE")});
    }
  }
  if (HasTable(db, "rowflume_objects")) {
    return AppendStatedRows(db,
                            "SELECT owner, object_name, subobject_name, object_id, "
                            "data_object_id, object_type FROM main.rowflume_objects "
                            "WHERE (?1 IS NULL OR object_name = ?1 COLLATE NOCASE) "
                            "AND (?2 IS NULL OR owner = ?2 COLLATE NOCASE)",
                            owner, name, rows, error);
  }
  return SQLITE_OK;
}

int FillExtents(sqlite3* db, const Catalog& catalog, const char* owner, const char* name,
                std::vector<Row>* rows, std::string* error) {
  // Segments the database states extents for take those instead of computed ones.
  if (HasTable(db, "rowflume_extents")) {
    int rc = AppendStatedRows(db,
                              "SELECT owner, segment_name, partition_name, segment_type, "
                              "'USERS', 0, relative_fno, block_id, blocks * 8192, blocks, "
                              "relative_fno FROM main.rowflume_extents "
                              "WHERE (?1 IS NULL OR segment_name = ?1 COLLATE NOCASE) "
                              "AND (?2 IS NULL OR owner = ?2 COLLATE NOCASE)",
                              owner, name, rows, error);
    if (rc != SQLITE_OK) return rc;
  }
  size_t stated_rows = rows->size();
  auto stated = [&](const std::string& table_owner, const std::string& table) {
    for (size_t idx = 0; idx < stated_rows; ++idx) {
      const Cell& segment_owner = (*rows)[idx][0];
      const Cell& segment = (*rows)[idx][1];
      if (!segment_owner.null && EqualIgnoringCase(segment_owner.value, table_owner) &&
          !segment.null && EqualIgnoringCase(segment.value, table)) {
        return true;
      }
    }
    return false;
  };
  for (const Schema* schema : SchemasOf(catalog, owner)) {
    std::vector<std::pair<std::string, int64_t>> tables;
    int rc = ListTables(db, *schema, name, &tables, error);
    if (rc != SQLITE_OK) return rc;
    const std::string& table_owner = OwnerOf(catalog, *schema);
    for (const auto& table : tables) {
      if (stated(table_owner, table.first)) continue;
      rc = TableExtents(db, *schema, table_owner, table.first, rows, error);
      if (rc != SQLITE_OK) return rc;
    }
  }
  return SQLITE_OK;
}

}  // namespace rowflume::engine
