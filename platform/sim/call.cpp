#include "platform/sim/call.h"

#include <cwctype>

#include "platform/sim/control.h"

namespace sim {
namespace {

int g_depth = 0;

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

}  // namespace

Call::Call(const char* operation) {
  ++g_depth;
  Machine& machine = Current();
  machine.calls.push_back(CallRecord{operation, {}, std::nullopt, false, std::nullopt});
  record_ = machine.calls.size() - 1;
}

Call::~Call() { --g_depth; }

void Call::Describe(const std::wstring& path, std::optional<DWORD> mask) {
  CallRecord& record = Current().calls[record_];
  record.path = path;
  record.mask = mask;
}

std::optional<DWORD> Call::Injected() {
  if (consulted_) return injected_;
  consulted_ = true;
  Machine& machine = Current();
  CallRecord& record = machine.calls[record_];
  for (FailureRule& rule : machine.failures) {
    if (rule.operation != record.operation) continue;
    if (rule.path && !SamePath(*rule.path, record.path)) continue;
    if (rule.mask && (!record.mask || *rule.mask != *record.mask)) continue;
    ++rule.matched;
    if (rule.nth != 0 && rule.matched != rule.nth) continue;
    injected_ = rule.status;
    record.injected = true;
    record.status = rule.status;
    break;
  }
  return injected_;
}

bool Call::FailWithLastError() {
  if (auto status = Injected()) {
    Current().lastError = *status;
    return true;
  }
  return false;
}

DWORD Call::Returns(DWORD status) {
  Current().calls[record_].status = status;
  return status;
}

bool InsideSimulatedCall() { return g_depth > 0; }

void SetError(DWORD status) { Current().lastError = status; }

std::size_t CountCalls(const Machine& machine, std::string_view operation) {
  std::size_t count = 0;
  for (const CallRecord& record : machine.calls) {
    if (record.operation == operation) ++count;
  }
  return count;
}

std::vector<CallRecord> CallsOf(const Machine& machine, std::string_view operation) {
  std::vector<CallRecord> result;
  for (const CallRecord& record : machine.calls) {
    if (record.operation == operation) result.push_back(record);
  }
  return result;
}

void FailCall(Machine& machine, std::string operation, DWORD status, unsigned nth) {
  FailureRule rule;
  rule.operation = std::move(operation);
  rule.status = status;
  rule.nth = nth;
  machine.failures.push_back(std::move(rule));
}

void FailCall(Machine& machine, FailureRule rule) { machine.failures.push_back(std::move(rule)); }

}  // namespace sim
