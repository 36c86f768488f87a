#include "engine/schemas.h"

#include <cstdio>
#include <filesystem>

#include "common/ascii.h"
#include "engine/sql_scanner.h"
#include "platform/platform.h"

namespace rowflume::engine {
namespace {

// Windows names a folder with either slash, and starts a path at a root with a backslash or a
// drive letter too.
bool WindowsPaths() {
  return DirectorySeparator() == '\\';
}

bool IsAbsolutePath(const std::string& path) {
  if (path[0] == '/') return true;
  return WindowsPaths() && (path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
}

// A schema path as the main database's folder sees it.
std::string ResolvedPath(const std::string& main_path, const std::string& path) {
  if (path.empty() || IsAbsolutePath(path)) return path;
  size_t slash = main_path.find_last_of(WindowsPaths() ? "/\\" : "/");
  if (slash == std::string::npos) return path;
  return main_path.substr(0, slash + 1) + path;
}

bool HasSchemasTable(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  bool found = sqlite3_prepare_v2(db,
                                  "SELECT 1 FROM main.sqlite_master WHERE type IN ('table', "
                                  "'view') AND name = 'rowflume_schemas' COLLATE NOCASE",
                                  -1, &st, nullptr) == SQLITE_OK &&
               sqlite3_step(st) == SQLITE_ROW;
  sqlite3_finalize(st);
  return found;
}

// Attaches one file under the owner's name; the detail says why not.
bool AttachOne(sqlite3* db, const std::string& owner, const std::string& path,
               std::string* detail) {
  if (owner.empty()) {
    *detail = "no owner name";
    return false;
  }
  // The connection was opened without SQLITE_OPEN_CREATE, so ATTACH would not create the file
  // either; looking first gives a clear reason. Looking, not opening: closing a descriptor of the
  // file would drop the locks this process's other sessions hold on it.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) {
    *detail = "cannot open " + path;
    return false;
  }
  std::string sql = "ATTACH DATABASE ?1 AS " + Quoted(owner, '"');
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *detail = sqlite3_errmsg(db);
    return false;
  }
  // Reading the schema tells a database from any other file, as for the main file.
  sql = "SELECT count(*) FROM " + Quoted(owner, '"') + ".sqlite_master";
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    *detail = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

int64_t RootPage(sqlite3* db, const Schema& schema, std::string_view table) {
  std::string sql = "SELECT rootpage FROM " + schema.sql_name +
                    ".sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE";
  sqlite3_stmt* st = nullptr;
  int64_t root = 0;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) root = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  return root;
}

}  // namespace

Catalog::Catalog() {
  main.sql_name = "main";
}

int AttachSchemas(sqlite3* db, const std::string& main_path, Catalog* catalog,
                  SchemaFailure* failure) {
  catalog->attached.clear();
  if (!HasSchemasTable(db)) return SQLITE_OK;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db,
                              "SELECT upper(CAST(owner AS TEXT)), CAST(path AS TEXT) FROM "
                              "main.rowflume_schemas ORDER BY 1",
                              -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    failure->detail = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return rc;
  }
  // Read whole before attaching: ATTACH cannot run while a statement reads.
  std::vector<std::pair<std::string, std::string>> rows;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    auto text = [st](int col) {
      const unsigned char* value = sqlite3_column_text(st, col);
      return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    rows.emplace_back(text(0), text(1));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    failure->detail = sqlite3_errmsg(db);
    return rc;
  }
  for (const auto& [owner, path] : rows) {
    int ordinal = static_cast<int>(catalog->attached.size()) + 1;
    std::string detail;
    if (ordinal > kMaxSchemas) {
      detail = "more than " + std::to_string(kMaxSchemas) + " schemas";
    } else if (AttachOne(db, owner, ResolvedPath(main_path, path), &detail)) {
      Schema schema;
      schema.owner = owner;
      schema.sql_name = Quoted(owner, '"');
      schema.object_base = int64_t{ordinal} << kSchemaObjectBits;
      catalog->attached.push_back(std::move(schema));
      continue;
    }
    failure->ordinal = ordinal;
    failure->path = path;
    failure->detail = detail;
    return SQLITE_CANTOPEN;
  }
  return SQLITE_OK;
}

const Schema* FindSchema(const Catalog& catalog, std::string_view owner) {
  if (owner.empty() || EqualIgnoringCase(owner, catalog.user)) return &catalog.main;
  for (const Schema& schema : catalog.attached) {
    if (EqualIgnoringCase(owner, schema.owner)) return &schema;
  }
  return nullptr;
}

std::vector<const Schema*> ListedSchemas(const Catalog& catalog) {
  std::vector<const Schema*> listed{&catalog.main};
  for (const Schema& schema : catalog.attached) {
    if (!EqualIgnoringCase(schema.owner, catalog.user)) listed.push_back(&schema);
  }
  return listed;
}

int64_t DataObjectNumber(sqlite3* db, const Catalog& catalog, std::string_view owner,
                         std::string_view table) {
  if (!owner.empty()) {
    const Schema* schema = FindSchema(catalog, owner);
    if (schema == nullptr) return 0;
    int64_t root = RootPage(db, *schema, table);
    return root > 0 ? schema->object_base + root : 0;
  }
  int64_t root = RootPage(db, catalog.main, table);
  if (root > 0) return root;
  for (const Schema& schema : catalog.attached) {
    root = RootPage(db, schema, table);
    if (root > 0) return schema.object_base + root;
  }
  return 0;
}

}  // namespace rowflume::engine
