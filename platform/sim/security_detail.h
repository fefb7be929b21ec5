// Helpers shared by the simulated security calls (advapi_security.cpp,
// sddl.cpp) and the security model (security_model.cpp). Not part of the
// Win32 surface and not for tests: they reach the same behaviour through the
// Win32 calls or security_model.h.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>

#include "platform/sim/call.h"
#include "platform/sim/security_model.h"

namespace sim::detail {

// Callers hand us bytes at any alignment, so multi-byte fields are read and
// written by copy.
inline WORD Load16(const void* p) {
  WORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline DWORD Load32(const void* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store16(void* p, WORD v) { std::memcpy(p, &v, sizeof v); }
inline void Store32(void* p, DWORD v) { std::memcpy(p, &v, sizeof v); }

constexpr DWORD kSidHeaderSize = 8;
constexpr DWORD kAclHeaderSize = 8;
constexpr DWORD kAceHeaderSize = 4;
// sizeof(SECURITY_DESCRIPTOR_RELATIVE); the absolute form is larger on a
// 64-bit host, but lengths are always those of the self-relative form.
constexpr DWORD kRelativeHeaderSize = 20;

inline DWORD AlignUp4(DWORD n) { return (n + 3u) & ~3u; }

bool AclRevisionInRange(DWORD revision);
// The lowest ACL revision that may hold an ACE of `type`: compound ACEs came
// with revision 3, object ACEs with revision 4.
DWORD RevisionForAceType(BYTE type);

// The offset just past the AceCount ACEs of `acl`, or nullopt when an ACE
// header is malformed or the ACEs run past AclSize.
std::optional<DWORD> AclBytesInUse(const ACL* acl);

// The security descriptor's parts, whichever form it is in. An ACL pointer is
// null when its present bit is clear or the descriptor holds a null ACL; the
// present bits are in `control`.
struct DescriptorParts {
  BYTE revision = SECURITY_DESCRIPTOR_REVISION;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const void* owner = nullptr;
  const void* group = nullptr;
  const ACL* sacl = nullptr;
  const ACL* dacl = nullptr;
};
DescriptorParts PartsOf(const void* descriptor);
// The length of the self-relative form of `parts`.
DWORD SelfRelativeLength(const DescriptorParts& parts);
// Writes the self-relative form (SACL, DACL, owner, group, each on a 4-byte
// boundary) into `out`, which must hold SelfRelativeLength(parts) bytes.
void WriteSelfRelativeInto(const DescriptorParts& parts, BYTE* out);

// Fails a BOOL call with `status` as the thread's last error.
BOOL FailWith(Call& call, DWORD status);

}  // namespace sim::detail
