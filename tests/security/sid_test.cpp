#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "security/sid.h"
#include "sec_fixture.h"

namespace {

using ATL::CSid;
using sectest::BytesAt;
using sectest::HresultOf;

class SidTest : public sectest::SecurityObjectTest {};

const SID_IDENTIFIER_AUTHORITY NtAuthority = {SECURITY_NT_AUTHORITY};

std::vector<BYTE> HeldBytes(const CSid& sid) {
  return BytesAt(sid.SidBytes(), GetLengthSid(const_cast<SID*>(sid.SidBytes())));
}

TEST_F(SidTest, WellKnownSidsAreByteExact) {
  struct Case {
    const char* name;
    std::function<CSid()> make;
    std::vector<BYTE> bytes;
  } cases[] = {
      {"AdministratorsSid", ATL::AdministratorsSid,
       {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00}},
      {"LocalSystemSid", ATL::LocalSystemSid, {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSid sid = c.make();
    ASSERT_TRUE(sid.HoldsSid());
    EXPECT_TRUE(IsValidSid(const_cast<SID*>(sid.SidBytes())));
    EXPECT_EQ(c.bytes, HeldBytes(sid));
  }
}

TEST_F(SidTest, ConstructionFromAuthorityTakesOneToFifteenSubAuthorities) {
  struct Case {
    BYTE count;
    HRESULT hr;
    DWORD length;  // when built
    bool initializes;
  } cases[] = {
      {0, E_INVALIDARG, 0, false},
      {1, S_OK, 12, true},
      {15, S_OK, 68, true},
      {16, E_INVALIDARG, 0, false},
      {255, E_INVALIDARG, 0, false},
  };
  DWORD rids[255];
  for (DWORD k = 0; k < 255; ++k) rids[k] = 0x1000 + k;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << int(c.count));
    machine_.calls.clear();
    std::optional<CSid> sid;
    EXPECT_EQ(c.hr, HresultOf([&] { sid.emplace(NtAuthority, c.count, rids); }));
    EXPECT_EQ(c.initializes ? 1u : 0u, sim::CountCalls(machine_, "InitializeSid"));
    if (c.hr != S_OK) continue;
    ASSERT_TRUE(sid->HoldsSid());
    std::vector<BYTE> held = HeldBytes(*sid);
    ASSERT_EQ(c.length, held.size());
    EXPECT_EQ(c.count, held[1]);
    // The last sub-authority lands in the last four bytes, little-endian.
    DWORD last;
    std::memcpy(&last, &held[held.size() - 4], 4);
    EXPECT_EQ(0x1000u + c.count - 1, last);
  }
}

TEST_F(SidTest, ConstructionRaisesWhatThePlatformLeft) {
  struct Case {
    const char* operation;
    DWORD status;
  } cases[] = {
      {"InitializeSid", ERROR_INVALID_PARAMETER},
      {"CopySid", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    sim::Machine m = sim::DefaultMachine();
    sim::MachineScope scope(m);
    sim::FailCall(m, c.operation, c.status);
    EXPECT_EQ(HresultFromWin32(c.status), HresultOf([] { ATL::AdministratorsSid(); }));
  }
}

TEST_F(SidTest, AssignSidCopiesAndReplaces) {
  sim::SidBytes users = sectest::UsersSid();
  CSid sid = ATL::LocalSystemSid();
  sid.AssignSid(sectest::AsSid(users));
  ASSERT_TRUE(sid.HoldsSid());
  EXPECT_EQ(users, HeldBytes(sid));

  // A copy, not a reference: changing the source afterwards changes nothing.
  users.back() = 0xEE;
  EXPECT_NE(users, HeldBytes(sid));
  EXPECT_EQ(sectest::UsersSid(), HeldBytes(sid));
}

TEST_F(SidTest, AssignSidOfOwnStorageCallsNothing) {
  CSid sid = ATL::AdministratorsSid();
  const std::size_t before = CallCount();
  EXPECT_EQ(&sid, &sid.AssignSid(sid.SidBytes()));
  EXPECT_EQ(before, CallCount());
  EXPECT_TRUE(sid.HoldsSid());
  EXPECT_EQ(sectest::AdminsSid(), HeldBytes(sid));
}

TEST_F(SidTest, FailedAssignSidLeavesNothingHeld) {
  sim::SidBytes badRevision = sectest::SystemSid();
  badRevision[0] = 2;
  sim::SidBytes good = sectest::UsersSid();
  struct Case {
    const char* name;
    const sim::SidBytes* source;
    const char* failing;  // operation made to fail, or null
    HRESULT hr;
  } cases[] = {
      {"invalid SID", &badRevision, nullptr, E_INVALIDARG},
      {"CopySid fails", &good, "CopySid", HRESULT(0x80070005)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSid sid = ATL::AdministratorsSid();
    if (c.failing) sim::FailCall(machine_, c.failing, ERROR_ACCESS_DENIED);
    EXPECT_EQ(c.hr, HresultOf([&] { sid.AssignSid(sectest::AsSid(*c.source)); }));
    EXPECT_FALSE(sid.HoldsSid());
    machine_.failures.clear();
  }
}

TEST_F(SidTest, CopyConstruction) {
  // Empty source: holds nothing and asks the platform nothing.
  CSid empty;
  std::size_t before = CallCount();
  CSid emptyCopy(empty);
  EXPECT_FALSE(emptyCopy.HoldsSid());
  EXPECT_EQ(before, CallCount());

  CSid admins = ATL::AdministratorsSid();
  CSid copy(admins);
  ASSERT_TRUE(copy.HoldsSid());
  EXPECT_NE(admins.SidBytes(), copy.SidBytes());
  EXPECT_EQ(sectest::AdminsSid(), HeldBytes(copy));

  sim::FailCall(machine_, "CopySid", ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(HRESULT(0x8007007A), HresultOf([&] { CSid failed(admins); }));
  machine_.failures.clear();

  // A held SID that no longer passes IsValidSid is refused, not copied.
  const_cast<BYTE*>(reinterpret_cast<const BYTE*>(admins.SidBytes()))[0] = 2;
  EXPECT_EQ(E_INVALIDARG, HresultOf([&] { CSid failed(admins); }));
}

TEST_F(SidTest, CopyAssignment) {
  CSid target = ATL::AdministratorsSid();
  target = ATL::LocalSystemSid();
  EXPECT_EQ(sectest::SystemSid(), HeldBytes(target));
  target = CSid();
  EXPECT_FALSE(target.HoldsSid());
}

}  // namespace
