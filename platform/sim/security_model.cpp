// Binary SIDs, ACLs and security descriptors of the simulated machine.
#include "platform/sim/security_model.h"

#include <cstring>

#include "platform/sim/security_detail.h"

namespace sim {

using detail::AlignUp4;
using detail::Load16;
using detail::Load32;
using detail::Store16;
using detail::Store32;

// ---------------------------------------------------------------- SIDs

bool ValidSid(const void* sid) {
  if (sid == nullptr) return false;
  const BYTE* p = static_cast<const BYTE*>(sid);
  return p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD SidLength(const void* sid) {
  if (sid == nullptr) return 0;
  return detail::kSidHeaderSize + 4u * static_cast<const BYTE*>(sid)[1];
}

bool SameSid(const SidBytes& a, const SidBytes& b) {
  return ValidSid(a.data()) && ValidSid(b.data()) && a.size() >= SidLength(a.data()) &&
         b.size() >= SidLength(b.data()) && SidLength(a.data()) == SidLength(b.data()) &&
         std::memcmp(a.data(), b.data(), SidLength(a.data())) == 0;
}

SidBytes MakeSid(std::uint64_t authority, std::initializer_list<DWORD> subAuthorities) {
  SidBytes sid(detail::kSidHeaderSize + 4 * subAuthorities.size());
  sid[0] = SID_REVISION;
  sid[1] = static_cast<BYTE>(subAuthorities.size());
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
  std::size_t offset = detail::kSidHeaderSize;
  for (DWORD sub : subAuthorities) {
    Store32(&sid[offset], sub);
    offset += 4;
  }
  return sid;
}

namespace {

SidBytes CopyOfSid(const BYTE* sid) { return SidBytes(sid, sid + SidLength(sid)); }

// A SID that must lie within `room` bytes.
std::optional<SidBytes> SidWithin(const BYTE* sid, DWORD room) {
  if (room < detail::kSidHeaderSize || !ValidSid(sid) || SidLength(sid) > room) return std::nullopt;
  return CopyOfSid(sid);
}

bool IsPlainLayout(BYTE type) { return type <= SYSTEM_ALARM_ACE_TYPE; }
bool IsObjectLayout(BYTE type) {
  return type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE;
}

GUID LoadGuid(const BYTE* p) {
  GUID guid;
  std::memcpy(&guid, p, sizeof guid);
  return guid;
}

std::optional<AceModel> DecodeAce(const BYTE* ace, DWORD size) {
  AceModel model;
  model.type = ace[0];
  model.flags = ace[1];
  if (IsPlainLayout(model.type)) {
    if (size < 8) return std::nullopt;
    model.mask = Load32(ace + 4);
    auto sid = SidWithin(ace + 8, size - 8);
    if (!sid) return std::nullopt;
    model.sid = std::move(*sid);
  } else if (IsObjectLayout(model.type)) {
    if (size < 12) return std::nullopt;
    model.mask = Load32(ace + 4);
    DWORD flags = Load32(ace + 8);
    DWORD offset = 12;
    if (flags & ACE_OBJECT_TYPE_PRESENT) {
      if (size < offset + 16) return std::nullopt;
      model.objectType = LoadGuid(ace + offset);
      offset += 16;
    }
    if (flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) {
      if (size < offset + 16) return std::nullopt;
      model.inheritedObjectType = LoadGuid(ace + offset);
      offset += 16;
    }
    auto sid = SidWithin(ace + offset, size - offset);
    if (!sid) return std::nullopt;
    model.sid = std::move(*sid);
  } else {
    model.raw.assign(ace, ace + size);
  }
  return model;
}

DWORD EncodedAceSize(const AceModel& ace) {
  if (IsPlainLayout(ace.type)) return 8 + static_cast<DWORD>(ace.sid.size());
  if (IsObjectLayout(ace.type)) {
    return 12 + 16 * (ace.objectType.has_value() + ace.inheritedObjectType.has_value()) +
           static_cast<DWORD>(ace.sid.size());
  }
  return static_cast<DWORD>(ace.raw.size());
}

void EncodeAce(const AceModel& ace, BYTE* out) {
  DWORD size = EncodedAceSize(ace);
  if (!IsPlainLayout(ace.type) && !IsObjectLayout(ace.type)) {
    std::memcpy(out, ace.raw.data(), size);
    return;
  }
  out[0] = ace.type;
  out[1] = ace.flags;
  Store16(out + 2, static_cast<WORD>(size));
  Store32(out + 4, ace.mask);
  DWORD offset = 8;
  if (IsObjectLayout(ace.type)) {
    DWORD flags = 0;
    offset = 12;
    if (ace.objectType) {
      flags |= ACE_OBJECT_TYPE_PRESENT;
      std::memcpy(out + offset, &*ace.objectType, 16);
      offset += 16;
    }
    if (ace.inheritedObjectType) {
      flags |= ACE_INHERITED_OBJECT_TYPE_PRESENT;
      std::memcpy(out + offset, &*ace.inheritedObjectType, 16);
      offset += 16;
    }
    Store32(out + 8, flags);
  }
  std::memcpy(out + offset, ace.sid.data(), ace.sid.size());
}

}  // namespace

// ---------------------------------------------------------------- ACLs

namespace detail {

bool AclRevisionInRange(DWORD revision) { return revision >= MIN_ACL_REVISION && revision <= MAX_ACL_REVISION; }

DWORD RevisionForAceType(BYTE type) {
  if (type <= SYSTEM_ALARM_ACE_TYPE) return ACL_REVISION2;
  if (type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE) return ACL_REVISION3;
  return ACL_REVISION4;
}

std::optional<DWORD> AclBytesInUse(const ACL* acl) {
  const BYTE* base = reinterpret_cast<const BYTE*>(acl);
  DWORD aclSize = Load16(base + 2);
  WORD count = Load16(base + 4);
  if (aclSize < kAclHeaderSize) return std::nullopt;
  DWORD offset = kAclHeaderSize;
  for (WORD i = 0; i < count; ++i) {
    if (aclSize - offset < kAceHeaderSize) return std::nullopt;
    DWORD aceSize = Load16(base + offset + 2);
    if (aceSize < kAceHeaderSize || aceSize > aclSize - offset) return std::nullopt;
    offset += aceSize;
  }
  return offset;
}

}  // namespace detail

std::optional<AclModel> ReadAcl(const ACL* acl) {
  if (acl == nullptr) return std::nullopt;
  const BYTE* base = reinterpret_cast<const BYTE*>(acl);
  AclModel model;
  model.revision = base[0];
  if (!detail::AclRevisionInRange(model.revision) || !detail::AclBytesInUse(acl)) return std::nullopt;
  WORD count = Load16(base + 4);
  DWORD offset = detail::kAclHeaderSize;
  for (WORD i = 0; i < count; ++i) {
    const BYTE* ace = base + offset;
    DWORD aceSize = Load16(ace + 2);
    if (detail::RevisionForAceType(ace[0]) > model.revision) return std::nullopt;
    auto decoded = DecodeAce(ace, aceSize);
    if (!decoded) return std::nullopt;
    model.aces.push_back(std::move(*decoded));
    offset += aceSize;
  }
  return model;
}

std::vector<BYTE> WriteAcl(const AclModel& model) {
  DWORD size = detail::kAclHeaderSize;
  for (const AceModel& ace : model.aces) size += EncodedAceSize(ace);
  std::vector<BYTE> acl(size);
  acl[0] = model.revision;
  Store16(&acl[2], static_cast<WORD>(size));
  Store16(&acl[4], static_cast<WORD>(model.aces.size()));
  DWORD offset = detail::kAclHeaderSize;
  for (const AceModel& ace : model.aces) {
    EncodeAce(ace, &acl[offset]);
    offset += EncodedAceSize(ace);
  }
  return acl;
}

// ---------------------------------------------------------------- descriptors

namespace detail {

DescriptorParts PartsOf(const void* descriptor) {
  DescriptorParts parts;
  const BYTE* base = static_cast<const BYTE*>(descriptor);
  parts.revision = base[0];
  parts.control = Load16(base + 2);
  if (parts.control & SE_SELF_RELATIVE) {
    auto at = [base](DWORD offset) -> const void* { return offset == 0 ? nullptr : base + offset; };
    parts.owner = at(Load32(base + 4));
    parts.group = at(Load32(base + 8));
    parts.sacl = static_cast<const ACL*>(at(Load32(base + 12)));
    parts.dacl = static_cast<const ACL*>(at(Load32(base + 16)));
  } else {
    SECURITY_DESCRIPTOR absolute;
    std::memcpy(&absolute, descriptor, sizeof absolute);
    parts.owner = absolute.Owner;
    parts.group = absolute.Group;
    parts.sacl = absolute.Sacl;
    parts.dacl = absolute.Dacl;
  }
  if (!(parts.control & SE_SACL_PRESENT)) parts.sacl = nullptr;
  if (!(parts.control & SE_DACL_PRESENT)) parts.dacl = nullptr;
  return parts;
}

namespace {

DWORD AclLength(const ACL* acl) { return acl ? AlignUp4(Load16(reinterpret_cast<const BYTE*>(acl) + 2)) : 0; }

}  // namespace

DWORD SelfRelativeLength(const DescriptorParts& parts) {
  return kRelativeHeaderSize + AclLength(parts.sacl) + AclLength(parts.dacl) + SidLength(parts.owner) +
         SidLength(parts.group);
}

void WriteSelfRelativeInto(const DescriptorParts& parts, BYTE* out) {
  DWORD length = SelfRelativeLength(parts);
  std::memset(out, 0, length);
  out[0] = parts.revision;
  Store16(out + 2, static_cast<WORD>(parts.control | SE_SELF_RELATIVE));
  DWORD offset = kRelativeHeaderSize;
  auto place = [&](const void* part, DWORD partLength, DWORD copyLength, DWORD field) {
    if (part == nullptr) return;
    std::memcpy(out + offset, part, copyLength);
    Store32(out + field, offset);
    offset += partLength;
  };
  auto placeAcl = [&](const ACL* acl, DWORD field) {
    if (acl) place(acl, AclLength(acl), Load16(reinterpret_cast<const BYTE*>(acl) + 2), field);
  };
  placeAcl(parts.sacl, 12);
  placeAcl(parts.dacl, 16);
  place(parts.owner, SidLength(parts.owner), SidLength(parts.owner), 4);
  place(parts.group, SidLength(parts.group), SidLength(parts.group), 8);
}

BOOL FailWith(Call& call, DWORD status) {
  SetError(status);
  call.Returns(status);
  return FALSE;
}

}  // namespace detail

std::optional<SecurityModel> ReadDescriptor(const void* descriptor) {
  if (descriptor == nullptr) return std::nullopt;
  detail::DescriptorParts parts = detail::PartsOf(descriptor);
  if (parts.revision != SECURITY_DESCRIPTOR_REVISION) return std::nullopt;
  SecurityModel model;
  auto readSid = [](const void* sid, std::optional<SidBytes>& into) {
    if (sid == nullptr) return true;
    if (!ValidSid(sid)) return false;
    into = CopyOfSid(static_cast<const BYTE*>(sid));
    return true;
  };
  if (!readSid(parts.owner, model.owner) || !readSid(parts.group, model.group)) return std::nullopt;
  model.daclPresent = (parts.control & SE_DACL_PRESENT) != 0;
  if (parts.dacl) {
    model.dacl = ReadAcl(parts.dacl);
    if (!model.dacl) return std::nullopt;
  }
  model.control = parts.control & ~(SE_SELF_RELATIVE | SE_SACL_PRESENT);
  return model;
}

std::vector<BYTE> WriteSelfRelative(const SecurityModel& model) {
  std::vector<BYTE> dacl;
  detail::DescriptorParts parts;
  parts.control = model.control & ~(SE_SELF_RELATIVE | SE_SACL_PRESENT | SE_DACL_PRESENT);
  if (model.daclPresent) {
    parts.control |= SE_DACL_PRESENT;
    if (model.dacl) {
      dacl = WriteAcl(*model.dacl);
      parts.dacl = reinterpret_cast<const ACL*>(dacl.data());
    }
  }
  if (model.owner) parts.owner = model.owner->data();
  if (model.group) parts.group = model.group->data();
  std::vector<BYTE> out(detail::SelfRelativeLength(parts));
  detail::WriteSelfRelativeInto(parts, out.data());
  return out;
}

}  // namespace sim
