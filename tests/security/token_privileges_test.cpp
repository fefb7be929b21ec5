// CTokenPrivileges: entries keyed by LUID and the TOKEN_PRIVILEGES built form.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <map>
#include <utility>

#include "error/com_error.h"
#include "platform/sim/control.h"
#include "security/token.h"

namespace {

using ATL::CTokenPrivileges;

static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) == 4, "count, then the elements");
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12, "low part, high part, attributes");

// The built form read as the platform reads it, byte by byte:
// (low, high) -> attributes.
std::map<std::pair<DWORD, LONG>, DWORD> ReadBuiltForm(const void* block) {
  const BYTE* bytes = static_cast<const BYTE*>(block);
  DWORD count = 0;
  std::memcpy(&count, bytes, 4);
  std::map<std::pair<DWORD, LONG>, DWORD> out;
  for (DWORD i = 0; i < count; ++i) {
    DWORD low = 0, attributes = 0;
    LONG high = 0;
    std::memcpy(&low, bytes + 4 + 12 * i, 4);
    std::memcpy(&high, bytes + 8 + 12 * i, 4);
    std::memcpy(&attributes, bytes + 12 + 12 * i, 4);
    EXPECT_TRUE(out.emplace(std::make_pair(low, high), attributes).second) << "LUID twice in the built form";
  }
  return out;
}

HRESULT RaisedBy(void (*operation)(CTokenPrivileges&), CTokenPrivileges& set) {
  try {
    operation(set);
  } catch (const _com_error& error) {
    return error.Hresult();
  }
  return S_OK;
}

class TokenPrivilegesTest : public ::testing::Test {
 protected:
  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};
};

TEST_F(TokenPrivilegesTest, BuiltFormHoldsCountAndEveryEntryInFourPlusTwelveBytesEach) {
  CTokenPrivileges set;
  EXPECT_EQ(nullptr, set.AsTokenPrivileges());
  const std::map<std::pair<DWORD, LONG>, DWORD> entries = {
      {{9, 0}, SE_PRIVILEGE_ENABLED},
      {{9, 1}, 0},  // differs only in the high part
      {{9, -1}, SE_PRIVILEGE_ENABLED_BY_DEFAULT},
      {{0xdeadbeef, 0x7fffffff}, 0x80000003},
      {{23, 0}, SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT},
  };
  for (const auto& [luid, attributes] : entries) set.SetEntry(LUID{luid.first, luid.second}, attributes);
  EXPECT_EQ(5u, set.EntryCount());

  PTOKEN_PRIVILEGES built = set.AsTokenPrivileges();
  ASSERT_NE(nullptr, built);
  EXPECT_EQ(5u, built->PrivilegeCount);
  EXPECT_EQ(entries, ReadBuiltForm(built));
  // The C-heap block is sized for the elements, not rounded up to whole
  // structures (the allocator may add its own few bytes of slack).
  const std::size_t size = 4 + 12 * 5;
  EXPECT_GE(malloc_usable_size(built), size);
  EXPECT_LT(malloc_usable_size(built), size + 24);
}

TEST_F(TokenPrivilegesTest, SettingOneLuidTwiceKeepsOneEntryWithTheLaterAttributes) {
  CTokenPrivileges set;
  set.SetEntry(LUID{9, 0}, SE_PRIVILEGE_ENABLED);
  set.SetEntry(LUID{17, 0}, 0);
  set.SetEntry(LUID{9, 0}, SE_PRIVILEGE_ENABLED_BY_DEFAULT);
  EXPECT_EQ(2u, set.EntryCount());
  const std::map<std::pair<DWORD, LONG>, DWORD> expected = {{{9, 0}, SE_PRIVILEGE_ENABLED_BY_DEFAULT}, {{17, 0}, 0}};
  EXPECT_EQ(expected, ReadBuiltForm(set.AsTokenPrivileges()));
}

TEST_F(TokenPrivilegesTest, EveryRequestRebuildsFromTheCurrentEntries) {
  CTokenPrivileges set;
  set.SetEntry(LUID{9, 0}, SE_PRIVILEGE_ENABLED);
  EXPECT_EQ(1u, set.AsTokenPrivileges()->PrivilegeCount);
  set.SetEntry(LUID{9, 0}, 0);
  set.SetEntry(LUID{17, 0}, SE_PRIVILEGE_ENABLED);
  const std::map<std::pair<DWORD, LONG>, DWORD> expected = {{{9, 0}, 0}, {{17, 0}, SE_PRIVILEGE_ENABLED}};
  EXPECT_EQ(expected, ReadBuiltForm(set.AsTokenPrivileges()));
}

TEST_F(TokenPrivilegesTest, AddByNameEnablesKnownNamesOnly) {
  struct Case {
    const wchar_t* name;
    bool known;
    DWORD low;
  } const cases[] = {
      {L"SeTakeOwnershipPrivilege", true, 9},
      {L"sebackupprivilege", true, 17},
      {L"SeNoSuchPrivilege", false, 0},
      {L"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.name));
    CTokenPrivileges set;
    set.SetEntry(LUID{23, 0}, 0);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(c.known, set.AddByName(c.name));
    EXPECT_EQ(c.known ? 0xdeadbeef : DWORD{ERROR_NO_SUCH_PRIVILEGE}, GetLastError());
    std::map<std::pair<DWORD, LONG>, DWORD> expected = {{{23, 0}, 0}};
    if (c.known) expected[{c.low, 0}] = SE_PRIVILEGE_ENABLED;
    EXPECT_EQ(expected, ReadBuiltForm(set.AsTokenPrivileges()));
  }
}

TEST_F(TokenPrivilegesTest, FailedAllocationsRaiseOutOfMemoryAndKeepTheEntries) {
  struct Case {
    const char* what;
    sim::Allocator allocator;
    void (*operation)(CTokenPrivileges&);
  } const cases[] = {
      {"new entry", sim::Allocator::OperatorNew, [](CTokenPrivileges& set) { set.SetEntry(LUID{17, 0}, 0); }},
      {"entry by name", sim::Allocator::OperatorNew,
       [](CTokenPrivileges& set) { set.AddByName(L"SeBackupPrivilege"); }},
      {"built form", sim::Allocator::CHeap, [](CTokenPrivileges& set) { set.AsTokenPrivileges(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CTokenPrivileges set;
    set.SetEntry(LUID{9, 0}, SE_PRIVILEGE_ENABLED);
    sim::FailAllocations(c.allocator);
    EXPECT_EQ(E_OUTOFMEMORY, RaisedBy(c.operation, set));
    EXPECT_EQ(0u, sim::PendingAllocationFailures(c.allocator));
    sim::ClearAllocationFailures();
    EXPECT_EQ(1u, set.EntryCount());
    const std::map<std::pair<DWORD, LONG>, DWORD> expected = {{{9, 0}, SE_PRIVILEGE_ENABLED}};
    EXPECT_EQ(expected, ReadBuiltForm(set.AsTokenPrivileges()));
  }
}

}  // namespace
