// The test-control API of the simulated machine: build a machine, make it
// current, make calls and allocations fail, and read the log of calls.
//
// Nothing in tessaroot's own code includes this header; it belongs to tests
// and to the host start-up.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// Makes `machine` current for the lifetime of the scope, then puts the
// previous one back. Clears pending allocation failures on both ends.
class MachineScope {
 public:
  explicit MachineScope(Machine& machine);
  ~MachineScope();
  MachineScope(const MachineScope&) = delete;
  MachineScope& operator=(const MachineScope&) = delete;

 private:
  Machine* previous_;
};

// ---------------------------------------------------------------- editions
// A version record as the edition reports it; suite and product fields are
// the ones the running system would report.
OSVERSIONINFOEXW Windows2000Professional();
OSVERSIONINFOEXW WindowsXpHome();
OSVERSIONINFOEXW WindowsXpProfessional();

// ---------------------------------------------------------------- failures
// Makes the n-th call (1-based) of `operation` fail with `status`; nth 0
// makes every call fail. Filters on path or mask go through FailureRule.
void FailCall(Machine& machine, std::string operation, DWORD status, unsigned nth = 1);
void FailCall(Machine& machine, FailureRule rule);

enum class Allocator {
  CHeap,        // malloc, calloc, realloc from tessaroot's own code
  LocalHeap,    // LocalAlloc, and the blocks the platform allocates with it
  OperatorNew,  // operator new, plain and nothrow
};

// From now on, the nth allocation (1-based) of `allocator` and the
// `count - 1` after it fail; allocations made inside simulated calls other
// than the allocators' own are not counted. Stays armed until it has failed
// `count` times or ClearAllocationFailures is called.
void FailAllocations(Allocator allocator, unsigned nth = 1, unsigned count = 1);
void ClearAllocationFailures();
// Failures still armed for `allocator`.
unsigned PendingAllocationFailures(Allocator allocator);
// While set, every release of a C-heap block or an object by the tool's own
// code overwrites the thread's last error with kReleaseClobber, as a release
// on the platform is free to: tests then see whether a reason reported after
// cleanup is still the failing call's. Cleared with the allocation knobs.
constexpr DWORD kReleaseClobber = 0xC10BBE2Eu;
void ClobberLastErrorOnRelease(bool clobber);

// Allocations the tool's own code has asked `allocator` for since the process
// started (C heap and operator new; the simulator's own are not counted).
unsigned long AllocationsMade(Allocator allocator);

// ---------------------------------------------------------------- call log
// How often `operation` was called on `machine`.
std::size_t CountCalls(const Machine& machine, std::string_view operation);
// The log entries of `operation`, in call order.
std::vector<CallRecord> CallsOf(const Machine& machine, std::string_view operation);

// ---------------------------------------------------------------- images
// A malformed image, with the 1-based line it was found on (0: the file as a whole).
struct ImageError {
  std::string file;
  unsigned line = 0;
  std::string message;
  std::string What() const;  // "file:line: message"
};

// Parses the text of a machine image. Throws ImageError naming `file`.
Machine ParseImage(std::string_view text, const std::string& file = "<image>");
// The text of a machine image; ParseImage(FormatImage(m)) gives back m's state.
std::string FormatImage(const Machine& machine);

// Reads and writes image files. LoadImage throws ImageError; StoreImage
// replaces the file in one step and throws ImageError when it cannot.
Machine LoadImage(const std::string& path);
void StoreImage(const Machine& machine, const std::string& path);

// UTF-8 in image files, wchar_t on the machine.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace sim
