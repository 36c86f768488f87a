// A recording client provider for the connection and statement tests: every call is logged by
// name (with the handle or attribute type where that tells calls apart), any call can be made to
// fail on its n-th use, and the error record it leaves is chosen by the test.
#pragma once

#include <string>
#include <vector>

#include "db/oci_api.h"

namespace rowflume::testing_oci {

struct FakeState {
  std::vector<std::string> calls;        // e.g. "EnvNlsCreate", "HandleAlloc(2)", "AttrSet(22)"
  std::string fail_call;                 // label of the call to fail; empty = none fails
  int fail_occurrence = 1;               // which use of that label fails, from 1
  sword fail_status = OCI_ERROR;         // status returned by the failing call
  sb4 error_code = 0;                    // what OCIErrorGet finds; 0 = no record
  std::string error_text;                // its text, copied as the library would
  bool error_text_fills_buffer = false;  // write bufsiz bytes without a terminator

  // Arguments seen.
  std::string attach_connect, username, password, prepared_text;
  ub4 credential_type = 0, session_mode = 0, execute_iterations = 99, execute_mode = 99;
  ub2 charset_id = 0, ncharset_id = 0;
  std::string bind_name, bind_value;
  ub2 bind_type = 0;
  ub4 bind_max_array = 0;
  sb4 define_size = 0;
  ub2 define_type = 0;
  std::string current_user = "SCOTT";  // what a fetch of the user name delivers
};

FakeState& Fake();
// Clears the state; returns the table to preset on a session.
const OciApi* ResetFake();
// Makes the next use of the labelled call fail.
void FailNextUse(const std::string& label);
// The log as one text, calls separated by spaces, for compact comparisons.
std::string CallLog();

}  // namespace rowflume::testing_oci
