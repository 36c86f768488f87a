// The stand-in client library: the engine under the client's own function names.
#include <string>

#include "engine/engine_support.h"
#include "platform/platform.h"

namespace rowflume::enginetest {
namespace {

TEST(EngineStandIn, ExportsTheClientFunctionsThatRunTheEngine) {
  std::string file = ROWFLUME_STANDIN;
  char error[512] = {};
  void* library = OpenSharedLibrary(file.c_str(), error, sizeof error);
  ASSERT_NE(library, nullptr) << error;
  OciApi table{};
  table.provider = "stand-in";
  // Every function of the list must be exported under its client name.
#define ROWFLUME_RESOLVE(result, name, parameters, arguments)                           \
  table.name = reinterpret_cast<OCI##name##Fn>(FindSharedSymbol(library, "OCI" #name)); \
  EXPECT_NE(table.name, nullptr) << "OCI" #name;
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_RESOLVE)
#undef ROWFLUME_RESOLVE
  // The engine's own entry points stay hidden (rowflume::EmbeddedApi() here).
  EXPECT_EQ(FindSharedSymbol(library, "_ZN8rowflume11EmbeddedApiEv"), nullptr);
  if (!HasFailure()) {
    std::string path = MakeDatabase("standin", "CREATE TABLE t(a); INSERT INTO t VALUES ('hi');");
    {
      Connection conn(&table);
      // The client receives what follows the at sign: here the plain path.
      ASSERT_EQ(conn.Logon(path), OCI_SUCCESS) << conn.ErrorText();
      EXPECT_EQ(conn.One("select a from t"), "hi");
      EXPECT_EQ(conn.One("SELECT USER FROM DUAL"), "SCOTT");
    }
  }
  CloseSharedLibrary(library);
}

}  // namespace
}  // namespace rowflume::enginetest
