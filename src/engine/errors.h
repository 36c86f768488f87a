// Failing an entry point: the Oracle error recorded in the error handle, and SQLite's failures
// read as the Oracle errors that fit them.
#pragma once

#include "db/oci_api.h"

namespace rowflume::engine {

struct Error;
struct Session;

// Empties the error handle (when there is one): every entry point starts with it.
void ClearError(Error* error);
// Records an Oracle error in the error handle (when there is one) and returns OCI_ERROR.
sword Fail(Error* error, int code, const char* message);
// Same with printf-style arguments for the message.
sword FailFormat(Error* error, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Records a SQLite failure as the Oracle error that fits it; sql is the statement's text, which
// tells the kind of syntax error.
sword FailSqlite(Error* error, Session* session, int rc, const char* message, const char* sql);

}  // namespace rowflume::engine
