#include "support/sqlite_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/files.h"

namespace rowflume::testing_support {

SqliteFile::SqliteFile(const std::string& path, Mode mode) : path_(path) {
  if (mode == Mode::kReplace) std::remove(path.c_str());
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
}

SqliteFile::~SqliteFile() {
  sqlite3_close(db_);
}

bool SqliteFile::Exec(const std::string& sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) ADD_FAILURE() << "sqlite: " << (message ? message : "?") << "\n" << sql;
  sqlite3_free(message);
  return rc == SQLITE_OK;
}

bool SqliteFile::ExecWithBlob(const std::string& sql, const std::string& blob) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_blob(statement, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  bool ok = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_finalize(statement);
  return ok;
}

std::string SqliteFile::Rows(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "sqlite: " << sqlite3_errmsg(db_);
    return "";
  }
  std::string rows;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int k = 0; k < sqlite3_column_count(statement); ++k) {
      if (k > 0) rows += "|";
      const unsigned char* text = sqlite3_column_text(statement, k);
      rows += text != nullptr ? reinterpret_cast<const char*>(text) : "<null>";
    }
    rows += "\n";
  }
  sqlite3_finalize(statement);
  return rows;
}

std::string SqliteFile::One(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  std::string value = "<none>";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "sqlite: " << sqlite3_errmsg(db_);
  } else if (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    value = text != nullptr ? reinterpret_cast<const char*>(text) : "<null>";
  }
  sqlite3_finalize(statement);
  return value;
}

std::string MakeDatabase(const std::string& name, const std::string& sql) {
  std::string path = TempPath(name + ".db");
  SqliteFile(path).Exec(sql);
  return path;
}

bool MakeDemoDatabase(const std::string& path, int orders_rows) {
  const std::string script = ReadFile(std::string(ROWFLUME_SOURCE_DIR) + "/tools/make_demo_db.sh");
  // The script's here-documents: the fixed tables first, then ORDERS with its row count.
  std::vector<std::string> documents;
  for (size_t start = script.find("<<"); start != std::string::npos;
       start = script.find("<<", start)) {
    size_t body = script.find('\n', start) + 1;
    size_t end = script.find("\nSQL\n", body);
    if (body == 0 || end == std::string::npos) break;
    documents.push_back(script.substr(body, end + 1 - body));
    start = end;
  }
  if (documents.size() != 2) {
    ADD_FAILURE() << "tools/make_demo_db.sh does not hold its two SQL documents";
    return false;
  }
  SqliteFile db(path);
  if (!db.Exec(documents[0])) return false;
  if (orders_rows <= 0) return true;
  std::string orders = documents[1];
  const std::string count = "$orders";
  orders.replace(orders.find(count), count.size(), std::to_string(orders_rows));
  return db.Exec(orders);
}

}  // namespace rowflume::testing_support
