#include "security/dacl.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "error/com_error.h"

namespace ATL {

// ---------------------------------------------------------------- CAcl

CAcl::CAcl() noexcept : null_(false), revision_(ACL_REVISION) {}

CAcl::~CAcl() = default;

void CAcl::OrderAces() {}

PACL CAcl::BuildAcl() {
  if (binary_ || null_) return binary_.get();

  const DWORD count = AceCount();
  DWORD size = sizeof(ACL);
  for (DWORD i = 0; i < count; ++i) size += AceAt(i)->AceByteLength();

  // Held locally until complete: whatever fails below, the partly filled
  // buffer is released and nothing counts as built.
  platform::unique_crt_ptr<ACL> acl(static_cast<ACL*>(std::malloc(size)));
  if (!acl) RaiseHresult(E_OUTOFMEMORY);
  if (!InitializeAcl(acl.get(), size, revision_)) RaiseLastError();

  OrderAces();
  for (DWORD i = 0; i < count; ++i) {
    CAce* ace = AceAt(i);
    const BYTE* bytes = ace->BuildAceBytes();
    if (!AddAce(acl.get(), revision_, MAXDWORD, const_cast<BYTE*>(bytes), ace->AceByteLength())) RaiseLastError();
  }
  binary_ = std::move(acl);
  return binary_.get();
}

void CAcl::MakeNull() {
  ClearAces();
  null_ = true;
}

void CAcl::MakeEmpty() {
  ClearAces();
  null_ = false;
}

// ---------------------------------------------------------------- CDacl

namespace {

// Canonical order compares (inherited, allowed, object), false before true.
unsigned SortKey(const CDacl::CAccessAce& ace) {
  return ((ace.AceFlags() & INHERITED_ACE) ? 4u : 0u) | (ace.IsAllowed() ? 2u : 0u) | (ace.IsObjectKind() ? 1u : 0u);
}

// A field of the ACE at `ace`, copied out: ACEs inside an ACL are only as
// aligned as the caller's ACL.
template <typename T>
T ReadAt(const BYTE* ace, DWORD offset) {
  T value;
  std::memcpy(&value, ace + offset, sizeof(value));
  return value;
}

// A new ACE object of type Ace. Whatever keeps it from being made, its
// allocation or its constructor, is reported as E_OUTOFMEMORY.
template <typename Ace, typename... Args>
std::unique_ptr<CDacl::CAccessAce> CreateAce(Args&&... args) {
  try {
    return std::make_unique<Ace>(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
  } catch (const _com_error&) {
  }
  RaiseHresult(E_OUTOFMEMORY);
}

}  // namespace

CDacl::CDacl() noexcept = default;

CDacl::~CDacl() = default;

DWORD CDacl::AceCount() const { return static_cast<DWORD>(aces_.size()); }

void CDacl::ClearAces() {
  for (auto& ace : aces_) ace.reset();
  std::vector<std::unique_ptr<CAccessAce>>().swap(aces_);
  ReleaseBinaryAcl();
}

void CDacl::EraseAceAt(DWORD index) {
  if (index >= AceCount()) RaiseHresult(E_INVALIDARG);
  aces_.erase(aces_.begin() + index);
  ReleaseBinaryAcl();
}

CAcl::CAce* CDacl::AceAt(DWORD index) {
  if (index >= AceCount()) RaiseHresult(E_INVALIDARG);
  return aces_[index].get();
}

void CDacl::OrderAces() {
  const DWORD n = AceCount();
  DWORD h = 1;
  while (3 * h + 1 < n) h = 3 * h + 1;

  for (; h != 0; h /= 3) {
    for (DWORD i = h; i < n; ++i) {
      std::unique_ptr<CAccessAce> t = std::move(aces_[i]);
      const unsigned key = SortKey(*t);
      DWORD j = i;
      // Strictly smaller keys only: equal keys never pass each other in a
      // pass, although a wide gap can still carry one past its equals.
      while (j >= h && key < SortKey(*aces_[j - h])) {
        aces_[j] = std::move(aces_[j - h]);
        j -= h;
      }
      aces_[j] = std::move(t);
    }
  }
}

void CDacl::AssignFromAcl(const ACL* acl) {
  if (acl == nullptr) {
    MakeNull();
    return;
  }
  ReleaseBinaryAcl();
  SetNull(false);

  PACL source = const_cast<ACL*>(acl);
  ACL_SIZE_INFORMATION sizeInfo;
  if (!GetAclInformation(source, &sizeInfo, sizeof(sizeInfo), AclSizeInformation)) RaiseLastError();
  ACL_REVISION_INFORMATION revisionInfo;
  if (!GetAclInformation(source, &revisionInfo, sizeof(revisionInfo), AclRevisionInformation)) RaiseLastError();
  SetRevision(revisionInfo.AclRevision);

  CSid sid;
  for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
    LPVOID found = nullptr;
    if (!GetAce(source, i, &found)) RaiseLastError();
    const BYTE* ace = static_cast<const BYTE*>(found);
    const ACE_HEADER header = ReadAt<ACE_HEADER>(ace, 0);
    const ACCESS_MASK mask = ReadAt<ACCESS_MASK>(ace, 4);

    std::unique_ptr<CAccessAce> entry;
    switch (header.AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_DENIED_ACE_TYPE:
        sid.AssignSid(reinterpret_cast<const SID*>(ace + 8));
        entry = CreateAce<CAccessAce>(sid, mask, header.AceFlags, header.AceType == ACCESS_ALLOWED_ACE_TYPE);
        break;
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE: {
        const DWORD flags = ReadAt<DWORD>(ace, 8);
        DWORD next = 12;
        GUID objectType;
        GUID inheritedObjectType;
        const GUID* objectTypeIfAny = nullptr;
        const GUID* inheritedObjectTypeIfAny = nullptr;
        if (flags & ACE_OBJECT_TYPE_PRESENT) {
          objectType = ReadAt<GUID>(ace, next);
          objectTypeIfAny = &objectType;
          next += sizeof(GUID);
        }
        if (flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) {
          inheritedObjectType = ReadAt<GUID>(ace, next);
          inheritedObjectTypeIfAny = &inheritedObjectType;
          next += sizeof(GUID);
        }
        sid.AssignSid(reinterpret_cast<const SID*>(ace + next));
        entry = CreateAce<CAccessObjectAce>(sid, mask, header.AceFlags,
                                            header.AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE, objectTypeIfAny,
                                            inheritedObjectTypeIfAny);
        break;
      }
      default:
        continue;  // audit, alarm, compound and unknown types have no place in a DACL object
    }

    // Grown ahead of the append, so that the append itself cannot fail and
    // `entry` still owns the new ACE object when growing does.
    if (aces_.size() == aces_.capacity()) {
      try {
        aces_.reserve(aces_.empty() ? 1 : 2 * aces_.size());
      } catch (const std::bad_alloc&) {
        RaiseHresult(E_OUTOFMEMORY);
      } catch (const std::length_error&) {
        RaiseHresult(E_OUTOFMEMORY);
      }
    }
    aces_.push_back(std::move(entry));
  }
}

}  // namespace ATL
