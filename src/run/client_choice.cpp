#include "run/client_choice.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/messages.h"
#include "engine/embedded_api.h"
#include "oci/client_library.h"

namespace rowflume {
namespace {

std::atomic<ProviderFilter> provider_filter{nullptr};

// Sets the session's table for the resolved connect string: 0, or -1 with the loader's message
// (or, when a filter hands out none, the generic one) passed to the callback.
int ChooseClient(DbSession* session, const char* connect) {
  char message[2048] = "";
  session->oci = SelectProvider(connect, message, sizeof(message) - 1);
  if (session->oci != nullptr) return 0;
  if (message[0] == '\0') std::snprintf(message, sizeof(message) - 1, "%s", messages::kNoProvider);
  strcat(message, "\n");  // one byte was kept free for the line feed
  SessionMessage(session, message);
  return -1;
}

}  // namespace

bool IsEmbeddedConnect(const char* connect) {
  return connect != nullptr && strncmp(connect, kEmbeddedPrefix, sizeof(kEmbeddedPrefix) - 1) == 0;
}

const OciApi* SelectProvider(const char* connect, char* message, size_t message_size) {
  const OciApi* chosen =
      IsEmbeddedConnect(connect) ? EmbeddedApi() : ClientLibraryApi(message, message_size);
  ProviderFilter filter = provider_filter.load(std::memory_order_acquire);
  if (chosen != nullptr && filter != nullptr) chosen = filter(chosen);
  return chosen;
}

void SetProviderFilter(ProviderFilter filter) {
  provider_filter.store(filter, std::memory_order_release);
}

int LogonChosenClient(DbSession* session, const char* user_string) {
  LogonCredentials credentials;
  if (ReadUserString(session, user_string, &credentials) != 0) return -1;
  if (ChooseClient(session, credentials.connect) != 0) {
    memset(credentials.password, 0, sizeof(credentials.password));
    return -1;
  }
  return LogonCredentialsOnce(session, &credentials);
}

}  // namespace rowflume
