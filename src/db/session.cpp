// One database connection: user-string parsing, connect descriptors, logon, logoff and the one
// routine that turns a client error into a message.
#include "db/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "common/ascii.h"
#include "common/messages.h"

namespace rowflume {
namespace {

constexpr int kMaxHosts = 10;  // entries of a host list that are considered

// Formats a refusal into a message buffer of fixed capacity, cutting what does not fit.
__attribute__((format(printf, 3, 4))) void SetMessage(char* message, size_t message_size,
                                                      const char* format, ...) {
  if (message == nullptr || message_size == 0) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, message_size, format, args);
  va_end(args);
}

// Copies count bytes and a terminator into out when they fit its capacity.
bool CopyBounded(char* out, size_t out_size, const char* text, size_t count) {
  if (count >= out_size) return false;
  memcpy(out, text, count);
  out[count] = '\0';
  return true;
}

// Appends count bytes at out[*used], keeping room for a terminator; false when they do not fit.
bool Put(char* out, int out_size, int* used, const char* text, size_t count) {
  if (count >= static_cast<size_t>(out_size - *used)) return false;
  memcpy(out + *used, text, count);
  *used += static_cast<int>(count);
  return true;
}

bool Put(char* out, int out_size, int* used, const char* text) {
  return Put(out, out_size, used, text, strlen(text));
}

// True for a user name of exactly SYS in any letter case.
bool IsSysName(const char* text, size_t length) {
  return length == 3 && EqualIgnoringCase(text, "SYS", 3);
}

// Says why no environment was made: the client's own reason, when it returned an environment
// holding one (an invalid NLS_LANG is ORA-12705), after a line of what to check.
void ReportEnvironmentFailure(DbSession* session) {
  SessionMessage(session, messages::kNoEnvironment);
  if (session->environment == nullptr) return;
  sb4 code = 0;
  char text[sizeof session->last_error_text] = "";
  if (session->oci->ErrorGet(session->environment, 1, nullptr, &code,
                             reinterpret_cast<OraText*>(text), sizeof text,
                             OCI_HTYPE_ENV) != OCI_SUCCESS ||
      code == 0) {
    return;
  }
  text[sizeof text - 1] = '\0';
  session->last_error_code = code;
  memcpy(session->last_error_text, text, sizeof text);
  SessionMessage(session, text);
}

// A call that did its work, with or without a warning (settled by AcceptWarning first).
bool Succeeded(sword status) {
  return status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO;
}

}  // namespace

// ---- Session and messages -----------------------------------------------------------------------

OutputStream* SessionStdout() {
  static OutputStream* const stream = StdoutStream();
  return stream;
}

void SessionInit(DbSession* session) {
  memset(session, 0, sizeof(*session));
  session->messages = SessionStdout();
  session->callback = DefaultCallback;
  session->callback_context = session;
}

void DefaultCallback(void* context, const char* text) {
  if (context == nullptr || text == nullptr) return;
  DbSession* session = static_cast<DbSession*>(context);
  if (session->messages == nullptr) return;
  const size_t length = strlen(text);
  if (WriteAll(session->messages, text, length) || session->messages == StderrStream()) return;
  if (session->messages != SessionStdout()) ++session->log_failures;
  WriteAll(StderrStream(), text, length);
}

void SessionMessage(DbSession* session, const char* text) {
  if (session != nullptr && session->callback != nullptr) {
    session->callback(session->callback_context, text);
  }
}

void SessionMessageFormat(DbSession* session, const char* format, ...) {
  char text[kMaxMessageBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  SessionMessage(session, text);
}

// ---- User string and connect identifier ---------------------------------------------------------

int PickHost(char* out, int out_size, const char* hosts) {
  size_t end = 0;
  while (hosts[end] != '\0' && hosts[end] != ':') ++end;
  size_t starts[kMaxHosts];
  size_t lengths[kMaxHosts];
  int count = 0;
  size_t start = 0;
  for (size_t pos = 0; pos < end && count < kMaxHosts; ++pos) {
    // A comma in the last position does not open an entry: it stays part of the last one.
    if (hosts[pos] == ',' && pos + 1 < end) {
      starts[count] = start;
      lengths[count] = pos - start;
      ++count;
      start = pos + 1;
    }
  }
  if (count < kMaxHosts) {
    starts[count] = start;
    lengths[count] = end - start;
    ++count;
  }
  int chosen = 0;
  if (count > 1) {
    // A generator of our own, seeded with the time in whole seconds on every call: logons in the
    // same second choose the same host, and parallel workers share no generator state.
    std::minstd_rand generator(static_cast<unsigned>(CurrentTimeSeconds()));
    chosen = static_cast<int>(generator() % static_cast<unsigned>(count));
  }
  if (lengths[chosen] > static_cast<size_t>(out_size)) return -1;
  memcpy(out, hosts + starts[chosen], lengths[chosen]);
  return static_cast<int>(lengths[chosen]);
}

bool ResolveConnect(char* out, int out_size, const char* connect) {
  if (out == nullptr || out_size <= 0) return false;
  int used = static_cast<int>(strnlen(out, static_cast<size_t>(out_size)));
  if (used >= out_size) return false;  // not a terminated text of that capacity
  const int before = used;
  const char* first_colon = nullptr;
  const char* second_colon = nullptr;
  int colons = 0;
  for (const char* ch = connect; *ch != '\0'; ++ch) {
    if (*ch != ':') continue;
    ++colons;
    if (colons == 1) first_colon = ch;
    if (colons == 2) second_colon = ch;
  }
  // Only hosts:port:sid is rewritten. Easy connect, URLs, IPv6 addresses and descriptors may
  // hold colons too, but a slash or a port that is not a number tells them apart, and the client
  // understands them as they are.
  bool host_list = colons == 2 && strchr(connect, '/') == nullptr && second_colon > first_colon + 1;
  if (host_list) {
    for (const char* ch = first_colon + 1; ch < second_colon; ++ch) {
      if (!IsAsciiDigit(*ch)) host_list = false;
    }
  }
  bool fits;
  if (!host_list) {
    fits = Put(out, out_size, &used, connect);
  } else {
    fits = Put(out, out_size, &used, "(DESCRIPTION=(ADDRESS_LIST=(ADDRESS=(HOST=");
    if (fits) {
      // The terminator's place stays free: the host may use all but that byte.
      int host_length = PickHost(out + used, out_size - used - 1, connect);
      fits = host_length >= 0;
      if (fits) used += host_length;
    }
    fits = fits && Put(out, out_size, &used, ")(PROTOCOL=TCP)(PORT=") &&
           Put(out, out_size, &used, first_colon + 1,
               static_cast<size_t>(second_colon - first_colon - 1)) &&
           Put(out, out_size, &used, ")))(CONNECT_DATA=(SID=") &&
           Put(out, out_size, &used, second_colon + 1) &&
           Put(out, out_size, &used, ")(SERVER=DEDICATED)))");
  }
  out[fits ? used : before] = '\0';
  return fits;
}

UserStringParts SplitUserString(const char* text) {
  const size_t length = strlen(text);
  UserStringParts parts = {0, length, 0, nullptr};
  bool quoted = false;
  size_t pos = 0;
  while (pos < length && text[pos] != '/' && !(text[pos] == '@' && !quoted)) {
    if (text[pos] == '"') quoted = !quoted;
    ++pos;
  }
  parts.user_length = pos;
  if (pos < length && text[pos] == '/') {
    parts.password_start = ++pos;
    while (pos < length && !(text[pos] == '@' && !quoted)) {
      if (text[pos] == '"') quoted = !quoted;
      ++pos;
    }
    parts.password_length = pos - parts.password_start;
  }
  if (pos < length) parts.connect = text + pos + 1;  // text[pos] is the at sign
  return parts;
}

int ParseUserString(const char* user_string, LogonCredentials* credentials, char* message,
                    size_t message_size) {
  memset(credentials, 0, sizeof(*credentials));
  if (message != nullptr && message_size > 0) message[0] = '\0';
  const char* text = user_string != nullptr ? user_string : "";
  const UserStringParts parts = SplitUserString(text);
  const size_t user_length = parts.user_length;
  const size_t password_start = parts.password_start;
  const size_t password_length = parts.password_length;
  const char* connect = parts.connect;

  // SYS with a password and a connect identifier is a SYSDBA logon with database credentials on
  // that database; without a password it is external credentials there (a wallet entry), and
  // without a connect identifier the operating system's on the local database.
  const bool sys = IsSysName(text, user_length);
  const bool database_credentials =
      user_length > 0 && (!sys || (connect != nullptr && password_length > 0));
  credentials->mode = sys ? OCI_SYSDBA : OCI_DEFAULT;
  if (!database_credentials) {
    credentials->credential_type = OCI_CRED_EXT;
    // The password has no use here. The connect identifier still names the database and, for a
    // wallet logon, the entry that holds the credentials: dropping it would log on to whatever
    // database is local instead.
  } else {
    credentials->credential_type = OCI_CRED_RDBMS;
    if (!CopyBounded(credentials->user, sizeof(credentials->user), text, user_length)) {
      SetMessage(message, message_size, messages::kUserNameTooLong, kMaxUserName);
      return -1;
    }
    if (!CopyBounded(credentials->password, sizeof(credentials->password), text + password_start,
                     password_length)) {
      SetMessage(message, message_size, messages::kPasswordTooLong, kMaxPassword);
      return -1;
    }
  }

  if (connect != nullptr &&
      !ResolveConnect(credentials->connect, sizeof(credentials->connect), connect)) {
    SetMessage(message, message_size, messages::kConnectTooLong, kMaxConnect);
    return -1;
  }
  return 0;
}

// ---- Logon and logoff ---------------------------------------------------------------------------

int ReadUserString(DbSession* session, const char* user_string, LogonCredentials* credentials) {
  char message[160];
  if (ParseUserString(user_string, credentials, message, sizeof(message)) != 0) {
    SessionMessage(session, message);
    return -1;
  }
  return 0;
}

int LogonCredentialsOnce(DbSession* session, LogonCredentials* credentials) {
  int result = LogonWith(session, credentials->user, credentials->password, credentials->connect,
                         credentials->credential_type, credentials->mode);
  // The password is not left behind on the stack.
  memset(credentials->password, 0, sizeof(credentials->password));
  return result;
}

int LogonUserString(DbSession* session, const char* user_string) {
  LogonCredentials credentials;
  if (ReadUserString(session, user_string, &credentials) != 0) return -1;
  return LogonCredentialsOnce(session, &credentials);
}

int LogonWith(DbSession* session, const char* user, const char* password, const char* connect,
              uint32_t credential_type, uint32_t mode) {
  if (user == nullptr) user = "";
  if (password == nullptr) password = "";
  if (connect == nullptr) connect = "";
  if (session->oci == nullptr) {
    SessionMessageFormat(session, "%s\n", messages::kNoProvider);
    return -1;
  }
  const OciApi* oci = session->oci;

  // Threaded: parallel pieces call the client at the same time, each on its own environment.
  if (oci->EnvNlsCreate(&session->environment, OCI_THREADED, nullptr, nullptr, nullptr, nullptr, 0,
                        nullptr, session->charset_id, session->ncharset_id) != OCI_SUCCESS ||
      session->environment == nullptr) {
    ReportEnvironmentFailure(session);
    return -1;
  }
  // Without an error handle there is nothing to ask for an error text.
  if (oci->HandleAlloc(session->environment, reinterpret_cast<void**>(&session->error),
                       OCI_HTYPE_ERROR, 0, nullptr) != OCI_SUCCESS ||
      oci->HandleAlloc(session->environment, reinterpret_cast<void**>(&session->server),
                       OCI_HTYPE_SERVER, 0, nullptr) != OCI_SUCCESS ||
      oci->HandleAlloc(session->environment, reinterpret_cast<void**>(&session->service),
                       OCI_HTYPE_SVCCTX, 0, nullptr) != OCI_SUCCESS) {
    return -1;
  }

  bool ok =
      oci->ServerAttach(session->server, session->error, reinterpret_cast<const OraText*>(connect),
                        static_cast<sb4>(strlen(connect)), OCI_DEFAULT) == OCI_SUCCESS &&
      oci->AttrSet(session->service, OCI_HTYPE_SVCCTX, session->server, 0, OCI_ATTR_SERVER,
                   session->error) == OCI_SUCCESS &&
      oci->HandleAlloc(session->environment, reinterpret_cast<void**>(&session->user_session),
                       OCI_HTYPE_SESSION, 0, nullptr) == OCI_SUCCESS &&
      oci->AttrSet(session->user_session, OCI_HTYPE_SESSION, const_cast<char*>(user),
                   static_cast<ub4>(strlen(user)), OCI_ATTR_USERNAME,
                   session->error) == OCI_SUCCESS &&
      oci->AttrSet(session->user_session, OCI_HTYPE_SESSION, const_cast<char*>(password),
                   static_cast<ub4>(strlen(password)), OCI_ATTR_PASSWORD,
                   session->error) == OCI_SUCCESS &&
      // A logon in a password's grace period opens the session with a warning.
      Succeeded(AcceptWarning(
          session, oci->SessionBegin(session->service, session->error, session->user_session,
                                     credential_type, mode))) &&
      oci->AttrSet(session->service, OCI_HTYPE_SVCCTX, session->user_session, 0, OCI_ATTR_SESSION,
                   session->error) == OCI_SUCCESS;
  if (!ok) {
    ReportError(session);
    return -1;
  }
  return 0;
}

int Logoff(DbSession* session) {
  const OciApi* oci = session->oci;
  if (oci != nullptr) {
    if (session->user_session != nullptr) {
      oci->SessionEnd(session->service, session->error, session->user_session, OCI_DEFAULT);
    }
    if (session->server != nullptr) {
      oci->ServerDetach(session->server, session->error, OCI_DEFAULT);
    }
    // Freeing the environment releases every handle and descriptor made from it.
    if (session->environment != nullptr) oci->HandleFree(session->environment, OCI_HTYPE_ENV);
  }
  session->environment = nullptr;
  session->error = nullptr;
  session->server = nullptr;
  session->service = nullptr;
  session->user_session = nullptr;
  session->oci = nullptr;
  return 0;
}

int ReportError(DbSession* session) {
  session->last_error_code = 0;
  memset(session->last_error_text, 0, sizeof(session->last_error_text));
  if (session->oci == nullptr || session->error == nullptr) return 0;
  sb4 code = 0;
  session->oci->ErrorGet(session->error, 1, nullptr, &code,
                         reinterpret_cast<OraText*>(session->last_error_text),
                         sizeof(session->last_error_text), OCI_HTYPE_ERROR);
  // A text that fills the whole buffer is still passed on terminated.
  session->last_error_text[sizeof(session->last_error_text) - 1] = '\0';
  session->last_error_code = code;
  if (code != 0) SessionMessage(session, session->last_error_text);
  return code;
}

sword AcceptWarning(DbSession* session, sword status) {
  if (status != OCI_SUCCESS_WITH_INFO) return status;
  constexpr int kTruncationOrNullFetch = 24345;
  constexpr int kColumnTruncated = 1406;
  if (session->oci == nullptr || session->error == nullptr) return OCI_ERROR;
  sb4 code = 0;
  char text[sizeof session->last_error_text] = "";
  if (session->oci->ErrorGet(session->error, 1, nullptr, &code, reinterpret_cast<OraText*>(text),
                             sizeof text, OCI_HTYPE_ERROR) != OCI_SUCCESS ||
      code == 0 || code == kTruncationOrNullFetch || code == kColumnTruncated) {
    return OCI_ERROR;
  }
  text[sizeof text - 1] = '\0';
  for (int idx = 0; idx < session->warning_count; ++idx) {
    if (session->warnings[idx] == code) return OCI_SUCCESS_WITH_INFO;
  }
  // Past the capacity a warning may be repeated; none is ever kept from the log.
  constexpr int kWarningSlots = sizeof session->warnings / sizeof session->warnings[0];
  if (session->warning_count < kWarningSlots) session->warnings[session->warning_count++] = code;
  SessionMessage(session, text);
  return OCI_SUCCESS_WITH_INFO;
}

void ResolveCharsetIds(DbSession* session, const char* charset, const char* ncharset,
                       uint16_t* charset_id, uint16_t* ncharset_id) {
  *charset_id = 0;
  *ncharset_id = 0;
  const OciApi* oci = session->oci;
  if (oci != nullptr && session->environment != nullptr) {
    if (charset != nullptr && charset[0] != '\0') {
      *charset_id =
          oci->NlsCharSetNameToId(session->environment, reinterpret_cast<const OraText*>(charset));
    }
    if (ncharset != nullptr && ncharset[0] != '\0') {
      *ncharset_id =
          oci->NlsCharSetNameToId(session->environment, reinterpret_cast<const OraText*>(ncharset));
    }
  }
  if (*ncharset_id == 0) *ncharset_id = *charset_id;
}

}  // namespace rowflume
