// The embedded engine's function table, the provider chosen for "sqlite:" connect identifiers.
#include "db/oci_api.h"
#include "engine/engine.h"

namespace rowflume {

const OciApi* EmbeddedApi() {
  static const OciApi kTable = {
      "embedded engine",    engine::EnvNlsCreate, engine::NlsCharSetNameToId,
      engine::HandleAlloc,  engine::HandleFree,   engine::DescriptorAlloc,
      engine::ServerAttach, engine::ServerDetach, engine::AttrSet,
      engine::AttrGet,      engine::SessionBegin, engine::SessionEnd,
      engine::StmtPrepare,  engine::StmtExecute,  engine::BindByName,
      engine::ParamGet,     engine::DefineByPos,  engine::StmtFetch,
      engine::LobOpen,      engine::LobRead,      engine::LobClose,
      engine::ErrorGet,
  };
  return &kTable;
}

}  // namespace rowflume
