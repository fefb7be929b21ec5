// The access check RegOpenKeyExW makes against a key's DACL and the
// effective token.
#include <cctype>
#include <string>

#include "registry_testing.h"

namespace {

using registry_testing::EnablePrivilege;
using registry_testing::kSentinelKey;
using registry_testing::PlainUserToken;
using registry_testing::RegistryTest;

// Owner "ME" below is the plain user's own SID.
struct AccessCase {
  const char* what;
  const wchar_t* sddl;
  const wchar_t* privilege;  // enabled in the plain user's token, or null
  REGSAM desired;
  LONG status;
  ACCESS_MASK granted;  // the handle's rights on success
};

const AccessCase kAccessCases[] = {
    {"allow grants", L"O:SYD:(A;;KR;;;BU)", nullptr, KEY_READ, 0, KEY_READ},
    {"allow of other rights refuses", L"O:SYD:(A;;KR;;;BU)", nullptr, KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0},
    {"rights add up over entries", L"O:SYD:(A;;0x1;;;BU)(A;;0x8;;;WD)", nullptr, 0x9, 0, 0x9},
    {"deny first refuses", L"O:SYD:(D;;KR;;;BU)(A;;KA;;;WD)", nullptr, KEY_READ, ERROR_ACCESS_DENIED, 0},
    {"allow first wins over later deny", L"O:SYD:(A;;KA;;;WD)(D;;KR;;;BU)", nullptr, KEY_READ, 0, KEY_READ},
    {"deny of a right still wanted refuses", L"O:SYD:(A;;0x1;;;BU)(D;;0x8;;;WD)(A;;KR;;;WD)", nullptr, KEY_READ,
     ERROR_ACCESS_DENIED, 0},
    {"deny of a right already granted is moot", L"O:SYD:(A;;0x1;;;BU)(D;;0x1;;;WD)(A;;KR;;;WD)", nullptr, KEY_READ,
     0, KEY_READ},
    {"generic read asked maps to KEY_READ", L"O:SYD:(A;;KR;;;BU)", nullptr, GENERIC_READ, 0, KEY_READ},
    {"generic read in the entry", L"O:SYD:(A;;GR;;;BU)", nullptr, KEY_READ, 0, KEY_READ},
    {"generic all in the entry", L"O:SYD:(A;;GA;;;BU)", nullptr, KEY_ALL_ACCESS, 0, KEY_ALL_ACCESS},
    {"generic write in the entry grants set value", L"O:SYD:(A;;GW;;;BU)", nullptr, KEY_SET_VALUE, 0,
     KEY_SET_VALUE},
    {"generic write does not grant query", L"O:SYD:(A;;GW;;;BU)", nullptr, KEY_QUERY_VALUE, ERROR_ACCESS_DENIED,
     0},
    {"generic execute asked maps to KEY_EXECUTE", L"O:SYD:(A;;KR;;;BU)", nullptr, GENERIC_EXECUTE, 0, KEY_EXECUTE},
    {"null DACL grants everything", L"O:SYD:NO_ACCESS_CONTROL", nullptr, KEY_ALL_ACCESS, 0, KEY_ALL_ACCESS},
    {"no DACL grants everything", L"O:SYG:SY", nullptr, KEY_ALL_ACCESS, 0, KEY_ALL_ACCESS},
    {"empty DACL grants nothing", L"O:SYD:", nullptr, KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
    {"owner gets READ_CONTROL and WRITE_DAC", L"O:MED:", nullptr, READ_CONTROL | WRITE_DAC, 0,
     READ_CONTROL | WRITE_DAC},
    {"owner gets nothing more", L"O:MED:", nullptr, KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
    {"owner rights survive a deny", L"O:MED:(D;;KA;;;WD)", nullptr, WRITE_DAC, 0, WRITE_DAC},
    {"owner rights do not cover WRITE_OWNER", L"O:MED:", nullptr, WRITE_OWNER, ERROR_ACCESS_DENIED, 0},
    {"WRITE_OWNER needs the privilege enabled", L"O:SYD:", nullptr, WRITE_OWNER, ERROR_ACCESS_DENIED, 0},
    {"take-ownership privilege grants WRITE_OWNER", L"O:SYD:", L"SeTakeOwnershipPrivilege", WRITE_OWNER, 0,
     WRITE_OWNER},
    {"take-ownership privilege survives a deny", L"O:SYD:(D;;KA;;;WD)", L"SeTakeOwnershipPrivilege", WRITE_OWNER,
     0, WRITE_OWNER},
    {"take-ownership privilege grants no more", L"O:SYD:", L"SeTakeOwnershipPrivilege", WRITE_OWNER | WRITE_DAC,
     ERROR_ACCESS_DENIED, 0},
    {"inherit-only allow does not apply", L"O:SYD:(A;CIIO;KA;;;BU)", nullptr, KEY_QUERY_VALUE,
     ERROR_ACCESS_DENIED, 0},
    {"inherit-only deny does not apply", L"O:SYD:(D;CIIO;KA;;;BU)(A;;KR;;;BU)", nullptr, KEY_READ, 0, KEY_READ},
    {"deny-only group is not granted", L"O:SYD:(A;;KA;;;BA)", nullptr, KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
    {"deny-only group is denied", L"O:SYD:(D;;KA;;;BA)(A;;KA;;;BU)", nullptr, KEY_QUERY_VALUE,
     ERROR_ACCESS_DENIED, 0},
    {"entry for a group the user lacks", L"O:SYD:(A;;KA;;;SY)", nullptr, KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
    {"entry for the user", L"O:SYD:(A;;KR;;;S-1-5-21-1-2-3-1001)", nullptr, KEY_READ, 0, KEY_READ},
    {"system security needs the privilege", L"O:SYD:(A;;KA;;;WD)", nullptr, ACCESS_SYSTEM_SECURITY,
     ERROR_PRIVILEGE_NOT_HELD, 0},
    {"system security with the privilege", L"O:SYD:", L"SeSecurityPrivilege", ACCESS_SYSTEM_SECURITY, 0,
     ACCESS_SYSTEM_SECURITY},
    {"maximum allowed sums the grants", L"O:SYD:(A;;KR;;;BU)(A;;KW;;;WD)", nullptr, MAXIMUM_ALLOWED, 0,
     KEY_READ | KEY_WRITE},
    {"maximum allowed less what is denied first", L"O:SYD:(D;;KW;;;BU)(A;;KA;;;WD)", nullptr, MAXIMUM_ALLOWED, 0,
     KEY_ALL_ACCESS & ~static_cast<ACCESS_MASK>(KEY_WRITE)},
    {"maximum allowed keeps what was granted before a deny", L"O:SYD:(A;;KA;;;WD)(D;;KW;;;BU)", nullptr,
     MAXIMUM_ALLOWED, 0, KEY_ALL_ACCESS},
    {"maximum allowed with nothing granted", L"O:SYD:", nullptr, MAXIMUM_ALLOWED, ERROR_ACCESS_DENIED, 0},
    {"maximum allowed for the owner", L"O:MED:", nullptr, MAXIMUM_ALLOWED, 0, READ_CONTROL | WRITE_DAC},
    {"maximum allowed with a right by name", L"O:SYD:(A;;KR;;;BU)", L"SeTakeOwnershipPrivilege",
     MAXIMUM_ALLOWED | WRITE_OWNER, 0, KEY_READ | WRITE_OWNER},
    {"maximum allowed with a right by name not granted", L"O:SYD:(A;;KR;;;BU)", nullptr,
     MAXIMUM_ALLOWED | KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0},
};

class RegistryAccessTest : public RegistryTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(RegistryAccessTest, OpenChecksTheKeysDaclAgainstTheEffectiveToken) {
  const AccessCase& c = GetParam();
  std::wstring sddl = c.sddl;
  if (sddl.compare(0, 4, L"O:ME") == 0) sddl.replace(2, 2, registry_testing::kPlainUser);
  sim::AddKey(machine, L"K", sddl);
  sim::Token user = PlainUserToken();
  if (c.privilege) EnablePrivilege(user, c.privilege);
  // The thread's token is the one that counts, not the administrator's process token.
  machine.tokens.thread = std::make_shared<sim::Token>(user);

  HKEY key = kSentinelKey;
  ASSERT_EQ(c.status, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"K", 0, c.desired, &key));
  if (c.status != ERROR_SUCCESS) {
    EXPECT_EQ(kSentinelKey, key);
    EXPECT_EQ(0u, machine.registry.OpenHandles());
    return;
  }
  EXPECT_EQ(c.granted, HandleAccess(key));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryAccessTest, ::testing::ValuesIn(kAccessCases),
                         registry_testing::CaseName<AccessCase>);

TEST_F(RegistryTest, EffectiveAccessLeavesOutRightsOnlyAPrivilegeBrings) {
  sim::AddKey(machine, L"K", L"O:SYD:(A;;KR;;;BU)");
  sim::Token user = PlainUserToken();
  EnablePrivilege(user, L"SeTakeOwnershipPrivilege");
  EnablePrivilege(user, L"SeSecurityPrivilege");
  EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_READ), sim::EffectiveAccess(machine, L"K", user));
  sim::SetKeySddl(machine, L"K", L"O:SYD:");
  EXPECT_EQ(0u, sim::EffectiveAccess(machine, L"K", user));
}

}  // namespace
