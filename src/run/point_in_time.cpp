#include "run/point_in_time.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/statement.h"
#include "job/job_record.h"

namespace rowflume {
namespace {

constexpr size_t kMaxScnDigits = 20;  // an unsigned 64-bit number

bool AllDigits(const char* text, size_t max_length) {
  size_t length = std::strlen(text);
  if (length == 0 || length > max_length) return false;
  for (size_t pos = 0; pos < length; ++pos) {
    if (!IsAsciiDigit(text[pos])) return false;
  }
  return true;
}

// One name part at text: plain (letters, digits, _ $ #, a letter first) or double-quoted; the
// position after it, or null.
const char* SkipNamePart(const char* text) {
  if (*text == '"') {
    const char* close = std::strchr(text + 1, '"');
    if (close == nullptr || close == text + 1) return nullptr;
    for (const char* pos = text + 1; pos < close; ++pos) {
      if (static_cast<unsigned char>(*pos) < 0x20) return nullptr;
    }
    return close + 1;
  }
  if (!IsAsciiLetter(*text)) return nullptr;
  while (IsNameChar(*text)) ++text;
  return text;
}

struct HeldMessages {
  char text[1024] = "";
};

void HoldMessage(void* context, const char* text) {
  auto* held = static_cast<HeldMessages*>(context);
  size_t used = std::strlen(held->text);
  std::snprintf(held->text + used, sizeof held->text - used, "%s", text);
}

}  // namespace

bool IsValidScn(const char* value) {
  return value[0] == '\0' || IsCurrentScn(value) || AllDigits(value, kMaxScnDigits);
}

bool IsCurrentScn(const char* value) {
  return EqualIgnoringCase(value, "CURRENT");
}

int ResolveCurrentScn(DbSession* session, char* scn, size_t scn_bytes) {
  char value[64];
  // The view's refusal is kept back: it is news only when the second way fails as well.
  HeldMessages held;
  const RowCallback callback = session->callback;
  void* const context = session->callback_context;
  session->callback = HoldMessage;
  session->callback_context = &held;
  int status = QueryFirstValue(session, "SELECT CURRENT_SCN FROM V$DATABASE", value, sizeof value);
  session->callback = callback;
  session->callback_context = context;
  if (status != OCI_SUCCESS) {
    status = QueryFirstValue(session, "SELECT DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER FROM DUAL",
                             value, sizeof value);
    if (status != OCI_SUCCESS && held.text[0] != '\0') SessionMessage(session, held.text);
  }
  // Anything but a whole number would be sent back in a clause that does not parse.
  if (status != OCI_SUCCESS || !AllDigits(value, kMaxScnDigits) ||
      std::strlen(value) >= scn_bytes) {
    SessionMessage(session, messages::kScnUnavailable);
    return kRunQueryFailed;
  }
  std::memcpy(scn, value, std::strlen(value) + 1);
  return 0;
}

bool FormatFlashbackClause(char* out, size_t bytes, const char* scn) {
  int written = std::snprintf(out, bytes, " AS OF SCN %s", scn);
  return written >= 0 && static_cast<size_t>(written) < bytes;
}

bool AppendFlashbackClause(char* text, size_t capacity, const char* scn) {
  size_t used = std::strlen(text);
  if (FormatFlashbackClause(text + used, capacity - used, scn)) return true;
  text[used] = '\0';
  return false;
}

int EnableSessionFlashback(DbSession* session, const char* scn) {
  char text[96];
  std::snprintf(text, sizeof text, "BEGIN DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(%s); END;",
                scn);
  OCIStmt* statement = nullptr;
  return ExecuteStatement(session, &statement, text);
}

void DisableSessionFlashback(DbSession* session) {
  OCIStmt* statement = nullptr;
  ExecuteStatement(session, &statement, "BEGIN DBMS_FLASHBACK.DISABLE; END;");
}

bool IsBareTableName(const char* text) {
  const char* end = SkipNamePart(text);
  if (end != nullptr && *end == '.') end = SkipNamePart(end + 1);
  return end != nullptr && *end == '\0';
}

}  // namespace rowflume
