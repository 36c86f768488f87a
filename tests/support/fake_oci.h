// One configurable client provider for tests, generated from the list of client functions
// (oci/oci_functions.h), so a function added there is faked here without an edit. Each call is
// logged, may be made to fail on its n-th use, and is then answered by the test's script for
// that function, else passed through to a real provider (the embedded engine, say), else
// refused with OCI_ERROR. Calls are serialised by one lock, so the workers of a parallel unload
// may share the fake; the lock is held while a script or the real provider runs.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "oci/oci_api.h"

namespace rowflume::testing_support {

enum class OciCall {
#define ROWFLUME_FAKE_ENUMERATOR(result, name, parameters, arguments) name,
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_ENUMERATOR)
#undef ROWFLUME_FAKE_ENUMERATOR
};
constexpr int kOciCallCount = kOciFunctionCount;

const char* OciCallName(OciCall call);
// False for the calls whose result is no status (a character set id), which a failure cannot
// take over.
bool ReportsStatus(OciCall call);

// One call as the fake saw it.
struct OciCallRecord {
  OciCall call;
  // The name, followed by the handle or attribute type in parentheses where that tells uses of
  // a function apart: "HandleAlloc(4)", "AttrSet(22)", "StmtPrepare".
  std::string label;
  long detail = -1;                  // that type; -1 for the other functions
  int use = 0;                       // which use of the function this is, from 1
  OCIError* error_handle = nullptr;  // the call's error handle, if it takes one
  std::thread::id thread;
  bool fails = false;  // a failure was injected into this call
};

// A failure to inject.
struct OciFailure {
  static constexpr int kEveryUse = 0;
  // A function's name, whose uses all count, or a label with a type, whose uses alone count.
  std::string label;
  int use = 1;  // which use fails, from 1; kEveryUse: every one
  sword status = OCI_ERROR;
  // The call is carried out before it reports the failure, as by a client that loses its
  // connection while tidying up.
  bool takes_effect = false;
  // The record ErrorGet then finds on the call's error handle, until another call uses that
  // handle; 0: no record.
  sb4 error_code = 0;
  std::string error_text = "";
};

// What a test puts in place of a function: its answer, or a look at its arguments before any
// answer (also for calls that fail). Each member is named after its function.
struct OciScripts {
#define ROWFLUME_FAKE_SCRIPT(result, name, parameters, arguments) \
  std::function<result parameters> name;
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_SCRIPT)
#undef ROWFLUME_FAKE_SCRIPT
};
struct OciObservers {
#define ROWFLUME_FAKE_OBSERVER(result, name, parameters, arguments) \
  std::function<void parameters> name;
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_OBSERVER)
#undef ROWFLUME_FAKE_OBSERVER
};

class FakeOci {
 public:
  // The fake of the process: a function table holds plain function pointers, so there is one.
  static FakeOci& Get();
  // The same after Reset, for a test that starts from scratch.
  static FakeOci& Fresh();
  // A provider filter (SetProviderFilter) that hands the fake to every logon and passes its
  // calls through to the provider the logon chose.
  static const OciApi* Filter(const OciApi* chosen);

  // The fake's function table, to preset on a session or return from a filter.
  const OciApi* api() const;

  // Forgets everything: provider, scripts, observers, hook, failures, log and counts.
  void Reset();
  // Forgets the calls seen, but not how often each was used.
  void ClearLog();

  void PassThrough(const OciApi* real);
  const OciApi* real() const;

  void Fail(OciFailure failure);
  // Makes that use of the labelled call fail with OCI_ERROR and no error record.
  void Fail(const std::string& label, int use);
  // Makes the next use of the labelled call fail.
  void FailNextUse(const std::string& label, sword status = OCI_ERROR);

  std::vector<OciCallRecord> Log() const;
  // The labels of the log, separated by blanks.
  std::string LogText() const;
  // How often the function was called, or the label seen, since the last Reset.
  int Uses(OciCall call) const;
  int Uses(const std::string& label) const;

  // Set these before the calls they concern; they run under the fake's lock. The observer of a
  // function runs first, then on_call with the record, then the answer.
  OciScripts script;
  OciObservers observe;
  std::function<void(const OciCallRecord&)> on_call;

  // The body of every faked function (the generated functions of fake_oci.cpp call it).
  template <OciCall kCall, typename Result, typename... Args>
  Result Dispatch(std::function<Result(Args...)> OciScripts::*script_member,
                  std::function<void(Args...)> OciObservers::*observer_member,
                  Result (*OciApi::*real_member)(Args...), std::type_identity_t<Args>... args);

 private:
  struct Pending {
    OCIError* handle = nullptr;
    sb4 code = 0;
    std::string text;
  };

  FakeOci() = default;
  // Counts and labels a call, and tells whether a failure is injected into it (its index in
  // failures_ through *failure).
  OciCallRecord Begin(OciCall call, long detail, OCIError* error_handle, int* failure);
  void Announce(const OciCallRecord& record);
  sword Failed(const OciCallRecord& record, int failure);
  // Answers an ErrorGet on the handle of an injected failure with the failure's record.
  bool AnswerFromPending(void* handle, ub4 record, OraText* sqlstate, sb4* code, OraText* text,
                         ub4 size, ub4 type);
  // A fetch that fails delivers no row: the rows of the last fetch on its statement read 0
  // until the statement is fetched from again, as a client counts them.
  void NoteFetch(bool fails, OCIStmt* statement, OCIError*, ub4, ub2, ub4) {
    unfetched_ = fails ? statement : statement == unfetched_ ? nullptr : unfetched_;
  }
  bool AnswerUnfetched(const void* handle, ub4 type, void* value, ub4* size, ub4 attribute,
                       OCIError*) {
    if (handle == nullptr || handle != unfetched_ || type != OCI_HTYPE_STMT ||
        attribute != OCI_ATTR_ROWS_FETCHED) {
      return false;
    }
    const ub4 none = 0;
    std::memcpy(value, &none, sizeof none);
    if (size != nullptr) *size = sizeof none;
    return true;
  }
  OCIStmt* unfetched_ = nullptr;

  mutable std::recursive_mutex mutex_;
  const OciApi* real_ = nullptr;
  std::vector<OciFailure> failures_;
  std::vector<OciCallRecord> log_;
  std::map<std::string, int> uses_;  // by function name and by label
  Pending pending_;
};

// ---- The body of a faked call ----------------------------------------------------------------

// The position of the argument whose value makes the label's detail: the handle or attribute
// type. Functions not named here have no detail.
constexpr int DetailArgument(OciCall call) {
  switch (call) {
    case OciCall::HandleAlloc:
    case OciCall::DescriptorAlloc:
      return 2;
    case OciCall::HandleFree:
      return 1;
    case OciCall::AttrSet:
    case OciCall::AttrGet:
      return 4;
    default:
      return -1;
  }
}

template <OciCall kCall, typename... Args>
long DetailOf(Args... args) {
  constexpr int kIndex = DetailArgument(kCall);
  if constexpr (kIndex < 0) {
    return -1;
  } else {
    return static_cast<long>(std::get<kIndex>(std::forward_as_tuple(args...)));
  }
}

template <typename... Args>
OCIError* ErrorHandleOf(Args... args) {
  OCIError* found = nullptr;
  (
      [&found](auto arg) {
        if constexpr (std::is_same_v<decltype(arg), OCIError*>) {
          if (found == nullptr) found = arg;
        }
      }(args),
      ...);
  return found;
}

template <OciCall kCall, typename Result, typename... Args>
Result FakeOci::Dispatch(std::function<Result(Args...)> OciScripts::*script_member,
                         std::function<void(Args...)> OciObservers::*observer_member,
                         Result (*OciApi::*real_member)(Args...),
                         std::type_identity_t<Args>... args) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int failure = -1;
  OciCallRecord record = Begin(kCall, DetailOf<kCall>(args...), ErrorHandleOf(args...), &failure);
  if (observe.*observer_member) (observe.*observer_member)(args...);
  Announce(record);
  if constexpr (kCall == OciCall::ErrorGet) {
    if (failure < 0 && AnswerFromPending(args...)) return OCI_SUCCESS;
  }
  if constexpr (kCall == OciCall::AttrGet) {
    if (failure < 0 && AnswerUnfetched(args...)) return OCI_SUCCESS;
  }
  if constexpr (kCall == OciCall::StmtFetch) NoteFetch(failure >= 0, args...);
  if (failure >= 0 && !failures_[static_cast<size_t>(failure)].takes_effect) {
    return static_cast<Result>(Failed(record, failure));
  }
  Result result = static_cast<Result>(std::is_same_v<Result, sword> ? OCI_ERROR : 0);
  if (script.*script_member) {
    result = (script.*script_member)(args...);
  } else if (real_ != nullptr) {
    result = (real_->*real_member)(args...);
  }
  if (failure >= 0) return static_cast<Result>(Failed(record, failure));
  return result;
}

}  // namespace rowflume::testing_support
