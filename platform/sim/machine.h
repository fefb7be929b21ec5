// The state of one simulated NT 5.x machine.
//
// The Win32 surface (win32.h) acts on the machine that is current; tests make
// a machine current with MachineScope (control.h), the host binary with the
// image named by TESSAROOT_MACHINE (startup.cpp). Each part of the state lives
// in a header of its own, next to the code that implements its calls.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/registry_state.h"
#include "platform/sim/token_state.h"
#include "platform/sim/win32.h"

namespace sim {

// What GetVersionExW reports. Any combination of fields can be set; a failing
// query is a failure rule on GetVersionExW.
struct VersionState {
  OSVERSIONINFOEXW info{};
};

// Makes a call of an operation fail with a status.
struct FailureRule {
  std::string operation;               // the Win32 name, e.g. "RegOpenKeyExW"
  DWORD status = ERROR_ACCESS_DENIED;  // returned, or set as the thread's last error
  unsigned nth = 0;                    // 0: every matching call; n: only the n-th one
  std::optional<std::wstring> path;    // key path below HKEY_LOCAL_MACHINE, compared without case
  std::optional<DWORD> mask;           // access or security-information mask, compared exactly
  unsigned matched = 0;                // matching calls seen so far
};

// One entry of the call log.
struct CallRecord {
  std::string operation;
  std::wstring path;              // key path below HKEY_LOCAL_MACHINE, when the call names a key
  std::optional<DWORD> mask;      // access or security-information mask, when the call carries one
  bool injected = false;          // a failure rule decided the result
  std::optional<DWORD> status;    // returned status or last error, when the call reported one
};

struct Machine {
  VersionState version;
  TokenState tokens;
  RegistryState registry;

  std::vector<FailureRule> failures;
  std::vector<CallRecord> calls;

  // Texts that FormatMessageW finds for message identifiers, consulted before
  // the machine's built-in system message table (texts end in CR LF as the
  // platform's do; a test may give any text, including none at all).
  std::map<DWORD, std::optional<std::wstring>> messages;

  DWORD lastError = 0;
  std::size_t localBlocks = 0;  // LocalAlloc blocks not yet freed

  // The entry point's full 32-bit result, recorded by the host start-up.
  std::optional<std::uint32_t> exitStatus;
};

// The machine the Win32 surface acts on. A default machine (Windows XP
// Professional, otherwise empty) is current until another is installed.
Machine& Current();

// Installs `machine` as current; returns the one that was current before.
Machine* Install(Machine* machine);

// A Windows XP Professional machine whose process runs as an administrator,
// with no thread token, no keys and no failure rules.
Machine DefaultMachine();

}  // namespace sim
