// The rows of the dictionary views DBA_OBJECTS and DBA_EXTENTS: the tables of every owner with
// their data object numbers, their extents computed from their rowids, and the rows a database
// states for itself. The views themselves are in dictionary.cpp.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/schemas.h"

namespace rowflume::engine {

// One value of a dictionary row.
struct Cell {
  bool null = true;
  bool text = false;
  int64_t number = 0;
  std::string value;
};
using Row = std::vector<Cell>;

inline Cell Text(const std::string& value) {
  Cell cell;
  cell.null = false;
  cell.text = true;
  cell.value = value;
  return cell;
}
inline Cell Number(int64_t value) {
  Cell cell;
  cell.null = false;
  cell.number = value;
  return cell;
}
inline Cell FromColumn(sqlite3_stmt* st, int col) {
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_NULL:
      return Cell();
    case SQLITE_INTEGER:
      return Number(sqlite3_column_int64(st, col));
    default:
      return Text(reinterpret_cast<const char*>(sqlite3_column_text(st, col)));
  }
}

// The rows of the views, in the order of their columns (dictionary.cpp declares them). owner and
// name, when not null, restrict the rows to that owner and that object or segment name (letter
// case ignored). SQLITE_OK, or a SQLite code with the reason in *error.
int FillObjects(sqlite3* db, const Catalog& catalog, const char* owner, const char* name,
                std::vector<Row>* rows, std::string* error);
int FillExtents(sqlite3* db, const Catalog& catalog, const char* owner, const char* name,
                std::vector<Row>* rows, std::string* error);

}  // namespace rowflume::engine
