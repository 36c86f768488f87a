// Array fetch of a query's rows into its defines, shared by StmtExecute (which may fetch at once)
// and StmtFetch.
#pragma once

#include "db/oci_api.h"
#include "engine/handles.h"

namespace rowflume::engine {

// Fetches up to nrows rows into the statement's defines; the statement is executed as a query.
sword FetchRows(Stmt* stmt, Error* error, ub4 nrows);

}  // namespace rowflume::engine
