// SID strings and SDDL revision 1 on the simulated machine.
//
// What this SDDL reader accepts:
//   - the parts "O:", "G:" and "D:", each at most once, in any order and with
//     no blanks; an "S:" part is refused, since the machine keeps no SACL;
//   - DACL flags P, AI, AR and NO_ACCESS_CONTROL, in any order;
//   - ACE types A, D, OA, OD (and the audit and alarm types AU, AL, OU, OL,
//     which keep their binary type); object GUIDs only in object ACEs;
//   - ACE flags CI OI IO NP ID SA FA;
//   - rights as two-letter codes, or one hexadecimal number "0x...", or
//     nothing (no rights);
//   - trustees as two-letter aliases or "S-1-..." strings.
// Anything else is not SDDL.
//
// The canonical text that FormatSddl writes:
//   - parts in the order O, G, D; a part the descriptor lacks is left out;
//   - SIDs as aliases where one exists, else "S-1-...";
//   - DACL flags in the order P, AR, AI; a null DACL as "NO_ACCESS_CONTROL"
//     after them;
//   - ACE flags in the order OI CI NP IO ID SA FA;
//   - rights as KA, KR or KW when the mask is exactly one of them (KX equals
//     KR and is written KR); else as codes in the order GA GR GW GX SD RC WD
//     WO when the mask is made only of those bits; else "0x%x" (lower case,
//     "0x0" for no rights);
//   - GUIDs lower case, 8-4-4-4-12;
//   - ACEs that SDDL cannot express (compound and unknown types) are left out.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/sim/call.h"
#include "platform/sim/local_heap.h"
#include "platform/sim/security_detail.h"
#include "platform/sim/security_model.h"

namespace sim {

namespace {

struct Alias {
  const wchar_t* code;
  std::uint64_t authority;
  DWORD domain;  // 0: a single sub-authority, the rid
  DWORD rid;

  SidBytes Sid() const { return domain ? MakeSid(authority, {domain, rid}) : MakeSid(authority, {rid}); }
};

// The well-known aliases of NT 5.x, from the machine's point of view.
const Alias kAliases[] = {
    {L"WD", 1, 0, 0},         {L"CO", 3, 0, 0},         {L"CG", 3, 0, 1},         {L"NU", 5, 0, 2},
    {L"IU", 5, 0, 4},         {L"SU", 5, 0, 6},         {L"AN", 5, 0, 7},         {L"ED", 5, 0, 9},
    {L"PS", 5, 0, 10},        {L"AU", 5, 0, 11},        {L"RC", 5, 0, 12},        {L"SY", 5, 0, 18},
    {L"LS", 5, 0, 19},        {L"NS", 5, 0, 20},        {L"BA", 5, 32, 544},   {L"BU", 5, 32, 545},
    {L"BG", 5, 32, 546},   {L"PU", 5, 32, 547},   {L"AO", 5, 32, 548},   {L"SO", 5, 32, 549},
    {L"PO", 5, 32, 550},   {L"BO", 5, 32, 551},   {L"RE", 5, 32, 552},   {L"RU", 5, 32, 554},
    {L"RD", 5, 32, 555},   {L"NO", 5, 32, 556},
};

std::optional<std::uint64_t> ParseNumber(std::wstring_view text, std::uint64_t limit) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    int digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return value;
}

std::optional<SidBytes> ParseSidString(std::wstring_view text) {
  if (text.substr(0, 4) != L"S-1-") return std::nullopt;
  text.remove_prefix(4);
  std::vector<std::wstring_view> fields;
  while (true) {
    std::size_t dash = text.find(L'-');
    fields.push_back(text.substr(0, dash));
    if (dash == std::wstring_view::npos) break;
    text.remove_prefix(dash + 1);
  }
  if (fields.size() - 1 > SID_MAX_SUB_AUTHORITIES) return std::nullopt;
  auto authority = ParseNumber(fields[0], 0xFFFFFFFFFFFFull);
  if (!authority) return std::nullopt;
  SidBytes sid = MakeSid(*authority, {});
  for (std::size_t i = 1; i < fields.size(); ++i) {
    if (fields[i].substr(0, 2) == L"0x" || fields[i].substr(0, 2) == L"0X") return std::nullopt;
    auto sub = ParseNumber(fields[i], 0xFFFFFFFFu);
    if (!sub) return std::nullopt;
    BYTE bytes[4];
    detail::Store32(bytes, static_cast<DWORD>(*sub));
    sid.insert(sid.end(), bytes, bytes + 4);
  }
  sid[1] = static_cast<BYTE>(fields.size() - 1);
  return sid;
}

std::optional<std::wstring_view> AliasOf(const SidBytes& sid) {
  for (const Alias& alias : kAliases) {
    if (SameSid(sid, alias.Sid())) return alias.code;
  }
  return std::nullopt;
}

std::wstring SidText(const SidBytes& sid) {
  if (auto alias = AliasOf(sid)) return std::wstring(*alias);
  return FormatSid(sid);
}

}  // namespace

std::optional<SidBytes> ParseSid(std::wstring_view text) {
  for (const Alias& alias : kAliases) {
    if (text == alias.code) return alias.Sid();
  }
  return ParseSidString(text);
}

std::wstring FormatSid(const SidBytes& sid) {
  if (sid.size() < detail::kSidHeaderSize || sid.size() < SidLength(sid.data())) return std::wstring();
  std::uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
  wchar_t buffer[32];
  // The platform writes authorities that do not fit 32 bits as 12 hex digits.
  if (authority > 0xFFFFFFFFu) {
    std::swprintf(buffer, 32, L"S-1-0x%012llX", static_cast<unsigned long long>(authority));
  } else {
    std::swprintf(buffer, 32, L"S-1-%llu", static_cast<unsigned long long>(authority));
  }
  std::wstring text = buffer;
  for (BYTE i = 0; i < sid[1]; ++i) {
    text += L'-';
    text += std::to_wstring(detail::Load32(&sid[8 + 4u * i]));
  }
  return text;
}

// ---------------------------------------------------------------- SDDL

namespace {

struct Code {
  const wchar_t* code;
  DWORD value;
};

const Code kAceTypes[] = {
    {L"A", ACCESS_ALLOWED_ACE_TYPE},         {L"D", ACCESS_DENIED_ACE_TYPE},
    {L"AU", SYSTEM_AUDIT_ACE_TYPE},          {L"AL", SYSTEM_ALARM_ACE_TYPE},
    {L"OA", ACCESS_ALLOWED_OBJECT_ACE_TYPE}, {L"OD", ACCESS_DENIED_OBJECT_ACE_TYPE},
    {L"OU", SYSTEM_AUDIT_OBJECT_ACE_TYPE},   {L"OL", SYSTEM_ALARM_OBJECT_ACE_TYPE},
};

// In the order they are written.
const Code kAceFlags[] = {
    {L"OI", OBJECT_INHERIT_ACE}, {L"CI", CONTAINER_INHERIT_ACE},      {L"NP", NO_PROPAGATE_INHERIT_ACE},
    {L"IO", INHERIT_ONLY_ACE},   {L"ID", INHERITED_ACE},              {L"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
    {L"FA", FAILED_ACCESS_ACE_FLAG},
};

const Code kDaclFlags[] = {
    {L"P", SE_DACL_PROTECTED}, {L"AR", SE_DACL_AUTO_INHERIT_REQ}, {L"AI", SE_DACL_AUTO_INHERITED}};

// The first kWrittenRights entries are the ones written as codes, in this order.
const Code kRights[] = {
    {L"GA", GENERIC_ALL},  {L"GR", GENERIC_READ}, {L"GW", GENERIC_WRITE}, {L"GX", GENERIC_EXECUTE},
    {L"SD", DELETE},       {L"RC", READ_CONTROL}, {L"WD", WRITE_DAC},     {L"WO", WRITE_OWNER},
    {L"KA", KEY_ALL_ACCESS}, {L"KR", KEY_READ},   {L"KW", KEY_WRITE},     {L"KX", KEY_EXECUTE},
    {L"CC", 0x1},          {L"DC", 0x2},          {L"LC", 0x4},           {L"SW", 0x8},
    {L"RP", 0x10},         {L"WP", 0x20},         {L"DT", 0x40},          {L"LO", 0x80},
    {L"CR", 0x100},        {L"FA", 0x1F01FF},     {L"FR", 0x120089},      {L"FW", 0x120116},
    {L"FX", 0x1200A0},
};
constexpr std::size_t kWrittenRights = 8;
// Key rights that are written as one code when the mask is exactly theirs.
const Code kExactKeyRights[] = {{L"KA", KEY_ALL_ACCESS}, {L"KR", KEY_READ}, {L"KW", KEY_WRITE}};

template <std::size_t N>
std::optional<DWORD> Lookup(const Code (&table)[N], std::wstring_view code) {
  for (const Code& entry : table) {
    if (code == entry.code) return entry.value;
  }
  return std::nullopt;
}

// A run of two-letter codes, OR-ed together; nullopt when one is unknown.
template <std::size_t N>
std::optional<DWORD> CodeRun(const Code (&table)[N], std::wstring_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  DWORD value = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    auto bits = Lookup(table, text.substr(i, 2));
    if (!bits) return std::nullopt;
    value |= *bits;
  }
  return value;
}

std::optional<DWORD> ParseRights(std::wstring_view text) {
  if (text.substr(0, 2) == L"0x" || text.substr(0, 2) == L"0X") {
    auto value = ParseNumber(text, 0xFFFFFFFFu);
    if (!value) return std::nullopt;
    return static_cast<DWORD>(*value);
  }
  return CodeRun(kRights, text);
}

std::optional<GUID> ParseGuid(std::wstring_view text) {
  static const std::size_t kGroups[] = {8, 4, 4, 4, 12};
  if (text.size() != 36) return std::nullopt;
  BYTE bytes[16];
  std::size_t at = 0, byte = 0;
  for (std::size_t group : kGroups) {
    if (at != 0 && text[at++] != L'-') return std::nullopt;
    for (std::size_t i = 0; i < group; i += 2, at += 2) {
      auto value = ParseNumber(std::wstring(L"0x") + std::wstring(text.substr(at, 2)), 0xFF);
      if (!value || text[at] == L'-' || text[at + 1] == L'-') return std::nullopt;
      bytes[byte++] = static_cast<BYTE>(*value);
    }
  }
  // Data1 to Data3 are written most significant byte first, stored little-endian.
  GUID guid;
  guid.Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
  guid.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return guid;
}

std::wstring FormatGuid(const GUID& guid) {
  wchar_t buffer[40];
  std::swprintf(buffer, 40, L"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(guid.Data1),
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return buffer;
}

bool IsObjectType(BYTE type) { return type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE; }

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> fields;
  while (true) {
    std::size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::wstring_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

// "type;flags;rights;object;inherited object;trustee", without the parentheses.
std::optional<AceModel> ParseAce(std::wstring_view text) {
  std::vector<std::wstring_view> fields = Split(text, L';');
  if (fields.size() != 6) return std::nullopt;
  AceModel ace;
  auto type = Lookup(kAceTypes, fields[0]);
  auto flags = CodeRun(kAceFlags, fields[1]);
  auto mask = ParseRights(fields[2]);
  auto sid = ParseSid(fields[5]);
  if (!type || !flags || !mask || !sid) return std::nullopt;
  ace.type = static_cast<BYTE>(*type);
  ace.flags = static_cast<BYTE>(*flags);
  ace.mask = *mask;
  ace.sid = std::move(*sid);
  for (int i : {3, 4}) {
    if (fields[i].empty()) continue;
    if (!IsObjectType(ace.type)) return std::nullopt;
    auto guid = ParseGuid(fields[i]);
    if (!guid) return std::nullopt;
    (i == 3 ? ace.objectType : ace.inheritedObjectType) = *guid;
  }
  return ace;
}

// Where the part after `from` starts: a letter of O, G, D or S followed by ':'.
std::size_t NextPart(std::wstring_view text, std::size_t from) {
  for (std::size_t i = from; i + 1 < text.size(); ++i) {
    if (text[i + 1] == L':' && std::wcschr(L"OGDS", text[i]) != nullptr) return i;
  }
  return text.size();
}

// The DACL part from `at` (just after "D:"); moves `at` past it.
bool ParseDacl(std::wstring_view text, std::size_t& at, SecurityModel& model) {
  model.daclPresent = true;
  model.control |= SE_DACL_PRESENT;
  bool null = false;
  while (at < text.size() && text[at] != L'(' && NextPart(text, at) != at) {
    std::wstring_view rest = text.substr(at);
    static constexpr std::wstring_view kNull = L"NO_ACCESS_CONTROL";
    if (rest.substr(0, kNull.size()) == kNull && !null) {
      null = true;
      at += kNull.size();
      continue;
    }
    std::optional<DWORD> flag;
    for (std::size_t length : {2, 1}) {
      if (!flag && rest.size() >= length) {
        flag = Lookup(kDaclFlags, rest.substr(0, length));
        if (flag) at += length;
      }
    }
    if (!flag || (model.control & *flag)) return false;
    model.control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(model.control | *flag);
  }
  AclModel acl;
  while (at < text.size() && text[at] == L'(') {
    std::size_t close = text.find(L')', at);
    if (close == std::wstring_view::npos || null) return false;
    auto ace = ParseAce(text.substr(at + 1, close - at - 1));
    if (!ace) return false;
    if (IsObjectType(ace->type)) acl.revision = ACL_REVISION_DS;
    acl.aces.push_back(std::move(*ace));
    at = close + 1;
  }
  if (!null) model.dacl = std::move(acl);
  return true;
}

std::wstring FormatRights(ACCESS_MASK mask) {
  for (const Code& exact : kExactKeyRights) {
    if (mask == exact.value) return exact.code;
  }
  DWORD codable = 0;
  for (std::size_t i = 0; i < kWrittenRights; ++i) codable |= kRights[i].value;
  if (mask != 0 && (mask & ~codable) == 0) {
    std::wstring text;
    for (std::size_t i = 0; i < kWrittenRights; ++i) {
      if (mask & kRights[i].value) text += kRights[i].code;
    }
    return text;
  }
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"0x%x", static_cast<unsigned>(mask));
  return buffer;
}

void FormatAce(const AceModel& ace, std::wstring& out) {
  const wchar_t* type = nullptr;
  for (const Code& entry : kAceTypes) {
    if (entry.value == ace.type) type = entry.code;
  }
  if (type == nullptr || !ace.raw.empty()) return;
  out += L'(';
  out += type;
  out += L';';
  for (const Code& flag : kAceFlags) {
    if (ace.flags & flag.value) out += flag.code;
  }
  out += L';';
  out += FormatRights(ace.mask);
  out += L';';
  if (ace.objectType) out += FormatGuid(*ace.objectType);
  out += L';';
  if (ace.inheritedObjectType) out += FormatGuid(*ace.inheritedObjectType);
  out += L';';
  out += SidText(ace.sid);
  out += L')';
}

}  // namespace

std::optional<SecurityModel> ParseSddl(std::wstring_view text) {
  SecurityModel model;
  bool seenDacl = false;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text.size() - at < 2 || text[at + 1] != L':') return std::nullopt;
    wchar_t part = text[at];
    at += 2;
    if (part == L'O' || part == L'G') {
      std::optional<SidBytes>& into = part == L'O' ? model.owner : model.group;
      std::size_t end = NextPart(text, at);
      if (into) return std::nullopt;
      into = ParseSid(text.substr(at, end - at));
      if (!into) return std::nullopt;
      at = end;
    } else if (part == L'D' && !seenDacl) {
      seenDacl = true;
      if (!ParseDacl(text, at, model)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return model;
}

std::wstring FormatSddl(const SecurityModel& model) {
  std::wstring out;
  if (model.owner) out += L"O:" + SidText(*model.owner);
  if (model.group) out += L"G:" + SidText(*model.group);
  if (model.daclPresent) {
    out += L"D:";
    for (const Code& flag : kDaclFlags) {
      if (model.control & flag.value) out += flag.code;
    }
    if (!model.dacl) {
      out += L"NO_ACCESS_CONTROL";
    } else {
      for (const AceModel& ace : model.dacl->aces) FormatAce(ace, out);
    }
  }
  return out;
}

}  // namespace sim

// ================================================================ advapi32: SDDL conversions

using sim::detail::FailWith;

namespace {

// A copy of `bytes` in a local block for the caller; null when the local heap fails.
void* HandOut(const void* bytes, std::size_t length) {
  void* block = sim::AllocateLocalBlock(length);
  if (block != nullptr) std::memcpy(block, bytes, length);
  return block;
}

void* HandOutText(const std::wstring& text) { return HandOut(text.c_str(), (text.size() + 1) * sizeof(WCHAR)); }

}  // namespace

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 ULONG* SecurityDescriptorSize) {
  sim::Call call("ConvertStringSecurityDescriptorToSecurityDescriptorW");
  if (call.FailWithLastError()) return FALSE;
  if (StringSecurityDescriptor == nullptr || SecurityDescriptor == nullptr) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  if (StringSDRevision != SDDL_REVISION_1) return FailWith(call, ERROR_UNKNOWN_REVISION);
  auto model = sim::ParseSddl(StringSecurityDescriptor);
  if (!model) return FailWith(call, ERROR_INVALID_PARAMETER);
  std::vector<BYTE> descriptor = sim::WriteSelfRelative(*model);
  void* block = HandOut(descriptor.data(), descriptor.size());
  if (block == nullptr) return FailWith(call, ERROR_NOT_ENOUGH_MEMORY);
  *SecurityDescriptor = block;
  if (SecurityDescriptorSize != nullptr) *SecurityDescriptorSize = static_cast<ULONG>(descriptor.size());
  return TRUE;
}

BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                                 DWORD RequestedStringSDRevision,
                                                                 SECURITY_INFORMATION SecurityInformation,
                                                                 LPWSTR* StringSecurityDescriptor,
                                                                 ULONG* StringSecurityDescriptorLen) {
  sim::Call call("ConvertSecurityDescriptorToStringSecurityDescriptorW");
  if (call.FailWithLastError()) return FALSE;
  if (SecurityDescriptor == nullptr || StringSecurityDescriptor == nullptr) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  if (RequestedStringSDRevision != SDDL_REVISION_1) return FailWith(call, ERROR_UNKNOWN_REVISION);
  auto model = sim::ReadDescriptor(SecurityDescriptor);
  if (!model) return FailWith(call, ERROR_INVALID_SECURITY_DESCR);
  if (!(SecurityInformation & OWNER_SECURITY_INFORMATION)) model->owner.reset();
  if (!(SecurityInformation & GROUP_SECURITY_INFORMATION)) model->group.reset();
  if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) model->daclPresent = false;
  std::wstring text = sim::FormatSddl(*model);
  void* block = HandOutText(text);
  if (block == nullptr) return FailWith(call, ERROR_NOT_ENOUGH_MEMORY);
  *StringSecurityDescriptor = static_cast<LPWSTR>(block);
  // The platform counts the terminating NUL in the length it hands back.
  if (StringSecurityDescriptorLen != nullptr) *StringSecurityDescriptorLen = static_cast<ULONG>(text.size() + 1);
  return TRUE;
}

BOOL WINAPI ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
  sim::Call call("ConvertStringSidToSidW");
  if (call.FailWithLastError()) return FALSE;
  if (StringSid == nullptr || Sid == nullptr) return FailWith(call, ERROR_INVALID_PARAMETER);
  auto sid = sim::ParseSid(StringSid);
  if (!sid) return FailWith(call, ERROR_INVALID_SID);
  void* block = HandOut(sid->data(), sid->size());
  if (block == nullptr) return FailWith(call, ERROR_NOT_ENOUGH_MEMORY);
  *Sid = block;
  return TRUE;
}

BOOL WINAPI ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
  sim::Call call("ConvertSidToStringSidW");
  if (call.FailWithLastError()) return FALSE;
  if (StringSid == nullptr) return FailWith(call, ERROR_INVALID_PARAMETER);
  if (!sim::ValidSid(Sid)) return FailWith(call, ERROR_INVALID_SID);
  const BYTE* bytes = static_cast<const BYTE*>(Sid);
  void* block = HandOutText(sim::FormatSid(sim::SidBytes(bytes, bytes + sim::SidLength(Sid))));
  if (block == nullptr) return FailWith(call, ERROR_NOT_ENOUGH_MEMORY);
  *StringSid = static_cast<LPWSTR>(block);
  return TRUE;
}
