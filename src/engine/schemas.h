// Owners of the embedded engine: the schema files a database names in rowflume_schemas, attached
// to every connection under their owners' names, and the data object numbers of their tables.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rowflume::engine {

// Data object numbers are root pages plus the schema's base: schema n (1, 2, ... in attach
// order) has base n * 2^28, the main database 0. Root pages below 2^28 (a terabyte of 4 KiB
// pages) keep them apart, and 15 schemas keep them below 2^32, the largest a ROWID holds.
constexpr int kSchemaObjectBits = 28;
constexpr int kMaxSchemas = 15;

// The tables of one owner: the main database or one attached schema file.
struct Schema {
  std::string owner;     // upper-cased owner name; the SQLite schema name of an attached file
  std::string sql_name;  // how statements name the schema: main, or the owner quoted
  int64_t object_base = 0;
};

// The owners one connection knows.
struct Catalog {
  Catalog();
  std::string user;              // the session user, owner of the main database; "" before logon
  Schema main;                   // the main database (its owner is `user`)
  std::vector<Schema> attached;  // in attach order, which is the order of their owner names
};

// Why AttachSchemas failed: which row of rowflume_schemas, and what SQLite said.
struct SchemaFailure {
  int ordinal = 0;     // 1-based position among the schemas, the "data file" number reported
  std::string path;    // the path as written in the row
  std::string detail;  // SQLite's words, for debugging only
};

// Attaches every row of main.rowflume_schemas(owner, path) under its upper-cased owner, in the
// order of those names. A relative path is taken from the folder of the main database file;
// a file is never created, and one that cannot be written is read only. SQLITE_OK also when the
// table does not exist; SQLITE_CANTOPEN when a row's file cannot be attached (missing, no
// database, owner empty or already taken, more than kMaxSchemas), with the row in *failure;
// another SQLite code when the table cannot be read.
int AttachSchemas(sqlite3* db, const std::string& main_path, Catalog* catalog,
                  SchemaFailure* failure);

// The schema whose tables an owner qualifier names: main for the session user, an attached one
// by its owner (letter case ignored, as SQLite does); null for an owner that does not exist.
const Schema* FindSchema(const Catalog& catalog, std::string_view owner);

// The schemas the dictionary lists, main first with the session user as owner. A schema file
// attached under the session user's own name is shadowed by the main database.
std::vector<const Schema*> ListedSchemas(const Catalog& catalog);

// The data object number of a table named with an owner (or "" for none: then the schema
// SQLite's own lookup would find, main before the attached ones); 0 when there is no such table.
int64_t DataObjectNumber(sqlite3* db, const Catalog& catalog, std::string_view owner,
                         std::string_view table);

}  // namespace rowflume::engine
