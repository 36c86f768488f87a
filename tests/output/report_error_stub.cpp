// The error report of the session module, for test programs linked without it: the same
// contract (fetch the current error through the provider, keep it in the session, pass the text
// to the callback). Weak, so the real routine wins wherever it is linked in.
#include <cstring>

#include "db/session.h"

namespace rowflume {

__attribute__((weak)) int ReportError(DbSession* session) {
  session->last_error_code = 0;
  std::memset(session->last_error_text, 0, sizeof session->last_error_text);
  if (session->oci == nullptr || session->error == nullptr) return 0;
  sb4 code = 0;
  session->oci->ErrorGet(session->error, 1, nullptr, &code,
                         reinterpret_cast<OraText*>(session->last_error_text),
                         sizeof session->last_error_text, OCI_HTYPE_ERROR);
  session->last_error_text[sizeof session->last_error_text - 1] = '\0';
  session->last_error_code = code;
  if (code != 0 && session->callback != nullptr) {
    session->callback(session->callback_context, session->last_error_text);
  }
  return code;
}

}  // namespace rowflume
