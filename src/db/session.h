// One database connection: its client handles, the provider of the client functions it was made
// with, its last error, its message stream and callback. Also the user-string grammar, the
// connect descriptor built from hosts:port:sid, logon, logoff and the one routine through which
// every Oracle error becomes a message.
#pragma once

#include <cstdint>

#include "db/oci_api.h"
#include "job/job_record.h"
#include "platform/platform.h"

namespace rowflume {

struct DbSession {
  OCIEnv* environment;      // created by logon; none before
  OCIError* error;          // passed to every client call that takes an error handle
  OCIServer* server;        // the attached server
  OCISvcCtx* service;       // service context
  OCISession* user_session; // the authenticated session
  int32_t last_error_code;  // Oracle error number of the last error report, 0 = none
  char last_error_text[512];  // text of the last error report
  OutputStream* messages;   // where the default callback writes; standard output at creation
  int32_t status;           // result code of the run using this session
  uint16_t charset_id;      // character set given to the environment; 0 = client default
  uint16_t ncharset_id;     // national character set; 0 = client default
  void* callback_context;   // first argument of every callback call
  RowCallback callback;     // message callback; the default one at creation
  const OciApi* oci;        // provider of the client functions, chosen at logon
};

// Limits of the logon working values (bytes, without terminator).
constexpr int kMaxUserName = 131;
constexpr int kMaxPassword = 131;
constexpr int kMaxConnect = 255;

void SessionInit(DbSession* session);
// Writes text to the session's message stream and flushes it; context is a DbSession.
void DefaultCallback(void* context, const char* text);
// Passes text to the session's callback, when one is set.
void SessionMessage(DbSession* session, const char* text);

// Parses the user string, resolves the connect identifier and logs on: 0, or -1 on failure.
int LogonUserString(DbSession* session, const char* user_string);
int LogonWith(DbSession* session, const char* user, const char* password, const char* connect,
              uint32_t credential_type, uint32_t mode);
// Ends whatever the session holds; always 0. Safe after a partial logon.
int Logoff(DbSession* session);
// Fetches the current error, passes its text to the callback, returns the Oracle error number.
int ReportError(DbSession* session);

// Appends to out (capacity out_size, NUL-terminated) the connect identifier unchanged or the
// descriptor built from hosts:port:sid. Returns false when the result would not fit.
bool ResolveConnect(char* out, int out_size, const char* connect);
// Copies one host of a comma-separated list into out (no terminator) and returns its length.
int PickHost(char* out, const char* hosts);

}  // namespace rowflume
