// One database connection: its client handles, the provider of the client functions it was made
// with, its last error, its message stream and callback. Also the user-string grammar, the
// connect descriptor built from hosts:port:sid, logon, logoff and the one routine through which
// every Oracle error becomes a message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/job_record.h"
#include "oci/oci_api.h"
#include "platform/platform.h"

namespace rowflume {

struct DbSession {
  OCIEnv* environment;        // created by logon; none before
  OCIError* error;            // passed to every client call that takes an error handle
  OCIServer* server;          // the attached server
  OCISvcCtx* service;         // service context
  OCISession* user_session;   // the authenticated session
  int32_t last_error_code;    // Oracle error number of the last error report, 0 = none
  char last_error_text[512];  // text of the last error report
  OutputStream* messages;     // where the default callback writes; standard output at creation
  int32_t log_failures;       // texts a log file refused; each went to standard error instead
  int32_t status;             // result code of the run using this session
  uint16_t charset_id;        // character set given to the environment; 0 = client default
  uint16_t ncharset_id;       // national character set; 0 = client default
  void* callback_context;     // first argument of every callback call
  RowCallback callback;       // message callback; the default one at creation
  const OciApi* oci;          // provider of the client functions; set by the caller before logon
  int32_t warnings[8];        // Oracle numbers of the warnings already reported, in order
  int32_t warning_count;      // entries of warnings in use
};

// Limits of the logon working values (bytes, without terminator).
constexpr int kMaxUserName = 131;
constexpr int kMaxPassword = 131;
constexpr int kMaxConnect = 255;

// Sets the values of a new session: no handles, status 0, both character set ids 0, the
// process's standard output as message stream and the default callback with the session itself
// as its context (a default callback without context would stay silent).
void SessionInit(DbSession* session);
// The standard output stream every session starts with: one object for the whole process, never
// closed, so a job run must not close a message stream equal to it.
OutputStream* SessionStdout();
// Writes text to the session's message stream (flushed at once: streams are unbuffered); context
// is a DbSession. Without context or stream it does nothing. A text the stream refuses (a full
// disk, a closed standard output) goes to standard error instead, so that it is never lost
// unseen; one refused by a log file is also counted in log_failures.
void DefaultCallback(void* context, const char* text);
// Passes text to the session's callback, when one is set: the one way every message of a run
// leaves the program.
void SessionMessage(DbSession* session, const char* text);
// The same with the text made from a printf format of the message table (common/messages.h);
// texts past kMaxMessageBytes - 1 bytes are cut.
void SessionMessageFormat(DbSession* session, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
constexpr int kMaxMessageBytes = 2048;

// The working values of one logon.
struct LogonCredentials {
  char user[kMaxUserName + 1];
  char password[kMaxPassword + 1];
  char connect[kMaxConnect + 1];  // resolved connect string; empty = local default database
  uint32_t credential_type;       // OCI_CRED_RDBMS or OCI_CRED_EXT
  uint32_t mode;                  // OCI_DEFAULT or OCI_SYSDBA
};

// Where the parts of a user string lie (the grammar is ParseUserString's): the user name from
// the start, the password (length 0 when there is none), and the connect identifier after the
// at sign, null when there is none.
struct UserStringParts {
  size_t user_length;
  size_t password_start;
  size_t password_length;
  const char* connect;
};
UserStringParts SplitUserString(const char* text);

// Parses a user string, user[/password][@connect], into logon credentials.
// - A double quote flips an inside-quotes flag and stays part of the text. The user name ends at
//   the first slash (even inside quotes) or at the first at sign outside quotes; the password
//   runs from that slash to the next at sign outside quotes; the connect identifier is the rest.
// - An at sign before any slash ("scott@db") means a user without password at that connect
//   identifier.
// - An empty user name (empty string, "/...") gives external credentials; the name SYS in any
//   letter case gives SYSDBA mode, with database credentials when both a password and a connect
//   identifier are given and with external credentials otherwise. External credentials drop the
//   password but keep the connect identifier ("/@alias" is a wallet logon on alias); without one
//   they log on to the local default database. Any other name gives database credentials.
// - Every connect identifier goes through ResolveConnect, "sqlite:PATH" included, so that every
//   provider of the client functions is given what a client would be.
// Returns 0, or -1 with a message ending in a line feed when a part that the logon would use
// does not fit its limit (user name or password over 131 bytes, connect string over 255 bytes
// after resolution); nothing is ever cut.
int ParseUserString(const char* user_string, LogonCredentials* credentials, char* message,
                    size_t message_size);

// Parses the user string into credentials (ParseUserString): 0, or -1 after passing the refusal
// to the callback.
int ReadUserString(DbSession* session, const char* user_string, LogonCredentials* credentials);
// Logs on with parsed credentials (LogonWith), then clears their password: 0, or -1.
int LogonCredentialsOnce(DbSession* session, LogonCredentials* credentials);
// Parses the user string, resolves the connect identifier and logs on with the table already set
// on the session: 0, or -1 on failure. A refused user string is reported through the callback.
int LogonUserString(DbSession* session, const char* user_string);
// The logon sequence, through the table the caller set on the session (this layer never chooses
// one; without one the logon fails with a message).
int LogonWith(DbSession* session, const char* user, const char* password, const char* connect,
              uint32_t credential_type, uint32_t mode);
// Ends whatever the session holds and clears its handles and provider, so that calling it again
// or logging on anew is safe; always 0. Safe after a partial logon.
int Logoff(DbSession* session);
// Fetches the current error, passes its text to the callback, returns the Oracle error number
// (0 when there is no error record, and then nothing is passed on).
int ReportError(DbSession* session);
// Settles the status of a client call that may succeed with information. OCI_SUCCESS_WITH_INFO
// carrying a warning (a password about to expire, an aggregate that skipped NULLs) means the
// call did its work: the warning's text is passed to the callback the first time its number
// comes up in the session, and the result is OCI_SUCCESS_WITH_INFO. A truncation or null fetch
// (ORA-24345 or ORA-01406), or the status without an error record, is OCI_ERROR, left for
// ReportError. Any other status is returned as it is.
sword AcceptWarning(DbSession* session, sword status);

// The character set ids for the names given, looked up in the logged-on session's environment:
// an empty or unknown name gives 0 (the client default); a national id of 0 takes the character
// set id.
void ResolveCharsetIds(DbSession* session, const char* charset, const char* ncharset,
                       uint16_t* charset_id, uint16_t* ncharset_id);

// Appends to out (capacity out_size, NUL-terminated) the connect identifier unchanged or, for a
// host list hosts:port:sid (exactly two colons, a port of digits only, no slash anywhere), the
// connect descriptor built from it with one host picked from the list. Every other form (TNS
// alias, easy connect, tcp:// and tcps:// URLs, IPv6 addresses, descriptors) passes unchanged.
// Returns false, leaving out as it was, when the result would not fit.
bool ResolveConnect(char* out, int out_size, const char* connect);
// Copies one host of a comma-separated list into out (no terminator) and returns its length, or
// -1 when that host is longer than out_size. The list ends at its terminator or at the first
// colon. At most the first 10 entries count; a comma at the very end stays part of the last
// entry. With several entries the C generator is seeded with the current time in seconds and
// the entry rand() modulo their number is taken, so logons within one second pick alike.
int PickHost(char* out, int out_size, const char* hosts);

}  // namespace rowflume
