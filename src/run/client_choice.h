// The choice of the client functions for a logon: the connect identifier decides between the
// embedded engine and the Oracle client library loaded at run time, and a test may put a filter
// in between. The database side is handed the chosen table and never chooses itself.
#pragma once

#include <cstddef>

#include "db/session.h"
#include "oci/oci_api.h"

namespace rowflume {

// True when the connect identifier selects the embedded engine.
bool IsEmbeddedConnect(const char* connect);

// The provider for one logon, chosen from its connect identifier, then passed through the
// provider filter when one is set.
const OciApi* SelectProvider(const char* connect, char* message, size_t message_size);

// A seam for fault-injection tests: a process-wide filter that SelectProvider applies to every
// table it chooses, e.g. to hand out a wrapper whose calls fail on demand. The filter returns
// the table the logon uses (the chosen one to leave it alone). Null, the default, removes it.
// Read once per logon, never on the row path; safe to set while other threads log on, but the
// tables it returns must stay valid for as long as sessions made with them live.
using ProviderFilter = const OciApi* (*)(const OciApi* chosen);
void SetProviderFilter(ProviderFilter filter);

// Parses the user string, sets on the session the table its connect identifier chooses and logs
// on (LogonWith): 0, or -1. A refused user string, then a client library that cannot be loaded,
// is reported through the callback as the logon's own failure; nothing is sent before.
int LogonChosenClient(DbSession* session, const char* user_string);

}  // namespace rowflume
