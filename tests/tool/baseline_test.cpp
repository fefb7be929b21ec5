#include "tool/baseline.h"

#include <gtest/gtest.h>

#include "error/com_error.h"
#include "platform/sim/control.h"

namespace {

using tessaroot::SddlWindows2000Professional;
using tessaroot::SddlWindowsXpHome;
using tessaroot::SddlWindowsXpProfessional;

struct Row {
  const char* name;
  DWORD platform, major, minor;
  BYTE productType;
  WORD suiteMask;
  const WCHAR* expected;  // null: refused
};

const Row kRows[] = {
    {"2000 Professional", 2, 5, 0, VER_NT_WORKSTATION, 0, SddlWindows2000Professional},
    {"2000 Professional, personal bit ignored", 2, 5, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL,
     SddlWindows2000Professional},
    {"XP Home", 2, 5, 1, VER_NT_WORKSTATION, VER_SUITE_PERSONAL | VER_SUITE_SINGLEUSERTS, SddlWindowsXpHome},
    {"XP Professional", 2, 5, 1, VER_NT_WORKSTATION, VER_SUITE_SINGLEUSERTS, SddlWindowsXpProfessional},
    {"XP Professional, no suite bits", 2, 5, 1, VER_NT_WORKSTATION, 0, SddlWindowsXpProfessional},
    {"XP Professional, other suite bits", 2, 5, 1, VER_NT_WORKSTATION,
     static_cast<WORD>(~VER_SUITE_PERSONAL), SddlWindowsXpProfessional},
    {"2000 Server", 2, 5, 0, VER_NT_SERVER, 0, nullptr},
    {"2000 domain controller", 2, 5, 0, VER_NT_DOMAIN_CONTROLLER, 0, nullptr},
    {"5.1 server", 2, 5, 1, VER_NT_SERVER, 0, nullptr},
    {"5.1 domain controller, personal bit", 2, 5, 1, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_PERSONAL, nullptr},
    {"Server 2003 / XP x64", 2, 5, 2, VER_NT_WORKSTATION, 0, nullptr},
    {"Vista", 2, 6, 0, VER_NT_WORKSTATION, 0, nullptr},
    {"7", 2, 6, 1, VER_NT_WORKSTATION, 0, nullptr},
    {"NT 4.0", 2, 4, 0, VER_NT_WORKSTATION, 0, nullptr},
    {"Windows Me", 1, 4, 90, 0, 0, nullptr},
    {"9x numbers as 5.1", 1, 5, 1, VER_NT_WORKSTATION, 0, nullptr},
    {"Win32s", 0, 5, 1, VER_NT_WORKSTATION, 0, nullptr},
    {"product type 0", 2, 5, 1, 0, 0, nullptr},
};

TEST(SelectBaselineSddl, ChoosesByEditionAndRefusesEveryOtherSystem) {
  for (const Row& row : kRows) {
    sim::Machine machine = sim::DefaultMachine();
    OSVERSIONINFOEXW& info = machine.version.info;
    info.dwPlatformId = row.platform;
    info.dwMajorVersion = row.major;
    info.dwMinorVersion = row.minor;
    info.wProductType = row.productType;
    info.wSuiteMask = row.suiteMask;
    info.dwBuildNumber = 0xDEADBEEF;  // build and service pack play no part
    info.wServicePackMajor = 0xBEEF;
    sim::MachineScope scope(machine);
    try {
      const WCHAR* text = tessaroot::SelectBaselineSddl();
      EXPECT_EQ(row.expected, text) << row.name;
    } catch (const _com_error& error) {
      EXPECT_EQ(nullptr, row.expected) << row.name;
      EXPECT_EQ(CO_E_WRONGOSFORAPP, error.Hresult()) << row.name;
    }
    EXPECT_EQ(1u, sim::CountCalls(machine, "GetVersionExW")) << row.name;
  }
}

TEST(SelectBaselineSddl, AFailedQueryIsRefused) {
  // The machine would qualify, but the record never gets filled.
  sim::Machine machine = sim::DefaultMachine();
  sim::FailCall(machine, "GetVersionExW", ERROR_INVALID_PARAMETER);
  sim::MachineScope scope(machine);
  try {
    tessaroot::SelectBaselineSddl();
    ADD_FAILURE() << "a failed query was accepted";
  } catch (const _com_error& error) {
    EXPECT_EQ(CO_E_WRONGOSFORAPP, error.Hresult());
  }
}

TEST(SelectBaselineSddl, QueriesOnEveryCall) {
  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope(machine);
  EXPECT_EQ(SddlWindowsXpProfessional, tessaroot::SelectBaselineSddl());
  machine.version.info = sim::WindowsXpHome();
  EXPECT_EQ(SddlWindowsXpHome, tessaroot::SelectBaselineSddl());
  EXPECT_EQ(2u, sim::CountCalls(machine, "GetVersionExW"));
}

TEST(BaselineTexts, AreTheEditionsInstalledSecurity) {
  EXPECT_STREQ(L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)(A;CI;GR;;;WD)",
               SddlWindows2000Professional);
  EXPECT_STREQ(L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)", SddlWindowsXpHome);
  EXPECT_STREQ(L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)",
               SddlWindowsXpProfessional);
}

}  // namespace
