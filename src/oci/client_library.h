// The Oracle client library as a provider of the function table: found and loaded at run time,
// every symbol resolved at once. This module is the only one that knows the client library's file
// names and symbol names. It sits beside the table, below both the database side and the run
// layer, because it is a provider like the embedded engine: it fills a table and knows nothing
// of sessions, and the run layer chooses between it and the engine.
#pragma once

#include <cstddef>

#include "oci/oci_api.h"

namespace rowflume {

// The table of the Oracle client library, loaded on first use and kept for the process. On
// failure returns null and writes one message into `message` naming every file tried, the
// loader's own error text and what to do.
const OciApi* ClientLibraryApi(char* message, size_t message_size);

}  // namespace rowflume
