#include "platform/sim/machine.h"

#include <cwchar>

#include "platform/sim/control.h"

namespace sim {
namespace {

OSVERSIONINFOEXW Edition(DWORD minor, DWORD build, WORD suite, const wchar_t* servicePack, WORD spMajor) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
  info.dwMajorVersion = 5;
  info.dwMinorVersion = minor;
  info.dwBuildNumber = build;
  info.dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::wcsncpy(info.szCSDVersion, servicePack, 127);
  info.wServicePackMajor = spMajor;
  info.wSuiteMask = suite;
  info.wProductType = VER_NT_WORKSTATION;
  return info;
}

Machine* g_current = nullptr;

}  // namespace

OSVERSIONINFOEXW Windows2000Professional() { return Edition(0, 2195, 0, L"Service Pack 4", 4); }
OSVERSIONINFOEXW WindowsXpHome() {
  return Edition(1, 2600, VER_SUITE_PERSONAL | VER_SUITE_SINGLEUSERTS, L"Service Pack 3", 3);
}
OSVERSIONINFOEXW WindowsXpProfessional() { return Edition(1, 2600, VER_SUITE_SINGLEUSERTS, L"Service Pack 3", 3); }

Machine DefaultMachine() {
  Machine machine;
  machine.version.info = WindowsXpProfessional();
  machine.tokens.process = std::make_shared<Token>(AdministratorToken());
  return machine;
}

Machine& Current() {
  if (g_current == nullptr) {
    static Machine fallback = DefaultMachine();
    g_current = &fallback;
  }
  return *g_current;
}

Machine* Install(Machine* machine) {
  Machine* previous = g_current;
  g_current = machine;
  return previous;
}

MachineScope::MachineScope(Machine& machine) : previous_(Install(&machine)) { ClearAllocationFailures(); }

MachineScope::~MachineScope() {
  ClearAllocationFailures();
  Install(previous_);
}

}  // namespace sim
