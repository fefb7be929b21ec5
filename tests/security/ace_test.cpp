#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "security/dacl.h"
#include "sec_fixture.h"

namespace {

using ATL::CDacl;
using ATL::CSid;
using sectest::BytesAt;
using sectest::HresultOf;

class AceTest : public sectest::SecurityObjectTest {};

std::vector<BYTE> Built(ATL::CAcl::CAce& ace) { return BytesAt(ace.BuildAceBytes(), ace.AceByteLength()); }

std::vector<BYTE> GuidBytes(const GUID& guid) { return BytesAt(&guid, sizeof(GUID)); }

TEST_F(AceTest, AccessAceBytes) {
  struct Case {
    bool allowed;
    std::vector<BYTE> bytes;
  } cases[] = {
      {true, {0x00, 0x02, 0x14, 0x00, 0x00, 0x00, 0x00, 0x10, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00,
              0x00, 0x00}},
      {false, {0x01, 0x02, 0x14, 0x00, 0x00, 0x00, 0x00, 0x10, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12,
               0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allowed ? "allow" : "deny");
    CDacl::CAccessAce ace(ATL::LocalSystemSid(), GENERIC_ALL, CONTAINER_INHERIT_ACE, c.allowed);
    EXPECT_EQ(20u, ace.AceByteLength());
    EXPECT_EQ(c.bytes, Built(ace));
  }
}

TEST_F(AceTest, ObjectAceLayouts) {
  const GUID object = sectest::ObjectGuid();
  const GUID inherited = sectest::InheritedGuid();
  struct Case {
    const char* name;
    const GUID* objectType;
    const GUID* inheritedObjectType;
    DWORD flags;
    DWORD objectAt;     // 0: absent
    DWORD inheritedAt;  // 0: absent
    DWORD sidAt;
  } cases[] = {
      {"no GUID", nullptr, nullptr, 0, 0, 0, 12},
      {"object type only", &object, nullptr, 1, 12, 0, 28},
      {"inherited object type only", nullptr, &inherited, 2, 0, 12, 28},
      {"both", &object, &inherited, 3, 12, 28, 44},
  };
  const std::vector<BYTE> admins = sectest::AdminsSid();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDacl::CAccessObjectAce ace(ATL::AdministratorsSid(), 0x00020019, INHERITED_ACE | OBJECT_INHERIT_ACE, false,
                                c.objectType, c.inheritedObjectType);
    const DWORD length = c.sidAt + 16;  // the Administrators SID fills the rest exactly
    ASSERT_EQ(length, ace.AceByteLength());
    std::vector<BYTE> bytes = Built(ace);
    const std::vector<BYTE> header = {ACCESS_DENIED_OBJECT_ACE_TYPE, INHERITED_ACE | OBJECT_INHERIT_ACE,
                                      static_cast<BYTE>(length), 0, 0x19, 0x00, 0x02, 0x00};
    EXPECT_EQ(header, std::vector<BYTE>(bytes.begin(), bytes.begin() + 8));
    DWORD flags;
    std::memcpy(&flags, &bytes[8], 4);
    EXPECT_EQ(c.flags, flags);
    if (c.objectAt) {
      EXPECT_EQ(GuidBytes(object), std::vector<BYTE>(&bytes[c.objectAt], &bytes[c.objectAt + 16]));
    }
    if (c.inheritedAt) {
      EXPECT_EQ(GuidBytes(inherited), std::vector<BYTE>(&bytes[c.inheritedAt], &bytes[c.inheritedAt + 16]));
    }
    EXPECT_EQ(admins, std::vector<BYTE>(bytes.begin() + c.sidAt, bytes.end()));
  }
}

TEST_F(AceTest, KindsReportTypeKindAndGuids) {
  const GUID object = sectest::ObjectGuid();
  const GUID inherited = sectest::InheritedGuid();
  const GUID none{};
  const CSid system = ATL::LocalSystemSid();
  struct Case {
    const char* name;
    std::unique_ptr<ATL::CAcl::CAce> ace;
    BYTE type;
    bool objectKind;
    DWORD length;
    GUID objectType;
    GUID inheritedObjectType;
  };
  Case cases[] = {
      {"allow", std::make_unique<CDacl::CAccessAce>(system, 1, 0, true), 0, false, 20, none, none},
      {"deny", std::make_unique<CDacl::CAccessAce>(system, 1, 0, false), 1, false, 20, none, none},
      {"object allow, inherited type only",
       std::make_unique<CDacl::CAccessObjectAce>(system, 1, 0, true, nullptr, &inherited), 5, true, 40, none,
       inherited},
      {"object deny, both", std::make_unique<CDacl::CAccessObjectAce>(system, 1, 0, false, &object, &inherited), 6, true,
       56, object, inherited},
      {"object deny, none", std::make_unique<CDacl::CAccessObjectAce>(system, 1, 0, false, nullptr, nullptr), 6, true,
       24, none, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.type, c.ace->AceTypeCode());
    EXPECT_EQ(c.objectKind, c.ace->IsObjectKind());
    EXPECT_EQ(c.length, c.ace->AceByteLength());
    EXPECT_TRUE(sectest::SameGuid(c.objectType, c.ace->ObjectTypeGuid()));
    EXPECT_TRUE(sectest::SameGuid(c.inheritedObjectType, c.ace->InheritedObjectTypeGuid()));
    EXPECT_EQ(c.type, Built(*c.ace)[0]);
  }
}

TEST_F(AceTest, ConstructionCopiesTrusteeAndGuids) {
  GUID object = sectest::ObjectGuid();
  CSid users;
  sim::SidBytes usersBytes = sectest::UsersSid();
  users.AssignSid(sectest::AsSid(usersBytes));
  CDacl::CAccessObjectAce ace(users, 7, 0, true, &object, nullptr);
  // Later changes to what was passed in do not reach the ACE object.
  users = ATL::LocalSystemSid();
  object.Data1 = 0xdeadbeef;
  EXPECT_EQ(usersBytes, BytesAt(ace.Sid().SidBytes(), usersBytes.size()));
  EXPECT_TRUE(sectest::SameGuid(sectest::ObjectGuid(), ace.ObjectTypeGuid()));
  EXPECT_EQ(7u, ace.AccessMask());
}

TEST_F(AceTest, BuildAceBytesAssemblesOnce) {
  const GUID object = sectest::ObjectGuid();
  CDacl::CAccessAce plain(ATL::AdministratorsSid(), GENERIC_READ, 0, true);
  CDacl::CAccessObjectAce objectAce(ATL::AdministratorsSid(), GENERIC_READ, 0, true, &object, &object);
  for (ATL::CAcl::CAce* ace : {static_cast<ATL::CAcl::CAce*>(&plain), static_cast<ATL::CAcl::CAce*>(&objectAce)}) {
    SCOPED_TRACE(int(ace->AceTypeCode()));
    // Measuring assembles nothing.
    sim::FailAllocations(sim::Allocator::CHeap);
    ace->AceByteLength();
    EXPECT_EQ(1u, sim::PendingAllocationFailures(sim::Allocator::CHeap));
    sim::ClearAllocationFailures();

    const BYTE* first = ace->BuildAceBytes();
    ExpectNoCallNorAllocation([&] { EXPECT_EQ(first, ace->BuildAceBytes()); });
  }
}

TEST_F(AceTest, BuildAceBytesOutOfMemoryCachesNothing) {
  const GUID object = sectest::ObjectGuid();
  CDacl::CAccessAce plain(ATL::LocalSystemSid(), GENERIC_ALL, 0, true);
  CDacl::CAccessObjectAce objectAce(ATL::LocalSystemSid(), GENERIC_ALL, 0, true, nullptr, &object);
  for (ATL::CAcl::CAce* ace : {static_cast<ATL::CAcl::CAce*>(&plain), static_cast<ATL::CAcl::CAce*>(&objectAce)}) {
    SCOPED_TRACE(int(ace->AceTypeCode()));
    sim::FailAllocations(sim::Allocator::CHeap);
    EXPECT_EQ(E_OUTOFMEMORY, HresultOf([&] { ace->BuildAceBytes(); }));
    // The next call tries again and succeeds.
    const BYTE* bytes = nullptr;
    EXPECT_EQ(S_OK, HresultOf([&] { bytes = ace->BuildAceBytes(); }));
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(ace->AceTypeCode(), bytes[0]);
  }
}

TEST_F(AceTest, ConstructionFailures) {
  const GUID object = sectest::ObjectGuid();
  const GUID inherited = sectest::InheritedGuid();
  const CSid system = ATL::LocalSystemSid();
  struct Case {
    const char* name;
    const GUID* objectType;
    const GUID* inheritedObjectType;
    unsigned failHeapAt;           // 0: none
    const char* failingOperation;  // or null
    HRESULT hr;
  } cases[] = {
      {"object type copy", &object, &inherited, 1, nullptr, E_OUTOFMEMORY},
      {"inherited object type copy", &object, &inherited, 2, nullptr, E_OUTOFMEMORY},
      {"only GUID, inherited", nullptr, &inherited, 1, nullptr, E_OUTOFMEMORY},
      {"CopySid of the trustee", &object, nullptr, 0, "CopySid", HRESULT(0x80070005)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.failingOperation) sim::FailCall(machine_, c.failingOperation, ERROR_ACCESS_DENIED);
    if (c.failHeapAt) sim::FailAllocations(sim::Allocator::CHeap, c.failHeapAt);
    EXPECT_EQ(c.hr, HresultOf([&] {
                CDacl::CAccessObjectAce ace(system, 1, 0, true, c.objectType, c.inheritedObjectType);
              }));
    EXPECT_EQ(0u, sim::PendingAllocationFailures(sim::Allocator::CHeap));
    machine_.failures.clear();
  }
  // The plain ACE copies its trustee the same way.
  sim::FailCall(machine_, "CopySid", ERROR_ACCESS_DENIED);
  EXPECT_EQ(HRESULT(0x80070005), HresultOf([&] { CDacl::CAccessAce ace(system, 1, 0, true); }));
}

}  // namespace
