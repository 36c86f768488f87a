// The Oracle dictionary the embedded engine adds to each connection: the DBA_OBJECTS and
// DBA_EXTENTS views (their rows come from dictionary_rows.cpp), NVL, and the ROWID functions of
// rowid.cpp.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/dictionary_rows.h"
#include "engine/handles.h"
#include "engine/rowid.h"

namespace rowflume::engine {
namespace {

void NvlFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  sqlite3_result_value(context, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

// Fills the rows of a view (dictionary_rows.h).
using FillFunction = int (*)(sqlite3* db, const Catalog& catalog, const char* owner,
                             const char* name, std::vector<Row>* rows, std::string* error);

struct DictTable {
  sqlite3_vtab base;
  sqlite3* db;
  const Catalog* catalog;
  FillFunction fill;
};

// Constraints DictBestIndex hands to DictFilter, as bits of idxNum, in this order in argv.
constexpr int kNameConstraint = 1;   // column 1: OBJECT_NAME or SEGMENT_NAME
constexpr int kOwnerConstraint = 2;  // column 0: OWNER

struct DictCursor {
  sqlite3_vtab_cursor base;
  std::vector<Row> rows;
  size_t position = 0;
};

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
  table->catalog = static_cast<const Catalog*>(aux);
  table->fill = extents ? FillExtents : FillObjects;
  *out = &table->base;
  return SQLITE_OK;
}

int DictDisconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<DictTable*>(vtab);
  return SQLITE_OK;
}

// Equalities on the object name and the owner narrow the listing: much cheaper than listing
// every table's extents.
int DictBestIndex(sqlite3_vtab* /*vtab*/, sqlite3_index_info* info) {
  info->idxNum = 0;
  info->estimatedCost = 1e6;
  int arguments = 0;
  for (int wanted : {kNameConstraint, kOwnerConstraint}) {
    int column = wanted == kNameConstraint ? 1 : 0;
    for (int idx = 0; idx < info->nConstraint; ++idx) {
      const auto& constraint = info->aConstraint[idx];
      if (constraint.usable && constraint.iColumn == column &&
          constraint.op == SQLITE_INDEX_CONSTRAINT_EQ) {
        info->aConstraintUsage[idx].argvIndex = ++arguments;
        info->aConstraintUsage[idx].omit = 0;  // SQLite checks it again with the collation
        info->idxNum |= wanted;
        info->estimatedCost /= wanted == kNameConstraint ? 1e5 : 10;
        break;
      }
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
  // The constraints' values, in the order DictBestIndex gave them: an equality with NULL holds
  // for no row.
  std::string values[2];
  const char* wanted[2] = {nullptr, nullptr};  // name, owner
  int next = 0;
  for (int bit : {kNameConstraint, kOwnerConstraint}) {
    if ((idx_num & bit) == 0 || next >= argc) continue;
    sqlite3_value* value = argv[next++];
    if (sqlite3_value_type(value) == SQLITE_NULL) return SQLITE_OK;
    int slot = bit == kNameConstraint ? 0 : 1;
    values[slot] = reinterpret_cast<const char*>(sqlite3_value_text(value));
    wanted[slot] = values[slot].c_str();
  }
  std::string error;
  int rc = table->fill(table->db, *table->catalog, wanted[1], wanted[0], &cursor->rows, &error);
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

// Eponymous-only: the view exists in every connection under the module's name. Filled by member,
// so that the members later SQLite versions add (the Windows builds compile a newer one) stay
// empty.
sqlite3_module MakeDictModule() {
  sqlite3_module module{};
  module.xConnect = DictConnect;
  module.xBestIndex = DictBestIndex;
  module.xDisconnect = DictDisconnect;
  module.xOpen = DictOpen;
  module.xClose = DictClose;
  module.xFilter = DictFilter;
  module.xNext = DictNext;
  module.xEof = DictEof;
  module.xColumn = DictColumn;
  module.xRowid = DictRowid;
  return module;
}
const sqlite3_module kDictModule = MakeDictModule();

}  // namespace

int RegisterDictionary(sqlite3* db, const Catalog* catalog) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  void* owners = const_cast<Catalog*>(catalog);
  int rc = RegisterRowidFunctions(db, catalog);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "nvl", 2, flags, nullptr, NvlFunction, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_module(db, "dba_objects", &kDictModule, owners);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_module(db, "dba_extents", &kDictModule, owners);
  }
  return rc;
}

}  // namespace rowflume::engine
