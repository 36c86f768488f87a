// Failing an entry point: the Oracle error of ora_errors.h recorded in the error handle, and
// SQLite's failures read as the Oracle errors that fit them.
#pragma once

#include "engine/ora_errors.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

struct Error;
struct Session;

// Empties the error handle (when there is one): every entry point starts with it.
void ClearError(Error* error);
// Records the error in the error handle (when there is one) and returns OCI_ERROR.
sword Fail(Error* error, const OraError& what);
// Records an error whose text is a printf format; use FailFormat, which checks the arguments.
sword FailFormatted(Error* error, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Records an error of ora_errors.h whose text takes arguments (a type such as
// ora::InvalidIdentifier); the compiler checks the arguments against its format.
template <typename Format, typename... Args>
sword FailFormat(Error* error, Args... args) {
  return FailFormatted(error, Format::kCode, Format::kFormat, args...);
}
// Records a SQLite failure as the Oracle error that fits it; sql is the statement's text, which
// tells the kind of syntax error. SQLite's own words never reach the error text: DebugNote
// shows them.
sword FailSqlite(Error* error, Session* session, int rc, const char* message, const char* sql);
// Writes "rowflume engine: what: detail" to standard error when the environment variable
// ROWFLUME_ENGINE_DEBUG is set (to anything but "" or "0"); nothing otherwise.
void DebugNote(const char* what, const char* detail);

}  // namespace rowflume::engine
