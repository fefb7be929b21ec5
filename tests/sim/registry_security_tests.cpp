// SetSecurityInfo and GetSecurityInfo on keys: the handle's rights, owner
// assignment, DACL protection, inheritance and its propagation to the keys below.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "registry_testing.h"

namespace {

using registry_testing::AclBytes;
using registry_testing::EnablePrivilege;
using registry_testing::RegistryTest;
using registry_testing::Sid;

// The baseline shape: generic and CREATOR OWNER entries that split on the way down.
const wchar_t* const kRoot = L"O:BAG:SYD:PAI(A;CI;GR;;;BU)(A;CIIO;GA;;;CO)(A;CI;KA;;;SY)";
// What a key owned by BA below kRoot inherits.
const wchar_t* const kFromRoot = L"(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)";

class RegistrySecurityTest : public RegistryTest {
 protected:
  RegistrySecurityTest() {
    sim::AddKey(machine, L"R", kRoot);
    sim::AddKey(machine, L"R\\C", L"O:BAG:SYD:(A;;KA;;;WD)");
    sim::AddKey(machine, L"R\\C\\G", L"O:SYG:SYD:(A;;KR;;;WD)");
    EnablePrivilege(ProcessToken(), L"SeTakeOwnershipPrivilege");
  }
};

TEST_F(RegistrySecurityTest, EachPartNeedsItsRightOnTheHandle) {
  const std::vector<BYTE> acl = AclBytes(L"D:(A;;KR;;;WD)");
  sim::SidBytes admins = Sid(L"BA");
  sim::SidBytes system = Sid(L"SY");
  PACL dacl = reinterpret_cast<PACL>(const_cast<BYTE*>(acl.data()));
  struct {
    REGSAM opened;
    SECURITY_INFORMATION info;
    DWORD status;
  } const cases[] = {
      {WRITE_OWNER, OWNER_SECURITY_INFORMATION, ERROR_SUCCESS},
      {WRITE_OWNER, GROUP_SECURITY_INFORMATION, ERROR_SUCCESS},
      {WRITE_OWNER, DACL_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {WRITE_OWNER, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {WRITE_DAC, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, ERROR_SUCCESS},
      {WRITE_DAC, OWNER_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {WRITE_DAC, GROUP_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {KEY_ENUMERATE_SUB_KEYS, OWNER_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {KEY_ALL_ACCESS, SACL_SECURITY_INFORMATION, ERROR_ACCESS_DENIED},
      {KEY_ALL_ACCESS, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
       ERROR_SUCCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.opened << " " << c.info);
    sim::SetKeySddl(machine, L"R\\C", L"O:BAG:BAD:(A;;KA;;;BA)");
    HKEY key = Open(L"R\\C", c.opened);
    EXPECT_EQ(c.status, SetSecurityInfo(key, SE_REGISTRY_KEY, c.info, admins.data(), system.data(), dacl, nullptr));
    if (c.status != ERROR_SUCCESS) {
      EXPECT_EQ(L"O:BAG:BAD:(A;;KA;;;BA)", sim::KeySddl(machine, L"R\\C"));
    }
    RegCloseKey(key);
  }
  // The last case set all three parts at once.
  EXPECT_EQ(std::wstring(L"O:BAG:SYD:AI(A;;KR;;;WD)") + kFromRoot, sim::KeySddl(machine, L"R\\C"));
}

TEST_F(RegistrySecurityTest, TheOwnerMustBeOneTheTokenMayAssign) {
  const sim::SidBytes badRevision = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  struct {
    const char* what;
    const wchar_t* owner;  // null: the malformed SID above
    const wchar_t* privilege;
    DWORD status;
  } const cases[] = {
      {"Administrators, held with SE_GROUP_OWNER", L"BA", nullptr, ERROR_SUCCESS},
      {"the token's user", L"S-1-5-21-1004336348-1177238915-682003330-500", nullptr, ERROR_SUCCESS},
      {"Users, held without SE_GROUP_OWNER", L"BU", nullptr, ERROR_INVALID_OWNER},
      {"a SID the token lacks", L"SY", nullptr, ERROR_INVALID_OWNER},
      {"any SID with restore privilege", L"SY", L"SeRestorePrivilege", ERROR_SUCCESS},
      {"a malformed SID", nullptr, nullptr, ERROR_INVALID_OWNER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SetKeySddl(machine, L"R\\C", L"O:SYG:SYD:");
    *machine.tokens.process = sim::AdministratorToken();
    EnablePrivilege(ProcessToken(), L"SeTakeOwnershipPrivilege");
    if (c.privilege) EnablePrivilege(ProcessToken(), c.privilege);
    sim::SidBytes owner = c.owner ? Sid(c.owner) : badRevision;
    HKEY key = Open(L"R\\C", WRITE_OWNER);
    EXPECT_EQ(c.status, SetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, owner.data(), nullptr,
                                        nullptr, nullptr));
    const sim::SecurityModel& now = sim::KeySecurity(machine, L"R\\C");
    EXPECT_EQ(c.status == ERROR_SUCCESS ? owner : Sid(L"SY"), now.owner.value_or(sim::SidBytes{}));
    RegCloseKey(key);
  }
}

TEST_F(RegistrySecurityTest, ArgumentsAreCheckedBeforeAnythingChanges) {
  HKEY key = Open(L"R\\C", KEY_ALL_ACCESS);
  HKEY gone = Open(L"R\\C\\G", WRITE_OWNER);
  ASSERT_TRUE(sim::DeleteKey(machine, L"R\\C\\G"));
  sim::SidBytes system = Sid(L"SY");
  const sim::SidBytes badSid = {1, 16, 0, 0, 0, 0, 0, 5};  // more sub-authorities than a SID may have
  std::vector<BYTE> acl = AclBytes(L"D:(A;;KR;;;WD)");
  std::vector<BYTE> badAcl = acl;
  badAcl[0] = 9;  // no such ACL revision
  PACL good = reinterpret_cast<PACL>(acl.data());
  struct {
    const char* what;
    HANDLE handle;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION info;
    const BYTE* owner;
    const BYTE* group;
    PACL dacl;
    DWORD status;
  } const cases[] = {
      {"file object type", key, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, good,
       ERROR_INVALID_PARAMETER},
      {"kernel object type", key, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, good,
       ERROR_INVALID_PARAMETER},
      {"unknown handle", reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5678)), SE_REGISTRY_KEY,
       DACL_SECURITY_INFORMATION, nullptr, nullptr, good, ERROR_INVALID_HANDLE},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
       good, ERROR_INVALID_HANDLE},
      {"deleted key", gone, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, good, ERROR_KEY_DELETED},
      {"nothing to set", key, SE_REGISTRY_KEY, 0, nullptr, nullptr, good, ERROR_INVALID_PARAMETER},
      {"protected and unprotected", key, SE_REGISTRY_KEY,
       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
       nullptr, nullptr, good, ERROR_INVALID_PARAMETER},
      {"null owner", key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
       ERROR_INVALID_PARAMETER},
      {"null group", key, SE_REGISTRY_KEY, GROUP_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
       ERROR_INVALID_PARAMETER},
      {"invalid owner", key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, badSid.data(), nullptr, nullptr,
       ERROR_INVALID_OWNER},
      {"invalid group", key, SE_REGISTRY_KEY, GROUP_SECURITY_INFORMATION, nullptr, badSid.data(), nullptr,
       ERROR_INVALID_SID},
      {"invalid ACL", key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
       reinterpret_cast<PACL>(badAcl.data()), ERROR_INVALID_ACL},
      {"valid group, invalid ACL", key, SE_REGISTRY_KEY, GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
       nullptr, system.data(), reinterpret_cast<PACL>(badAcl.data()), ERROR_INVALID_ACL},
  };
  const std::wstring before = sim::KeySddl(machine, L"R\\C");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.status, SetSecurityInfo(c.handle, c.type, c.info, const_cast<BYTE*>(c.owner),
                                        const_cast<BYTE*>(c.group), c.dacl, nullptr));
    EXPECT_EQ(before, sim::KeySddl(machine, L"R\\C"));
  }
  RegCloseKey(key);
  RegCloseKey(gone);
}

struct DaclCase {
  const char* what;
  const wchar_t* before;  // the child's descriptor
  const wchar_t* dacl;    // null: a null DACL
  SECURITY_INFORMATION control;
  const wchar_t* after;
};

const DaclCase kDaclCases[] = {
    {"unprotected: explicit entries, then the inherited ones", L"O:BAG:SYD:(A;;KA;;;WD)", L"D:(A;;KR;;;WD)",
     UNPROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:AI(A;;KR;;;WD)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)"},
    {"unprotected empty DACL: only what is inherited", L"O:BAG:SYD:P(A;;KA;;;WD)", L"D:",
     UNPROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)"},
    {"CREATOR OWNER becomes the key's owner", L"O:SYG:SYD:(A;;WD;;;BA)", L"D:", UNPROTECTED_DACL_SECURITY_INFORMATION,
     L"O:SYG:SYD:AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;SY)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)"},
    {"inherited entries given are dropped", L"O:BAG:SYD:", L"D:(A;ID;KA;;;WD)(A;;KR;;;AU)",
     UNPROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:AI(A;;KR;;;AU)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)"},
    {"protected: explicit entries only", L"O:BAG:SYD:(A;;KA;;;WD)", L"D:(A;;KR;;;WD)(A;ID;KA;;;BU)",
     PROTECTED_DACL_SECURITY_INFORMATION, L"O:BAG:SYD:PAI(A;;KR;;;WD)"},
    {"protected empty DACL", L"O:BAG:SYD:(A;;KA;;;WD)", L"D:", PROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:PAI"},
    {"neither flag on an inheriting key", L"O:BAG:SYD:(A;;KA;;;WD)", L"D:(A;;KR;;;WD)", 0,
     L"O:BAG:SYD:AI(A;;KR;;;WD)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KA;;;SY)"},
    {"neither flag on a protected key", L"O:BAG:SYD:P(A;;KA;;;WD)", L"D:(A;;KR;;;WD)", 0,
     L"O:BAG:SYD:PAI(A;;KR;;;WD)"},
    {"null DACL, protected", L"O:BAG:SYD:(A;;KA;;;WD)", nullptr, PROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:PNO_ACCESS_CONTROL"},
    {"null DACL, unprotected", L"O:BAG:SYD:P(A;;KA;;;WD)", nullptr, UNPROTECTED_DACL_SECURITY_INFORMATION,
     L"O:BAG:SYD:NO_ACCESS_CONTROL"},
};

class RegistryDaclTest : public RegistrySecurityTest, public ::testing::WithParamInterface<DaclCase> {};

TEST_P(RegistryDaclTest, SetDaclGivesTheExactDescriptor) {
  const DaclCase& c = GetParam();
  sim::SetKeySddl(machine, L"R\\C", c.before);
  HKEY key = Open(L"R\\C", WRITE_DAC);
  std::vector<BYTE> acl = c.dacl ? AclBytes(c.dacl) : std::vector<BYTE>{};
  EXPECT_EQ(ERROR_SUCCESS, SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | c.control, nullptr,
                                           nullptr, c.dacl ? reinterpret_cast<PACL>(acl.data()) : nullptr, nullptr));
  EXPECT_EQ(c.after, sim::KeySddl(machine, L"R\\C"));
  EXPECT_EQ(std::wstring(kRoot), sim::KeySddl(machine, L"R"));
  RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryDaclTest, ::testing::ValuesIn(kDaclCases),
                         registry_testing::CaseName<DaclCase>);

TEST_F(RegistrySecurityTest, InheritanceFlagsDecideWhatReachesEachLevel) {
  struct {
    const char* what;
    const wchar_t* parent;
    const wchar_t* child;       // what R\C inherits
    const wchar_t* grandchild;  // what R\C\G inherits from that
  } const cases[] = {
      {"plain container entry keeps its flags", L"D:P(A;CI;KR;;;BU)", L"D:(A;CIID;KR;;;BU)", L"D:(A;CIID;KR;;;BU)"},
      {"container and object inherit", L"D:P(A;OICI;KR;;;BU)", L"D:(A;OICIID;KR;;;BU)", L"D:(A;OICIID;KR;;;BU)"},
      {"inherit-only loses IO on the way down", L"D:P(A;CIIO;KR;;;BU)", L"D:(A;CIID;KR;;;BU)",
       L"D:(A;CIID;KR;;;BU)"},
      {"no-propagate stops one level down", L"D:P(A;CINP;KA;;;BU)", L"D:(A;ID;KA;;;BU)", L"D:"},
      {"no-propagate generic entry does not split", L"D:P(A;CINP;GR;;;WD)", L"D:(A;ID;KR;;;WD)", L"D:"},
      {"generic entry splits", L"D:P(A;CI;GA;;;BU)", L"D:(A;ID;KA;;;BU)(A;CIIOID;GA;;;BU)",
       L"D:(A;ID;KA;;;BU)(A;CIIOID;GA;;;BU)"},
      {"CREATOR GROUP becomes the key's group", L"D:P(A;CIIO;KR;;;CG)", L"D:(A;ID;KR;;;BU)(A;CIIOID;KR;;;CG)",
       L"D:(A;ID;KR;;;SY)(A;CIIOID;KR;;;CG)"},
      {"object-inherit only passes as inherit-only", L"D:P(A;OI;KR;;;BU)", L"D:(A;OIIOID;KR;;;BU)",
       L"D:(A;OIIOID;KR;;;BU)"},
      {"object-inherit with no-propagate stops at keys", L"D:P(A;OINP;KR;;;BU)", L"D:", L"D:"},
      {"deny entries inherit in place", L"D:P(D;CI;KW;;;WD)(A;CI;KR;;;WD)", L"D:(D;CIID;KW;;;WD)(A;CIID;KR;;;WD)",
       L"D:(D;CIID;KW;;;WD)(A;CIID;KR;;;WD)"},
      {"entries without inheritance stay", L"D:P(A;;KA;;;BU)", L"D:", L"D:"},
      {"a null DACL hands down nothing", L"D:PNO_ACCESS_CONTROL", L"D:", L"D:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SetKeySddl(machine, L"R\\C", L"O:BAG:BUD:(A;;KA;;;AU)");
    sim::SetKeySddl(machine, L"R\\C\\G", L"O:SYG:SYD:");
    HKEY key = Open(L"R", WRITE_DAC);
    std::wstring text = std::wstring(L"O:BAG:SY") + c.parent;
    auto parent = sim::ParseSddl(text);
    ASSERT_TRUE(parent);
    std::vector<BYTE> acl = parent->dacl ? sim::WriteAcl(*parent->dacl) : std::vector<BYTE>{};
    ASSERT_EQ(ERROR_SUCCESS,
              SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, parent->dacl ? reinterpret_cast<PACL>(acl.data()) : nullptr, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(c.child, sim::InheritedDaclSddl(machine, L"R\\C"));
    EXPECT_EQ(c.grandchild, sim::InheritedDaclSddl(machine, L"R\\C\\G"));
    // Propagation put exactly that behind the child's explicit entry.
    EXPECT_EQ(std::wstring(L"O:BAG:BUD:AI(A;;KA;;;AU)") + (c.child + 2), sim::KeySddl(machine, L"R\\C"));
    EXPECT_EQ(std::wstring(L"O:SYG:SYD:AI") + (c.grandchild + 2), sim::KeySddl(machine, L"R\\C\\G"));
  }
}

TEST_F(RegistrySecurityTest, PropagationStopsAtProtectedKeys) {
  sim::AddKey(machine, L"R\\P", L"O:BAG:SYD:PAI(A;CI;KA;;;SY)");
  sim::AddKey(machine, L"R\\P\\Below", L"O:BAG:SYD:AI(A;CIID;KA;;;SY)");
  sim::AddKey(machine, L"R\\C\\G\\Deep", L"O:BAG:SYD:AI(A;;KR;;;AU)(A;ID;KA;;;WD)");

  HKEY key = Open(L"R", WRITE_DAC);
  ASSERT_EQ(ERROR_SUCCESS, SetDacl(key, L"D:(A;CI;KR;;;BU)", PROTECTED_DACL_SECURITY_INFORMATION));
  RegCloseKey(key);

  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"R", L"O:BAG:SYD:PAI(A;CI;KR;;;BU)"},
      {L"R\\C", L"O:BAG:SYD:AI(A;;KA;;;WD)(A;CIID;KR;;;BU)"},
      {L"R\\C\\G", L"O:SYG:SYD:AI(A;;KR;;;WD)(A;CIID;KR;;;BU)"},
      // The stale inherited entry is replaced by what now comes down.
      {L"R\\C\\G\\Deep", L"O:BAG:SYD:AI(A;;KR;;;AU)(A;CIID;KR;;;BU)"},
      {L"R\\P", L"O:BAG:SYD:PAI(A;CI;KA;;;SY)"},
      {L"R\\P\\Below", L"O:BAG:SYD:AI(A;CIID;KA;;;SY)"},
  };
  for (const auto& [path, sddl] : expected) EXPECT_EQ(sddl, sim::KeySddl(machine, path)) << sim::Narrow(path);
}

TEST_F(RegistrySecurityTest, AResetTreeHasOnlyWhatItInheritsFromTheRoot) {
  // The tool's own sequence: owner and group, then an empty DACL with inheritance, parents first.
  sim::AddKey(machine, L"R\\C\\G\\Deep", L"O:SYG:SYD:P(A;;KA;;;WD)");
  const sim::SidBytes admins = Sid(L"BA");
  const sim::SidBytes system = Sid(L"SY");
  for (const std::wstring& path : sim::ListKeys(machine, L"R")) {
    HKEY key = Open(path.c_str(), WRITE_OWNER);
    EXPECT_EQ(ERROR_SUCCESS, SetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                             const_cast<BYTE*>(admins.data()), nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, SetSecurityInfo(key, SE_REGISTRY_KEY, GROUP_SECURITY_INFORMATION, nullptr,
                                             const_cast<BYTE*>(system.data()), nullptr, nullptr));
    RegCloseKey(key);
    key = Open(path.c_str(), WRITE_DAC);
    EXPECT_EQ(ERROR_SUCCESS, SetDacl(key, L"D:", UNPROTECTED_DACL_SECURITY_INFORMATION));
    RegCloseKey(key);
  }
  sim::Token user = registry_testing::PlainUserToken();
  for (const std::wstring& path : sim::ListKeys(machine, L"R")) {
    SCOPED_TRACE(sim::Narrow(path));
    EXPECT_EQ(std::wstring(L"O:BAG:SYD:AI") + kFromRoot, sim::KeySddl(machine, path));
    EXPECT_EQ(std::wstring(L"D:") + kFromRoot, sim::InheritedDaclSddl(machine, path));
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_READ), sim::EffectiveAccess(machine, path, user));
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_ALL_ACCESS), sim::EffectiveAccess(machine, path, sim::AdministratorToken()));
  }
  EXPECT_EQ(0u, machine.registry.OpenHandles());
}

TEST_F(RegistrySecurityTest, GetSecurityInfoHandsOutTheRequestedParts) {
  sim::SetKeySddl(machine, L"R\\C", L"O:BAG:SYD:PAI(A;;KR;;;WD)");
  struct {
    SECURITY_INFORMATION info;
    const wchar_t* sddl;
  } const cases[] = {
      {OWNER_SECURITY_INFORMATION, L"O:BA"},
      {GROUP_SECURITY_INFORMATION, L"G:SY"},
      {DACL_SECURITY_INFORMATION, L"D:PAI(A;;KR;;;WD)"},
      {OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
       L"O:BAG:SYD:PAI(A;;KR;;;WD)"},
  };
  HKEY key = Open(L"R\\C", READ_CONTROL);
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.sddl));
    PSID owner = reinterpret_cast<PSID>(0xdeadbeef);
    PSID group = reinterpret_cast<PSID>(0xdeadbeef);
    PACL dacl = reinterpret_cast<PACL>(0xdeadbeef);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::size_t blocks = machine.localBlocks;
    ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(key, SE_REGISTRY_KEY, c.info, &owner, &group, &dacl, nullptr,
                                             &descriptor));
    EXPECT_EQ(blocks + 1, machine.localBlocks);
    auto model = sim::ReadDescriptor(descriptor);
    ASSERT_TRUE(model);
    EXPECT_EQ(c.sddl, sim::FormatSddl(*model));
    // The parts point into the one block the caller frees.
    EXPECT_EQ(!!(c.info & OWNER_SECURITY_INFORMATION), owner != nullptr);
    EXPECT_EQ(!!(c.info & DACL_SECURITY_INFORMATION), dacl != nullptr);
    if (owner) {
      const BYTE* bytes = static_cast<const BYTE*>(owner);
      EXPECT_EQ(Sid(L"BA"), sim::SidBytes(bytes, bytes + sim::SidLength(owner)));
    }
    if (group) {
      EXPECT_GT(static_cast<BYTE*>(group), static_cast<BYTE*>(descriptor));
    }
    EXPECT_EQ(nullptr, LocalFree(descriptor));
    EXPECT_EQ(blocks, machine.localBlocks);
  }
  RegCloseKey(key);
}

TEST_F(RegistrySecurityTest, GetSecurityInfoFailures) {
  HKEY noRead = Open(L"R\\C", WRITE_OWNER);
  HKEY read = Open(L"R\\C", READ_CONTROL);
  PSID sentinel = reinterpret_cast<PSID>(0xdeadbeef);
  struct {
    const char* what;
    HKEY key;
    SE_OBJECT_TYPE type;
    bool localHeapFails;
    bool withDescriptor;
    DWORD status;
  } const cases[] = {
      {"no READ_CONTROL", noRead, SE_REGISTRY_KEY, false, true, ERROR_ACCESS_DENIED},
      {"wrong object type", read, SE_FILE_OBJECT, false, true, ERROR_INVALID_PARAMETER},
      {"nowhere to put the block", read, SE_REGISTRY_KEY, false, false, ERROR_INVALID_PARAMETER},
      {"local heap exhausted", read, SE_REGISTRY_KEY, true, true, ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.localHeapFails) sim::FailAllocations(sim::Allocator::LocalHeap);
    PSID owner = sentinel;
    PSECURITY_DESCRIPTOR descriptor = sentinel;
    EXPECT_EQ(c.status, GetSecurityInfo(c.key, c.type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                        nullptr, c.withDescriptor ? &descriptor : nullptr));
    EXPECT_EQ(sentinel, owner);
    EXPECT_EQ(sentinel, descriptor);
    sim::ClearAllocationFailures();
  }
  EXPECT_EQ(0u, machine.localBlocks);
  RegCloseKey(noRead);
  RegCloseKey(read);
}

TEST_F(RegistrySecurityTest, FailureRulesMatchTheSecurityInformationAndLeaveTheKeyAlone) {
  sim::FailureRule rule;
  rule.operation = "SetSecurityInfo";
  rule.status = ERROR_ACCESS_DENIED;
  rule.mask = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
  rule.path = L"r\\c";
  sim::FailCall(machine, rule);
  const std::wstring before = sim::KeySddl(machine, L"R\\C");

  HKEY key = Open(L"R\\C", WRITE_DAC);
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDacl(key, L"D:", UNPROTECTED_DACL_SECURITY_INFORMATION));
  EXPECT_EQ(before, sim::KeySddl(machine, L"R\\C"));
  EXPECT_EQ(ERROR_SUCCESS, SetDacl(key, L"D:", PROTECTED_DACL_SECURITY_INFORMATION));
  RegCloseKey(key);
  sim::SetKeySddl(machine, L"R\\C\\G", L"O:BAG:SYD:");
  key = Open(L"R\\C\\G", WRITE_DAC);
  EXPECT_EQ(ERROR_SUCCESS, SetDacl(key, L"D:", UNPROTECTED_DACL_SECURITY_INFORMATION));
  RegCloseKey(key);

  const auto calls = sim::CallsOf(machine, "SetSecurityInfo");
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(L"R\\C", calls[0].path);
  EXPECT_EQ(std::optional<DWORD>(0x20000004), calls[0].mask);
  EXPECT_TRUE(calls[0].injected);
  EXPECT_EQ(std::optional<DWORD>(0x80000004), calls[1].mask);
  EXPECT_FALSE(calls[1].injected);
  EXPECT_EQ(L"R\\C\\G", calls[2].path);
  EXPECT_FALSE(calls[2].injected);
}

}  // namespace
