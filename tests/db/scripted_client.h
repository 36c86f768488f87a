// The fake client scripted to stand alone, for the session and statement tests: every call it
// answers succeeds and hands out distinct handles, the arguments those tests look at are kept,
// ErrorGet finds the record the test chose, and a fetch delivers the user name.
#pragma once

#include <string>

#include "oci/oci_api.h"
#include "support/fake_oci.h"

namespace rowflume::testing_support {

struct ScriptedClient {
  sb4 error_code = 0;                    // what ErrorGet finds; 0: no record
  std::string error_text;                // its text, copied as the library would
  bool error_text_fills_buffer = false;  // write the whole buffer without a terminator
  std::string current_user = "SCOTT";    // what a fetch delivers
  // Arguments seen.
  std::string attach_connect, username, password, prepared_text;
  ub4 credential_type = 0, session_mode = 0, execute_iterations = 99, execute_mode = 99;
  ub2 charset_id = 0, ncharset_id = 0;
  std::string bind_name, bind_value;
  ub2 bind_type = 0;
  ub4 bind_max_array = 0;
  sb4 define_size = 0;
  ub2 define_type = 0;
};

// What the scripted client saw and will answer.
ScriptedClient& Scripted();
// Resets the fake and scripts it afresh; returns the table to preset on a session.
const OciApi* StartScriptedClient();
// The labels of the calls since the start or the last ClearCallLog, e.g. "HandleAlloc(4)
// StmtPrepare"; clearing keeps the counts that FailNextUse goes by.
std::string CallLog();
void ClearCallLog();

}  // namespace rowflume::testing_support
