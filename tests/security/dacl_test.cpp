#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/dacl.h"
#include "sec_fixture.h"

namespace {

using ATL::CDacl;
using sectest::Ace;
using sectest::AclImage;
using sectest::BytesAt;
using sectest::HresultOf;
using sectest::Masks;

class DaclTest : public sectest::SecurityObjectTest {};

const std::vector<BYTE> EmptyAclBytes = {ACL_REVISION, 0, 8, 0, 0, 0, 0, 0};

// The masks of the ACEs of a binary ACL, in their order there.
std::vector<ACCESS_MASK> MasksIn(const ACL* acl) {
  std::vector<ACCESS_MASK> masks;
  const BYTE* p = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_MASK mask;
    std::memcpy(&mask, p + 4, 4);
    masks.push_back(mask);
    p += p[2] | (p[3] << 8);
  }
  return masks;
}

// ---------------------------------------------------------------- empty and null

TEST_F(DaclTest, EmptyDaclBuildsTheEightByteAcl) {
  AclImage one(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid())});
  struct Case {
    const char* name;
    void (*prepare)(CDacl&, const ACL*);
  } cases[] = {
      {"fresh", [](CDacl&, const ACL*) {}},
      {"made empty", [](CDacl& d, const ACL*) { d.MakeEmpty(); }},
      {"null, then made empty", [](CDacl& d, const ACL*) {
         d.MakeNull();
         d.MakeEmpty();
       }},
      {"populated, then made empty", [](CDacl& d, const ACL* acl) {
         d.AssignFromAcl(acl);
         d.BuildAcl();
         d.MakeEmpty();
       }},
      {"populated, then cleared", [](CDacl& d, const ACL* acl) {
         d.AssignFromAcl(acl);
         d.BuildAcl();
         d.ClearAces();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDacl dacl;
    c.prepare(dacl, one.get());
    EXPECT_FALSE(dacl.IsNull());
    EXPECT_EQ(0u, dacl.AceCount());
    PACL acl = dacl.BuildAcl();
    ASSERT_NE(nullptr, acl);
    EXPECT_EQ(EmptyAclBytes, BytesAt(acl, 8));
  }
}

TEST_F(DaclTest, SecondBuildReturnsTheSameAclAndCallsNothing) {
  AclImage source(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid())});
  CDacl populated;
  populated.AssignFromAcl(source.get());
  CDacl empty;
  for (CDacl* dacl : {&empty, &populated}) {
    PACL first = dacl->BuildAcl();
    ExpectNoCallNorAllocation([&] { EXPECT_EQ(first, dacl->BuildAcl()); });
  }
}

TEST_F(DaclTest, NullDaclBuildsNothing) {
  AclImage source(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid())});
  CDacl madeNull;
  madeNull.MakeNull();
  CDacl assignedNull;
  assignedNull.AssignFromAcl(source.get());
  assignedNull.BuildAcl();
  assignedNull.AssignFromAcl(nullptr);
  for (CDacl* dacl : {&madeNull, &assignedNull}) {
    EXPECT_TRUE(dacl->IsNull());
    EXPECT_EQ(0u, dacl->AceCount());
    ExpectNoCallNorAllocation([&] { EXPECT_EQ(nullptr, dacl->BuildAcl()); });

    // Clearing keeps the null mark; only MakeEmpty turns it into an ACL.
    dacl->ClearAces();
    EXPECT_TRUE(dacl->IsNull());
    dacl->MakeEmpty();
    ASSERT_NE(nullptr, dacl->BuildAcl());
    EXPECT_EQ(EmptyAclBytes, BytesAt(dacl->BuildAcl(), 8));
  }
}

// ---------------------------------------------------------------- canonical order

struct Entry {
  const char* label;
  BYTE type;
  BYTE flags;
};

struct OrderCase {
  const char* name;
  std::vector<Entry> aces;
  std::vector<std::string> expected;
};

// Allow and deny, explicit (e…) and inherited (i…), plain and object (…o).
const Entry a1{"a1", ACCESS_ALLOWED_ACE_TYPE, 0}, a2{"a2", ACCESS_ALLOWED_ACE_TYPE, 0},
    a3{"a3", ACCESS_ALLOWED_ACE_TYPE, 0}, a4{"a4", ACCESS_ALLOWED_ACE_TYPE, 0}, d{"d", ACCESS_DENIED_ACE_TYPE, 0},
    d2{"d2", ACCESS_DENIED_ACE_TYPE, 0}, iA{"iA", ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE},
    iD{"iD", ACCESS_DENIED_ACE_TYPE, INHERITED_ACE}, eA{"eA", ACCESS_ALLOWED_ACE_TYPE, 0},
    eD{"eD", ACCESS_DENIED_ACE_TYPE, 0}, eAo{"eAo", ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0},
    eDo{"eDo", ACCESS_DENIED_OBJECT_ACE_TYPE, 0},
    ci{"ci", ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE},
    ciio{"ciio", ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE};

std::vector<OrderCase> OrderCases() {
  std::vector<OrderCase> cases = {
      {"four, deny last", {a1, a2, a3, d}, {"d", "a1", "a2", "a3"}},
      {"four, equal keys keep their order", {a1, d, a2, d2}, {"d", "d2", "a1", "a2"}},
      {"five: the gap-4 pass swaps a1 and d", {a1, a2, a3, a4, d}, {"d", "a2", "a3", "a4", "a1"}},
      {"inherited deny after explicit allow", {iD, eA}, {"eA", "iD"}},
      {"object allow after plain allow", {eAo, eA}, {"eA", "eAo"}},
      {"six, mixed", {iA, iD, eA, eD, eAo, eDo}, {"eD", "eDo", "eA", "eAo", "iD", "iA"}},
      // Inheritance flags other than INHERITED_ACE do not count: a baseline stays as parsed.
      {"baseline-like allows", {ci, eA, ciio, a1}, {"ci", "eA", "ciio", "a1"}},
  };
  // Fourteen: the gaps are 13, 4, 1, and only the gap-13 pass moves anything.
  OrderCase fourteen{"fourteen: the gap-13 pass swaps the ends", {}, {"d"}};
  static std::vector<std::string> labels;
  labels.clear();
  for (int k = 1; k <= 13; ++k) labels.push_back("a" + std::to_string(k));
  for (const std::string& label : labels) fourteen.aces.push_back({label.c_str(), ACCESS_ALLOWED_ACE_TYPE, 0});
  fourteen.aces.push_back(d);
  for (int k = 2; k <= 13; ++k) fourteen.expected.push_back("a" + std::to_string(k));
  fourteen.expected.push_back("a1");
  cases.push_back(fourteen);
  return cases;
}

TEST_F(DaclTest, BuildAclPutsAcesIntoCanonicalOrder) {
  for (const OrderCase& c : OrderCases()) {
    SCOPED_TRACE(c.name);
    std::vector<sim::AceModel> aces;
    for (std::size_t i = 0; i < c.aces.size(); ++i) {
      const Entry& e = c.aces[i];
      bool object = e.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || e.type == ACCESS_DENIED_OBJECT_ACE_TYPE;
      aces.push_back(Ace(e.type, e.flags, ACCESS_MASK(i + 1), sectest::SystemSid(),
                         object ? std::optional<GUID>(sectest::ObjectGuid()) : std::nullopt));
    }
    AclImage source(ACL_REVISION_DS, aces);
    CDacl dacl;
    dacl.AssignFromAcl(source.get());
    PACL built = dacl.BuildAcl();
    ASSERT_NE(nullptr, built);

    std::vector<std::string> inObject, inAcl;
    for (ACCESS_MASK mask : Masks(dacl)) inObject.push_back(c.aces[mask - 1].label);
    for (ACCESS_MASK mask : MasksIn(built)) inAcl.push_back(c.aces[mask - 1].label);
    EXPECT_EQ(c.expected, inObject);
    EXPECT_EQ(c.expected, inAcl);
  }
}

// ---------------------------------------------------------------- reading an ACL

TEST_F(DaclTest, AssignFromAclKeepsOnlyAccessAces) {
  const GUID object = sectest::ObjectGuid();
  AclImage source(ACL_REVISION_DS,
                  {Ace(ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, 0x11, sectest::SystemSid()),
                   Ace(SYSTEM_AUDIT_ACE_TYPE, SUCCESSFUL_ACCESS_ACE_FLAG, 0x22, sectest::SystemSid()),
                   Ace(SYSTEM_ALARM_ACE_TYPE, 0, 0x33, sectest::SystemSid()),
                   sectest::RawAce(ACCESS_ALLOWED_COMPOUND_ACE_TYPE, {0x44, 0, 0, 0}),
                   Ace(ACCESS_DENIED_OBJECT_ACE_TYPE, INHERITED_ACE, 0x55, sectest::AdminsSid(), std::nullopt, object),
                   Ace(SYSTEM_AUDIT_OBJECT_ACE_TYPE, 0, 0x66, sectest::SystemSid(), object),
                   sectest::RawAce(0x11, {0x77, 0, 0, 0}),
                   Ace(ACCESS_DENIED_ACE_TYPE, 0, 0x88, sectest::UsersSid())});
  CDacl dacl;
  dacl.AssignFromAcl(source.get());
  ASSERT_EQ(3u, dacl.AceCount());
  struct Expected {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    sim::SidBytes sid;
    GUID inheritedObjectType;
  } expected[] = {
      {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, 0x11, sectest::SystemSid(), GUID{}},
      {ACCESS_DENIED_OBJECT_ACE_TYPE, INHERITED_ACE, 0x55, sectest::AdminsSid(), object},
      {ACCESS_DENIED_ACE_TYPE, 0, 0x88, sectest::UsersSid(), GUID{}},
  };
  for (DWORD i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ATL::CAcl::CAce* ace = dacl.AceAt(i);
    EXPECT_EQ(expected[i].type, ace->AceTypeCode());
    EXPECT_EQ(expected[i].flags, ace->AceFlags());
    EXPECT_EQ(expected[i].mask, ace->AccessMask());
    EXPECT_EQ(expected[i].sid, BytesAt(ace->Sid().SidBytes(), expected[i].sid.size()));
    EXPECT_TRUE(sectest::SameGuid(GUID{}, ace->ObjectTypeGuid()));
    EXPECT_TRUE(sectest::SameGuid(expected[i].inheritedObjectType, ace->InheritedObjectTypeGuid()));
  }
}

TEST_F(DaclTest, AssignFromAclKeepsTheRevisionAndRebuildsTheSameBytes) {
  const GUID object = sectest::ObjectGuid();
  const GUID inherited = sectest::InheritedGuid();
  struct Case {
    const char* name;
    BYTE revision;
    std::vector<sim::AceModel> aces;
  } cases[] = {
      {"revision 2", ACL_REVISION,
       {Ace(ACCESS_DENIED_ACE_TYPE, 0, 1, sectest::UsersSid()),
        Ace(ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, GENERIC_ALL, sectest::SystemSid())}},
      {"revision 4", ACL_REVISION_DS,
       {Ace(ACCESS_DENIED_ACE_TYPE, 0, 1, sectest::UsersSid()),
        Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 2, sectest::AdminsSid()),
        Ace(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 3, sectest::AdminsSid(), object, inherited),
        Ace(ACCESS_ALLOWED_OBJECT_ACE_TYPE, INHERITED_ACE, 4, sectest::SystemSid(), std::nullopt, inherited)}},
      {"revision 4, no ACEs", ACL_REVISION_DS, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AclImage source(c.revision, c.aces);
    CDacl dacl;
    dacl.AssignFromAcl(source.get());
    EXPECT_EQ(c.revision, dacl.AclRevision());
    PACL built = dacl.BuildAcl();
    ASSERT_NE(nullptr, built);
    // Canonical input comes back byte for byte, exactly sized.
    EXPECT_EQ(sectest::AclBytes(source.get()), sectest::AclBytes(built));
  }
}

TEST_F(DaclTest, AssignFromAclAppendsClearsTheNullMarkAndDropsTheBuiltAcl) {
  AclImage first(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid())});
  AclImage second(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 2, sectest::UsersSid())});
  CDacl dacl;
  dacl.AssignFromAcl(first.get());
  EXPECT_EQ(1u, MasksIn(dacl.BuildAcl()).size());
  dacl.AssignFromAcl(second.get());
  EXPECT_EQ((std::vector<ACCESS_MASK>{1, 2}), MasksIn(dacl.BuildAcl()));

  CDacl wasNull;
  wasNull.MakeNull();
  wasNull.AssignFromAcl(second.get());
  EXPECT_FALSE(wasNull.IsNull());
  ASSERT_NE(nullptr, wasNull.BuildAcl());
  EXPECT_EQ((std::vector<ACCESS_MASK>{2}), MasksIn(wasNull.BuildAcl()));
}

TEST_F(DaclTest, AssignFromAclFailsPartWayKeepingWhatItRead) {
  const GUID object = sectest::ObjectGuid();
  sim::SidBytes invalid = sectest::UsersSid();
  invalid[0] = 2;
  const AclImage sentinel(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 0xdeadbeef, sectest::SystemSid())});
  const AclImage source(ACL_REVISION_DS,
                        {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid()),
                         Ace(ACCESS_DENIED_ACE_TYPE, 0, 2, sectest::AdminsSid()),
                         Ace(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 3, sectest::UsersSid(), object)});
  const AclImage badSecond(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid()),
                                          Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 2, invalid)});
  enum Knob { None, Call, CHeap, OperatorNew };
  struct Case {
    const char* name;
    const AclImage* acl;
    Knob knob;
    const char* operation;  // for Call
    unsigned nth;
    HRESULT hr;
    std::vector<ACCESS_MASK> left;
  } cases[] = {
      {"size information", &source, Call, "GetAclInformation", 1, HRESULT(0x80070005), {0xdeadbeef}},
      {"revision information", &source, Call, "GetAclInformation", 2, HRESULT(0x80070005), {0xdeadbeef}},
      {"second GetAce", &source, Call, "GetAce", 2, HRESULT(0x80070005), {0xdeadbeef, 1}},
      {"CopySid into the scratch SID", &source, Call, "CopySid", 3, HRESULT(0x80070005), {0xdeadbeef, 1}},
      {"CopySid inside the ACE object", &source, Call, "CopySid", 4, E_OUTOFMEMORY, {0xdeadbeef, 1}},
      {"invalid SID", &badSecond, None, nullptr, 0, E_INVALIDARG, {0xdeadbeef, 1}},
      {"GUID copy", &source, CHeap, nullptr, 1, E_OUTOFMEMORY, {0xdeadbeef, 1, 2}},
      // operator new: ACE object, list growth to 2, ACE object, growth to 4, ACE object.
      {"first ACE object", &source, OperatorNew, nullptr, 1, E_OUTOFMEMORY, {0xdeadbeef}},
      {"first growth", &source, OperatorNew, nullptr, 2, E_OUTOFMEMORY, {0xdeadbeef}},
      {"second ACE object", &source, OperatorNew, nullptr, 3, E_OUTOFMEMORY, {0xdeadbeef, 1}},
      {"second growth", &source, OperatorNew, nullptr, 4, E_OUTOFMEMORY, {0xdeadbeef, 1}},
      {"third ACE object", &source, OperatorNew, nullptr, 5, E_OUTOFMEMORY, {0xdeadbeef, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDacl dacl;
    dacl.AssignFromAcl(sentinel.get());
    dacl.BuildAcl();
    machine_.failures.clear();
    if (c.knob == Call) sim::FailCall(machine_, c.operation, ERROR_ACCESS_DENIED, c.nth);
    SetLastError(0xdeadbeef);
    HRESULT hr;
    if (c.knob == CHeap) sim::FailAllocations(sim::Allocator::CHeap, c.nth);
    if (c.knob == OperatorNew) sim::FailAllocations(sim::Allocator::OperatorNew, c.nth);
    hr = HresultOf([&] { dacl.AssignFromAcl(c.acl->get()); });
    const unsigned pending = sim::PendingAllocationFailures(sim::Allocator::CHeap) +
                             sim::PendingAllocationFailures(sim::Allocator::OperatorNew);
    sim::ClearAllocationFailures();
    EXPECT_EQ(c.hr, hr);
    EXPECT_EQ(0u, pending);
    if (c.knob == Call && c.hr != E_OUTOFMEMORY) {
      EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    }
    EXPECT_EQ(c.left, Masks(dacl));

    // The ACL built before is gone: the next build assembles a new one.
    machine_.failures.clear();
    const std::size_t builds = sim::CountCalls(machine_, "InitializeAcl");
    ASSERT_NE(nullptr, dacl.BuildAcl());
    EXPECT_EQ(builds + 1, sim::CountCalls(machine_, "InitializeAcl"));
  }
}

// ---------------------------------------------------------------- building an ACL

TEST_F(DaclTest, FailedBuildReleasesTheBufferAndBuildsNothing) {
  // Allow first, deny second: the order tells whether OrderAces ran.
  const AclImage source(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid()),
                                       Ace(ACCESS_DENIED_ACE_TYPE, 0, 2, sectest::UsersSid())});
  const AclImage canonical(ACL_REVISION, {Ace(ACCESS_DENIED_ACE_TYPE, 0, 2, sectest::UsersSid()),
                                          Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid())});
  struct Case {
    const char* name;
    const char* operation;  // made to fail, or null for the C heap
    unsigned nth;
    HRESULT hr;
    std::vector<ACCESS_MASK> order;
  } cases[] = {
      {"ACL buffer", nullptr, 1, E_OUTOFMEMORY, {1, 2}},
      {"InitializeAcl", "InitializeAcl", 1, HRESULT(0x80070005), {1, 2}},
      {"first binary ACE", nullptr, 2, E_OUTOFMEMORY, {2, 1}},
      {"second binary ACE", nullptr, 3, E_OUTOFMEMORY, {2, 1}},
      {"first AddAce", "AddAce", 1, HRESULT(0x80070005), {2, 1}},
      {"second AddAce", "AddAce", 2, HRESULT(0x80070005), {2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDacl dacl;
    dacl.AssignFromAcl(source.get());
    machine_.failures.clear();
    if (c.operation) sim::FailCall(machine_, c.operation, ERROR_ACCESS_DENIED, c.nth);
    PACL built = reinterpret_cast<PACL>(0xdeadbeef);
    if (!c.operation) sim::FailAllocations(sim::Allocator::CHeap, c.nth);
    // Releasing the buffer disturbs the thread's error: the HRESULT must have
    // been taken from it before.
    sim::ClobberLastErrorOnRelease(true);
    HRESULT hr = HresultOf([&] { built = dacl.BuildAcl(); });
    const unsigned pending = sim::PendingAllocationFailures(sim::Allocator::CHeap);
    sim::ClearAllocationFailures();
    EXPECT_EQ(c.hr, hr);
    EXPECT_EQ(0u, pending);
    EXPECT_EQ(reinterpret_cast<PACL>(0xdeadbeef), built);
    EXPECT_EQ(c.order, Masks(dacl));

    machine_.failures.clear();
    const std::size_t builds = sim::CountCalls(machine_, "InitializeAcl");
    built = dacl.BuildAcl();
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(builds + 1, sim::CountCalls(machine_, "InitializeAcl"));
    EXPECT_EQ(sectest::AclBytes(canonical.get()), sectest::AclBytes(built));
  }
}

// ---------------------------------------------------------------- indexing

TEST_F(DaclTest, AceAtAndEraseAceAtRefuseIndicesOutOfRange) {
  const AclImage source(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid()),
                                       Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 2, sectest::UsersSid())});
  for (DWORD index : {DWORD(2), DWORD(3), DWORD(0xFFFFFFFF)}) {
    SCOPED_TRACE(index);
    CDacl dacl;
    dacl.AssignFromAcl(source.get());
    PACL built = dacl.BuildAcl();
    ATL::CAcl::CAce* ace = reinterpret_cast<ATL::CAcl::CAce*>(0xdeadbeef);
    EXPECT_EQ(E_INVALIDARG, HresultOf([&] { ace = dacl.AceAt(index); }));
    EXPECT_EQ(reinterpret_cast<ATL::CAcl::CAce*>(0xdeadbeef), ace);
    EXPECT_EQ(E_INVALIDARG, HresultOf([&] { dacl.EraseAceAt(index); }));
    EXPECT_EQ((std::vector<ACCESS_MASK>{1, 2}), Masks(dacl));
    EXPECT_EQ(built, dacl.BuildAcl());
  }
  CDacl empty;
  EXPECT_EQ(E_INVALIDARG, HresultOf([&] { empty.AceAt(0); }));
  EXPECT_EQ(E_INVALIDARG, HresultOf([&] { empty.EraseAceAt(0); }));
}

TEST_F(DaclTest, EraseAceAtShiftsTheRestAndDropsTheBuiltAcl) {
  const AclImage source(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 1, sectest::SystemSid()),
                                       Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 2, sectest::UsersSid()),
                                       Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 3, sectest::AdminsSid())});
  CDacl dacl;
  dacl.AssignFromAcl(source.get());
  EXPECT_EQ(3u, MasksIn(dacl.BuildAcl()).size());
  dacl.EraseAceAt(1);
  EXPECT_EQ((std::vector<ACCESS_MASK>{1, 3}), Masks(dacl));
  EXPECT_EQ((std::vector<ACCESS_MASK>{1, 3}), MasksIn(dacl.BuildAcl()));
  dacl.EraseAceAt(1);
  dacl.EraseAceAt(0);
  EXPECT_EQ(0u, dacl.AceCount());
  EXPECT_EQ(EmptyAclBytes, BytesAt(dacl.BuildAcl(), 8));
}

}  // namespace
