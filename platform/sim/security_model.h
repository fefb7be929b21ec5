// The simulated machine's own model of SIDs, ACLs and security descriptors,
// and its conversions to and from the platform's binary layouts and SDDL.
// The registry keeps each key's security in this form; the Win32 calls
// convert at their boundary.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/win32.h"

namespace sim {

// A SID in the platform's binary layout.
using SidBytes = std::vector<BYTE>;

struct AceModel {
  // Types 0 to 3 (plain layout) and 5 to 8 (object layout) are taken apart;
  // any other type is kept whole in `raw`.
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  ACCESS_MASK mask = 0;
  std::optional<GUID> objectType;           // object ACEs only
  std::optional<GUID> inheritedObjectType;  // object ACEs only
  SidBytes sid;
  std::vector<BYTE> raw;  // the whole ACE, for types the model does not take apart
};

struct AclModel {
  BYTE revision = ACL_REVISION;
  std::vector<AceModel> aces;
};

struct SecurityModel {
  SECURITY_DESCRIPTOR_CONTROL control = 0;  // without SE_SELF_RELATIVE; SE_DACL_PRESENT as the DACL says
  std::optional<SidBytes> owner;
  std::optional<SidBytes> group;
  bool daclPresent = false;
  std::optional<AclModel> dacl;  // present but empty optional: a null DACL
};

// "S-1-5-32-544", or an SDDL alias such as "BA"; nullopt when not a SID.
std::optional<SidBytes> ParseSid(std::wstring_view text);
// "S-1-5-32-544" (never an alias); empty when the bytes hold no whole SID.
std::wstring FormatSid(const SidBytes& sid);
// Builds S-1-<authority>-<sub authorities...>.
SidBytes MakeSid(std::uint64_t authority, std::initializer_list<DWORD> subAuthorities);

// Parses SDDL revision 1; nullopt when the text is not valid SDDL. Accepts
// the parts O:, G: and D: (each at most once, any order, no blanks) and
// refuses S:, since the model holds no SACL. DACL flags P, AI, AR and
// NO_ACCESS_CONTROL; ACE types A, D, OA, OD (and AU, AL, OU, OL); ACE flags
// CI OI IO NP ID SA FA; rights as two-letter codes, one "0x" hex number, or
// nothing; trustees as aliases or S-1-... strings; object GUIDs as plain
// 8-4-4-4-12 hex, in object ACEs only. A DACL with an object ACE gets ACL
// revision 4, any other revision 2.
std::optional<SecurityModel> ParseSddl(std::wstring_view text);
// The canonical SDDL text of a descriptor, which is what tests and machine
// images compare:
//   - parts in the order O, G, D; a part the model lacks is left out;
//   - SIDs as aliases where the platform has one, else S-1-...;
//   - DACL flags in the order P, AR, AI; a null DACL as NO_ACCESS_CONTROL
//     after the flags;
//   - ACE flags in the order OI CI NP IO ID SA FA;
//   - rights: KA, KR or KW when the mask is exactly one of them (KX is KR);
//     else codes in the order GA GR GW GX SD RC WD WO when the mask is made of
//     those bits only; else "0x%x" in lower case ("0x0" for no rights);
//   - GUIDs in lower case;
//   - ACEs that SDDL cannot express (raw ones) are left out.
std::wstring FormatSddl(const SecurityModel& model);

// Reads a descriptor in absolute or self-relative form; nullopt when invalid.
// A SACL is not read: SE_SACL_PRESENT is dropped from the control word.
std::optional<SecurityModel> ReadDescriptor(const void* descriptor);
// The self-relative form, SE_SELF_RELATIVE set: the 20-byte header, then the
// DACL, owner and group, as MakeSelfRelativeSD lays them out.
std::vector<BYTE> WriteSelfRelative(const SecurityModel& model);

// Reads a binary ACL; nullopt when invalid.
std::optional<AclModel> ReadAcl(const ACL* acl);
std::vector<BYTE> WriteAcl(const AclModel& model);

// The platform's SID checks on raw bytes.
bool ValidSid(const void* sid);
DWORD SidLength(const void* sid);  // 8 + 4 * sub-authority count
bool SameSid(const SidBytes& a, const SidBytes& b);

}  // namespace sim
