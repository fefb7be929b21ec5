// AdjustTokenPrivileges, LookupPrivilegeValueW and the token model of the
// simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/control.h"
#include "platform/sim/token_state.h"
#include "platform/sim/win32.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr DWORD kOnByDefault = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;

LUID Luid(const wchar_t* name) { return *sim::PrivilegeLuid(name); }

// A TOKEN_PRIVILEGES of any length, filled with a sentinel beyond the count.
class PrivilegeBlock {
 public:
  explicit PrivilegeBlock(std::vector<LUID_AND_ATTRIBUTES> elements, std::size_t room = 0)
      : words_(1 + 3 * std::max(room, elements.size()), kSentinel) {
    get()->PrivilegeCount = static_cast<DWORD>(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) get()->Privileges[i] = elements[i];
  }
  // A receiver of `room` elements, sentinel throughout, count included.
  static PrivilegeBlock Receiver(std::size_t room) {
    PrivilegeBlock block({}, room);
    block.get()->PrivilegeCount = kSentinel;
    return block;
  }
  PTOKEN_PRIVILEGES get() { return reinterpret_cast<PTOKEN_PRIVILEGES>(words_.data()); }
  DWORD Bytes() const { return static_cast<DWORD>(words_.size() * sizeof(DWORD)); }
  std::vector<LUID_AND_ATTRIBUTES> Elements() {
    std::vector<LUID_AND_ATTRIBUTES> out;
    for (DWORD i = 0; i < get()->PrivilegeCount; ++i) out.push_back(get()->Privileges[i]);
    return out;
  }
  bool Untouched() const {
    for (DWORD word : words_) {
      if (word != kSentinel) return false;
    }
    return true;
  }

 private:
  std::vector<DWORD> words_;
};

struct NamedState {
  const wchar_t* name;
  DWORD attributes;
};

std::vector<LUID_AND_ATTRIBUTES> Named(std::initializer_list<NamedState> states) {
  std::vector<LUID_AND_ATTRIBUTES> out;
  for (const NamedState& state : states) out.push_back(LUID_AND_ATTRIBUTES{Luid(state.name), state.attributes});
  return out;
}

// Change notify on by default, take ownership off, backup enabled by default
// but switched off, debug removed; restore is not held.
sim::Token TestToken() {
  sim::Token token;
  token.user = sim::MakeSid(5, {21, 1, 2, 3, 1001});
  for (const NamedState& state : {NamedState{L"SeChangeNotifyPrivilege", kOnByDefault},
                                  NamedState{L"SeTakeOwnershipPrivilege", 0},
                                  NamedState{L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT},
                                  NamedState{L"SeDebugPrivilege", SE_PRIVILEGE_REMOVED}}) {
    token.privileges.push_back(sim::TokenPrivilege{Luid(state.name), state.attributes});
  }
  return token;
}

class AdjustTokenPrivilegesTest : public ::testing::Test {
 protected:
  AdjustTokenPrivilegesTest() { *machine_.tokens.process = TestToken(); }

  HANDLE Open(DWORD access) {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &token));
    return token;
  }
  DWORD Attributes(const wchar_t* name) const {
    return machine_.tokens.process->FindPrivilege(Luid(name))->attributes;
  }
  std::vector<DWORD> AllAttributes() const {
    std::vector<DWORD> out;
    for (const sim::TokenPrivilege& privilege : machine_.tokens.process->privileges) out.push_back(privilege.attributes);
    return out;
  }

  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};
};

TEST_F(AdjustTokenPrivilegesTest, HandleNeedsAdjustAndQueryForPreviousState) {
  struct Case {
    DWORD access;
    bool askPrevious;
    BOOL result;
    DWORD error;
  } const cases[] = {
      {TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, true, TRUE, ERROR_SUCCESS},
      {TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, false, TRUE, ERROR_SUCCESS},
      {TOKEN_ADJUST_PRIVILEGES, false, TRUE, ERROR_SUCCESS},
      {TOKEN_ADJUST_PRIVILEGES, true, FALSE, ERROR_ACCESS_DENIED},
      {TOKEN_QUERY, false, FALSE, ERROR_ACCESS_DENIED},
      {TOKEN_QUERY, true, FALSE, ERROR_ACCESS_DENIED},
      {TOKEN_ALL_ACCESS & ~TOKEN_ADJUST_PRIVILEGES, true, FALSE, ERROR_ACCESS_DENIED},
      {GENERIC_WRITE, false, TRUE, ERROR_SUCCESS},
      {GENERIC_WRITE, true, FALSE, ERROR_ACCESS_DENIED},  // token write access does not include query
      {GENERIC_READ | GENERIC_WRITE, true, TRUE, ERROR_SUCCESS},
      {MAXIMUM_ALLOWED, true, TRUE, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "access 0x" << std::hex << c.access << " previous " << c.askPrevious);
    *machine_.tokens.process = TestToken();
    HANDLE token = Open(c.access);
    PrivilegeBlock newState(Named({{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}}));
    PrivilegeBlock previous = PrivilegeBlock::Receiver(4);
    DWORD length = kSentinel;
    SetLastError(kSentinel);
    const BOOL result = AdjustTokenPrivileges(token, FALSE, newState.get(), previous.Bytes(),
                                              c.askPrevious ? previous.get() : nullptr, c.askPrevious ? &length : nullptr);
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.result ? DWORD{SE_PRIVILEGE_ENABLED} : 0u, Attributes(L"SeTakeOwnershipPrivilege"));
    if (!c.result || !c.askPrevious) {
      EXPECT_TRUE(previous.Untouched());
      EXPECT_EQ(kSentinel, length);
    }
    CloseHandle(token);
  }
}

TEST_F(AdjustTokenPrivilegesTest, ChangesAndReportsAsThePlatform) {
  struct Case {
    const char* what;
    std::initializer_list<NamedState> newState;
    BOOL disableAll;
    DWORD error;
    std::initializer_list<NamedState> previous;  // in the token's order
    std::vector<DWORD> after;  // change notify, take ownership, backup, debug
  } const cases[] = {
      {"enable a disabled one", {{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}}, FALSE, ERROR_SUCCESS,
       {{L"SeTakeOwnershipPrivilege", 0}}, {kOnByDefault, SE_PRIVILEGE_ENABLED, 1, 4}},
      {"enable an enabled one", {{L"SeChangeNotifyPrivilege", SE_PRIVILEGE_ENABLED}}, FALSE, ERROR_SUCCESS,
       {}, {kOnByDefault, 0, 1, 4}},
      {"disable keeps the default bit", {{L"SeChangeNotifyPrivilege", 0}}, FALSE, ERROR_SUCCESS,
       {{L"SeChangeNotifyPrivilege", kOnByDefault}}, {1, 0, 1, 4}},
      {"former word reported whole", {{L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED}}, FALSE, ERROR_SUCCESS,
       {{L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT}}, {kOnByDefault, 0, kOnByDefault, 4}},
      {"only the enabled bit counts", {{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT}}, FALSE,
       ERROR_SUCCESS, {}, {kOnByDefault, 0, 1, 4}},
      {"not held", {{L"SeRestorePrivilege", SE_PRIVILEGE_ENABLED}}, FALSE, ERROR_NOT_ALL_ASSIGNED,
       {}, {kOnByDefault, 0, 1, 4}},
      {"held but removed", {{L"SeDebugPrivilege", SE_PRIVILEGE_ENABLED}}, FALSE, ERROR_NOT_ALL_ASSIGNED,
       {}, {kOnByDefault, 0, 1, 4}},
      {"partly held", {{L"SeRestorePrivilege", SE_PRIVILEGE_ENABLED}, {L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}},
       FALSE, ERROR_NOT_ALL_ASSIGNED, {{L"SeTakeOwnershipPrivilege", 0}}, {kOnByDefault, SE_PRIVILEGE_ENABLED, 1, 4}},
      {"previous state in token order", {{L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED}, {L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}},
       FALSE, ERROR_SUCCESS, {{L"SeTakeOwnershipPrivilege", 0}, {L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT}},
       {kOnByDefault, SE_PRIVILEGE_ENABLED, kOnByDefault, 4}},
      {"first of a repeated LUID wins", {{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}, {L"SeTakeOwnershipPrivilege", 0}},
       FALSE, ERROR_SUCCESS, {{L"SeTakeOwnershipPrivilege", 0}}, {kOnByDefault, SE_PRIVILEGE_ENABLED, 1, 4}},
      {"empty new state", {}, FALSE, ERROR_SUCCESS, {}, {kOnByDefault, 0, 1, 4}},
      {"disable all ignores the new state", {{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}}, TRUE, ERROR_SUCCESS,
       {{L"SeChangeNotifyPrivilege", kOnByDefault}}, {1, 0, 1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    *machine_.tokens.process = TestToken();
    HANDLE token = Open(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    PrivilegeBlock newState(Named(c.newState));
    PrivilegeBlock previous = PrivilegeBlock::Receiver(4);
    DWORD length = kSentinel;
    SetLastError(kSentinel);
    ASSERT_TRUE(AdjustTokenPrivileges(token, c.disableAll, newState.get(), previous.Bytes(), previous.get(), &length));
    EXPECT_EQ(c.error, GetLastError());
    const std::vector<LUID_AND_ATTRIBUTES> expected = Named(c.previous);
    const std::vector<LUID_AND_ATTRIBUTES> reported = previous.Elements();
    ASSERT_EQ(expected.size(), reported.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(sim::SameLuid(expected[i].Luid, reported[i].Luid)) << i;
      EXPECT_EQ(expected[i].Attributes, reported[i].Attributes) << i;
    }
    EXPECT_EQ(4 + 12 * expected.size(), length);
    EXPECT_EQ(c.after, AllAttributes());
    CloseHandle(token);
  }
}

TEST_F(AdjustTokenPrivilegesTest, TooSmallBufferReportsLengthAndChangesNothing) {
  struct Case {
    DWORD bufferLength;
    BOOL result;
    DWORD error;
  } const cases[] = {
      {0, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {16, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {27, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {28, TRUE, ERROR_SUCCESS},  // 4 + 12 * 2: two privileges change
      {100, TRUE, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bufferLength);
    *machine_.tokens.process = TestToken();
    HANDLE token = Open(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    PrivilegeBlock newState(Named({{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}, {L"SeChangeNotifyPrivilege", 0}}));
    PrivilegeBlock previous = PrivilegeBlock::Receiver(10);
    DWORD length = kSentinel;
    SetLastError(kSentinel);
    EXPECT_EQ(c.result, AdjustTokenPrivileges(token, FALSE, newState.get(), c.bufferLength, previous.get(), &length));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(28u, length);
    if (!c.result) {
      EXPECT_TRUE(previous.Untouched());
      EXPECT_EQ((std::vector<DWORD>{kOnByDefault, 0, 1, 4}), AllAttributes());
    } else {
      EXPECT_EQ((std::vector<DWORD>{1, SE_PRIVILEGE_ENABLED, 1, 4}), AllAttributes());
    }
    CloseHandle(token);
  }
}

TEST_F(AdjustTokenPrivilegesTest, RefusesBadArguments) {
  HANDLE token = Open(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  PrivilegeBlock newState(Named({{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}}));
  PrivilegeBlock previous = PrivilegeBlock::Receiver(4);
  HANDLE closed = Open(TOKEN_ADJUST_PRIVILEGES);
  ASSERT_TRUE(CloseHandle(closed));
  struct Case {
    const char* what;
    HANDLE handle;
    PTOKEN_PRIVILEGES newState;
    PTOKEN_PRIVILEGES previous;
    bool withLength;
    DWORD error;
  } const cases[] = {
      {"closed handle", closed, newState.get(), nullptr, false, ERROR_INVALID_HANDLE},
      {"null handle", nullptr, newState.get(), nullptr, false, ERROR_INVALID_HANDLE},
      {"process pseudo-handle", GetCurrentProcess(), newState.get(), nullptr, false, ERROR_INVALID_HANDLE},
      {"no new state", token, nullptr, nullptr, false, ERROR_INVALID_PARAMETER},
      {"previous state without length", token, newState.get(), previous.get(), false, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DWORD length = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(AdjustTokenPrivileges(c.handle, FALSE, c.newState, previous.Bytes(), c.previous,
                                       c.withLength ? &length : nullptr));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(0u, Attributes(L"SeTakeOwnershipPrivilege"));
    EXPECT_TRUE(previous.Untouched());
  }
  CloseHandle(token);
}

TEST_F(AdjustTokenPrivilegesTest, InjectedFailureChangesNothing) {
  HANDLE token = Open(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  sim::FailCall(machine_, "AdjustTokenPrivileges", ERROR_NOT_ENOUGH_MEMORY);
  PrivilegeBlock newState(Named({{L"SeTakeOwnershipPrivilege", SE_PRIVILEGE_ENABLED}}));
  PrivilegeBlock previous = PrivilegeBlock::Receiver(4);
  DWORD length = kSentinel;
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, newState.get(), previous.Bytes(), previous.get(), &length));
  EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, GetLastError());
  EXPECT_EQ(0u, Attributes(L"SeTakeOwnershipPrivilege"));
  EXPECT_TRUE(previous.Untouched());
  EXPECT_EQ(kSentinel, length);
  // Only the first call was made to fail.
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, newState.get(), previous.Bytes(), previous.get(), &length));
  CloseHandle(token);
}

TEST(LookupPrivilegeValueW, KnowsTheStandardNamesOnly) {
  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope(machine);
  struct Case {
    const wchar_t* system;
    const wchar_t* name;
    BOOL result;
    DWORD error;
    DWORD low;
  } const cases[] = {
      {nullptr, L"SeTakeOwnershipPrivilege", TRUE, kSentinel, 9},
      {nullptr, L"setakeownershipprivilege", TRUE, kSentinel, 9},
      {nullptr, L"SECHANGENOTIFYPRIVILEGE", TRUE, kSentinel, 23},
      {nullptr, L"SeCreateTokenPrivilege", TRUE, kSentinel, 2},
      {nullptr, L"SeCreateGlobalPrivilege", TRUE, kSentinel, 30},
      {L"", L"SeBackupPrivilege", TRUE, kSentinel, 17},
      {nullptr, L"SeTakeOwnership", FALSE, ERROR_NO_SUCH_PRIVILEGE, 0},
      {nullptr, L"SeTakeOwnershipPrivilege ", FALSE, ERROR_NO_SUCH_PRIVILEGE, 0},
      {nullptr, L"SeRelabelPrivilege", FALSE, ERROR_NO_SUCH_PRIVILEGE, 0},  // not in NT 5.x
      {nullptr, L"", FALSE, ERROR_NO_SUCH_PRIVILEGE, 0},
      {nullptr, nullptr, FALSE, ERROR_INVALID_PARAMETER, 0},
      {L"\\\\server", L"SeTakeOwnershipPrivilege", FALSE, 1722, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? sim::Narrow(c.name) : "(null)");
    LUID luid{kSentinel, static_cast<LONG>(kSentinel)};
    SetLastError(kSentinel);
    EXPECT_EQ(c.result, LookupPrivilegeValueW(c.system, c.name, &luid));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.result ? c.low : kSentinel, luid.LowPart);
    EXPECT_EQ(c.result ? 0 : static_cast<LONG>(kSentinel), luid.HighPart);
  }
}

TEST(PrivilegeNames, EveryStandardLuidHasOneNameThatLeadsBack) {
  std::vector<std::wstring> seen;
  for (DWORD low = 2; low <= 30; ++low) {
    const std::wstring name = sim::PrivilegeName(LUID{low, 0});
    ASSERT_FALSE(name.empty()) << low;
    EXPECT_EQ(std::find(seen.begin(), seen.end(), name), seen.end()) << sim::Narrow(name);
    seen.push_back(name);
    EXPECT_EQ(low, Luid(name.c_str()).LowPart);
  }
  for (LUID unknown : {LUID{0, 0}, LUID{1, 0}, LUID{31, 0}, LUID{9, 1}}) {
    EXPECT_TRUE(sim::PrivilegeName(unknown).empty()) << unknown.LowPart << ":" << unknown.HighPart;
  }
}

TEST(TokenModel, GroupsMatchAndAssignOwnerByTheirAttributes) {
  const sim::SidBytes user = sim::MakeSid(5, {21, 7, 7, 7, 1001});
  const sim::SidBytes admins = sim::MakeSid(5, {32, 544});
  const sim::SidBytes users = sim::MakeSid(5, {32, 545});
  const sim::SidBytes guests = sim::MakeSid(5, {32, 546});
  const sim::SidBytes powerUsers = sim::MakeSid(5, {32, 547});
  const sim::SidBytes world = sim::MakeSid(1, {0});
  sim::Token token;
  token.user = user;
  token.groups = {
      {admins, SE_GROUP_MANDATORY | SE_GROUP_ENABLED | SE_GROUP_OWNER},
      {users, SE_GROUP_MANDATORY | SE_GROUP_ENABLED},
      {guests, SE_GROUP_USE_FOR_DENY_ONLY},
      {powerUsers, SE_GROUP_OWNER},  // disabled
  };
  struct Case {
    const char* what;
    const sim::SidBytes& sid;
    bool allow, deny, owner;
  } const cases[] = {
      {"user", user, true, true, true},
      {"enabled owner group", admins, true, true, true},
      {"enabled group", users, true, true, false},
      {"deny-only group", guests, false, true, false},
      {"disabled group", powerUsers, false, false, true},
      {"not in the token", world, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.allow, token.Matches(c.sid, false));
    EXPECT_EQ(c.deny, token.Matches(c.sid, true));
    EXPECT_EQ(c.owner, token.MayAssignOwner(c.sid));
  }
}

TEST(TokenModel, PrivilegeEnabledOnlyWhenHeldEnabledAndNotRemoved) {
  const sim::Token token = TestToken();
  EXPECT_TRUE(token.PrivilegeEnabled(L"SeChangeNotifyPrivilege"));
  EXPECT_TRUE(token.PrivilegeEnabled(L"sechangenotifyprivilege"));
  EXPECT_FALSE(token.PrivilegeEnabled(L"SeTakeOwnershipPrivilege"));
  EXPECT_FALSE(token.PrivilegeEnabled(L"SeBackupPrivilege"));  // enabled by default, but off
  EXPECT_FALSE(token.PrivilegeEnabled(L"SeRestorePrivilege"));
  EXPECT_FALSE(token.PrivilegeEnabled(L"SeNoSuchPrivilege"));
  sim::Token removed = token;
  removed.FindPrivilege(Luid(L"SeDebugPrivilege"))->attributes = SE_PRIVILEGE_REMOVED | SE_PRIVILEGE_ENABLED;
  EXPECT_FALSE(removed.PrivilegeEnabled(L"SeDebugPrivilege"));
}

TEST(TokenModel, AdministratorTokenIsAnXpAdministrator) {
  const sim::Token token = sim::AdministratorToken();
  EXPECT_EQ(L"S-1-5-21-1004336348-1177238915-682003330-500", sim::FormatSid(token.user));
  const sim::SidBytes admins = *sim::ParseSid(L"BA");
  EXPECT_TRUE(token.MayAssignOwner(admins));
  EXPECT_FALSE(token.MayAssignOwner(*sim::ParseSid(L"SY")));
  for (const wchar_t* group : {L"BA", L"WD", L"BU", L"AU", L"IU", L"S-1-2-0"}) {
    EXPECT_TRUE(token.Matches(*sim::ParseSid(group), false)) << sim::Narrow(group);
  }
  EXPECT_EQ(19u, token.privileges.size());
  for (const wchar_t* on : {L"SeChangeNotifyPrivilege", L"SeImpersonatePrivilege", L"SeCreateGlobalPrivilege"}) {
    EXPECT_EQ(DWORD{kOnByDefault}, token.FindPrivilege(Luid(on))->attributes) << sim::Narrow(on);
  }
  for (const wchar_t* off : {L"SeTakeOwnershipPrivilege", L"SeBackupPrivilege", L"SeRestorePrivilege",
                             L"SeSecurityPrivilege", L"SeManageVolumePrivilege"}) {
    ASSERT_NE(nullptr, token.FindPrivilege(Luid(off))) << sim::Narrow(off);
    EXPECT_EQ(0u, token.FindPrivilege(Luid(off))->attributes) << sim::Narrow(off);
  }
  EXPECT_EQ(nullptr, token.FindPrivilege(Luid(L"SeTcbPrivilege")));
  EXPECT_EQ(nullptr, token.FindPrivilege(Luid(L"SeCreateTokenPrivilege")));
}

}  // namespace
