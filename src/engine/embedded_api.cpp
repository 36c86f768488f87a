// The embedded engine's function table, the provider chosen for "sqlite:" connect identifiers.
#include "db/oci_api.h"
#include "engine/engine.h"

namespace rowflume {

const OciApi* EmbeddedApi() {
  static const OciApi kTable = {.provider = "embedded engine",
#define ROWFLUME_ENGINE_ENTRY(result, name, parameters, arguments) .name = engine::name,
                                ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_ENTRY)
#undef ROWFLUME_ENGINE_ENTRY
  };
  return &kTable;
}

}  // namespace rowflume
