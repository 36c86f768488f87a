// The fault hook for tests described in engine.h: executes that fail with ORA-01555 because the
// database lists their MINRID bind in rowflume_faults. Compiled and called only with
// ROWFLUME_FAULT_HOOK, in the builds for tests.
#pragma once

#include "engine/handles.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

// OCI_SUCCESS, or the failure the database lists for the statement's MINRID bind (taking one
// of its remaining runs).
sword InjectedFault(Stmt* stmt, Server* server, Error* error);

}  // namespace rowflume::engine
