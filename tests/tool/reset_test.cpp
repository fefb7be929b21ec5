#include "tool/reset.h"

#include <algorithm>

#include "error/com_error.h"
#include "tool/tool_fixture.h"

namespace {

class ResetTest : public tool_testing::ToolTest {
 protected:
  HRESULT Run() {
    try {
      tessaroot::ResetClassesRoot();
      return S_OK;
    } catch (const _com_error& error) {
      return error.Hresult();
    }
  }

  DWORD TakeOwnership(const sim::Token& token) const {
    const LUID luid = *sim::PrivilegeLuid(L"SeTakeOwnershipPrivilege");
    for (const sim::TokenPrivilege& privilege : token.privileges) {
      if (privilege.luid.LowPart == luid.LowPart && privilege.luid.HighPart == luid.HighPart) {
        return privilege.attributes;
      }
    }
    return 0xDEADBEEF;
  }

  // The operations of the log, in order, keeping only those named.
  std::vector<std::string> Sequence(std::initializer_list<const char*> names) const {
    std::vector<std::string> sequence;
    for (const sim::CallRecord& call : machine_.calls) {
      if (std::find(names.begin(), names.end(), call.operation) != names.end()) sequence.push_back(call.operation);
    }
    return sequence;
  }
};

const char kRootBaseline[] =
    "O:BAG:SYD:PAI(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)";

TEST_F(ResetTest, ThePrivilegeBracketsTheWholeReset) {
  Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"));
  EXPECT_EQ(S_OK, Run());
  std::vector<std::string> sequence =
      Sequence({"OpenThreadToken", "OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges",
                "GetVersionExW", "ConvertStringSecurityDescriptorToSecurityDescriptorW", "RegOpenKeyExW",
                "CloseHandle"});
  // Of the registry, only where it begins matters here.
  const auto firstOpen = std::find(sequence.begin(), sequence.end(), "RegOpenKeyExW");
  ASSERT_NE(sequence.end(), firstOpen);
  sequence.erase(std::remove(firstOpen + 1, sequence.end(), "RegOpenKeyExW"), sequence.end());
  EXPECT_EQ((std::vector<std::string>{"OpenThreadToken", "OpenProcessToken", "LookupPrivilegeValueW",
                                      "AdjustTokenPrivileges", "GetVersionExW",
                                      "ConvertStringSecurityDescriptorToSecurityDescriptorW", "RegOpenKeyExW",
                                      "AdjustTokenPrivileges", "CloseHandle"}),
            sequence);
  for (const char* open : {"OpenThreadToken", "OpenProcessToken"}) {
    EXPECT_EQ(static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY), sim::CallsOf(machine_, open).at(0).mask);
  }
  EXPECT_EQ(kRootBaseline, Sddl(L"SOFTWARE\\Classes"));
  EXPECT_EQ(0u, TakeOwnership(*machine_.tokens.process));
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());
  EXPECT_EQ(0u, machine_.registry.OpenHandles());
  EXPECT_EQ(0u, machine_.localBlocks);
}

TEST_F(ResetTest, TheRootIsResetThroughThreeHandlesInOrder) {
  Load(tool_testing::XpImage());
  EXPECT_EQ(S_OK, Run());
  EXPECT_EQ((std::vector<std::string>{
                "RegOpenKeyExW SOFTWARE\\Classes 0x80000",
                "SetSecurityInfo SOFTWARE\\Classes 0x1",
                "SetSecurityInfo SOFTWARE\\Classes 0x2",
                "RegCloseKey SOFTWARE\\Classes",
                "RegOpenKeyExW SOFTWARE\\Classes 0x40000",
                "SetSecurityInfo SOFTWARE\\Classes 0x80000004",
                "RegCloseKey SOFTWARE\\Classes",
                "RegOpenKeyExW SOFTWARE\\Classes 0x8",
                "RegEnumKeyExW SOFTWARE\\Classes",
                "RegCloseKey SOFTWARE\\Classes",
            }),
            RegistryCalls());
}

TEST_F(ResetTest, TheThreadsOwnTokenIsAdjustedWhenItHasOne) {
  // Identification level: only an open as self reaches it.
  Load(tool_testing::XpImage() + "[thread-token]\nuser = BA\nlevel = identification\n"
                                 "group = BA enabled owner\nprivilege = SeTakeOwnershipPrivilege disabled\n");
  EXPECT_EQ(S_OK, Run());
  EXPECT_EQ(0u, sim::CountCalls(machine_, "OpenProcessToken"));
  EXPECT_EQ(0u, TakeOwnership(*machine_.tokens.thread));
  EXPECT_EQ(2u, sim::CountCalls(machine_, "AdjustTokenPrivileges"));
  EXPECT_EQ(kRootBaseline, Sddl(L"SOFTWARE\\Classes"));
}

// Failures between the enabling and the end of the walk restore the
// privilege and report the failure itself.
TEST_F(ResetTest, FailuresInsideTheBracketRestoreThePrivilege) {
  const struct {
    const char* what;
    const char* operation;
    DWORD status;
    unsigned nth;
    HRESULT expected;
  } cases[] = {
      {"unsupported system", "GetVersionExW", ERROR_INVALID_PARAMETER, 1, CO_E_WRONGOSFORAPP},
      {"SDDL refused", "ConvertStringSecurityDescriptorToSecurityDescriptorW", ERROR_INVALID_PARAMETER, 1,
       E_INVALIDARG},
      {"DACL not extracted", "GetSecurityDescriptorDacl", ERROR_INVALID_SECURITY_DESCR, 1,
       static_cast<HRESULT>(0x8007053A)},
      {"root not opened", "RegOpenKeyExW", ERROR_FILE_NOT_FOUND, 1, static_cast<HRESULT>(0x80070002)},
      {"owner", "SetSecurityInfo", ERROR_INVALID_OWNER, 1, static_cast<HRESULT>(0x8007051B)},
      {"baseline DACL not built", "AddAce", ERROR_ALLOTTED_SPACE_EXCEEDED, 1, static_cast<HRESULT>(0x80070540)},
      {"root not enumerated", "RegEnumKeyExW", ERROR_ACCESS_DENIED, 1, E_ACCESSDENIED},
  };
  for (const auto& c : cases) {
    Load(tool_testing::XpImage());
    sim::FailCall(machine_, c.operation, c.status, c.nth);
    EXPECT_EQ(c.expected, Run()) << c.what;
    EXPECT_EQ(2u, sim::CountCalls(machine_, "AdjustTokenPrivileges")) << c.what;
    EXPECT_EQ(0u, TakeOwnership(*machine_.tokens.process)) << c.what;
    EXPECT_EQ(0u, machine_.tokens.OpenHandles()) << c.what;
    EXPECT_EQ(0u, machine_.registry.OpenHandles()) << c.what;
    EXPECT_EQ(0u, machine_.localBlocks) << c.what;
  }
}

TEST_F(ResetTest, ARefusedRestoreInsideTheBracketStillReportsTheFirstFailure) {
  Load(tool_testing::XpImage());
  sim::FailCall(machine_, "RegOpenKeyExW", ERROR_FILE_NOT_FOUND);
  sim::FailCall(machine_, "AdjustTokenPrivileges", ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(static_cast<HRESULT>(0x80070002), Run());
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), TakeOwnership(*machine_.tokens.process));
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());
}

TEST_F(ResetTest, ARefusedFinalRestoreIsTheRunsFailure) {
  Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"));
  sim::FailCall(machine_, "AdjustTokenPrivileges", ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(E_ACCESSDENIED, Run());
  EXPECT_EQ(kRootBaseline, Sddl(L"SOFTWARE\\Classes"));
  EXPECT_EQ(2u, sim::CountCalls(machine_, "AdjustTokenPrivileges"));  // not attempted a second time
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), TakeOwnership(*machine_.tokens.process));
}

TEST_F(ResetTest, FailuresBeforeTheBracketChangeNothing) {
  const struct {
    const char* what;
    const char* operation;
    HRESULT expected;
    std::size_t adjustments;
  } cases[] = {
      {"no token at all", "OpenProcessToken", E_ACCESSDENIED, 0},
      {"enabling refused", "AdjustTokenPrivileges", E_ACCESSDENIED, 1},
  };
  for (const auto& c : cases) {
    Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"));
    sim::FailCall(machine_, c.operation, ERROR_ACCESS_DENIED);
    EXPECT_EQ(c.expected, Run()) << c.what;
    EXPECT_EQ(c.adjustments, sim::CountCalls(machine_, "AdjustTokenPrivileges")) << c.what;
    EXPECT_EQ(0u, sim::CountCalls(machine_, "RegOpenKeyExW")) << c.what;
    EXPECT_EQ(0u, TakeOwnership(*machine_.tokens.process)) << c.what;
    EXPECT_EQ(0u, machine_.tokens.OpenHandles()) << c.what;
  }
}

// Whichever allocation of the tool's fails, the run ends in order: the
// privilege restored, every handle closed, every platform block freed.
TEST_F(ResetTest, EveryAllocationFailureLeavesTheMachineInOrder) {
  for (sim::Allocator allocator : {sim::Allocator::CHeap, sim::Allocator::OperatorNew}) {
    for (unsigned nth = 1;; ++nth) {
      Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"
                                 "SOFTWARE\\Classes\\a\\b = O:WDG:WDD:(A;;KA;;;WD)\n"));
      testing::internal::CaptureStderr();
      sim::FailAllocations(allocator, nth);
      const HRESULT hr = Run();
      const bool failed = sim::PendingAllocationFailures(allocator) == 0;
      sim::ClearAllocationFailures();
      const std::string lines = testing::internal::GetCapturedStderr();
      if (TakeOwnership(*machine_.tokens.process) != 0) {
        // Only the final restore can leave the privilege enabled, and then
        // the reset is complete and the failure is the run's.
        EXPECT_EQ(E_OUTOFMEMORY, hr) << nth;
        EXPECT_EQ(kRootBaseline, Sddl(L"SOFTWARE\\Classes")) << nth;
      }
      EXPECT_EQ(0u, machine_.tokens.OpenHandles()) << nth;
      EXPECT_EQ(0u, machine_.registry.OpenHandles()) << nth;
      EXPECT_EQ(0u, machine_.localBlocks) << nth;
      if (!failed) {
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ("", lines);
        break;
      }
      // Either the run failed with E_OUTOFMEMORY or one subkey reported it.
      if (hr != S_OK) {
        EXPECT_EQ(E_OUTOFMEMORY, hr) << nth;
      } else {
        EXPECT_NE(std::string::npos, lines.find("Error 0x8007000e processing subkey")) << nth << lines;
      }
      ASSERT_LT(nth, 200u);
    }
  }
}

}  // namespace
