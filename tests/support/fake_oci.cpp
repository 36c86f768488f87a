#include "support/fake_oci.h"

#include <cstdio>

namespace rowflume::testing_support {
namespace {

#define ROWFLUME_FAKE_EXPAND(...) __VA_ARGS__
#define ROWFLUME_FAKE_FUNCTION(result, name, parameters, arguments)                               \
  result Fake##name parameters {                                                                  \
    return FakeOci::Get().Dispatch<OciCall::name>(&OciScripts::name, &OciObservers::name,         \
                                                  &OciApi::name, ROWFLUME_FAKE_EXPAND arguments); \
  }
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_FUNCTION)
#undef ROWFLUME_FAKE_FUNCTION
#undef ROWFLUME_FAKE_EXPAND

#define ROWFLUME_FAKE_ENTRY(result, name, parameters, arguments) Fake##name,
const OciApi kFakeApi = {"fake client", ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_ENTRY)};
#undef ROWFLUME_FAKE_ENTRY

#define ROWFLUME_FAKE_NAME(result, name, parameters, arguments) #name,
const char* const kCallNames[] = {ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_NAME)};
#undef ROWFLUME_FAKE_NAME

#define ROWFLUME_FAKE_STATUS(result, name, parameters, arguments) std::is_same_v<result, sword>,
const bool kReportsStatus[] = {ROWFLUME_OCI_FUNCTIONS(ROWFLUME_FAKE_STATUS)};
#undef ROWFLUME_FAKE_STATUS

}  // namespace

const char* OciCallName(OciCall call) {
  return kCallNames[static_cast<int>(call)];
}

bool ReportsStatus(OciCall call) {
  return kReportsStatus[static_cast<int>(call)];
}

FakeOci& FakeOci::Get() {
  static FakeOci fake;
  return fake;
}

FakeOci& FakeOci::Fresh() {
  FakeOci& fake = Get();
  fake.Reset();
  return fake;
}

const OciApi* FakeOci::Filter(const OciApi* chosen) {
  FakeOci& fake = Get();
  fake.PassThrough(chosen);
  return fake.api();
}

const OciApi* FakeOci::api() const {
  return &kFakeApi;
}

void FakeOci::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  real_ = nullptr;
  script = OciScripts{};
  observe = OciObservers{};
  on_call = nullptr;
  failures_.clear();
  log_.clear();
  uses_.clear();
  pending_ = Pending{};
  unfetched_ = nullptr;
}

void FakeOci::ClearLog() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  log_.clear();
}

void FakeOci::PassThrough(const OciApi* real) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  real_ = real;
}

const OciApi* FakeOci::real() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return real_;
}

void FakeOci::Fail(OciFailure failure) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  failures_.push_back(std::move(failure));
}

void FakeOci::Fail(const std::string& label, int use) {
  OciFailure failure;
  failure.label = label;
  failure.use = use;
  Fail(std::move(failure));
}

void FakeOci::FailNextUse(const std::string& label, sword status) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  OciFailure failure;
  failure.label = label;
  failure.use = Uses(label) + 1;
  failure.status = status;
  failures_.push_back(failure);
}

std::vector<OciCallRecord> FakeOci::Log() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_;
}

std::string FakeOci::LogText() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string text;
  for (const OciCallRecord& record : log_) {
    if (!text.empty()) text += ' ';
    text += record.label;
  }
  return text;
}

int FakeOci::Uses(OciCall call) const {
  return Uses(OciCallName(call));
}

int FakeOci::Uses(const std::string& label) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto found = uses_.find(label);
  return found == uses_.end() ? 0 : found->second;
}

OciCallRecord FakeOci::Begin(OciCall call, long detail, OCIError* error_handle, int* failure) {
  OciCallRecord record;
  record.call = call;
  record.label = OciCallName(call);
  record.detail = detail;
  record.error_handle = error_handle;
  record.thread = std::this_thread::get_id();
  record.use = ++uses_[record.label];
  int label_use = record.use;
  if (detail >= 0) {
    record.label += "(" + std::to_string(detail) + ")";
    label_use = ++uses_[record.label];
  }
  for (size_t k = 0; k < failures_.size() && *failure < 0; ++k) {
    const OciFailure& candidate = failures_[k];
    int use = candidate.label == OciCallName(call) ? record.use
              : candidate.label == record.label    ? label_use
                                                   : -1;
    if (use > 0 && (candidate.use == OciFailure::kEveryUse || candidate.use == use)) {
      *failure = static_cast<int>(k);
    }
  }
  record.fails = *failure >= 0;
  // A client replaces the record of an error handle with each call that uses it.
  if (!record.fails && error_handle != nullptr && error_handle == pending_.handle) {
    pending_ = Pending{};
  }
  return record;
}

void FakeOci::Announce(const OciCallRecord& record) {
  if (on_call) on_call(record);
  log_.push_back(record);
}

sword FakeOci::Failed(const OciCallRecord& record, int failure) {
  const OciFailure& injected = failures_[static_cast<size_t>(failure)];
  if (record.error_handle != nullptr && injected.error_code != 0) {
    pending_ = Pending{record.error_handle, injected.error_code, injected.error_text};
  }
  return injected.status;
}

bool FakeOci::AnswerFromPending(void* handle, ub4, OraText*, sb4* code, OraText* text, ub4 size,
                                ub4) {
  if (handle == nullptr || handle != pending_.handle) return false;
  *code = pending_.code;
  std::snprintf(reinterpret_cast<char*>(text), size, "%s", pending_.text.c_str());
  return true;
}

}  // namespace rowflume::testing_support
