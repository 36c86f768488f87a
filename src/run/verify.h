// verify=MANIFEST: the proof that an unload is complete, checked with nothing but its manifest.
// Every file the manifest names is read again: its bytes and SHA-256 are compared, and a data
// file's records are counted the way its layout ends them (output/record_count.h), so that a
// missing, short, changed or grown file is named, with the rows it lacks or has too many. A
// manifest of a run that did not complete fails. With a user= given, the rows of each piece are
// also counted in the database as of the manifest's SCN and compared with the manifest's.
#pragma once

#include "job/job_record.h"

namespace rowflume {

// What a verify run exits with when a file or count does not match.
constexpr int kVerifyMismatch = 11;

// Checks the manifest named by `verify`: 0 when everything matches; kVerifyMismatch after naming
// each mismatch; kRunRefused when the manifest cannot be read; the logon's (kRunLogonFailed) or
// a count query's (kRunQueryFailed) status when the database cannot be asked.
int RunVerify(UnloadHandle* job);

}  // namespace rowflume
