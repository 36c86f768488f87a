// The embedded engine under the client library's own function names, for the stand-in client
// library: one exported OCI<Name> per entry of the client function list, each passing its
// arguments on unchanged. Only these functions are visible outside the library.
#include "engine/engine.h"

namespace {

using rowflume::OCIBind;
using rowflume::OCIDefine;
using rowflume::OCIEnv;
using rowflume::OCIError;
using rowflume::OCILobLocator;
using rowflume::OCIServer;
using rowflume::OCISession;
using rowflume::OCISnapshot;
using rowflume::OCIStmt;
using rowflume::OCISvcCtx;
using rowflume::OraText;
using rowflume::sb4;
using rowflume::sword;
using rowflume::ub1;
using rowflume::ub2;
using rowflume::ub4;

}  // namespace

// The client's functions use the C calling convention, also on 32-bit Windows, and keep their
// plain names there.
#if defined(_WIN32)
#define ROWFLUME_ENGINE_VISIBLE __declspec(dllexport)
#else
#define ROWFLUME_ENGINE_VISIBLE __attribute__((visibility("default")))
#endif

#define ROWFLUME_ENGINE_EXPORT(result, name, parameters, arguments)                 \
  extern "C" ROWFLUME_ENGINE_VISIBLE result OCI##name parameters {                  \
    rowflume::engine::EnvironmentCall call(rowflume::engine::CallHandle arguments); \
    return rowflume::engine::name arguments;                                        \
  }
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_ENGINE_EXPORT)
#undef ROWFLUME_ENGINE_EXPORT
#undef ROWFLUME_ENGINE_VISIBLE
