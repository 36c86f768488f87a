// The run-time loading of the Oracle client library. This is the only file that knows the client
// library's file names and symbol names; everything else sees an OciApi table.
#include "oci/client_library.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/messages.h"
#include "platform/platform.h"

namespace rowflume {
namespace {

// Newest first, as installations keep only one version and the unversioned name is a
// development symlink that an Instant Client zip does not always carry.
#if defined(_WIN32)
constexpr const char* kClientFiles[] = {"oci.dll"};
constexpr const char* kPathAdvice =
    "Install Oracle Instant Client and put its directory on the PATH";
#elif defined(__APPLE__)
constexpr const char* kClientFiles[] = {"libclntsh.dylib"};
constexpr const char* kPathAdvice =
    "Install Oracle Instant Client and put its directory on the library path "
    "(DYLD_LIBRARY_PATH)";
#else
constexpr const char* kClientFiles[] = {
    "libclntsh.so",      "libclntsh.so.23.1", "libclntsh.so.21.1", "libclntsh.so.20.1",
    "libclntsh.so.19.1", "libclntsh.so.18.1", "libclntsh.so.12.1", "libclntsh.so.11.1"};
constexpr const char* kPathAdvice =
    "Install Oracle Instant Client and put its directory on the library path "
    "(LD_LIBRARY_PATH)";
#endif

// Appends to a NUL-terminated text of fixed capacity; whatever does not fit is cut.
void Append(char* out, size_t out_size, const char* text) {
  if (out == nullptr || out_size == 0) return;
  size_t used = strnlen(out, out_size - 1);
  size_t room = out_size - 1 - used;
  size_t count = strlen(text);
  if (count > room) count = room;
  memcpy(out + used, text, count);
  out[used + count] = '\0';
}

void AppendFileList(char* out, size_t out_size, size_t tried) {
  for (size_t file_idx = 0; file_idx < tried; ++file_idx) {
    if (file_idx > 0) Append(out, out_size, ", ");
    Append(out, out_size, kClientFiles[file_idx]);
  }
}

// Resolves one symbol into its slot; a missing one is added to the list of missing names.
template <typename Fn>
void Resolve(void* library, const char* symbol, Fn* slot, char* missing, size_t missing_size) {
  void* address = FindSharedSymbol(library, symbol);
  // Object and function pointers share a representation on every platform with dynamic loading.
  *slot = reinterpret_cast<Fn>(address);
  if (address == nullptr) {
    if (missing[0] != '\0') Append(missing, missing_size, ", ");
    Append(missing, missing_size, symbol);
  }
}

// Fills every slot of the table from the library; false with the missing names when any lacks.
bool ResolveAll(void* library, OciApi* api, char* missing, size_t missing_size) {
  missing[0] = '\0';
#define ROWFLUME_OCI_RESOLVE(result, name, parameters, arguments) \
  Resolve(library, "OCI" #name, &api->name, missing, missing_size);
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_OCI_RESOLVE)
#undef ROWFLUME_OCI_RESOLVE
  return missing[0] == '\0';
}

// The loaded client, kept for the life of the process once complete. Workers of a parallel
// unload log on at the same time, so the first load is serialised; a failed attempt keeps
// nothing and is simply repeated by the next caller.
std::mutex client_mutex;
OciApi client_api;
bool client_loaded = false;

bool LoadClientLibrary(char* message, size_t message_size) {
  char first_error[512] = "";
  constexpr size_t kFileCount = sizeof(kClientFiles) / sizeof(kClientFiles[0]);
  for (size_t file_idx = 0; file_idx < kFileCount; ++file_idx) {
    char error[512] = "";
    void* library = OpenSharedLibrary(kClientFiles[file_idx], error, sizeof(error));
    if (library == nullptr) {
      if (file_idx == 0) std::snprintf(first_error, sizeof(first_error), "%s", error);
      continue;
    }
    OciApi api = {};
    api.provider = kClientFiles[file_idx];
    char missing[512];
    if (ResolveAll(library, &api, missing, sizeof(missing))) {
      client_api = api;
      client_loaded = true;
      return true;
    }
    // An incomplete library is not half used: it is closed and the failure names what lacks.
    CloseSharedLibrary(library);
    char files[512] = "";
    AppendFileList(files, sizeof files, file_idx + 1);
    char loader_said[640] = "";
    if (file_idx > 0) {
      std::snprintf(loader_said, sizeof loader_said, messages::kClientLoaderSaid, kClientFiles[0],
                    first_error);
    }
    std::snprintf(message, message_size, messages::kClientIncomplete, kClientFiles[file_idx],
                  missing, files, loader_said, kPathAdvice);
    return false;
  }
  char files[512] = "";
  AppendFileList(files, sizeof files, kFileCount);
  std::snprintf(message, message_size, messages::kClientNotLoaded, files, kClientFiles[0],
                first_error, kPathAdvice);
  return false;
}

}  // namespace

const OciApi* ClientLibraryApi(char* message, size_t message_size) {
  char scratch[1];
  if (message == nullptr || message_size == 0) {
    message = scratch;
    message_size = sizeof(scratch);
  }
  std::lock_guard<std::mutex> lock(client_mutex);
  if (client_loaded || LoadClientLibrary(message, message_size)) return &client_api;
  return nullptr;
}

}  // namespace rowflume
