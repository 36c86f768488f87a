// The embedded engine's function table, the provider chosen for "sqlite:" connect identifiers.
#include "engine/embedded_api.h"

#include "engine/engine.h"

namespace rowflume {
namespace {

// Each entry marks its call on the environment, so that unsafe use by threads is seen.
#define ROWFLUME_ENGINE_GUARDED(result, name, parameters, arguments) \
  result name parameters {                                           \
    engine::EnvironmentCall call(engine::CallHandle arguments);      \
    return engine::name arguments;                                   \
  }
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_GUARDED)
#undef ROWFLUME_ENGINE_GUARDED

}  // namespace

const OciApi* EmbeddedApi() {
  static const OciApi kTable = {.provider = "embedded engine",
#define ROWFLUME_ENGINE_ENTRY(result, name, parameters, arguments) .name = name,
                                ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_ENTRY)
#undef ROWFLUME_ENGINE_ENTRY
  };
  return &kTable;
}

}  // namespace rowflume
