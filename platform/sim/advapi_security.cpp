// advapi32's SID, ACL and security descriptor calls on the simulated machine.
#include <cstring>

#include "platform/sim/call.h"
#include "platform/sim/security_detail.h"
#include "platform/sim/security_model.h"
#include "platform/sim/win32.h"

using sim::detail::FailWith;
using sim::detail::Load16;
using sim::detail::Store16;

namespace {

BYTE* Bytes(void* p) { return static_cast<BYTE*>(p); }

// The offset of ACE `index` (AceCount for the first free byte); nullopt when
// the ACL's ACE list is malformed.
std::optional<DWORD> AceOffset(const ACL* acl, DWORD index) {
  auto inUse = sim::detail::AclBytesInUse(acl);
  if (!inUse) return std::nullopt;
  const BYTE* base = reinterpret_cast<const BYTE*>(acl);
  DWORD offset = sim::detail::kAclHeaderSize;
  for (DWORD i = 0; i < index && i < Load16(base + 4); ++i) offset += Load16(base + offset + 2);
  return offset;
}

// The status a call that changes an absolute descriptor must refuse with, or 0.
DWORD CheckWritableDescriptor(const void* descriptor) {
  if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
  const BYTE* p = static_cast<const BYTE*>(descriptor);
  if (p[0] != SECURITY_DESCRIPTOR_REVISION) return ERROR_UNKNOWN_REVISION;
  if (Load16(p + 2) & SE_SELF_RELATIVE) return ERROR_INVALID_SECURITY_DESCR;
  return 0;
}

// The status a call that reads a descriptor of either form must refuse with, or 0.
DWORD CheckReadableDescriptor(const void* descriptor) {
  if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
  if (static_cast<const BYTE*>(descriptor)[0] != SECURITY_DESCRIPTOR_REVISION) return ERROR_UNKNOWN_REVISION;
  return 0;
}

SECURITY_DESCRIPTOR* Absolute(PSECURITY_DESCRIPTOR descriptor) {
  return static_cast<SECURITY_DESCRIPTOR*>(descriptor);
}

void SetControlBit(SECURITY_DESCRIPTOR* sd, SECURITY_DESCRIPTOR_CONTROL bit, bool on) {
  sd->Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(on ? (sd->Control | bit) : (sd->Control & ~bit));
}

}  // namespace

// ================================================================ SIDs

DWORD WINAPI GetSidLengthRequired(UCHAR nSubAuthorityCount) {
  sim::Call call("GetSidLengthRequired");
  return sim::detail::kSidHeaderSize + 4u * nSubAuthorityCount;
}

BOOL WINAPI InitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount) {
  sim::Call call("InitializeSid");
  if (call.FailWithLastError()) return FALSE;
  if (Sid == nullptr || pIdentifierAuthority == nullptr || nSubAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  // The sub-authorities are left as they are: the caller fills them in.
  Bytes(Sid)[0] = SID_REVISION;
  Bytes(Sid)[1] = nSubAuthorityCount;
  std::memcpy(Bytes(Sid) + 2, pIdentifierAuthority->Value, 6);
  return TRUE;
}

PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  sim::Call call("GetSidSubAuthority");
  // The platform clears the last error and checks neither the SID nor the index.
  sim::SetError(ERROR_SUCCESS);
  return reinterpret_cast<PDWORD>(Bytes(pSid) + sim::detail::kSidHeaderSize + 4u * nSubAuthority);
}

BOOL WINAPI IsValidSid(PSID pSid) {
  sim::Call call("IsValidSid");
  return sim::ValidSid(pSid) ? TRUE : FALSE;
}

DWORD WINAPI GetLengthSid(PSID pSid) {
  sim::Call call("GetLengthSid");
  return sim::SidLength(pSid);
}

BOOL WINAPI CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid) {
  sim::Call call("CopySid");
  if (call.FailWithLastError()) return FALSE;
  if (!sim::ValidSid(pSourceSid)) return FailWith(call, ERROR_INVALID_SID);
  DWORD length = sim::SidLength(pSourceSid);
  if (nDestinationSidLength < length || pDestinationSid == nullptr) return FailWith(call, ERROR_INSUFFICIENT_BUFFER);
  std::memmove(pDestinationSid, pSourceSid, length);
  return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
  sim::Call call("EqualSid");
  // The platform clears the last error whatever the result.
  sim::SetError(ERROR_SUCCESS);
  if (!sim::ValidSid(pSid1) || !sim::ValidSid(pSid2)) return FALSE;
  DWORD length = sim::SidLength(pSid1);
  return length == sim::SidLength(pSid2) && std::memcmp(pSid1, pSid2, length) == 0;
}

// ================================================================ ACLs

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  sim::Call call("InitializeAcl");
  if (call.FailWithLastError()) return FALSE;
  if (nAclLength < sim::detail::kAclHeaderSize) return FailWith(call, ERROR_INSUFFICIENT_BUFFER);
  if (pAcl == nullptr || !sim::detail::AclRevisionInRange(dwAclRevision) || nAclLength > 0xFFFF) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
  pAcl->Sbz1 = 0;
  pAcl->AclSize = static_cast<WORD>(nAclLength);
  pAcl->AceCount = 0;
  pAcl->Sbz2 = 0;
  return TRUE;
}

BOOL WINAPI AddAce(PACL pAcl, DWORD dwAceRevision, DWORD dwStartingAceIndex, LPVOID pAceList,
                   DWORD nAceListLength) {
  sim::Call call("AddAce");
  if (call.FailWithLastError()) return FALSE;
  if (pAcl == nullptr || !sim::detail::AclRevisionInRange(pAcl->AclRevision) ||
      !sim::detail::AclRevisionInRange(dwAceRevision) || (pAceList == nullptr && nAceListLength != 0)) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  auto inUse = sim::detail::AclBytesInUse(pAcl);
  if (!inUse) return FailWith(call, ERROR_INVALID_PARAMETER);

  const BYTE* list = static_cast<const BYTE*>(pAceList);
  DWORD added = 0;
  for (DWORD offset = 0; offset < nAceListLength; ++added) {
    if (nAceListLength - offset < sim::detail::kAceHeaderSize) return FailWith(call, ERROR_INVALID_PARAMETER);
    DWORD aceSize = Load16(list + offset + 2);
    if (aceSize < sim::detail::kAceHeaderSize || aceSize > nAceListLength - offset ||
        sim::detail::RevisionForAceType(list[offset]) > dwAceRevision) {
      return FailWith(call, ERROR_INVALID_PARAMETER);
    }
    offset += aceSize;
  }
  if (*inUse + nAceListLength > pAcl->AclSize) return FailWith(call, ERROR_ALLOTTED_SPACE_EXCEEDED);

  DWORD at = *AceOffset(pAcl, dwStartingAceIndex);
  BYTE* base = reinterpret_cast<BYTE*>(pAcl);
  std::memmove(base + at + nAceListLength, base + at, *inUse - at);
  if (nAceListLength != 0) std::memcpy(base + at, list, nAceListLength);
  pAcl->AceCount = static_cast<WORD>(pAcl->AceCount + added);
  if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
  return TRUE;
}

BOOL WINAPI GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                              ACL_INFORMATION_CLASS dwAclInformationClass) {
  sim::Call call("GetAclInformation");
  if (call.FailWithLastError()) return FALSE;
  if (pAcl == nullptr || pAclInformation == nullptr || !sim::detail::AclRevisionInRange(pAcl->AclRevision)) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  switch (dwAclInformationClass) {
    case AclRevisionInformation: {
      if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION)) return FailWith(call, ERROR_INSUFFICIENT_BUFFER);
      ACL_REVISION_INFORMATION info{pAcl->AclRevision};
      std::memcpy(pAclInformation, &info, sizeof info);
      return TRUE;
    }
    case AclSizeInformation: {
      if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION)) return FailWith(call, ERROR_INSUFFICIENT_BUFFER);
      auto inUse = sim::detail::AclBytesInUse(pAcl);
      if (!inUse) return FailWith(call, ERROR_INVALID_PARAMETER);
      ACL_SIZE_INFORMATION info{pAcl->AceCount, *inUse, pAcl->AclSize - *inUse};
      std::memcpy(pAclInformation, &info, sizeof info);
      return TRUE;
    }
  }
  return FailWith(call, ERROR_INVALID_PARAMETER);
}

BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
  sim::Call call("GetAce");
  if (call.FailWithLastError()) return FALSE;
  if (pAcl == nullptr || pAce == nullptr || !sim::detail::AclRevisionInRange(pAcl->AclRevision) ||
      dwAceIndex >= pAcl->AceCount) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  auto offset = AceOffset(pAcl, dwAceIndex);
  if (!offset) return FailWith(call, ERROR_INVALID_PARAMETER);
  *pAce = reinterpret_cast<BYTE*>(pAcl) + *offset;
  return TRUE;
}

BOOL WINAPI IsValidAcl(PACL pAcl) {
  sim::Call call("IsValidAcl");
  if (call.FailWithLastError()) return FALSE;
  return sim::ReadAcl(pAcl).has_value() ? TRUE : FALSE;
}

// ================================================================ security descriptors

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  sim::Call call("InitializeSecurityDescriptor");
  if (call.FailWithLastError()) return FALSE;
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return FailWith(call, ERROR_UNKNOWN_REVISION);
  if (pSecurityDescriptor == nullptr) return FailWith(call, ERROR_INVALID_PARAMETER);
  *Absolute(pSecurityDescriptor) = SECURITY_DESCRIPTOR{};
  Absolute(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

namespace {

BOOL SetSid(const char* name, PSECURITY_DESCRIPTOR descriptor, PSID sid, BOOL defaulted, PSID SECURITY_DESCRIPTOR::*field,
            SECURITY_DESCRIPTOR_CONTROL defaultedBit) {
  sim::Call call(name);
  if (call.FailWithLastError()) return FALSE;
  if (DWORD status = CheckWritableDescriptor(descriptor)) return FailWith(call, status);
  SECURITY_DESCRIPTOR* sd = Absolute(descriptor);
  sd->*field = sid;
  SetControlBit(sd, defaultedBit, defaulted != FALSE);
  return TRUE;
}

BOOL GetSid(const char* name, PSECURITY_DESCRIPTOR descriptor, PSID* sid, LPBOOL defaulted, bool owner) {
  sim::Call call(name);
  if (call.FailWithLastError()) return FALSE;
  if (DWORD status = CheckReadableDescriptor(descriptor)) return FailWith(call, status);
  if (sid == nullptr || defaulted == nullptr) return FailWith(call, ERROR_INVALID_PARAMETER);
  sim::detail::DescriptorParts parts = sim::detail::PartsOf(descriptor);
  *sid = const_cast<void*>(owner ? parts.owner : parts.group);
  *defaulted = (parts.control & (owner ? SE_OWNER_DEFAULTED : SE_GROUP_DEFAULTED)) ? TRUE : FALSE;
  return TRUE;
}

}  // namespace

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner, BOOL bOwnerDefaulted) {
  return SetSid("SetSecurityDescriptorOwner", pSecurityDescriptor, pOwner, bOwnerDefaulted, &SECURITY_DESCRIPTOR::Owner,
                SE_OWNER_DEFAULTED);
}

BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup, BOOL bGroupDefaulted) {
  return SetSid("SetSecurityDescriptorGroup", pSecurityDescriptor, pGroup, bGroupDefaulted, &SECURITY_DESCRIPTOR::Group,
                SE_GROUP_DEFAULTED);
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner, LPBOOL lpbOwnerDefaulted) {
  return GetSid("GetSecurityDescriptorOwner", pSecurityDescriptor, pOwner, lpbOwnerDefaulted, true);
}

BOOL WINAPI GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pGroup, LPBOOL lpbGroupDefaulted) {
  return GetSid("GetSecurityDescriptorGroup", pSecurityDescriptor, pGroup, lpbGroupDefaulted, false);
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted) {
  sim::Call call("SetSecurityDescriptorDacl");
  if (call.FailWithLastError()) return FALSE;
  if (DWORD status = CheckWritableDescriptor(pSecurityDescriptor)) return FailWith(call, status);
  SECURITY_DESCRIPTOR* sd = Absolute(pSecurityDescriptor);
  // As on the platform, an absent DACL only clears the present bit: the
  // pointer and the defaulted bit stay as they were.
  if (!bDaclPresent) {
    SetControlBit(sd, SE_DACL_PRESENT, false);
    return TRUE;
  }
  sd->Dacl = pDacl;  // null here is a null DACL, which grants everyone everything
  SetControlBit(sd, SE_DACL_PRESENT, true);
  SetControlBit(sd, SE_DACL_DEFAULTED, bDaclDefaulted != FALSE);
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent, PACL* pDacl,
                                      LPBOOL lpbDaclDefaulted) {
  sim::Call call("GetSecurityDescriptorDacl");
  if (call.FailWithLastError()) return FALSE;
  if (DWORD status = CheckReadableDescriptor(pSecurityDescriptor)) return FailWith(call, status);
  if (lpbDaclPresent == nullptr || pDacl == nullptr || lpbDaclDefaulted == nullptr) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  sim::detail::DescriptorParts parts = sim::detail::PartsOf(pSecurityDescriptor);
  *lpbDaclPresent = (parts.control & SE_DACL_PRESENT) ? TRUE : FALSE;
  // As on the platform, the ACL and defaulted outputs are written only when a DACL is present.
  if (*lpbDaclPresent) {
    *pDacl = const_cast<ACL*>(parts.dacl);
    *lpbDaclDefaulted = (parts.control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision) {
  sim::Call call("GetSecurityDescriptorControl");
  if (call.FailWithLastError()) return FALSE;
  if (pSecurityDescriptor == nullptr || pControl == nullptr || lpdwRevision == nullptr) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  const BYTE* p = static_cast<const BYTE*>(pSecurityDescriptor);
  *lpdwRevision = p[0];
  if (p[0] != SECURITY_DESCRIPTOR_REVISION) return FailWith(call, ERROR_UNKNOWN_REVISION);
  *pControl = Load16(p + 2);
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                         SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
  sim::Call call("SetSecurityDescriptorControl");
  if (call.FailWithLastError()) return FALSE;
  if (DWORD status = CheckReadableDescriptor(pSecurityDescriptor)) return FailWith(call, status);
  // Only the inheritance bits may be changed this way; 0x40 and 0x80 are the
  // untrusted-DACL and server-security bits.
  const SECURITY_DESCRIPTOR_CONTROL changeable = 0x0040 | 0x0080 | SE_DACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERIT_REQ |
                                                 SE_DACL_AUTO_INHERITED | SE_SACL_AUTO_INHERITED | SE_DACL_PROTECTED |
                                                 SE_SACL_PROTECTED;
  if ((ControlBitsOfInterest | ControlBitsToSet) & ~changeable) return FailWith(call, ERROR_INVALID_PARAMETER);
  BYTE* p = Bytes(pSecurityDescriptor);
  WORD control = Load16(p + 2);
  control = static_cast<WORD>((control & ~ControlBitsOfInterest) | (ControlBitsToSet & ControlBitsOfInterest));
  Store16(p + 2, control);
  return TRUE;
}

DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  sim::Call call("GetSecurityDescriptorLength");
  if (pSecurityDescriptor == nullptr) return 0;
  return sim::detail::SelfRelativeLength(sim::detail::PartsOf(pSecurityDescriptor));
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  sim::Call call("IsValidSecurityDescriptor");
  if (call.FailWithLastError()) return FALSE;
  bool valid = sim::ReadDescriptor(pSecurityDescriptor).has_value();
  if (valid) {
    const ACL* sacl = sim::detail::PartsOf(pSecurityDescriptor).sacl;
    valid = sacl == nullptr || sim::ReadAcl(sacl).has_value();
  }
  if (!valid) return FailWith(call, ERROR_INVALID_SECURITY_DESCR);
  return TRUE;
}

BOOL WINAPI MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                               PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor, LPDWORD lpdwBufferLength) {
  sim::Call call("MakeSelfRelativeSD");
  if (call.FailWithLastError()) return FALSE;
  if (pAbsoluteSecurityDescriptor == nullptr || lpdwBufferLength == nullptr) {
    return FailWith(call, ERROR_INVALID_PARAMETER);
  }
  if (DWORD status = CheckReadableDescriptor(pAbsoluteSecurityDescriptor)) return FailWith(call, status);
  sim::detail::DescriptorParts parts = sim::detail::PartsOf(pAbsoluteSecurityDescriptor);
  if (parts.control & SE_SELF_RELATIVE) return FailWith(call, ERROR_BAD_DESCRIPTOR_FORMAT);
  DWORD length = sim::detail::SelfRelativeLength(parts);
  if (*lpdwBufferLength < length || pSelfRelativeSecurityDescriptor == nullptr) {
    *lpdwBufferLength = length;
    return FailWith(call, ERROR_INSUFFICIENT_BUFFER);
  }
  sim::detail::WriteSelfRelativeInto(parts, Bytes(pSelfRelativeSecurityDescriptor));
  return TRUE;
}
