// The simulated machine's access tokens: the process token and an optional
// thread token (impersonation), with the handles opened on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/security_model.h"
#include "platform/sim/win32.h"

namespace sim {

struct TokenGroup {
  SidBytes sid;
  DWORD attributes = SE_GROUP_MANDATORY | SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT;
};

struct TokenPrivilege {
  LUID luid{};
  DWORD attributes = 0;  // SE_PRIVILEGE_ENABLED, SE_PRIVILEGE_ENABLED_BY_DEFAULT, ...
};

inline bool SameLuid(const LUID& a, const LUID& b) { return a.LowPart == b.LowPart && a.HighPart == b.HighPart; }

struct Token {
  SidBytes user;
  std::vector<TokenGroup> groups;
  std::vector<TokenPrivilege> privileges;
  // A thread token at identification level identifies its client but cannot
  // act for it: opening it takes OpenAsSelf, as on NT.
  bool identificationLevel = false;

  // Whether the token holds `name` and it is enabled. A privilege marked
  // SE_PRIVILEGE_REMOVED counts as not held.
  bool PrivilegeEnabled(std::wstring_view name) const;
  // Whether the token may make `sid` the owner of an object: its user, or a
  // group it holds with SE_GROUP_OWNER (and not for deny only).
  bool MayAssignOwner(const SidBytes& sid) const;
  // Whether `sid` is the user or an enabled group (for allow entries), or the
  // user or a group that is enabled or deny-only (for deny entries). A group
  // that is neither enabled nor deny-only matches no entry.
  bool Matches(const SidBytes& sid, bool forDeny) const;

  // The token's entry for `luid`, removed or not; null when it has none.
  const TokenPrivilege* FindPrivilege(const LUID& luid) const;
  TokenPrivilege* FindPrivilege(const LUID& luid);
};

struct TokenState {
  std::shared_ptr<Token> process = std::make_shared<Token>();
  std::shared_ptr<Token> thread;  // null: the thread does not impersonate

  // The token access checks use: the thread's when it has one.
  const Token& Effective() const { return thread ? *thread : *process; }

  // Open token handles: handle value -> token and the access it was opened with
  // (generic rights already mapped to token rights).
  struct OpenToken {
    std::shared_ptr<Token> token;
    DWORD access = 0;
  };
  std::map<std::uintptr_t, OpenToken> handles;
  std::uintptr_t nextHandle = 0x1000;

  std::size_t OpenHandles() const { return handles.size(); }
};

// The standard LUID of a privilege name, compared without case; nullopt for
// names the platform does not know.
std::optional<LUID> PrivilegeLuid(std::wstring_view name);
// The name of a standard privilege LUID; empty when unknown.
std::wstring PrivilegeName(LUID luid);

// The process token of an administrator logged on interactively to Windows XP:
// user S-1-5-21-1004336348-1177238915-682003330-500, Administrators (enabled,
// may be owner), Everyone, Users, Authenticated Users, Interactive and LOCAL;
// SeChangeNotifyPrivilege, SeImpersonatePrivilege and SeCreateGlobalPrivilege
// enabled by default, the administrator's other privileges (among them
// SeTakeOwnershipPrivilege) held but disabled.
Token AdministratorToken();

}  // namespace sim
