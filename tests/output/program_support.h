// Helpers of the tests that drive the built program: a private working folder, running the
// program in it, and SQLite databases for its embedded engine and as a consumer of its output.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "output_test_support.h"

namespace rowflume::testing_support {

struct ProgramRun {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // standard output: data in stdout mode, and every message
};

inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command line in dir, its standard output and error collected through a file
// there; its standard input is empty unless the command line redirects it.
inline ProgramRun RunShell(const std::string& dir, const std::string& command) {
  std::string out_path = dir + "/.stdout";
  std::string line = "cd " + ShellQuote(dir) + " && ( " + command + " ) >" + ShellQuote(out_path) +
                     " 2>&1 </dev/null";
  int raw = std::system(line.c_str());
  ProgramRun run;
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  run.out = ReadFile(out_path);
  std::filesystem::remove(out_path);
  return run;
}

// Runs the built program with dir as its working directory (where LOB files and control files
// land), each argument passed as one word.
inline ProgramRun RunRowflume(const std::string& dir, const std::vector<std::string>& args) {
  std::string command = ROWFLUME_BINARY;
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunShell(dir, command);
}

// A SQLite database file: the source of an unload, or the consumer of INSERT statements.
class SqliteFile {
 public:
  explicit SqliteFile(const std::string& path) : path_(path) {
    std::filesystem::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // Runs statements; false (with a test failure naming SQLite's message) when one fails.
  bool Exec(const std::string& sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) ADD_FAILURE() << "sqlite: " << (message ? message : "?");
    sqlite3_free(message);
    return rc == SQLITE_OK;
  }

  // Every row of the query, its columns joined by "|", rows ended by a line feed.
  std::string Rows(const std::string& sql) {
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

  // Binds one blob value into a parameterised statement and runs it.
  bool ExecWithBlob(const std::string& sql, const std::string& blob) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return false;
    sqlite3_bind_blob(statement, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    bool ok = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_finalize(statement);
    return ok;
  }

  const std::string& path() const { return path_; }
  std::string user() const { return "user=scott/tiger@sqlite:" + path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

// Bytes that cover every value 0 to 255, in an order that shows misplaced pieces.
inline std::string PatternBytes(size_t size, unsigned seed = 0) {
  std::string bytes(size, '\0');
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 7 + k / 251 + seed) & 0xff);
  return bytes;
}

inline std::string HexUpper(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace rowflume::testing_support
