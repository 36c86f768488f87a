// The Oracle dictionary the embedded engine adds to each connection: the DBA_OBJECTS and
// DBA_EXTENTS views, NVL, and the ROWID functions of rowid.cpp.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "engine/handles.h"
#include "engine/ora_errors.h"
#include "engine/rowid.h"
#include "engine/sql_scanner.h"

namespace rowflume::engine {
namespace {

constexpr int64_t kBlocksPerExtent = 128;
constexpr int64_t kBlockBytes = 8192;

void NvlFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  sqlite3_result_value(context, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

struct Cell {
  bool null = true;
  bool text = false;
  int64_t number = 0;
  std::string value;
};
using Row = std::vector<Cell>;

Cell Text(const std::string& value) {
  Cell cell;
  cell.null = false;
  cell.text = true;
  cell.value = value;
  return cell;
}
Cell Number(int64_t value) {
  Cell cell;
  cell.null = false;
  cell.number = value;
  return cell;
}
Cell FromColumn(sqlite3_stmt* st, int col) {
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_NULL:
      return Cell();
    case SQLITE_INTEGER:
      return Number(sqlite3_column_int64(st, col));
    default:
      return Text(reinterpret_cast<const char*>(sqlite3_column_text(st, col)));
  }
}

struct DictTable;
// Fills rows; name, when given, restricts the rows to that object (compared without case).
using FillFunction = int (*)(sqlite3* db, const char* name, std::vector<Row>* rows,
                             std::string* error);

struct DictTable {
  sqlite3_vtab base;
  sqlite3* db;
  FillFunction fill;
  int name_column;  // the column an equality constraint may narrow to one object
};

struct DictCursor {
  sqlite3_vtab_cursor base;
  std::vector<Row> rows;
  size_t position = 0;
};

bool QueryText(sqlite3* db, const char* sql, std::string* out) {
  sqlite3_stmt* st = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL) {
    *out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    found = true;
  }
  sqlite3_finalize(st);
  return found;
}

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

// Rows a database states for itself in one of its own tables (see engine.h).
int AppendStatedRows(sqlite3* db, const char* sql, const char* name, std::vector<Row>* rows,
                     std::string* error) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  if (name != nullptr) {
    sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(st, 1);
  }
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

// The tables of the database with their root pages, restricted to name when given.
int ListTables(sqlite3* db, const char* name, std::vector<std::pair<std::string, int64_t>>* out,
               std::string* error) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db,
                              "SELECT name, rootpage FROM main.sqlite_master WHERE type = 'table' "
                              "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                              "AND (?1 IS NULL OR name = ?1 COLLATE NOCASE) ORDER BY rootpage",
                              -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  if (name != nullptr) sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    out->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                      sqlite3_column_int64(st, 1));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return rc;
  }
  return SQLITE_OK;
}

std::string SessionUser(sqlite3* db) {
  std::string user;
  QueryText(db, "SELECT \"USER\" FROM temp.dual", &user);
  return user;
}

int FillObjects(sqlite3* db, const char* name, std::vector<Row>* rows, std::string* error) {
  std::vector<std::pair<std::string, int64_t>> tables;
  int rc = ListTables(db, name, &tables, error);
  if (rc != SQLITE_OK) return rc;
  std::string owner = SessionUser(db);
  for (const auto& [table, root] : tables) {
    rows->push_back({Text(owner), Text(table), Cell(), Number(root), Number(root), Text("TABLE")});
  }
  if (HasTable(db, "rowflume_objects")) {
    return AppendStatedRows(db,
                            "SELECT owner, object_name, subobject_name, object_id, "
                            "data_object_id, object_type FROM main.rowflume_objects "
                            "WHERE ?1 IS NULL OR object_name = ?1 COLLATE NOCASE",
                            name, rows, error);
  }
  return SQLITE_OK;
}

// The extents of one table: runs of 128 blocks that hold at least one row, found by seeking
// from one run to the next, so a sparse table costs one seek per run that has rows.
int TableExtents(sqlite3* db, const std::string& owner, const std::string& table,
                 std::vector<Row>* rows, std::string* error) {
  std::string quoted = Quoted(table, '"');
  // One aggregate a statement: SQLite answers a lone min() or max() by one seek.
  std::string sql = "SELECT max(rowid) FROM main." + quoted;
  sqlite3_stmt* seek = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &seek, nullptr) != SQLITE_OK) {
    // A table without rowids, like an index-organized table, has no ROWID extents.
    sqlite3_finalize(seek);
    return SQLITE_OK;
  }
  int64_t last = sqlite3_step(seek) == SQLITE_ROW ? sqlite3_column_int64(seek, 0) : 0;
  sqlite3_finalize(seek);
  seek = nullptr;
  sql = "SELECT min(rowid) FROM main." + quoted + " WHERE rowid >= ?1";
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

int FillExtents(sqlite3* db, const char* name, std::vector<Row>* rows, std::string* error) {
  // Segments the database states extents for take those instead of computed ones.
  bool stated = HasTable(db, "rowflume_extents");
  if (stated) {
    int rc = AppendStatedRows(db,
                              "SELECT owner, segment_name, partition_name, segment_type, "
                              "'USERS', 0, relative_fno, block_id, blocks * 8192, blocks, "
                              "relative_fno FROM main.rowflume_extents "
                              "WHERE ?1 IS NULL OR segment_name = ?1 COLLATE NOCASE",
                              name, rows, error);
    if (rc != SQLITE_OK) return rc;
  }
  std::vector<std::pair<std::string, int64_t>> tables;
  int rc = ListTables(db, name, &tables, error);
  if (rc != SQLITE_OK) return rc;
  std::string owner = SessionUser(db);
  size_t stated_rows = rows->size();
  for (const auto& table : tables) {
    bool overridden = false;
    for (size_t idx = 0; idx < stated_rows; ++idx) {
      const Cell& segment = (*rows)[idx][1];
      if (!segment.null && EqualIgnoringCase(segment.value, table.first)) overridden = true;
    }
    if (overridden) continue;
    rc = TableExtents(db, owner, table.first, rows, error);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

int DictConnect(sqlite3* db, void* aux, int /*argc*/, const char* const* argv, sqlite3_vtab** out,
                char** /*error*/) {
  const bool extents = std::strcmp(argv[0], "dba_extents") == 0;
  int rc = sqlite3_declare_vtab(
      db, extents ? "CREATE TABLE x(OWNER TEXT COLLATE NOCASE, SEGMENT_NAME TEXT COLLATE NOCASE, "
                    "PARTITION_NAME TEXT COLLATE NOCASE, SEGMENT_TYPE TEXT, TABLESPACE_NAME TEXT, "
                    "EXTENT_ID INTEGER, FILE_ID INTEGER, BLOCK_ID INTEGER, BYTES INTEGER, "
                    "BLOCKS INTEGER, RELATIVE_FNO INTEGER)"
                  : "CREATE TABLE x(OWNER TEXT COLLATE NOCASE, OBJECT_NAME TEXT COLLATE NOCASE, "
                    "SUBOBJECT_NAME TEXT COLLATE NOCASE, OBJECT_ID INTEGER, DATA_OBJECT_ID "
                    "INTEGER, OBJECT_TYPE TEXT)");
  if (rc != SQLITE_OK) return rc;
  auto* table = new (std::nothrow) DictTable{};
  if (table == nullptr) return SQLITE_NOMEM;
  table->db = db;
  table->fill = reinterpret_cast<FillFunction>(aux);
  table->name_column = 1;
  *out = &table->base;
  return SQLITE_OK;
}

int DictDisconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<DictTable*>(vtab);
  return SQLITE_OK;
}

// An equality on the object name narrows the listing to one object: much cheaper than listing
// every table's extents.
int DictBestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
  auto* table = reinterpret_cast<DictTable*>(vtab);
  info->idxNum = 0;
  info->estimatedCost = 1e6;
  for (int idx = 0; idx < info->nConstraint; ++idx) {
    const auto& constraint = info->aConstraint[idx];
    if (constraint.usable && constraint.iColumn == table->name_column &&
        constraint.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      info->aConstraintUsage[idx].argvIndex = 1;
      info->aConstraintUsage[idx].omit = 0;  // SQLite checks it again with the column's collation
      info->idxNum = 1;
      info->estimatedCost = 10;
      break;
    }
  }
  return SQLITE_OK;
}

int DictOpen(sqlite3_vtab* /*vtab*/, sqlite3_vtab_cursor** out) {
  auto* cursor = new (std::nothrow) DictCursor{};
  if (cursor == nullptr) return SQLITE_NOMEM;
  *out = &cursor->base;
  return SQLITE_OK;
}

int DictClose(sqlite3_vtab_cursor* cursor) {
  delete reinterpret_cast<DictCursor*>(cursor);
  return SQLITE_OK;
}

int DictFilter(sqlite3_vtab_cursor* base, int idx_num, const char* /*idx_str*/, int argc,
               sqlite3_value** argv) {
  auto* cursor = reinterpret_cast<DictCursor*>(base);
  auto* table = reinterpret_cast<DictTable*>(base->pVtab);
  cursor->rows.clear();
  cursor->position = 0;
  std::string name;
  const char* wanted = nullptr;
  if (idx_num == 1 && argc == 1) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return SQLITE_OK;
    name = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    wanted = name.c_str();
  }
  std::string error;
  int rc = table->fill(table->db, wanted, &cursor->rows, &error);
  if (rc != SQLITE_OK) {
    sqlite3_free(table->base.zErrMsg);
    table->base.zErrMsg = sqlite3_mprintf("%s", error.c_str());
    cursor->rows.clear();
  }
  return rc;
}

int DictNext(sqlite3_vtab_cursor* base) {
  ++reinterpret_cast<DictCursor*>(base)->position;
  return SQLITE_OK;
}

int DictEof(sqlite3_vtab_cursor* base) {
  auto* cursor = reinterpret_cast<DictCursor*>(base);
  return cursor->position >= cursor->rows.size();
}

int DictColumn(sqlite3_vtab_cursor* base, sqlite3_context* context, int col) {
  auto* cursor = reinterpret_cast<DictCursor*>(base);
  const Row& row = cursor->rows[cursor->position];
  if (col < 0 || static_cast<size_t>(col) >= row.size() || row[static_cast<size_t>(col)].null) {
    sqlite3_result_null(context);
    return SQLITE_OK;
  }
  const Cell& cell = row[static_cast<size_t>(col)];
  if (cell.text) {
    sqlite3_result_text(context, cell.value.data(), static_cast<int>(cell.value.size()),
                        SQLITE_TRANSIENT);
  } else {
    sqlite3_result_int64(context, cell.number);
  }
  return SQLITE_OK;
}

int DictRowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  *rowid = static_cast<sqlite3_int64>(reinterpret_cast<DictCursor*>(base)->position);
  return SQLITE_OK;
}

// Eponymous-only: the view exists in every connection under the module's name.
const sqlite3_module kDictModule = {0,               // iVersion
                                    nullptr,         // xCreate
                                    DictConnect,     // xConnect
                                    DictBestIndex,   // xBestIndex
                                    DictDisconnect,  // xDisconnect
                                    nullptr,         // xDestroy
                                    DictOpen,        // xOpen
                                    DictClose,       // xClose
                                    DictFilter,      // xFilter
                                    DictNext,        // xNext
                                    DictEof,         // xEof
                                    DictColumn,      // xColumn
                                    DictRowid,       // xRowid
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr};

}  // namespace

int RegisterDictionary(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = RegisterRowidFunctions(db);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "nvl", 2, flags, nullptr, NvlFunction, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_module(db, "dba_objects", &kDictModule,
                               reinterpret_cast<void*>(&FillObjects));
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_module(db, "dba_extents", &kDictModule,
                               reinterpret_cast<void*>(&FillExtents));
  }
  return rc;
}

}  // namespace rowflume::engine
