// Defines: the client's buffers for each select-list position, checked when they are made and
// bound to their columns' value families when a fetch starts.
#pragma once

#include "engine/handles.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

// Binds every define to its column: which family its values have and which date format their
// text uses. Fails when a define names a position past the select list.
sword PlanDefines(Stmt* stmt, Error* error);

}  // namespace rowflume::engine
