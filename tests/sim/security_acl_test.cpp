// ACLs and ACEs on the simulated machine: binary layouts and the advapi32 ACL calls.
#include <functional>

#include "sim/security_fixture.h"

namespace {

using simsec_test::Bytes;
using simsec_test::Copy;
using simsec_test::Filled;
using SimAcl = simsec_test::SimSecurityTest;

// An access ACE in the platform's layout.
std::vector<BYTE> AccessAce(BYTE type, BYTE flags, DWORD mask, const sim::SidBytes& sid) {
  sim::AclModel acl;
  sim::AceModel ace;
  ace.type = type;
  ace.flags = flags;
  ace.mask = mask;
  ace.sid = sid;
  acl.aces.push_back(ace);
  std::vector<BYTE> bytes = sim::WriteAcl(acl);
  return std::vector<BYTE>(bytes.begin() + 8, bytes.end());
}

const sim::SidBytes kSystem = sim::MakeSid(5, {18});
const sim::SidBytes kAdmins = sim::MakeSid(5, {32, 544});

TEST_F(SimAcl, InitializeAclTable) {
  const struct {
    DWORD size;
    DWORD revision;
    BOOL ok;
    DWORD error;
  } cases[] = {
      {8, ACL_REVISION, TRUE, 0xdeadbeef},
      {8, ACL_REVISION3, TRUE, 0xdeadbeef},
      {8, ACL_REVISION_DS, TRUE, 0xdeadbeef},
      {0xFFFF, ACL_REVISION, TRUE, 0xdeadbeef},
      {7, ACL_REVISION, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {0, ACL_REVISION, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {7, 5, FALSE, ERROR_INSUFFICIENT_BUFFER},  // the size is checked first
      {0x10000, ACL_REVISION, FALSE, ERROR_INVALID_PARAMETER},
      {8, 1, FALSE, ERROR_INVALID_PARAMETER},
      {8, 5, FALSE, ERROR_INVALID_PARAMETER},
      {8, 0, FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << "/" << c.revision);
    std::vector<BYTE> buffer = Filled(16);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(InitializeAcl(reinterpret_cast<PACL>(buffer.data()), c.size, c.revision), c.ok);
    EXPECT_EQ(GetLastError(), c.error);
    if (c.ok) {
      EXPECT_EQ(Copy(buffer.data(), 8),
                Bytes({int(c.revision), 0, int(c.size & 0xff), int(c.size >> 8), 0, 0, 0, 0}));
      EXPECT_EQ(buffer[8], 0xcc);  // only the header is written
    } else {
      EXPECT_EQ(buffer, Filled(16));
    }
  }
}

TEST_F(SimAcl, EmptyAclLayout) {
  EXPECT_EQ(sim::WriteAcl(sim::AclModel{}), Bytes({2, 0, 8, 0, 0, 0, 0, 0}));
  auto read = sim::ReadAcl(reinterpret_cast<const ACL*>(Bytes({2, 0, 8, 0, 0, 0, 0, 0}).data()));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->revision, ACL_REVISION);
  EXPECT_TRUE(read->aces.empty());
}

TEST_F(SimAcl, AccessAceLayout) {
  EXPECT_EQ(AccessAce(ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, GENERIC_ALL, kSystem),
            Bytes({0, 2, 0x14, 0, 0, 0, 0, 0x10, 1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0}));
  EXPECT_EQ(AccessAce(ACCESS_DENIED_ACE_TYPE, 0x1f, 0x20019, kAdmins),
            Bytes({1, 0x1f, 0x18, 0, 0x19, 0, 2, 0, 1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0}));
}

TEST_F(SimAcl, ObjectAceLayouts) {
  const GUID object{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}};
  const GUID inherited{0xffeeddcc, 0xbbaa, 0x9988, {0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00}};
  const std::vector<BYTE> objectBytes =
      Bytes({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff});
  const std::vector<BYTE> inheritedBytes =
      Bytes({0xcc, 0xdd, 0xee, 0xff, 0xaa, 0xbb, 0x88, 0x99, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00});
  const struct {
    bool hasObject;
    bool hasInherited;
    DWORD flags;
    std::size_t size;
  } cases[] = {{false, false, 0, 24}, {true, false, 1, 40}, {false, true, 2, 40}, {true, true, 3, 56}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    sim::AclModel model;
    model.revision = ACL_REVISION_DS;
    sim::AceModel ace;
    ace.type = ACCESS_DENIED_OBJECT_ACE_TYPE;
    ace.flags = INHERITED_ACE;
    ace.mask = 0x100;
    if (c.hasObject) ace.objectType = object;
    if (c.hasInherited) ace.inheritedObjectType = inherited;
    ace.sid = kSystem;
    model.aces.push_back(ace);
    std::vector<BYTE> acl = sim::WriteAcl(model);
    ASSERT_EQ(acl.size(), 8 + c.size);
    std::vector<BYTE> expected = Bytes({4, 0, int(8 + c.size), 0, 1, 0, 0, 0, 6, 0x10, int(c.size), 0, 0, 1, 0, 0,
                                        int(c.flags), 0, 0, 0});
    if (c.hasObject) expected.insert(expected.end(), objectBytes.begin(), objectBytes.end());
    if (c.hasInherited) expected.insert(expected.end(), inheritedBytes.begin(), inheritedBytes.end());
    expected.insert(expected.end(), kSystem.begin(), kSystem.end());
    EXPECT_EQ(acl, expected);

    auto read = sim::ReadAcl(reinterpret_cast<const ACL*>(acl.data()));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(sim::WriteAcl(*read), acl);
    EXPECT_EQ(read->aces[0].objectType.has_value(), c.hasObject);
    EXPECT_EQ(read->aces[0].inheritedObjectType.has_value(), c.hasInherited);
  }
}

// An ACL of `size` bytes in a buffer with sentinel bytes after it.
std::vector<BYTE> NewAcl(DWORD size, DWORD revision = ACL_REVISION) {
  std::vector<BYTE> buffer = Filled(size + 8);
  EXPECT_TRUE(InitializeAcl(reinterpret_cast<PACL>(buffer.data()), size, revision));
  return buffer;
}

PACL AsAcl(std::vector<BYTE>& buffer) { return reinterpret_cast<PACL>(buffer.data()); }

TEST_F(SimAcl, AddAceAppendsAndInsertsByIndex) {
  std::vector<BYTE> a = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  std::vector<BYTE> b = AccessAce(ACCESS_DENIED_ACE_TYPE, 0, 2, kAdmins);
  std::vector<BYTE> c = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 3, kAdmins);
  std::vector<BYTE> acl = NewAcl(100);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, a.data(), DWORD(a.size())));
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, 0, b.data(), DWORD(b.size())));
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, 7, c.data(), DWORD(c.size())));  // past the end: appended
  EXPECT_EQ(AsAcl(acl)->AceCount, 3);
  const std::vector<BYTE>* order[] = {&b, &a, &c};
  for (DWORD i = 0; i < 3; ++i) {
    LPVOID ace = nullptr;
    ASSERT_TRUE(GetAce(AsAcl(acl), i, &ace));
    EXPECT_EQ(Copy(ace, order[i]->size()), *order[i]) << i;
  }
  EXPECT_EQ(acl[100], 0xcc);

  // Two ACEs in one list.
  std::vector<BYTE> both = a;
  both.insert(both.end(), c.begin(), c.end());
  std::vector<BYTE> second = NewAcl(100);
  ASSERT_TRUE(AddAce(AsAcl(second), ACL_REVISION, MAXDWORD, both.data(), DWORD(both.size())));
  EXPECT_EQ(AsAcl(second)->AceCount, 2);
}

TEST_F(SimAcl, AddAceFailuresLeaveTheAclAlone) {
  std::vector<BYTE> ace = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);  // 20 bytes
  std::vector<BYTE> zeroSize = ace;
  zeroSize[2] = 0;
  std::vector<BYTE> tinySize = ace;
  tinySize[2] = 2;
  std::vector<BYTE> tooLong = ace;
  tooLong[2] = 24;
  std::vector<BYTE> objectAce = ace;
  objectAce[0] = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
  const struct {
    const char* what;
    DWORD aclSize;
    DWORD revision;
    const std::vector<BYTE>* list;
    DWORD length;
    DWORD error;
  } cases[] = {
      {"past the ACL's size", 8 + 19, ACL_REVISION, &ace, 20, ERROR_ALLOTTED_SPACE_EXCEEDED},
      {"ACE size 0", 100, ACL_REVISION, &zeroSize, 20, ERROR_INVALID_PARAMETER},
      {"ACE size below its header", 100, ACL_REVISION, &tinySize, 20, ERROR_INVALID_PARAMETER},
      {"ACE longer than the list", 100, ACL_REVISION, &tooLong, 20, ERROR_INVALID_PARAMETER},
      {"list shorter than a header", 100, ACL_REVISION, &ace, 3, ERROR_INVALID_PARAMETER},
      {"object ACE at revision 2", 100, ACL_REVISION, &objectAce, 20, ERROR_INVALID_PARAMETER},
      {"ACE revision 1", 100, 1, &ace, 20, ERROR_INVALID_PARAMETER},
      {"ACE revision 5", 100, 5, &ace, 20, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> acl = NewAcl(c.aclSize);
    std::vector<BYTE> before = acl;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAce(AsAcl(acl), c.revision, MAXDWORD, const_cast<BYTE*>(c.list->data()), c.length));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(acl, before);
  }

  // An ACL whose ACE count runs past its size cannot take more ACEs.
  std::vector<BYTE> broken = NewAcl(100);
  AsAcl(broken)->AceCount = 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(AddAce(AsAcl(broken), ACL_REVISION, MAXDWORD, ace.data(), 20));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimAcl, AddAceRaisesTheAclRevision) {
  std::vector<BYTE> objectAce = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  objectAce[0] = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
  objectAce.insert(objectAce.begin() + 8, {0, 0, 0, 0});  // Flags: no GUIDs
  objectAce[2] = BYTE(objectAce.size());
  std::vector<BYTE> plain = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);

  std::vector<BYTE> acl = NewAcl(100);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION_DS, MAXDWORD, objectAce.data(), DWORD(objectAce.size())));
  EXPECT_EQ(AsAcl(acl)->AclRevision, ACL_REVISION_DS);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, plain.data(), DWORD(plain.size())));
  EXPECT_EQ(AsAcl(acl)->AclRevision, ACL_REVISION_DS);  // never lowered
  EXPECT_TRUE(IsValidAcl(AsAcl(acl)));
  auto read = sim::ReadAcl(AsAcl(acl));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->aces.size(), 2u);
  EXPECT_EQ(read->aces[0].type, ACCESS_ALLOWED_OBJECT_ACE_TYPE);
}

TEST_F(SimAcl, GetAclInformation) {
  std::vector<BYTE> ace = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  std::vector<BYTE> acl = NewAcl(100, ACL_REVISION3);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, ace.data(), 20));

  ACL_SIZE_INFORMATION size{0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
  ASSERT_TRUE(GetAclInformation(AsAcl(acl), &size, sizeof size, AclSizeInformation));
  EXPECT_EQ(size.AceCount, 1u);
  EXPECT_EQ(size.AclBytesInUse, 28u);
  EXPECT_EQ(size.AclBytesFree, 72u);
  ACL_REVISION_INFORMATION revision{0xdeadbeef};
  ASSERT_TRUE(GetAclInformation(AsAcl(acl), &revision, sizeof revision, AclRevisionInformation));
  EXPECT_EQ(revision.AclRevision, DWORD(ACL_REVISION3));

  const struct {
    DWORD length;
    int infoClass;
    DWORD error;
  } failures[] = {
      {sizeof(ACL_SIZE_INFORMATION) - 1, AclSizeInformation, ERROR_INSUFFICIENT_BUFFER},
      {sizeof(ACL_REVISION_INFORMATION) - 1, AclRevisionInformation, ERROR_INSUFFICIENT_BUFFER},
      {64, 0, ERROR_INVALID_PARAMETER},
      {64, 3, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : failures) {
    std::vector<BYTE> out = Filled(64);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAclInformation(AsAcl(acl), out.data(), c.length, ACL_INFORMATION_CLASS(c.infoClass)));
    EXPECT_EQ(GetLastError(), c.error) << c.infoClass << "/" << c.length;
    EXPECT_EQ(out, Filled(64));
  }
}

TEST_F(SimAcl, GetAceOutOfRange) {
  std::vector<BYTE> ace = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  std::vector<BYTE> acl = NewAcl(100);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, ace.data(), 20));
  for (DWORD index : {1u, 2u, 0xFFFFFFFFu}) {
    LPVOID out = reinterpret_cast<LPVOID>(0xdeadbeef);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetAce(AsAcl(acl), index, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(out, reinterpret_cast<LPVOID>(0xdeadbeef));
  }
}

TEST_F(SimAcl, ValidAndInvalidAcls) {
  std::vector<BYTE> allow = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  auto aclOf = [](BYTE revision, std::vector<BYTE> aces, WORD count, int extraSize = 0) {
    std::vector<BYTE> acl = Bytes({revision, 0, 0, 0, count, 0, 0, 0});
    acl.insert(acl.end(), aces.begin(), aces.end());
    WORD size = WORD(acl.size() + extraSize);
    acl[2] = BYTE(size);
    acl[3] = BYTE(size >> 8);
    acl.resize(acl.size() + 64, 0xcc);
    return acl;
  };
  std::vector<BYTE> badSid = allow;
  badSid[8] = 2;
  std::vector<BYTE> sidTooLong = allow;
  sidTooLong[9] = 2;  // two sub-authorities claimed, room for one
  std::vector<BYTE> audit = allow;
  audit[0] = SYSTEM_AUDIT_ACE_TYPE;
  std::vector<BYTE> unknown = Bytes({9, 0, 8, 0, 1, 2, 3, 4});
  std::vector<BYTE> objectShort = Bytes({5, 0, 24, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0});
  std::vector<BYTE> compound = Bytes({4, 0, 8, 0, 1, 2, 3, 4});
  const struct {
    const char* what;
    std::vector<BYTE> acl;
    bool valid;
  } cases[] = {
      {"empty", aclOf(2, {}, 0), true},
      {"one allow ACE", aclOf(2, allow, 1), true},
      {"free space after the ACEs", aclOf(2, allow, 1, 16), true},
      {"audit ACE", aclOf(2, audit, 1), true},
      {"unknown type at revision 4", aclOf(4, unknown, 1), true},
      {"compound ACE at revision 3", aclOf(3, compound, 1), true},
      {"compound ACE at revision 2", aclOf(2, compound, 1), false},
      {"revision 1", aclOf(1, {}, 0), false},
      {"revision 5", aclOf(5, {}, 0), false},
      {"size below the header", aclOf(2, {}, 0, -1), false},
      {"ACE count past the size", aclOf(2, allow, 2), false},
      {"ACE past the size", aclOf(2, allow, 1, -4), false},
      {"SID of revision 2", aclOf(2, badSid, 1), false},
      {"SID longer than its ACE", aclOf(2, sidTooLong, 1), false},
      {"object ACE whose GUID does not fit", aclOf(4, objectShort, 1), false},
      {"object ACE at revision 2", aclOf(2, objectShort, 1), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> acl = c.acl;
    EXPECT_EQ(IsValidAcl(AsAcl(acl)), c.valid ? TRUE : FALSE);
    auto read = sim::ReadAcl(AsAcl(acl));
    ASSERT_EQ(read.has_value(), c.valid);
    if (c.valid) {
      // What the model writes back is the ACL without its free space.
      std::vector<BYTE> again = sim::WriteAcl(*read);
      EXPECT_EQ(Copy(acl.data() + 8, again.size() - 8), std::vector<BYTE>(again.begin() + 8, again.end()));
    }
  }
}

TEST_F(SimAcl, InjectedFailures) {
  std::vector<BYTE> ace = AccessAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, kSystem);
  std::vector<BYTE> acl = NewAcl(100);
  ASSERT_TRUE(AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, ace.data(), 20));
  std::vector<BYTE> before = acl;
  LPVOID out = reinterpret_cast<LPVOID>(0xdeadbeef);
  ACL_SIZE_INFORMATION size{0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
  const struct {
    const char* name;
    std::function<BOOL()> call;
  } cases[] = {
      {"InitializeAcl", [&] { return InitializeAcl(AsAcl(acl), 100, ACL_REVISION); }},
      {"AddAce", [&] { return AddAce(AsAcl(acl), ACL_REVISION, MAXDWORD, ace.data(), 20); }},
      {"GetAce", [&] { return GetAce(AsAcl(acl), 0, &out); }},
      {"GetAclInformation",
       [&] { return GetAclInformation(AsAcl(acl), &size, sizeof size, AclSizeInformation); }},
      {"IsValidAcl", [&] { return IsValidAcl(AsAcl(acl)); }},
  };
  for (const auto& c : cases) {
    ExpectInjectedFailure(c.name, ERROR_ACCESS_DENIED, c.call);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(acl, before);
    EXPECT_EQ(out, reinterpret_cast<LPVOID>(0xdeadbeef));
    EXPECT_EQ(size.AceCount, 0xdeadbeef);
  }
  // Each rule fired once: the calls work again.
  EXPECT_TRUE(GetAce(AsAcl(acl), 0, &out));
  EXPECT_TRUE(IsValidAcl(AsAcl(acl)));
}

}  // namespace
