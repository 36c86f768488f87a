// Stands in for the embedded engine's table until the engine is part of this tree; remove it
// then. Weak, so a real definition linked in always wins.
#include "db/oci_api.h"

namespace rowflume {
__attribute__((weak)) const OciApi* EmbeddedApi() {
  return nullptr;
}
}  // namespace rowflume
