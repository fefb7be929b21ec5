// Shared pieces of the simulated registry's tests: a current machine with an
// administrator's token, tokens of other kinds, and binary ACLs and SIDs
// written as SDDL.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/security_model.h"
#include "platform/sim/win32.h"

namespace registry_testing {

// What a failing call must leave alone.
inline HKEY const kSentinelKey = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0xdeadbeef));

inline sim::SidBytes Sid(const wchar_t* text) {
  auto sid = sim::ParseSid(text);
  EXPECT_TRUE(sid.has_value()) << sim::Narrow(text);
  return sid.value_or(sim::SidBytes{});
}

// S-1-5-21-1-2-3-1001: a plain user of the machine.
inline const wchar_t* const kPlainUser = L"S-1-5-21-1-2-3-1001";

constexpr DWORD kEnabledGroup = SE_GROUP_MANDATORY | SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT;

// The plain user: Users, Everyone and Authenticated Users enabled,
// Administrators only for deny (a filtered administrator), no privilege enabled.
inline sim::Token PlainUserToken() {
  sim::Token token;
  token.user = Sid(kPlainUser);
  token.groups = {{Sid(L"BU"), kEnabledGroup},
                  {Sid(L"WD"), kEnabledGroup},
                  {Sid(L"AU"), kEnabledGroup},
                  {Sid(L"BA"), SE_GROUP_USE_FOR_DENY_ONLY}};
  for (const wchar_t* name : {L"SeChangeNotifyPrivilege", L"SeTakeOwnershipPrivilege", L"SeSecurityPrivilege",
                              L"SeRestorePrivilege"}) {
    token.privileges.push_back(sim::TokenPrivilege{*sim::PrivilegeLuid(name), 0});
  }
  return token;
}

inline void EnablePrivilege(sim::Token& token, const wchar_t* name) {
  const LUID luid = *sim::PrivilegeLuid(name);
  for (sim::TokenPrivilege& privilege : token.privileges) {
    if (privilege.luid.LowPart == luid.LowPart && privilege.luid.HighPart == luid.HighPart) {
      privilege.attributes |= SE_PRIVILEGE_ENABLED;
      return;
    }
  }
  ADD_FAILURE() << "token does not hold " << sim::Narrow(name);
}

// The binary ACL of an SDDL DACL such as "D:(A;CI;KR;;;BU)".
inline std::vector<BYTE> AclBytes(const wchar_t* daclSddl) {
  auto model = sim::ParseSddl(daclSddl);
  EXPECT_TRUE(model && model->dacl) << sim::Narrow(daclSddl);
  if (!model || !model->dacl) return {};
  return sim::WriteAcl(*model->dacl);
}

// Names a parameterised case after its `what`, for gtest.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

// A machine made current, run by the administrator of AdministratorToken().
class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() { machine.tokens.process = std::make_shared<sim::Token>(sim::AdministratorToken()); }

  sim::Token& ProcessToken() { return *machine.tokens.process; }

  // Opens a key below HKEY_LOCAL_MACHINE that the test expects to open.
  HKEY Open(const wchar_t* path, REGSAM access) {
    HKEY key = kSentinelKey;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key)) << sim::Narrow(path);
    return key;
  }

  // The rights the machine recorded for an open handle.
  ACCESS_MASK HandleAccess(HKEY key) {
    auto it = machine.registry.handles.find(reinterpret_cast<std::uintptr_t>(key));
    return it == machine.registry.handles.end() ? 0xdeadbeef : it->second.access;
  }

  DWORD SetDacl(HKEY key, const wchar_t* daclSddl, SECURITY_INFORMATION control) {
    std::vector<BYTE> acl = AclBytes(daclSddl);
    return SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | control, nullptr, nullptr,
                           reinterpret_cast<PACL>(acl.data()), nullptr);
  }

  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope{machine};
};

}  // namespace registry_testing
