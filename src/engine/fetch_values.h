// Array fetch: the rows of an executed query stepped one by one, each value converted as its
// define asks and framed into the caller's buffer with the row's indicator, length and return
// code. The row loop and the conversions share one file so the per-value work inlines.
#pragma once

#include "engine/handles.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

// Fetches up to nrows rows into the statement's defines; the statement is executed as a query.
// Shared by StmtExecute (which may fetch at once) and StmtFetch.
sword FetchRows(Stmt* stmt, Error* error, ub4 nrows);

}  // namespace rowflume::engine
