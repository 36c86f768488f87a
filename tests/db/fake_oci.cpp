#include "db/fake_oci.h"

#include <cstring>
#include <map>

namespace rowflume::testing_oci {
namespace {

FakeState state;
std::map<std::string, int> uses;
unsigned char handle_pool[64];  // distinct addresses serve as handles
int next_handle = 0;

// Logs the call and tells whether it is the one chosen to fail.
bool Fails(const std::string& label) {
  state.calls.push_back(label);
  int use = ++uses[label];
  return label == state.fail_call && use == state.fail_occurrence;
}

void* NewHandle() {
  return &handle_pool[next_handle++ % 64];
}

sword EnvNlsCreate(OCIEnv** env, ub4, void*, void* (*)(void*, size_t),
                   void* (*)(void*, void*, size_t), void (*)(void*, void*), size_t, void**,
                   ub2 charset, ub2 ncharset) {
  state.charset_id = charset;
  state.ncharset_id = ncharset;
  if (Fails("EnvNlsCreate")) return state.fail_status;
  *env = static_cast<OCIEnv*>(NewHandle());
  return OCI_SUCCESS;
}

ub2 NlsCharSetNameToId(void*, const OraText* name) {
  state.calls.push_back("NlsCharSetNameToId");
  return strcmp(reinterpret_cast<const char*>(name), "AL32UTF8") == 0 ? 873 : 0;
}

sword HandleAlloc(const void*, void** handle, ub4 type, size_t, void**) {
  if (Fails("HandleAlloc(" + std::to_string(type) + ")")) return state.fail_status;
  *handle = NewHandle();
  return OCI_SUCCESS;
}

sword HandleFree(void*, ub4 type) {
  return Fails("HandleFree(" + std::to_string(type) + ")") ? state.fail_status : OCI_SUCCESS;
}

sword DescriptorAlloc(const void*, void**, ub4, size_t, void**) {
  return OCI_ERROR;
}

sword ServerAttach(OCIServer*, OCIError*, const OraText* link, sb4 length, ub4) {
  state.attach_connect.assign(reinterpret_cast<const char*>(link), length);
  return Fails("ServerAttach") ? state.fail_status : OCI_SUCCESS;
}

sword ServerDetach(OCIServer*, OCIError*, ub4) {
  return Fails("ServerDetach") ? state.fail_status : OCI_SUCCESS;
}

sword AttrSet(void*, ub4, void* value, ub4 size, ub4 attribute, OCIError*) {
  if (attribute == OCI_ATTR_USERNAME) state.username.assign(static_cast<char*>(value), size);
  if (attribute == OCI_ATTR_PASSWORD) state.password.assign(static_cast<char*>(value), size);
  return Fails("AttrSet(" + std::to_string(attribute) + ")") ? state.fail_status : OCI_SUCCESS;
}

sword AttrGet(const void*, ub4, void*, ub4*, ub4, OCIError*) {
  return OCI_ERROR;
}

sword SessionBegin(OCISvcCtx*, OCIError*, OCISession*, ub4 credentials, ub4 mode) {
  state.credential_type = credentials;
  state.session_mode = mode;
  return Fails("SessionBegin") ? state.fail_status : OCI_SUCCESS;
}

sword SessionEnd(OCISvcCtx*, OCIError*, OCISession*, ub4) {
  return Fails("SessionEnd") ? state.fail_status : OCI_SUCCESS;
}

sword StmtPrepare(OCIStmt*, OCIError*, const OraText* text, ub4 length, ub4, ub4) {
  state.prepared_text.assign(reinterpret_cast<const char*>(text), length);
  return Fails("StmtPrepare") ? state.fail_status : OCI_SUCCESS;
}

sword StmtExecute(OCISvcCtx*, OCIStmt*, OCIError*, ub4 iterations, ub4, const OCISnapshot*,
                  OCISnapshot*, ub4 mode) {
  state.execute_iterations = iterations;
  state.execute_mode = mode;
  return Fails("StmtExecute") ? state.fail_status : OCI_SUCCESS;
}

sword BindByName(OCIStmt*, OCIBind** bind, OCIError*, const OraText* name, sb4 name_length,
                 void* value, sb4 value_length, ub2 type, void*, ub2*, ub2*, ub4 max_array, ub4*,
                 ub4) {
  state.bind_name.assign(reinterpret_cast<const char*>(name), name_length);
  state.bind_value.assign(static_cast<const char*>(value), value_length);
  state.bind_type = type;
  state.bind_max_array = max_array;
  if (Fails("BindByName")) return state.fail_status;
  *bind = static_cast<OCIBind*>(NewHandle());
  return OCI_SUCCESS;
}

sword ParamGet(const void*, ub4, OCIError*, void**, ub4) {
  return OCI_ERROR;
}

char* define_target = nullptr;

sword DefineByPos(OCIStmt*, OCIDefine** define, OCIError*, ub4, void* value, sb4 size, ub2 type,
                  void*, ub2*, ub2*, ub4) {
  state.define_size = size;
  state.define_type = type;
  if (Fails("DefineByPos")) return state.fail_status;
  define_target = static_cast<char*>(value);
  *define = static_cast<OCIDefine*>(NewHandle());
  return OCI_SUCCESS;
}

sword StmtFetch(OCIStmt*, OCIError*, ub4, ub2, ub4) {
  if (Fails("StmtFetch")) {
    // A failing fetch may still have scribbled into the buffer.
    if (define_target != nullptr) strcpy(define_target, "PARTIAL");
    return state.fail_status;
  }
  snprintf(define_target, static_cast<size_t>(state.define_size), "%s", state.current_user.c_str());
  return OCI_SUCCESS;
}

sword LobOpen(OCISvcCtx*, OCIError*, OCILobLocator*, ub1) {
  return OCI_ERROR;
}
sword LobRead(OCISvcCtx*, OCIError*, OCILobLocator*, ub4*, ub4, void*, ub4, void*,
              sb4 (*)(void*, const void*, ub4, ub1), ub2, ub1) {
  return OCI_ERROR;
}
sword LobClose(OCISvcCtx*, OCIError*, OCILobLocator*) {
  return OCI_ERROR;
}

sword ErrorGet(void*, ub4 record, OraText*, sb4* code, OraText* buffer, ub4 size, ub4 type) {
  state.calls.push_back("ErrorGet");
  if (record != 1 || type != OCI_HTYPE_ERROR || state.error_code == 0) return OCI_NO_DATA;
  *code = state.error_code;
  if (state.error_text_fills_buffer) {
    memset(buffer, 'x', size);
  } else {
    snprintf(reinterpret_cast<char*>(buffer), size, "%s", state.error_text.c_str());
  }
  return OCI_SUCCESS;
}

const OciApi kFakeApi = {"fake",          EnvNlsCreate, NlsCharSetNameToId, HandleAlloc, HandleFree,
                         DescriptorAlloc, ServerAttach, ServerDetach,       AttrSet,     AttrGet,
                         SessionBegin,    SessionEnd,   StmtPrepare,        StmtExecute, BindByName,
                         ParamGet,        DefineByPos,  StmtFetch,          LobOpen,     LobRead,
                         LobClose,        ErrorGet};

}  // namespace

FakeState& Fake() {
  return state;
}

const OciApi* ResetFake() {
  state = FakeState();
  uses.clear();
  define_target = nullptr;
  return &kFakeApi;
}

void FailNextUse(const std::string& label) {
  state.fail_call = label;
  state.fail_occurrence = uses[label] + 1;
}

std::string CallLog() {
  std::string log;
  for (const std::string& call : state.calls) {
    if (!log.empty()) log += ' ';
    log += call;
  }
  return log;
}

}  // namespace rowflume::testing_oci
