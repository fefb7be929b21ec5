#include "security/ace.h"

#include <cstdlib>
#include <cstring>

#include "error/com_error.h"

namespace ATL {
namespace {

const DWORD AccessAceFixedPart = 8;         // header, mask
const DWORD ObjectAceFixedPart = 12;        // header, mask, Flags
const DWORD GuidBytes = sizeof(GUID);       // 16

// A C-heap copy of `guid`, or null for null. Raises E_OUTOFMEMORY.
platform::unique_crt_ptr<GUID> CopyGuid(const GUID* guid) {
  if (guid == nullptr) return nullptr;
  platform::unique_crt_ptr<GUID> copy(static_cast<GUID*>(std::malloc(sizeof(GUID))));
  if (!copy) RaiseHresult(E_OUTOFMEMORY);
  std::memcpy(copy.get(), guid, sizeof(GUID));
  return copy;
}

GUID GuidOrNull(const platform::unique_crt_ptr<GUID>& guid) { return guid ? *guid : GUID{}; }

}  // namespace

// ---------------------------------------------------------------- CAcl::CAce

CAcl::CAce::CAce(const CSid& sid, ACCESS_MASK mask, BYTE flags) : sid_(sid), mask_(mask), flags_(flags) {}

CAcl::CAce::~CAce() = default;

bool CAcl::CAce::IsObjectKind() const { return false; }

GUID CAcl::CAce::ObjectTypeGuid() const { return GUID{}; }

GUID CAcl::CAce::InheritedObjectTypeGuid() const { return GUID{}; }

DWORD CAcl::CAce::SidLength() const { return GetLengthSid(const_cast<SID*>(sid_.SidBytes())); }

platform::unique_crt_ptr<BYTE> CAcl::CAce::AssembleAce(DWORD length, DWORD sidOffset) const {
  platform::unique_crt_ptr<BYTE> ace(static_cast<BYTE*>(std::calloc(1, length)));
  if (!ace) RaiseHresult(E_OUTOFMEMORY);

  ACE_HEADER header;
  header.AceType = AceTypeCode();
  header.AceFlags = flags_;
  header.AceSize = static_cast<WORD>(length);
  std::memcpy(ace.get(), &header, sizeof(header));
  std::memcpy(ace.get() + sizeof(header), &mask_, sizeof(mask_));

  CheckCrtResult(memcpy_s(ace.get() + sidOffset, length - sidOffset, sid_.SidBytes(), SidLength()));
  return ace;
}

const BYTE* CAcl::CAce::Keep(platform::unique_crt_ptr<BYTE> built) noexcept {
  binary_ = std::move(built);
  return binary_.get();
}

// ---------------------------------------------------------------- CDacl::CAccessAce

CDacl::CAccessAce::CAccessAce(const CSid& sid, ACCESS_MASK mask, BYTE flags, bool allowed)
    : CAce(sid, mask, flags), allowed_(allowed) {}

const BYTE* CDacl::CAccessAce::BuildAceBytes() {
  if (Built() != nullptr) return Built();
  return Keep(AssembleAce(AceByteLength(), AccessAceFixedPart));
}

DWORD CDacl::CAccessAce::AceByteLength() const { return AccessAceFixedPart + SidLength(); }

BYTE CDacl::CAccessAce::AceTypeCode() const {
  return allowed_ ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
}

// ---------------------------------------------------------------- CDacl::CAccessObjectAce

CDacl::CAccessObjectAce::CAccessObjectAce(const CSid& sid, ACCESS_MASK mask, BYTE flags, bool allowed,
                                          const GUID* objectType, const GUID* inheritedObjectType)
    : CAccessAce(sid, mask, flags, allowed),
      objectType_(CopyGuid(objectType)),
      inheritedObjectType_(CopyGuid(inheritedObjectType)) {}

CDacl::CAccessObjectAce::~CAccessObjectAce() = default;

DWORD CDacl::CAccessObjectAce::GuidCount() const noexcept {
  return (objectType_ ? 1 : 0) + (inheritedObjectType_ ? 1 : 0);
}

const BYTE* CDacl::CAccessObjectAce::BuildAceBytes() {
  if (Built() != nullptr) return Built();
  const DWORD sidOffset = ObjectAceFixedPart + GuidBytes * GuidCount();
  platform::unique_crt_ptr<BYTE> ace = AssembleAce(AceByteLength(), sidOffset);

  DWORD flags = 0;
  DWORD next = ObjectAceFixedPart;
  if (objectType_) {
    std::memcpy(ace.get() + next, objectType_.get(), GuidBytes);
    flags |= ACE_OBJECT_TYPE_PRESENT;
    next += GuidBytes;
  }
  if (inheritedObjectType_) {
    std::memcpy(ace.get() + next, inheritedObjectType_.get(), GuidBytes);
    flags |= ACE_INHERITED_OBJECT_TYPE_PRESENT;
  }
  std::memcpy(ace.get() + AccessAceFixedPart, &flags, sizeof(flags));
  return Keep(std::move(ace));
}

DWORD CDacl::CAccessObjectAce::AceByteLength() const {
  return ObjectAceFixedPart + GuidBytes * GuidCount() + SidLength();
}

BYTE CDacl::CAccessObjectAce::AceTypeCode() const {
  return IsAllowed() ? ACCESS_ALLOWED_OBJECT_ACE_TYPE : ACCESS_DENIED_OBJECT_ACE_TYPE;
}

bool CDacl::CAccessObjectAce::IsObjectKind() const { return true; }

GUID CDacl::CAccessObjectAce::ObjectTypeGuid() const { return GuidOrNull(objectType_); }

GUID CDacl::CAccessObjectAce::InheritedObjectTypeGuid() const { return GuidOrNull(inheritedObjectType_); }

}  // namespace ATL
