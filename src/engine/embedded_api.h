// What the program sees of the embedded engine: its function table and the connect identifiers
// that name it. The engine's workings stay behind engine/engine.h; the run layer, which chooses
// the provider for a logon, is the one part of the program that asks for this table.
#pragma once

#include "oci/oci_api.h"

namespace rowflume {

// Connect identifiers with this prefix select the embedded engine; the rest names the database.
constexpr char kEmbeddedPrefix[] = "sqlite:";

// The table of the embedded engine; always available.
const OciApi* EmbeddedApi();

}  // namespace rowflume
