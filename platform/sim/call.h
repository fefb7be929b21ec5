// The bookkeeping that every simulated Win32 call does: it logs itself, lets a
// failure rule decide its result, and keeps the simulator's own allocations
// out of reach of the allocation-failure knobs.
//
//   BOOL WINAPI CopySid(...) {
//     sim::Call call("CopySid");
//     if (call.FailWithLastError()) return FALSE;
//     ...
//   }
//
// Registry calls first name their key and mask with Describe(), so that rules
// can match on them. Simulated calls never call each other through the Win32
// surface; they share internal helpers instead, so that one call of the tool
// is one log entry.
#pragma once

#include <optional>
#include <string>

#include "platform/sim/control.h"
#include "platform/sim/machine.h"

namespace sim {

class Call {
 public:
  explicit Call(const char* operation);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // The key path below HKEY_LOCAL_MACHINE and the access or
  // security-information mask, for the log and for rules that filter on them.
  void Describe(const std::wstring& path, std::optional<DWORD> mask);

  // The status of the first failure rule that matches this call, if any.
  // Consults the rules at most once per call.
  std::optional<DWORD> Injected();

  // For calls that return BOOL: when a rule matches, sets the thread's last
  // error to its status and returns true.
  bool FailWithLastError();

  // Records the status the call returns (or leaves as last error) in the log.
  DWORD Returns(DWORD status);

 private:
  std::size_t record_;
  bool consulted_ = false;
  std::optional<DWORD> injected_;
};

// True while a simulated call is running: the allocation-failure knobs leave
// the simulator's own allocations alone.
bool InsideSimulatedCall();

// Counts one allocation against the armed knob of `allocator` (control.h)
// and says whether it is to fail. The allocators' own code calls it.
bool AllocationFails(Allocator allocator);

// Sets the thread's last error on the current machine without logging.
void SetError(DWORD status);

}  // namespace sim
