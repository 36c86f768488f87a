// The stand-in client library: the engine under the client's own function names.
#include <string>

#include "engine/engine_support.h"
#include "platform/platform.h"

namespace rowflume::enginetest {
namespace {

TEST(EngineStandIn, ExportsTheClientFunctionsThatRunTheEngine) {
  std::string file = std::string(ROWFLUME_BUILD_DIR) + "/standin/libclntsh.so";
  char error[512] = {};
  void* library = OpenSharedLibrary(file.c_str(), error, sizeof error);
  ASSERT_NE(library, nullptr) << error;
  OciApi table{};
  table.provider = "stand-in";
  // Resolves one name into the matching table slot; every one of the 21 must exist.
  auto resolve = [library](const char* name, auto* slot) {
    void* symbol = FindSharedSymbol(library, name);
    EXPECT_NE(symbol, nullptr) << name;
    *slot = reinterpret_cast<std::remove_pointer_t<decltype(slot)>>(symbol);
  };
  resolve("OCIEnvNlsCreate", &table.EnvNlsCreate);
  resolve("OCINlsCharSetNameToId", &table.NlsCharSetNameToId);
  resolve("OCIHandleAlloc", &table.HandleAlloc);
  resolve("OCIHandleFree", &table.HandleFree);
  resolve("OCIDescriptorAlloc", &table.DescriptorAlloc);
  resolve("OCIServerAttach", &table.ServerAttach);
  resolve("OCIServerDetach", &table.ServerDetach);
  resolve("OCIAttrSet", &table.AttrSet);
  resolve("OCIAttrGet", &table.AttrGet);
  resolve("OCISessionBegin", &table.SessionBegin);
  resolve("OCISessionEnd", &table.SessionEnd);
  resolve("OCIStmtPrepare", &table.StmtPrepare);
  resolve("OCIStmtExecute", &table.StmtExecute);
  resolve("OCIBindByName", &table.BindByName);
  resolve("OCIParamGet", &table.ParamGet);
  resolve("OCIDefineByPos", &table.DefineByPos);
  resolve("OCIStmtFetch", &table.StmtFetch);
  resolve("OCILobOpen", &table.LobOpen);
  resolve("OCILobRead", &table.LobRead);
  resolve("OCILobClose", &table.LobClose);
  resolve("OCIErrorGet", &table.ErrorGet);
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
