// CAccessToken: opening the thread or process token, the privilege bracket
// (enable, record, apply back) and the token handle's lifetime.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "error/com_error.h"
#include "platform/sim/control.h"
#include "security/token.h"

namespace {

using ATL::CAccessToken;
using ATL::CTokenPrivileges;

constexpr DWORD kAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
constexpr DWORD kOnByDefault = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
const wchar_t kTakeOwnership[] = L"SeTakeOwnershipPrivilege";
constexpr DWORD kBadImpersonationLevel = 1346;  // ERROR_BAD_IMPERSONATION_LEVEL

LUID Luid(const wchar_t* name) { return *sim::PrivilegeLuid(name); }

// The receiver's entries as the platform would get them.
std::vector<LUID_AND_ATTRIBUTES> Entries(CTokenPrivileges& set) {
  std::vector<LUID_AND_ATTRIBUTES> out;
  if (PTOKEN_PRIVILEGES built = set.AsTokenPrivileges()) {
    const LUID_AND_ATTRIBUTES* elements = built->Privileges;
    out.assign(elements, elements + built->PrivilegeCount);
  }
  return out;
}

class AccessTokenTest : public ::testing::Test {
 protected:
  AccessTokenTest() { *machine_.tokens.process = sim::AdministratorToken(); }

  DWORD Attributes(const sim::Token& token, const wchar_t* name) const {
    const sim::TokenPrivilege* privilege = token.FindPrivilege(Luid(name));
    return privilege ? privilege->attributes : 0xdeadbeef;
  }
  std::shared_ptr<sim::Token> TokenOf(const CAccessToken& token) const {
    return machine_.tokens.handles.at(reinterpret_cast<std::uintptr_t>(token.GetHandle())).token;
  }
  std::size_t Adjustments() const { return sim::CountCalls(machine_, "AdjustTokenPrivileges"); }

  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};
};

TEST_F(AccessTokenTest, ProcessTokenWhenTheThreadHasNone) {
  CAccessToken token;
  SetLastError(0);
  EXPECT_FALSE(token.OpenThreadTokenFor(kAccess));
  EXPECT_EQ(DWORD{ERROR_NO_TOKEN}, GetLastError());
  EXPECT_EQ(nullptr, token.GetHandle());
  ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
  EXPECT_EQ(machine_.tokens.process, TokenOf(token));
  EXPECT_EQ(1u, machine_.tokens.OpenHandles());

  ASSERT_TRUE(token.EnablePrivilegeByName(kTakeOwnership));
  EXPECT_TRUE(machine_.tokens.process->PrivilegeEnabled(kTakeOwnership));
}

TEST_F(AccessTokenTest, ThreadTokenWhenTheThreadHasOne) {
  machine_.tokens.thread = std::make_shared<sim::Token>(sim::AdministratorToken());
  CAccessToken token;
  ASSERT_TRUE(token.OpenThreadTokenFor(kAccess));
  EXPECT_EQ(machine_.tokens.thread, TokenOf(token));

  ASSERT_TRUE(token.EnablePrivilegeByName(kTakeOwnership));
  EXPECT_TRUE(machine_.tokens.thread->PrivilegeEnabled(kTakeOwnership));
  EXPECT_FALSE(machine_.tokens.process->PrivilegeEnabled(kTakeOwnership));
}

TEST_F(AccessTokenTest, EnablingRecordsTheFormerStateAndApplyingItBackRestores) {
  // Take ownership as an administrator has it (off), and backup switched off
  // although enabled by default: the restore must hand back the word that the
  // enabling call reported, default bit included.
  machine_.tokens.process->FindPrivilege(Luid(L"SeBackupPrivilege"))->attributes = SE_PRIVILEGE_ENABLED_BY_DEFAULT;
  struct Case {
    const wchar_t* name;
    DWORD before;
  } const cases[] = {
      {kTakeOwnership, 0},
      {L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.name));
    CAccessToken token;
    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
    CTokenPrivileges previous;
    const std::size_t adjustments = Adjustments();
    ASSERT_TRUE(token.EnablePrivilegeByName(c.name, &previous));
    EXPECT_EQ(c.before | SE_PRIVILEGE_ENABLED, Attributes(*machine_.tokens.process, c.name));
    const std::vector<LUID_AND_ATTRIBUTES> recorded = Entries(previous);
    ASSERT_EQ(1u, recorded.size());
    EXPECT_TRUE(sim::SameLuid(Luid(c.name), recorded[0].Luid));
    EXPECT_EQ(c.before, recorded[0].Attributes);

    ASSERT_TRUE(token.ApplyPrivileges(previous));
    EXPECT_EQ(c.before, Attributes(*machine_.tokens.process, c.name));
    EXPECT_EQ(adjustments + 2, Adjustments());
    EXPECT_EQ(1u, previous.EntryCount());
  }
}

TEST_F(AccessTokenTest, NothingChangedMeansNothingRecordedAndNoRestoreCall) {
  sim::Token withoutTakeOwnership = sim::AdministratorToken();
  auto& privileges = withoutTakeOwnership.privileges;
  privileges.erase(std::remove_if(privileges.begin(), privileges.end(),
                                  [](const sim::TokenPrivilege& p) { return sim::SameLuid(p.luid, Luid(kTakeOwnership)); }),
                   privileges.end());
  struct Case {
    const char* what;
    sim::Token token;
    const wchar_t* name;
    std::size_t enablingCalls;
    DWORD error;  // the thread's error after the enabling
  } const cases[] = {
      {"already enabled", sim::AdministratorToken(), L"SeChangeNotifyPrivilege", 1, ERROR_SUCCESS},
      {"not held by the token", withoutTakeOwnership, kTakeOwnership, 1, ERROR_NOT_ALL_ASSIGNED},
      {"unknown name", sim::AdministratorToken(), L"SeNoSuchPrivilege", 0, ERROR_NO_SUCH_PRIVILEGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    *machine_.tokens.process = c.token;
    CAccessToken token;
    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
    CTokenPrivileges previous;
    const std::size_t before = Adjustments();
    EXPECT_TRUE(token.EnablePrivilegeByName(c.name, &previous));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(before + c.enablingCalls, Adjustments());
    EXPECT_EQ(0u, previous.EntryCount());

    EXPECT_TRUE(token.ApplyPrivileges(previous));
    EXPECT_EQ(before + c.enablingCalls, Adjustments());
    EXPECT_EQ(0u, previous.EntryCount());
    EXPECT_EQ(c.token.privileges.size(), machine_.tokens.process->privileges.size());
    for (const sim::TokenPrivilege& privilege : c.token.privileges) {
      EXPECT_EQ(privilege.attributes, Attributes(*machine_.tokens.process, sim::PrivilegeName(privilege.luid).c_str()));
    }
  }
}

TEST_F(AccessTokenTest, ReceiverKeepsOtherEntriesAndReplacesTheSameLuid) {
  CAccessToken token;
  ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
  CTokenPrivileges previous;
  previous.SetEntry(Luid(L"SeDebugPrivilege"), 0x55);
  previous.SetEntry(Luid(kTakeOwnership), 0x77);
  ASSERT_TRUE(token.EnablePrivilegeByName(kTakeOwnership, &previous));
  EXPECT_EQ(2u, previous.EntryCount());
  for (const LUID_AND_ATTRIBUTES& entry : Entries(previous)) {
    EXPECT_EQ(sim::SameLuid(entry.Luid, Luid(kTakeOwnership)) ? 0u : 0x55u, entry.Attributes);
  }
}

TEST_F(AccessTokenTest, RefusalsReturnFalseWithTheFailingCallsError) {
  machine_.tokens.thread = std::make_shared<sim::Token>(sim::AdministratorToken());
  struct Case {
    const char* operation;
    DWORD status;
    bool (*attempt)(CAccessToken&, CTokenPrivileges&);
  } const cases[] = {
      {"OpenThreadToken", ERROR_ACCESS_DENIED,
       [](CAccessToken& t, CTokenPrivileges&) { return t.OpenThreadTokenFor(kAccess); }},
      {"OpenThreadToken", kBadImpersonationLevel,
       [](CAccessToken& t, CTokenPrivileges&) { return t.OpenThreadTokenFor(kAccess); }},
      {"OpenProcessToken", ERROR_NOT_ENOUGH_MEMORY,
       [](CAccessToken& t, CTokenPrivileges&) { return t.OpenProcessTokenFor(kAccess); }},
      {"AdjustTokenPrivileges", ERROR_ACCESS_DENIED,
       [](CAccessToken& t, CTokenPrivileges& r) {
         return t.OpenProcessTokenFor(kAccess) && t.EnablePrivilegeByName(kTakeOwnership, &r);
       }},
      {"AdjustTokenPrivileges", ERROR_PRIVILEGE_NOT_HELD,
       [](CAccessToken& t, CTokenPrivileges& r) {
         return t.OpenProcessTokenFor(kAccess) && t.ApplyPrivileges(r);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    *machine_.tokens.process = sim::AdministratorToken();
    machine_.failures.clear();
    sim::FailCall(machine_, c.operation, c.status);
    {
      CAccessToken token;
      CTokenPrivileges receiver;
      receiver.SetEntry(Luid(L"SeBackupPrivilege"), SE_PRIVILEGE_ENABLED);
      SetLastError(0xdeadbeef);
      EXPECT_FALSE(c.attempt(token, receiver));
      EXPECT_EQ(c.status, GetLastError());
      EXPECT_EQ(HresultFromWin32(c.status), HresultFromLastError());
      EXPECT_EQ(1u, receiver.EntryCount());
      EXPECT_EQ(0u, Attributes(*machine_.tokens.process, kTakeOwnership));
      EXPECT_EQ(0u, Attributes(*machine_.tokens.process, L"SeBackupPrivilege"));
    }
    EXPECT_EQ(0u, machine_.tokens.OpenHandles());
  }
}

// A set of n made-up privileges (not held by any token) and take ownership.
void FillSet(CTokenPrivileges& set, DWORD n) {
  set.SetEntry(Luid(kTakeOwnership), SE_PRIVILEGE_ENABLED);
  for (DWORD i = 1; i < n; ++i) set.SetEntry(LUID{1000 + i, 0}, SE_PRIVILEGE_ENABLED);
}

TEST_F(AccessTokenTest, PreviousStateBufferOnTheStackUpTo1024BytesElseFromTheHeap) {
  struct Case {
    DWORD entries;
    bool heap;
  } const cases[] = {
      {1, false},
      {85, false},  // 4 + 12 * 85 = 1024
      {86, true},   // 1036
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    *machine_.tokens.process = sim::AdministratorToken();
    CAccessToken token;
    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
    CTokenPrivileges set;
    FillSet(set, c.entries);
    CTokenPrivileges previous;
    // The first C-heap block is the built form; a second one can only be the
    // previous-state buffer.
    sim::FailAllocations(sim::Allocator::CHeap, 2);
    SetLastError(0xdeadbeef);
    HRESULT raised = S_OK;
    bool applied = false;
    try {
      applied = token.ApplyPrivileges(set, &previous);
    } catch (const _com_error& error) {
      raised = error.Hresult();
    }
    EXPECT_EQ(c.heap ? 0u : 1u, sim::PendingAllocationFailures(sim::Allocator::CHeap));
    sim::ClearAllocationFailures();
    if (c.heap) {
      // No buffer, no change: a failed allocation like any other, never a silent success.
      EXPECT_EQ(E_OUTOFMEMORY, raised);
      EXPECT_EQ(0u, Adjustments());
      EXPECT_EQ(0u, Attributes(*machine_.tokens.process, kTakeOwnership));
      EXPECT_EQ(0u, previous.EntryCount());
    } else {
      EXPECT_TRUE(applied);
      // Made-up privileges are not held, which is no failure.
      EXPECT_EQ(c.entries > 1 ? DWORD{ERROR_NOT_ALL_ASSIGNED} : DWORD{ERROR_SUCCESS}, GetLastError());
      EXPECT_EQ(1u, previous.EntryCount());
    }
    machine_.calls.clear();
  }
}

TEST_F(AccessTokenTest, HeapBufferKeepsTheFailingCallsError) {
  CAccessToken token;
  ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
  CTokenPrivileges set;
  FillSet(set, 200);
  sim::FailCall(machine_, "AdjustTokenPrivileges", ERROR_INVALID_PARAMETER);
  sim::ClobberLastErrorOnRelease(true);
  EXPECT_FALSE(token.ApplyPrivileges(set));
  EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

TEST_F(AccessTokenTest, EnablingKeepsTheFailingCallsErrorThroughItsCleanup) {
  CAccessToken token;
  ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
  CTokenPrivileges previous;
  sim::FailCall(machine_, "AdjustTokenPrivileges", ERROR_PRIVILEGE_NOT_HELD);
  sim::ClobberLastErrorOnRelease(true);
  EXPECT_FALSE(token.EnablePrivilegeByName(kTakeOwnership, &previous));
  EXPECT_EQ(DWORD{ERROR_PRIVILEGE_NOT_HELD}, GetLastError());
  EXPECT_EQ(0u, previous.EntryCount());
}

TEST_F(AccessTokenTest, BuiltFormOutOfMemoryRaisesBeforeAnyChange) {
  CAccessToken token;
  ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
  CTokenPrivileges set;
  set.AddByName(kTakeOwnership);
  sim::FailAllocations(sim::Allocator::CHeap);
  try {
    token.ApplyPrivileges(set);
    ADD_FAILURE() << "no raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(E_OUTOFMEMORY, error.Hresult());
  }
  EXPECT_EQ(0u, Adjustments());
  EXPECT_EQ(0u, Attributes(*machine_.tokens.process, kTakeOwnership));
}

// Whichever allocation of the bracket fails, the failure is E_OUTOFMEMORY and
// the token is left as it was found: an enabling that cannot be recorded is
// undone, since the caller could not restore it.
TEST_F(AccessTokenTest, EveryFailedAllocationWhileEnablingLeavesTheTokenAsFound) {
  bool failed = true;
  for (unsigned nth = 1; failed && nth < 50; ++nth) {
    SCOPED_TRACE(nth);
    *machine_.tokens.process = sim::AdministratorToken();
    CAccessToken token;
    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
    CTokenPrivileges previous;
    HRESULT hr = S_OK;
    sim::FailAllocations(sim::Allocator::OperatorNew, nth);
    try {
      token.EnablePrivilegeByName(kTakeOwnership, &previous);
    } catch (const _com_error& error) {
      hr = error.Hresult();
    }
    failed = sim::PendingAllocationFailures(sim::Allocator::OperatorNew) == 0;
    sim::ClearAllocationFailures();
    if (failed) {
      EXPECT_EQ(E_OUTOFMEMORY, hr);
      EXPECT_EQ(0u, Attributes(*machine_.tokens.process, kTakeOwnership));
    } else {
      EXPECT_EQ(S_OK, hr);
      EXPECT_EQ(DWORD{SE_PRIVILEGE_ENABLED}, Attributes(*machine_.tokens.process, kTakeOwnership));
      EXPECT_EQ(1u, previous.EntryCount());
      EXPECT_GT(nth, 2u) << "the temporary set and the receiver each allocate";
    }
  }
  EXPECT_FALSE(failed);
}

TEST_F(AccessTokenTest, HandlesAreClosedExactlyOnce) {
  {
    CAccessToken token;
    token.Release();  // nothing held: nothing to close
    EXPECT_EQ(0u, sim::CountCalls(machine_, "CloseHandle"));

    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));
    const HANDLE first = token.GetHandle();
    ASSERT_TRUE(token.OpenProcessTokenFor(kAccess));  // adopts a new handle, closes the first
    EXPECT_NE(first, token.GetHandle());
    EXPECT_EQ(1u, machine_.tokens.OpenHandles());
    EXPECT_EQ(1u, sim::CountCalls(machine_, "CloseHandle"));

    HANDLE adopted = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), kAccess, &adopted));
    token.AdoptHandle(adopted);
    EXPECT_EQ(adopted, token.GetHandle());
    EXPECT_EQ(1u, machine_.tokens.OpenHandles());
    token.AdoptHandle(adopted);  // the same handle again stays open
    EXPECT_EQ(1u, machine_.tokens.OpenHandles());

    token.Release();
    token.Release();
    EXPECT_EQ(nullptr, token.GetHandle());
    EXPECT_EQ(0u, machine_.tokens.OpenHandles());
    EXPECT_EQ(3u, sim::CountCalls(machine_, "CloseHandle"));
    for (const sim::CallRecord& call : sim::CallsOf(machine_, "CloseHandle")) EXPECT_EQ(DWORD{0}, call.status);
  }
  EXPECT_EQ(3u, sim::CountCalls(machine_, "CloseHandle")) << "the destructor of a released object closes nothing";

  {
    CAccessToken token;
    ASSERT_TRUE(token.OpenThreadTokenFor(kAccess) || token.OpenProcessTokenFor(kAccess));
  }
  EXPECT_EQ(0u, machine_.tokens.OpenHandles()) << "the destructor closes the held handle";
}

}  // namespace
