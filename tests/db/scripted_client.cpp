#include "db/scripted_client.h"

#include <cstdio>
#include <cstring>

namespace rowflume::testing_support {
namespace {

ScriptedClient state;
unsigned char handle_pool[64];  // distinct addresses serve as handles
int next_handle = 0;
char* define_target = nullptr;

template <typename Handle>
Handle* NewHandle() {
  return reinterpret_cast<Handle*>(&handle_pool[next_handle++ % 64]);
}

}  // namespace

ScriptedClient& Scripted() {
  return state;
}

const OciApi* StartScriptedClient() {
  state = ScriptedClient();
  define_target = nullptr;
  FakeOci& fake = FakeOci::Fresh();
  OciObservers& seen = fake.observe;
  OciScripts& answer = fake.script;

  seen.EnvNlsCreate = [](OCIEnv**, ub4, void*, void* (*)(void*, size_t),
                         void* (*)(void*, void*, size_t), void (*)(void*, void*), size_t, void**,
                         ub2 charset, ub2 ncharset) {
    state.charset_id = charset;
    state.ncharset_id = ncharset;
  };
  answer.EnvNlsCreate = [](OCIEnv** env, ub4, void*, void* (*)(void*, size_t),
                           void* (*)(void*, void*, size_t), void (*)(void*, void*), size_t, void**,
                           ub2, ub2) {
    *env = NewHandle<OCIEnv>();
    return OCI_SUCCESS;
  };
  answer.NlsCharSetNameToId = [](void*, const OraText* name) -> ub2 {
    return std::strcmp(reinterpret_cast<const char*>(name), "AL32UTF8") == 0 ? 873 : 0;
  };
  answer.HandleAlloc = [](const void*, void** handle, ub4, size_t, void**) {
    *handle = NewHandle<void>();
    return OCI_SUCCESS;
  };
  answer.HandleFree = [](void*, ub4) { return OCI_SUCCESS; };
  seen.ServerAttach = [](OCIServer*, OCIError*, const OraText* link, sb4 length, ub4) {
    state.attach_connect.assign(reinterpret_cast<const char*>(link), length);
  };
  answer.ServerAttach = [](OCIServer*, OCIError*, const OraText*, sb4, ub4) { return OCI_SUCCESS; };
  answer.ServerDetach = [](OCIServer*, OCIError*, ub4) { return OCI_SUCCESS; };
  seen.AttrSet = [](void*, ub4, void* value, ub4 size, ub4 attribute, OCIError*) {
    if (attribute == OCI_ATTR_USERNAME) state.username.assign(static_cast<char*>(value), size);
    if (attribute == OCI_ATTR_PASSWORD) state.password.assign(static_cast<char*>(value), size);
  };
  answer.AttrSet = [](void*, ub4, void*, ub4, ub4, OCIError*) { return OCI_SUCCESS; };
  seen.SessionBegin = [](OCISvcCtx*, OCIError*, OCISession*, ub4 credentials, ub4 mode) {
    state.credential_type = credentials;
    state.session_mode = mode;
  };
  answer.SessionBegin = [](OCISvcCtx*, OCIError*, OCISession*, ub4, ub4) { return OCI_SUCCESS; };
  answer.SessionEnd = [](OCISvcCtx*, OCIError*, OCISession*, ub4) { return OCI_SUCCESS; };
  seen.StmtPrepare = [](OCIStmt*, OCIError*, const OraText* text, ub4 length, ub4, ub4) {
    state.prepared_text.assign(reinterpret_cast<const char*>(text), length);
  };
  answer.StmtPrepare = [](OCIStmt*, OCIError*, const OraText*, ub4, ub4, ub4) {
    return OCI_SUCCESS;
  };
  seen.StmtExecute = [](OCISvcCtx*, OCIStmt*, OCIError*, ub4 iterations, ub4, const OCISnapshot*,
                        OCISnapshot*, ub4 mode) {
    state.execute_iterations = iterations;
    state.execute_mode = mode;
  };
  answer.StmtExecute = [](OCISvcCtx*, OCIStmt*, OCIError*, ub4, ub4, const OCISnapshot*,
                          OCISnapshot*, ub4) { return OCI_SUCCESS; };
  seen.BindByName = [](OCIStmt*, OCIBind**, OCIError*, const OraText* name, sb4 name_length,
                       void* value, sb4 value_length, ub2 type, void*, ub2*, ub2*, ub4 max_array,
                       ub4*, ub4) {
    state.bind_name.assign(reinterpret_cast<const char*>(name), name_length);
    state.bind_value.assign(static_cast<const char*>(value), value_length);
    state.bind_type = type;
    state.bind_max_array = max_array;
  };
  answer.BindByName = [](OCIStmt*, OCIBind** bind, OCIError*, const OraText*, sb4, void*, sb4, ub2,
                         void*, ub2*, ub2*, ub4, ub4*, ub4) {
    *bind = NewHandle<OCIBind>();
    return OCI_SUCCESS;
  };
  seen.DefineByPos = [](OCIStmt*, OCIDefine**, OCIError*, ub4, void*, sb4 size, ub2 type, void*,
                        ub2*, ub2*, ub4) {
    state.define_size = size;
    state.define_type = type;
  };
  answer.DefineByPos = [](OCIStmt*, OCIDefine** define, OCIError*, ub4, void* value, sb4, ub2,
                          void*, ub2*, ub2*, ub4) {
    define_target = static_cast<char*>(value);
    *define = NewHandle<OCIDefine>();
    return OCI_SUCCESS;
  };
  // A failing fetch may still have scribbled into the buffer.
  fake.on_call = [](const OciCallRecord& call) {
    if (call.call == OciCall::StmtFetch && call.fails && define_target != nullptr) {
      std::strcpy(define_target, "PARTIAL");
    }
  };
  answer.StmtFetch = [](OCIStmt*, OCIError*, ub4, ub2, ub4) {
    std::snprintf(define_target, static_cast<size_t>(state.define_size), "%s",
                  state.current_user.c_str());
    return OCI_SUCCESS;
  };
  answer.ErrorGet = [](void*, ub4 record, OraText*, sb4* code, OraText* buffer, ub4 size,
                       ub4 type) {
    if (record != 1 || type != OCI_HTYPE_ERROR || state.error_code == 0) return OCI_NO_DATA;
    *code = state.error_code;
    if (state.error_text_fills_buffer) {
      std::memset(buffer, 'x', size);
    } else {
      std::snprintf(reinterpret_cast<char*>(buffer), size, "%s", state.error_text.c_str());
    }
    return OCI_SUCCESS;
  };
  return fake.api();
}

std::string CallLog() {
  return FakeOci::Get().LogText();
}

void ClearCallLog() {
  FakeOci::Get().ClearLog();
}

}  // namespace rowflume::testing_support
