// Handles of the embedded engine: allocation and freeing, the environment's list of everything
// allocated from it, the lifetimes of the handle records, and the character set names an
// environment knows.
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "common/ascii.h"
#include "engine/engine.h"
#include "engine/flashback.h"
#include "engine/handles.h"
#include "engine/nls_numeric.h"
#include "engine/ora_errors.h"
#include "platform/platform.h"

namespace rowflume::engine {

Handle::~Handle() {
  magic = 0;
  if (listed) {
    if (prev) prev->next = next;
    if (next) next->prev = prev;
    if (env->first == this) env->first = next;
  }
}

Env::~Env() {
  // Statements first, so that every SQLite statement is finalized before its connection closes.
  for (Handle* handle = first; handle != nullptr; handle = handle->next) {
    if (handle->type == OCI_HTYPE_STMT) static_cast<Stmt*>(handle)->Finalize();
  }
  while (first != nullptr) delete first;
}

Server::~Server() {
  if (set_clock) sqlite3_finalize(set_clock);
  // close_v2 defers the close while statements of this connection are still alive.
  if (db) sqlite3_close_v2(db);
}

Define::~Define() {
  if (stmt != nullptr && position >= 1 && position <= stmt->defines.size() &&
      stmt->defines[position - 1] == this) {
    stmt->defines[position - 1] = nullptr;
  }
}

Bind::~Bind() {
  if (stmt != nullptr) {
    for (auto& slot : stmt->binds) {
      if (slot == this) slot = nullptr;
    }
  }
}

Stmt::~Stmt() {
  Finalize();
  for (auto& slot : defines) {
    Define* define = slot;
    slot = nullptr;
    if (define) {
      define->stmt = nullptr;
      delete define;
    }
  }
  for (auto& slot : binds) {
    Bind* bind = slot;
    slot = nullptr;
    if (bind) {
      bind->stmt = nullptr;
      delete bind;
    }
  }
}

void Stmt::Finalize() {
  if (st) sqlite3_finalize(st);
  st = nullptr;
  LeaveSnapshot(this);
  row_pending = false;
  finished = true;
}

void Stmt::Detach() {
  Finalize();
  executed = false;
  plan_ready = false;
  server = nullptr;
  session = nullptr;
}

namespace {

std::atomic<int> threaded_environments{0};
std::atomic<int> unthreaded_environments{0};
std::atomic<int> unsafe_overlaps{0};
std::atomic<int> calls_inside{0};             // calls in progress, on any thread
std::atomic<int> unthreaded_calls_inside{0};  // of them, on environments not created threaded
std::atomic<bool> overlap_reported{false};

constexpr char kUnsafeOverlap[] =
    "embedded engine: a client environment created without OCI_THREADED was in use while "
    "another thread called the client\n";

constexpr ub2 kUtf16Id = 1000;
constexpr ub2 kAl16Utf16Id = 2000;

// NLS_LANG is [LANGUAGE][_TERRITORY][.CHARSET]; a character set part must name one the client
// knows and may use for its own texts, which excludes the UTF-16 sets.
bool IsClientCharsetOf(const char* nls_lang) {
  if (nls_lang == nullptr) return true;
  const char* dot = std::strrchr(nls_lang, '.');
  if (dot == nullptr) return true;
  const ub2 id = NlsCharSetNameToId(nullptr, reinterpret_cast<const OraText*>(dot + 1));
  return id != 0 && id != kUtf16Id && id != kAl16Utf16Id;
}

}  // namespace

EnvironmentCall::EnvironmentCall(const void* handle) {
  auto* head = static_cast<const Handle*>(handle);
  if (head == nullptr || head->magic != kHandleMagic || head->env == nullptr) return;
  counted_ = true;
  // Only the mode is kept: the call may free the environment (HandleFree).
  unthreaded_ = (head->env->mode & OCI_THREADED) == 0;
  const int others = calls_inside.fetch_add(1);
  const int unthreaded_others =
      unthreaded_ ? unthreaded_calls_inside.fetch_add(1) : unthreaded_calls_inside.load();
  if (others > 0 && (unthreaded_ || unthreaded_others > 0)) {
    unsafe_overlaps.fetch_add(1);
    if (!overlap_reported.exchange(true)) {
      WriteAll(StderrStream(), kUnsafeOverlap, sizeof kUnsafeOverlap - 1);
    }
  }
}

EnvironmentCall::~EnvironmentCall() {
  if (!counted_) return;
  if (unthreaded_) unthreaded_calls_inside.fetch_sub(1);
  calls_inside.fetch_sub(1);
}

EnvironmentTally CountEnvironments() {
  return {threaded_environments.load(), unthreaded_environments.load(), unsafe_overlaps.load()};
}

sword EnvNlsCreate(OCIEnv** envhpp, ub4 mode, void* /*ctxp*/, void* (* /*malocfp*/)(void*, size_t),
                   void* (* /*ralocfp*/)(void*, void*, size_t), void (* /*mfreefp*/)(void*, void*),
                   size_t /*xtramem_sz*/, void** usrmempp, ub2 charset, ub2 ncharset) {
  if (envhpp == nullptr) return OCI_INVALID_HANDLE;
  Env* env = new (std::nothrow) Env();
  if (env == nullptr) {
    *envhpp = nullptr;
    return OCI_ERROR;
  }
  env->mode = mode;
  ((mode & OCI_THREADED) != 0 ? threaded_environments : unthreaded_environments).fetch_add(1);
  env->charset = charset;
  env->ncharset = ncharset;
  // The client reads its locale once, when its environment is made.
  const char* nls_lang = EnvironmentValue("NLS_LANG");
  env->decimal_character = TerritoryDecimalCharacter(nls_lang);
  if (usrmempp) *usrmempp = nullptr;
  *envhpp = reinterpret_cast<OCIEnv*>(static_cast<Handle*>(env));
  if (!IsClientCharsetOf(nls_lang)) {
    // The environment is still returned, holding the reason for OCIErrorGet on it.
    env->error.code = ora::kInvalidNlsEnvironment.code;
    env->error.text = std::string("ORA-12705: ") + ora::kInvalidNlsEnvironment.text + "\n";
    return OCI_ERROR;
  }
  return OCI_SUCCESS;
}

ub2 NlsCharSetNameToId(void* /*envhp*/, const OraText* name) {
  if (name == nullptr) return 0;
  static const struct {
    const char* name;
    ub2 id;
  } kCharsets[] = {
      {"US7ASCII", 1},         {"WE8DEC", 2},         {"WE8PC850", 10},
      {"WE8ISO8859P1", 31},    {"EE8ISO8859P2", 32},  {"WE8ISO8859P15", 46},
      {"EE8MSWIN1250", 170},   {"CL8MSWIN1251", 171}, {"EL8MSWIN1253", 174},
      {"IW8MSWIN1255", 175},   {"TR8MSWIN1254", 177}, {"WE8MSWIN1252", 178},
      {"BLT8MSWIN1257", 179},  {"AR8MSWIN1256", 560}, {"JA16EUC", 830},
      {"JA16SJIS", 832},       {"KO16KSC5601", 840},  {"KO16MSWIN949", 846},
      {"ZHS16CGB231280", 850}, {"ZHS16GBK", 852},     {"ZHS32GB18030", 854},
      {"ZHT32EUC", 860},       {"ZHT16BIG5", 865},    {"ZHT16MSWIN950", 867},
      {"ZHT16HKSCS", 868},     {"UTF8", 871},         {"AL32UTF8", 873},
      {"UTF16", 1000},         {"AL16UTF16", 2000},
  };
  for (const auto& entry : kCharsets) {
    if (EqualIgnoringCase(reinterpret_cast<const char*>(name), entry.name)) return entry.id;
  }
  return 0;
}

sword HandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t /*xtramem_sz*/,
                  void** usrmempp) {
  Env* env = Cast<Env>(parenth, OCI_HTYPE_ENV);
  if (env == nullptr || hndlpp == nullptr) return OCI_INVALID_HANDLE;
  if (usrmempp) *usrmempp = nullptr;
  Handle* handle = nullptr;
  switch (type) {
    case OCI_HTYPE_ERROR:
      handle = Track(new Error(env));
      break;
    case OCI_HTYPE_SERVER:
      handle = Track(new Server(env));
      break;
    case OCI_HTYPE_SVCCTX:
      handle = Track(new SvcCtx(env));
      break;
    case OCI_HTYPE_SESSION:
      handle = Track(new Session(env));
      break;
    case OCI_HTYPE_STMT:
      handle = Track(new Stmt(env));
      break;
    default:
      *hndlpp = nullptr;
      return OCI_INVALID_HANDLE;
  }
  *hndlpp = handle;
  return OCI_SUCCESS;
}

sword DescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t /*xtramem_sz*/,
                      void** usrmempp) {
  Env* env = Cast<Env>(parenth, OCI_HTYPE_ENV);
  if (env == nullptr || descpp == nullptr) return OCI_INVALID_HANDLE;
  if (usrmempp) *usrmempp = nullptr;
  if (type != OCI_DTYPE_LOB && type != OCI_DTYPE_FILE) {
    *descpp = nullptr;
    return OCI_INVALID_HANDLE;
  }
  *descpp = Track(new Lob(env, type));
  return OCI_SUCCESS;
}

sword HandleFree(void* hndlp, ub4 type) {
  auto* handle = static_cast<Handle*>(hndlp);
  if (handle == nullptr || handle->magic != kHandleMagic || handle->type != type) {
    return OCI_INVALID_HANDLE;
  }
  switch (type) {
    case OCI_HTYPE_ENV:
      delete static_cast<Env*>(handle);
      return OCI_SUCCESS;
    case OCI_HTYPE_DEFINE:
    case OCI_HTYPE_BIND:
      delete handle;
      return OCI_SUCCESS;
    case OCI_HTYPE_SVCCTX:
    case OCI_HTYPE_SESSION:
    case OCI_HTYPE_ERROR:
    case OCI_HTYPE_SERVER:
    case OCI_HTYPE_STMT:
      // Service contexts that still point at a freed server or session forget it.
      if (type == OCI_HTYPE_SERVER || type == OCI_HTYPE_SESSION) {
        for (Handle* other = handle->env->first; other; other = other->next) {
          if (other->type == OCI_HTYPE_SVCCTX) {
            auto* svc = static_cast<SvcCtx*>(other);
            if (svc->server == handle) svc->server = nullptr;
            if (svc->session == handle) svc->session = nullptr;
          }
          // Statements running on it end: nothing may reach the freed handle through them.
          if (other->type == OCI_HTYPE_STMT) {
            auto* stmt = static_cast<Stmt*>(other);
            if (stmt->server == handle || stmt->session == handle) stmt->Detach();
          }
        }
      }
      delete handle;
      return OCI_SUCCESS;
    default:
      return OCI_INVALID_HANDLE;
  }
}

}  // namespace rowflume::engine
