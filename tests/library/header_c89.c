/* Compiled as strict C89 only to prove the public header is; it is never run. */
#include "rowflume.h"

int rowflume_header_c89_check(void);

int rowflume_header_c89_check(void) {
  ROWFLUMEHandle handle = 0;
  ROWFLUMECallback callback = 0;
  return ROWFLUMEHandleCallback(handle, 0, callback) == 0 ? ROWFLUME_OK : ROWFLUME_LOGON_FAILED;
}
