// Token handles of the simulated machine: the pseudo-handles, opening the
// thread and process tokens, and closing.
#include <gtest/gtest.h>

#include <memory>

#include "platform/sim/control.h"
#include "platform/sim/token_state.h"
#include "platform/sim/win32.h"

namespace {

const HANDLE kSentinelHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0xdeadbeef));

class TokenHandlesTest : public ::testing::Test {
 protected:
  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};

  const sim::TokenState::OpenToken& Opened(HANDLE handle) const {
    return machine_.tokens.handles.at(reinterpret_cast<std::uintptr_t>(handle));
  }
};

TEST_F(TokenHandlesTest, PseudoHandlesAreTheNtValues) {
  EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)), GetCurrentProcess());
  EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2)), GetCurrentThread());
}

TEST_F(TokenHandlesTest, OpenThreadTokenNeedsAThreadToken) {
  HANDLE token = kSentinelHandle;
  SetLastError(0);
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(DWORD{ERROR_NO_TOKEN}, GetLastError());
  EXPECT_EQ(kSentinelHandle, token);
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());

  machine_.tokens.thread = std::make_shared<sim::Token>();
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(machine_.tokens.thread, Opened(token).token);
  EXPECT_EQ(1u, machine_.tokens.OpenHandles());
  EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokenHandlesTest, OpenProcessTokenOpensTheProcessTokenEvenWhenImpersonating) {
  machine_.tokens.thread = std::make_shared<sim::Token>();
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  EXPECT_EQ(machine_.tokens.process, Opened(token).token);
  EXPECT_EQ(DWORD{TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY}, Opened(token).access);
  EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokenHandlesTest, RefusesWrongPseudoHandlesAndMissingResults) {
  machine_.tokens.thread = std::make_shared<sim::Token>();
  struct Case {
    const char* what;
    bool thread;
    HANDLE object;
    bool withResult;
    DWORD error;
  } const cases[] = {
      {"thread token of the process", true, GetCurrentProcess(), true, ERROR_INVALID_HANDLE},
      {"process token of the thread", false, GetCurrentThread(), true, ERROR_INVALID_HANDLE},
      {"thread token of null", true, nullptr, true, ERROR_INVALID_HANDLE},
      {"process token of null", false, nullptr, true, ERROR_INVALID_HANDLE},
      {"thread token, no result", true, GetCurrentThread(), false, ERROR_INVALID_PARAMETER},
      {"process token, no result", false, GetCurrentProcess(), false, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE token = kSentinelHandle;
    PHANDLE result = c.withResult ? &token : nullptr;
    SetLastError(0);
    const BOOL ok = c.thread ? OpenThreadToken(c.object, TOKEN_QUERY, TRUE, result)
                             : OpenProcessToken(c.object, TOKEN_QUERY, result);
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(kSentinelHandle, token);
  }
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());
}

TEST_F(TokenHandlesTest, EachOpenGivesItsOwnHandleOnTheSameToken) {
  HANDLE first = nullptr;
  HANDLE second = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &first));
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(2u, machine_.tokens.OpenHandles());

  // A change through one handle is seen through the other: they name one token.
  machine_.tokens.process->privileges.push_back(sim::TokenPrivilege{*sim::PrivilegeLuid(L"SeBackupPrivilege"), 0});
  TOKEN_PRIVILEGES enable{1, {{*sim::PrivilegeLuid(L"SeBackupPrivilege"), SE_PRIVILEGE_ENABLED}}};
  ASSERT_TRUE(AdjustTokenPrivileges(first, FALSE, &enable, 0, nullptr, nullptr));
  EXPECT_TRUE(Opened(second).token->PrivilegeEnabled(L"SeBackupPrivilege"));

  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(1u, machine_.tokens.OpenHandles());
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());
}

TEST_F(TokenHandlesTest, CloseHandleClosesOnce) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  struct Case {
    const char* what;
    HANDLE handle;
    BOOL result;
    DWORD error;
  } const cases[] = {
      {"open token", token, TRUE, 0xdeadbeef},
      {"same token again", token, FALSE, ERROR_INVALID_HANDLE},
      {"null", nullptr, FALSE, ERROR_INVALID_HANDLE},
      {"never opened", kSentinelHandle, FALSE, ERROR_INVALID_HANDLE},
      {"process pseudo-handle", GetCurrentProcess(), TRUE, 0xdeadbeef},
      {"thread pseudo-handle", GetCurrentThread(), TRUE, 0xdeadbeef},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(c.result, CloseHandle(c.handle));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(0u, machine_.tokens.OpenHandles());
  }
}

TEST_F(TokenHandlesTest, InjectedFailuresLeaveNoHandle) {
  machine_.tokens.thread = std::make_shared<sim::Token>();
  sim::FailCall(machine_, "OpenThreadToken", ERROR_ACCESS_DENIED);
  sim::FailCall(machine_, "OpenProcessToken", ERROR_NOT_ENOUGH_MEMORY);
  HANDLE token = kSentinelHandle;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
  EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, GetLastError());
  EXPECT_EQ(kSentinelHandle, token);
  EXPECT_EQ(0u, machine_.tokens.OpenHandles());
  const auto calls = sim::CallsOf(machine_, "OpenThreadToken");
  ASSERT_EQ(1u, calls.size());
  EXPECT_TRUE(calls[0].injected);
  EXPECT_EQ(DWORD{TOKEN_QUERY}, calls[0].mask);
}

}  // namespace
