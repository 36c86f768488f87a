// Errors of the embedded engine: recording them in error handles, reading them back (ErrorGet),
// and SQLite's failures read as the Oracle errors that fit them.
#include "engine/errors.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "engine/engine.h"
#include "engine/handles.h"
#include "platform/platform.h"

namespace rowflume::engine {
namespace {

// "a.b" becomes "A"."B", the way Oracle quotes the identifier it could not resolve.
std::string QuoteIdentifier(const char* name) {
  std::string out = "\"";
  for (const char* pos = name; *pos; ++pos) {
    if (*pos == '.') {
      out += "\".\"";
    } else {
      out.push_back(AsciiUpper(*pos));
    }
  }
  out += "\"";
  return out;
}

// The name SQLite reports after prefix, upper-cased, without the blanks that end the message.
std::string NameAfter(const char* message, const char* prefix) {
  std::string name = message + std::strlen(prefix);
  for (char& ch : name) ch = AsciiUpper(ch);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\n')) name.pop_back();
  return name;
}

// "ORA-nnnnn: text", the form every error takes.
std::string Message(int code, const char* text) {
  char head[16];
  std::snprintf(head, sizeof head, "ORA-%05d: ", code);
  return head + std::string(text);
}

// Every recorded error ends here: its number, and its message as a line.
sword FailWithText(Error* error, int code, const char* text) {
  if (error) {
    error->record.code = code;
    error->record.text = Message(code, text) + "\n";
  }
  return OCI_ERROR;
}

}  // namespace

std::string OraMessage(const OraError& error) {
  return Message(error.code, error.text);
}

void ClearError(Error* error) {
  if (error) {
    error->record.code = 0;
    error->record.text.clear();
  }
}

sword Fail(Error* error, const OraError& what) {
  return FailWithText(error, what.code, what.text);
}

// The formatted text is cut at 1023 bytes.
sword FailFormatted(Error* error, int code, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  return FailWithText(error, code, message);
}

void DebugNote(const char* what, const char* detail) {
  // Read once: the setting is for a whole run, and errors may come from several threads.
  static const bool enabled = [] {
    const char* value = EnvironmentValue("ROWFLUME_ENGINE_DEBUG");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
  }();
  if (enabled) std::fprintf(stderr, "rowflume engine: %s: %s\n", what, detail);
}

sword FailSqlite(Error* error, Session* session, int rc, const char* message, const char* sql) {
  if (message == nullptr) message = "";
  DebugNote(sql != nullptr && sql[0] != '\0' ? sql : "SQLite", message);
  std::string user = session ? session->user : std::string();
  int primary = rc & 0xff;
  const std::string_view said(message);
  // Errors the engine raises itself inside SQLite (its functions and views) carry their Oracle
  // form: "ORA-nnnnn: text".
  if (said.starts_with("ORA-") && said.size() > 11 && message[9] == ':' && message[10] == ' ') {
    int code = 0;
    bool digits = true;
    for (int idx = 4; idx < 9; ++idx) {
      if (!IsAsciiDigit(message[idx])) digits = false;
      code = code * 10 + (message[idx] - '0');
    }
    if (digits) return FailWithText(error, code, message + 11);
  }
  if (said.starts_with("no such table: ")) return Fail(error, ora::kTableOrViewDoesNotExist);
  if (said.starts_with("no such column: ")) {
    return FailFormat<ora::InvalidIdentifier>(
        error, QuoteIdentifier(message + std::strlen("no such column: ")).c_str());
  }
  if (said.starts_with("no such function: ")) {
    return FailFormat<ora::InvalidIdentifier>(
        error, QuoteIdentifier(message + std::strlen("no such function: ")).c_str());
  }
  if (said.starts_with("wrong number of arguments")) {
    return Fail(error, ora::kInvalidNumberOfArguments);
  }
  if (said.starts_with("ambiguous column name")) {
    return Fail(error, ora::kColumnAmbiguouslyDefined);
  }
  if (said.starts_with("no tables specified")) {
    return Fail(error, ora::kFromKeywordNotFound);
  }
  if (std::strstr(message, "already exists")) {
    return Fail(error, ora::kNameAlreadyUsed);
  }
  if (said.starts_with("UNIQUE constraint failed: ")) {
    std::string name = NameAfter(message, "UNIQUE constraint failed: ");
    for (char& ch : name) {
      if (ch == '.') ch = '_';
    }
    return FailFormat<ora::UniqueConstraintViolated>(error, user.c_str(), name.c_str());
  }
  if (said.starts_with("NOT NULL constraint failed: ")) {
    std::string name = NameAfter(message, "NOT NULL constraint failed: ");
    return FailFormat<ora::CannotInsertNull>(error, user.c_str(),
                                             QuoteIdentifier(name.c_str()).c_str());
  }
  if (said.starts_with("CHECK constraint failed")) {
    return FailFormat<ora::CheckConstraintViolated>(
        error, user.c_str(), NameAfter(message, "CHECK constraint failed: ").c_str());
  }
  if (said.starts_with("FOREIGN KEY constraint failed")) {
    return Fail(error, ora::kParentKeyNotFound);
  }
  if (primary == SQLITE_READONLY) return Fail(error, ora::kReadOnlyDatabase);
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return Fail(error, ora::kResourceBusy);
  }
  if (primary == SQLITE_NOMEM) return Fail(error, ora::kOutOfProcessMemory);
  if (primary == SQLITE_INTERRUPT) {
    return Fail(error, ora::kUserRequestedCancel);
  }
  if (said.starts_with("datatype mismatch")) return Fail(error, ora::kInconsistentDatatypes);
  if (std::strstr(message, "syntax error") || std::strstr(message, "incomplete input") ||
      std::strstr(message, "unrecognized token")) {
    StatementPlan plan;
    InspectStatement(sql ? sql : "", sql ? std::strlen(sql) : 0, &plan);
    if (plan.stmt_type == kStmtUnknown) return Fail(error, ora::kInvalidSqlStatement);
    if (std::strstr(message, "incomplete input")) {
      return Fail(error, ora::kUnexpectedEndOfCommand);
    }
    return Fail(error, ora::kCommandNotProperlyEnded);
  }
  // What is left has no Oracle counterpart: the result code and its generic name say which
  // kind of failure it was, DebugNote the particulars.
  return FailFormat<ora::InternalError>(error, rc, sqlite3_errstr(rc));
}

sword ErrorGet(void* hndlp, ub4 recordno, OraText* /*sqlstate*/, sb4* errcodep, OraText* bufp,
               ub4 bufsiz, ub4 type) {
  const ErrorRecord* record = nullptr;
  if (type == OCI_HTYPE_ERROR) {
    Error* error = Cast<Error>(hndlp, OCI_HTYPE_ERROR);
    if (error == nullptr) return OCI_INVALID_HANDLE;
    record = &error->record;
  } else if (type == OCI_HTYPE_ENV) {
    Env* env = Cast<Env>(hndlp, OCI_HTYPE_ENV);
    if (env == nullptr) return OCI_INVALID_HANDLE;
    record = &env->error;
  } else {
    return OCI_INVALID_HANDLE;
  }
  if (recordno != 1 || record->code == 0) return OCI_NO_DATA;
  if (errcodep) *errcodep = record->code;
  if (bufp && bufsiz > 0) {
    size_t len = record->text.size();
    if (len > bufsiz - 1) len = bufsiz - 1;
    std::memcpy(bufp, record->text.data(), len);
    bufp[len] = '\0';
  }
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
