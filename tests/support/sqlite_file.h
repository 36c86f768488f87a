// SQLite database files: the sources the embedded engine unloads from, and consumers that load
// what the program wrote.
#pragma once

#include <sqlite3.h>

#include <string>

namespace rowflume::testing_support {

class SqliteFile {
 public:
  enum class Mode { kReplace, kOpen };
  // kReplace starts from an empty file; kOpen keeps what the file holds.
  explicit SqliteFile(const std::string& path, Mode mode = Mode::kReplace);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // Runs statements; false (with a test failure naming SQLite's message) when one fails.
  bool Exec(const std::string& sql);
  // Binds one blob value as ?1 of a statement and runs it.
  bool ExecWithBlob(const std::string& sql, const std::string& blob);
  // Every row of the query, its columns joined by "|", rows ended by a line feed; NULL shows as
  // "<null>".
  std::string Rows(const std::string& sql);
  // The first column of the first row; "<none>" when there is no row.
  std::string One(const std::string& sql);

  const std::string& path() const { return path_; }
  // The open connection, for a test to define SQL functions of its own on it.
  sqlite3* handle() const { return db_; }
  // The logon of the program onto this file through the embedded engine, as a `user` item.
  std::string user() const { return "user=scott/tiger@sqlite:" + path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

// Creates (or replaces) a database file named after `name` in the temporary folder, holding what
// `sql` makes; returns its path.
std::string MakeDatabase(const std::string& name, const std::string& sql);

// Creates (or replaces) the demo database of tools/make_demo_db.sh at path, with that many
// ORDERS rows (none: no ORDERS table). The statements are taken from the script itself, which
// needs a POSIX shell and the sqlite3 program to run; false when they cannot be read or fail.
bool MakeDemoDatabase(const std::string& path, int orders_rows = 0);

}  // namespace rowflume::testing_support
