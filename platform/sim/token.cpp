// Access tokens of the simulated machine: the pseudo-handles of the current
// thread and process, token handles, privilege names, AdjustTokenPrivileges
// as NT 5.x does it, and the tokens' sections of a machine image.
#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "platform/sim/call.h"
#include "platform/sim/image.h"
#include "platform/sim/token_state.h"
#include "platform/sim/win32.h"

namespace sim {
namespace {

// The privileges NT 5.x knows, by the low part of their LUID (high part 0).
struct KnownPrivilege {
  const wchar_t* name;
  DWORD low;
};

constexpr std::array<KnownPrivilege, 29> kPrivileges = {{
    {L"SeCreateTokenPrivilege", 2},
    {L"SeAssignPrimaryTokenPrivilege", 3},
    {L"SeLockMemoryPrivilege", 4},
    {L"SeIncreaseQuotaPrivilege", 5},
    {L"SeMachineAccountPrivilege", 6},
    {L"SeTcbPrivilege", 7},
    {L"SeSecurityPrivilege", 8},
    {L"SeTakeOwnershipPrivilege", 9},
    {L"SeLoadDriverPrivilege", 10},
    {L"SeSystemProfilePrivilege", 11},
    {L"SeSystemtimePrivilege", 12},
    {L"SeProfileSingleProcessPrivilege", 13},
    {L"SeIncreaseBasePriorityPrivilege", 14},
    {L"SeCreatePagefilePrivilege", 15},
    {L"SeCreatePermanentPrivilege", 16},
    {L"SeBackupPrivilege", 17},
    {L"SeRestorePrivilege", 18},
    {L"SeShutdownPrivilege", 19},
    {L"SeDebugPrivilege", 20},
    {L"SeAuditPrivilege", 21},
    {L"SeSystemEnvironmentPrivilege", 22},
    {L"SeChangeNotifyPrivilege", 23},
    {L"SeRemoteShutdownPrivilege", 24},
    {L"SeUndockPrivilege", 25},
    {L"SeSyncAgentPrivilege", 26},
    {L"SeEnableDelegationPrivilege", 27},
    {L"SeManageVolumePrivilege", 28},
    {L"SeImpersonatePrivilege", 29},
    {L"SeCreateGlobalPrivilege", 30},
}};

// Privilege names are ASCII; folding only A-Z keeps the comparison
// independent of the host's locale.
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

// What a remote LookupPrivilegeValueW gets when the server cannot be reached
// (RPC_S_SERVER_UNAVAILABLE); the simulated machine has no network.
constexpr DWORD kServerUnavailable = 1722;

// Generic rights as the token object type maps them.
constexpr DWORD kTokenRead = READ_CONTROL | TOKEN_QUERY;
constexpr DWORD kTokenWrite = READ_CONTROL | TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_DEFAULT;
constexpr DWORD kTokenExecute = READ_CONTROL;

DWORD MapTokenAccess(DWORD access) {
  DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (access & GENERIC_READ) mapped |= kTokenRead;
  if (access & GENERIC_WRITE) mapped |= kTokenWrite;
  if (access & GENERIC_EXECUTE) mapped |= kTokenExecute;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= TOKEN_ALL_ACCESS;
  return mapped;
}

BOOL Fail(Call& call, DWORD status) {
  SetError(status);
  call.Returns(status);
  return FALSE;
}

// Opens a handle on `token`, or fails the call. The handle is written only on
// success, as NT does.
BOOL OpenHandle(Call& call, const std::shared_ptr<Token>& token, DWORD access, PHANDLE result) {
  if (result == nullptr) return Fail(call, ERROR_INVALID_PARAMETER);
  TokenState& tokens = Current().tokens;
  const std::uintptr_t value = tokens.nextHandle;
  tokens.nextHandle += 4;
  tokens.handles[value] = TokenState::OpenToken{token, MapTokenAccess(access)};
  *result = reinterpret_cast<HANDLE>(value);
  call.Returns(ERROR_SUCCESS);
  return TRUE;
}

bool Held(const TokenPrivilege* privilege) {
  return privilege != nullptr && (privilege->attributes & SE_PRIVILEGE_REMOVED) == 0;
}

DWORD PrivilegesLength(std::size_t count) {
  return static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) + count * sizeof(LUID_AND_ATTRIBUTES));
}

}  // namespace

// ---------------------------------------------------------------- Token

const TokenPrivilege* Token::FindPrivilege(const LUID& luid) const {
  for (const TokenPrivilege& privilege : privileges) {
    if (SameLuid(privilege.luid, luid)) return &privilege;
  }
  return nullptr;
}

TokenPrivilege* Token::FindPrivilege(const LUID& luid) {
  return const_cast<TokenPrivilege*>(static_cast<const Token*>(this)->FindPrivilege(luid));
}

bool Token::PrivilegeEnabled(std::wstring_view name) const {
  const std::optional<LUID> luid = PrivilegeLuid(name);
  if (!luid) return false;
  const TokenPrivilege* privilege = FindPrivilege(*luid);
  return Held(privilege) && (privilege->attributes & SE_PRIVILEGE_ENABLED) != 0;
}

bool Token::MayAssignOwner(const SidBytes& sid) const {
  if (SameSid(user, sid)) return true;
  for (const TokenGroup& group : groups) {
    if ((group.attributes & SE_GROUP_OWNER) == 0 || (group.attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0) continue;
    if (SameSid(group.sid, sid)) return true;
  }
  return false;
}

bool Token::Matches(const SidBytes& sid, bool forDeny) const {
  if (SameSid(user, sid)) return true;
  for (const TokenGroup& group : groups) {
    if (!SameSid(group.sid, sid)) continue;
    const bool denyOnly = (group.attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
    const bool enabled = (group.attributes & SE_GROUP_ENABLED) != 0;
    if (forDeny ? (enabled || denyOnly) : (enabled && !denyOnly)) return true;
  }
  return false;
}

std::optional<LUID> PrivilegeLuid(std::wstring_view name) {
  for (const KnownPrivilege& known : kPrivileges) {
    if (SameNameIgnoringCase(known.name, name)) return LUID{known.low, 0};
  }
  return std::nullopt;
}

std::wstring PrivilegeName(LUID luid) {
  if (luid.HighPart != 0) return {};
  for (const KnownPrivilege& known : kPrivileges) {
    if (known.low == luid.LowPart) return known.name;
  }
  return {};
}

Token AdministratorToken() {
  Token token;
  token.user = MakeSid(5, {21, 1004336348u, 1177238915u, 682003330u, 500});
  constexpr DWORD kGroup = SE_GROUP_MANDATORY | SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT;
  token.groups = {
      {MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}), kGroup | SE_GROUP_OWNER},
      {MakeSid(1, {SECURITY_WORLD_RID}), kGroup},
      {MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}), kGroup},
      {MakeSid(5, {SECURITY_AUTHENTICATED_USER_RID}), kGroup},
      {MakeSid(5, {SECURITY_INTERACTIVE_RID}), kGroup},
      {MakeSid(2, {0}), kGroup},  // LOCAL
  };
  constexpr DWORD kOnByDefault = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
  const std::pair<const wchar_t*, DWORD> privileges[] = {
      {L"SeChangeNotifyPrivilege", kOnByDefault},
      {L"SeTakeOwnershipPrivilege", 0},
      {L"SeBackupPrivilege", 0},
      {L"SeRestorePrivilege", 0},
      {L"SeSecurityPrivilege", 0},
      {L"SeDebugPrivilege", 0},
      {L"SeShutdownPrivilege", 0},
      {L"SeSystemtimePrivilege", 0},
      {L"SeLoadDriverPrivilege", 0},
      {L"SeSystemProfilePrivilege", 0},
      {L"SeProfileSingleProcessPrivilege", 0},
      {L"SeIncreaseBasePriorityPrivilege", 0},
      {L"SeCreatePagefilePrivilege", 0},
      {L"SeIncreaseQuotaPrivilege", 0},
      {L"SeRemoteShutdownPrivilege", 0},
      {L"SeUndockPrivilege", 0},
      {L"SeManageVolumePrivilege", 0},
      {L"SeImpersonatePrivilege", kOnByDefault},
      {L"SeCreateGlobalPrivilege", kOnByDefault},
  };
  for (const auto& [name, attributes] : privileges) {
    token.privileges.push_back(TokenPrivilege{*PrivilegeLuid(name), attributes});
  }
  return token;
}

}  // namespace sim

// ================================================================ kernel32

HANDLE WINAPI GetCurrentThread() {
  sim::Call call("GetCurrentThread");
  return sim::kCurrentThread;
}

HANDLE WINAPI GetCurrentProcess() {
  sim::Call call("GetCurrentProcess");
  return sim::kCurrentProcess;
}

// The only closable kernel objects of the simulated machine are token handles;
// closing a pseudo-handle is a harmless no-op, as on NT.
BOOL WINAPI CloseHandle(HANDLE hObject) {
  sim::Call call("CloseHandle");
  if (call.FailWithLastError()) return FALSE;
  if (hObject == sim::kCurrentProcess || hObject == sim::kCurrentThread) return TRUE;
  auto& handles = sim::Current().tokens.handles;
  if (handles.erase(reinterpret_cast<std::uintptr_t>(hObject)) == 0) return sim::Fail(call, ERROR_INVALID_HANDLE);
  call.Returns(ERROR_SUCCESS);
  return TRUE;
}

// ================================================================ advapi32

// The simulated process has one thread, so the thread pseudo-handle is the
// only thread handle there is. Without OpenAsSelf the open is checked in the
// context of the thread's own token, which an identification-level token
// cannot provide.
BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle) {
  sim::Call call("OpenThreadToken");
  call.Describe(std::wstring(), DesiredAccess);
  if (call.FailWithLastError()) return FALSE;
  if (ThreadHandle != sim::kCurrentThread) return sim::Fail(call, ERROR_INVALID_HANDLE);
  const auto& thread = sim::Current().tokens.thread;
  if (!thread) return sim::Fail(call, ERROR_NO_TOKEN);
  if (!OpenAsSelf && thread->identificationLevel) return sim::Fail(call, ERROR_BAD_IMPERSONATION_LEVEL);
  return sim::OpenHandle(call, thread, DesiredAccess, TokenHandle);
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  sim::Call call("OpenProcessToken");
  call.Describe(std::wstring(), DesiredAccess);
  if (call.FailWithLastError()) return FALSE;
  if (ProcessHandle != sim::kCurrentProcess) return sim::Fail(call, ERROR_INVALID_HANDLE);
  return sim::OpenHandle(call, sim::Current().tokens.process, DesiredAccess, TokenHandle);
}

// Only the local machine (no name, or an empty one) is reachable: any other
// system name fails as an unreachable server does (1722).
BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
  sim::Call call("LookupPrivilegeValueW");
  if (call.FailWithLastError()) return FALSE;
  if (lpSystemName != nullptr && lpSystemName[0] != L'\0') return sim::Fail(call, sim::kServerUnavailable);
  if (lpName == nullptr || lpLuid == nullptr) return sim::Fail(call, ERROR_INVALID_PARAMETER);
  const std::optional<LUID> luid = sim::PrivilegeLuid(lpName);
  if (!luid) return sim::Fail(call, ERROR_NO_SUCH_PRIVILEGE);
  *lpLuid = *luid;
  call.Returns(ERROR_SUCCESS);
  return TRUE;
}

// As NT does it: the token's privileges are visited in the token's order, each
// takes the SE_PRIVILEGE_ENABLED bit of the first new-state element with its
// LUID, and only privileges whose state actually changes are reported in the
// previous state, with their former attribute words. A too-small previous-state
// buffer is detected before anything changes. Success sets the thread's error
// to ERROR_SUCCESS, or to ERROR_NOT_ALL_ASSIGNED when the new state names a
// privilege the token does not hold.
//
// SE_PRIVILEGE_REMOVED in a new state is not implemented: like every bit but
// SE_PRIVILEGE_ENABLED it is ignored, so it disables the privilege. A privilege
// the token holds as removed cannot be changed and counts as not held.
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  sim::Call call("AdjustTokenPrivileges");
  if (call.FailWithLastError()) return FALSE;
  auto& handles = sim::Current().tokens.handles;
  const auto open = handles.find(reinterpret_cast<std::uintptr_t>(TokenHandle));
  if (open == handles.end()) return sim::Fail(call, ERROR_INVALID_HANDLE);
  DWORD needed = TOKEN_ADJUST_PRIVILEGES;
  if (PreviousState != nullptr) needed |= TOKEN_QUERY;
  if ((open->second.access & needed) != needed) return sim::Fail(call, ERROR_ACCESS_DENIED);
  if (!DisableAllPrivileges && NewState == nullptr) return sim::Fail(call, ERROR_INVALID_PARAMETER);
  if (PreviousState != nullptr && ReturnLength == nullptr) return sim::Fail(call, ERROR_INVALID_PARAMETER);

  sim::Token& token = *open->second.token;
  const LUID_AND_ATTRIBUTES* elements = DisableAllPrivileges ? nullptr : NewState->Privileges;
  const DWORD count = DisableAllPrivileges ? 0 : NewState->PrivilegeCount;

  struct Change {
    sim::TokenPrivilege* privilege;
    bool enable;
  };
  std::vector<Change> changes;
  for (sim::TokenPrivilege& privilege : token.privileges) {
    if (!sim::Held(&privilege)) continue;
    bool enable = false;
    if (!DisableAllPrivileges) {
      const LUID_AND_ATTRIBUTES* match = nullptr;
      for (DWORD i = 0; i < count && match == nullptr; ++i) {
        if (sim::SameLuid(elements[i].Luid, privilege.luid)) match = &elements[i];
      }
      if (match == nullptr) continue;
      enable = (match->Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    const bool enabled = (privilege.attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (enable != enabled) changes.push_back(Change{&privilege, enable});
  }
  bool allAssigned = true;
  for (DWORD i = 0; i < count; ++i) {
    if (!sim::Held(token.FindPrivilege(elements[i].Luid))) allAssigned = false;
  }

  if (PreviousState != nullptr) {
    const DWORD required = sim::PrivilegesLength(changes.size());
    *ReturnLength = required;
    if (BufferLength < required) return sim::Fail(call, ERROR_INSUFFICIENT_BUFFER);
    PreviousState->PrivilegeCount = static_cast<DWORD>(changes.size());
    LUID_AND_ATTRIBUTES* previous = PreviousState->Privileges;
    for (std::size_t i = 0; i < changes.size(); ++i) {
      previous[i].Luid = changes[i].privilege->luid;
      previous[i].Attributes = changes[i].privilege->attributes;
    }
  }
  for (const Change& change : changes) {
    if (change.enable) {
      change.privilege->attributes |= SE_PRIVILEGE_ENABLED;
    } else {
      change.privilege->attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    }
  }
  const DWORD status = allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED;
  sim::SetError(status);
  call.Returns(status);
  return TRUE;
}

// ================================================================ machine image
// [token] and [thread-token]. They live here rather than in a file of their
// own: the image framework has weak placeholders for them, and a static
// archive only replaces those with objects it pulls in for other reasons.

namespace sim::image {
namespace {

struct AttributeWord {
  const char* word;
  DWORD bit;
};

constexpr AttributeWord kGroupWords[] = {
    {"mandatory", SE_GROUP_MANDATORY}, {"enabled", SE_GROUP_ENABLED},
    {"default", SE_GROUP_ENABLED_BY_DEFAULT}, {"owner", SE_GROUP_OWNER},
    {"deny-only", SE_GROUP_USE_FOR_DENY_ONLY},
};

constexpr AttributeWord kPrivilegeStates[] = {
    {"enabled", SE_PRIVILEGE_ENABLED}, {"disabled", 0}, {"removed", SE_PRIVILEGE_REMOVED},
};

SidBytes SidWord(const Line& line, const std::string& text) {
  std::optional<SidBytes> sid = ParseSid(Widen(text));
  if (!sid) Refuse(line.number, "not a SID: '" + text + "'");
  return *sid;
}

// "S-1-5-32-544 mandatory enabled owner": the SID, then each attribute word once.
TokenGroup GroupLine(const Line& line, const std::string& value) {
  const std::vector<std::string> words = Words(value);
  if (words.empty()) Refuse(line.number, "group without a SID");
  TokenGroup group{SidWord(line, words[0]), 0};
  for (std::size_t i = 1; i < words.size(); ++i) {
    const AttributeWord* found = nullptr;
    for (const AttributeWord& known : kGroupWords) {
      if (words[i] == known.word) found = &known;
    }
    if (found == nullptr) Refuse(line.number, "unknown group attribute '" + words[i] + "'");
    if (group.attributes & found->bit) Refuse(line.number, "group attribute '" + words[i] + "' given twice");
    group.attributes |= found->bit;
  }
  return group;
}

// "SeBackupPrivilege disabled default": the name, exactly one state word and
// optionally "default".
TokenPrivilege PrivilegeLine(const Line& line, const std::string& value) {
  const std::vector<std::string> words = Words(value);
  if (words.empty()) Refuse(line.number, "privilege without a name");
  const std::optional<LUID> luid = PrivilegeLuid(Widen(words[0]));
  if (!luid) Refuse(line.number, "unknown privilege '" + words[0] + "'");
  TokenPrivilege privilege{*luid, 0};
  bool state = false;
  bool byDefault = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "default") {
      if (byDefault) Refuse(line.number, "'default' given twice");
      byDefault = true;
      privilege.attributes |= SE_PRIVILEGE_ENABLED_BY_DEFAULT;
      continue;
    }
    const AttributeWord* found = nullptr;
    for (const AttributeWord& known : kPrivilegeStates) {
      if (words[i] == known.word) found = &known;
    }
    if (found == nullptr) Refuse(line.number, "unknown privilege attribute '" + words[i] + "'");
    if (state) Refuse(line.number, "more than one state for " + words[0]);
    state = true;
    privilege.attributes |= found->bit;
  }
  if (!state) Refuse(line.number, words[0] + " needs 'enabled', 'disabled' or 'removed'");
  return privilege;
}

void StoreToken(const Token& token, const char* section, std::string& out) {
  // A token without a user was never described (a bare machine's); a section
  // for it could not be loaded again.
  if (token.user.empty()) return;
  out += "\n[";
  out += section;
  out += "]\n";
  out += "user = " + Narrow(FormatSid(token.user)) + "\n";
  if (token.identificationLevel) out += "level = identification\n";
  for (const TokenGroup& group : token.groups) {
    out += "group = " + Narrow(FormatSid(group.sid));
    for (const AttributeWord& known : kGroupWords) {
      if (group.attributes & known.bit) out += std::string(" ") + known.word;
    }
    out += "\n";
  }
  for (const TokenPrivilege& privilege : token.privileges) {
    const std::wstring name = PrivilegeName(privilege.luid);
    // Only standard privileges have a name to write; a LUID without one would
    // come back as a different token.
    if (name.empty()) {
      throw ImageError{"", 0,
                       "privilege LUID " + Hex(static_cast<DWORD>(privilege.luid.HighPart)) + ":" +
                           Hex(privilege.luid.LowPart) + " has no name"};
    }
    out += "privilege = " + Narrow(name);
    if (privilege.attributes & SE_PRIVILEGE_REMOVED) {
      out += " removed";
    } else if (privilege.attributes & SE_PRIVILEGE_ENABLED) {
      out += " enabled";
    } else {
      out += " disabled";
    }
    if (privilege.attributes & SE_PRIVILEGE_ENABLED_BY_DEFAULT) out += " default";
    out += "\n";
  }
}

}  // namespace

// A section replaces the token it describes as a whole; open handles are not
// part of an image.
void LoadToken(Machine& machine, const Section& section, bool threadToken) {
  auto token = std::make_shared<Token>();
  bool haveUser = false;
  for (const Line& line : section.lines) {
    const auto [name, value] = NameValue(line);
    if (name == "user") {
      if (haveUser) Refuse(line.number, "user given twice");
      token->user = SidWord(line, std::string(Trim(value)));
      haveUser = true;
    } else if (name == "group") {
      TokenGroup group = GroupLine(line, value);
      for (const TokenGroup& other : token->groups) {
        if (SameSid(other.sid, group.sid)) Refuse(line.number, "group listed twice");
      }
      token->groups.push_back(std::move(group));
    } else if (name == "level" && threadToken) {
      if (value == "identification") {
        token->identificationLevel = true;
      } else if (value != "impersonation") {
        Refuse(line.number, "level is 'identification' or 'impersonation'");
      }
    } else if (name == "privilege") {
      const TokenPrivilege privilege = PrivilegeLine(line, value);
      if (token->FindPrivilege(privilege.luid) != nullptr) Refuse(line.number, "privilege listed twice");
      token->privileges.push_back(privilege);
    } else {
      Refuse(line.number, "unknown name '" + name + "' in [" + section.name + "]");
    }
  }
  if (!haveUser) Refuse(section.number, "[" + section.name + "] has no user");
  (threadToken ? machine.tokens.thread : machine.tokens.process) = std::move(token);
}

void StoreTokens(const Machine& machine, std::string& out) {
  StoreToken(*machine.tokens.process, "token", out);
  if (machine.tokens.thread) StoreToken(*machine.tokens.thread, "thread-token", out);
}

}  // namespace sim::image
