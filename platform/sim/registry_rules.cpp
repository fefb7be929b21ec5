#include "platform/sim/registry_rules.h"

#include <algorithm>

namespace sim {
namespace {

constexpr ACCESS_MASK kGenericRights = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

bool IsCreatorSid(const SidBytes& sid, DWORD rid) { return SameSid(sid, MakeSid(3, {rid})); }

// Explicit entries of the key's current or new DACL, then what it inherits.
AclModel MergeInherited(const RegistryState& registry, const RegistryKey& key, const AclModel& dacl) {
  AclModel merged = ExplicitEntries(dacl);
  AclModel inherited = InheritedEntries(registry, key);
  if (!inherited.aces.empty()) merged.revision = std::max(merged.revision, inherited.revision);
  merged.aces.insert(merged.aces.end(), inherited.aces.begin(), inherited.aces.end());
  return merged;
}

}  // namespace

ACCESS_MASK MapKeyGenericRights(ACCESS_MASK mask) {
  ACCESS_MASK mapped = mask & ~kGenericRights;
  if (mask & GENERIC_READ) mapped |= KEY_READ;
  if (mask & GENERIC_WRITE) mapped |= KEY_WRITE;
  if (mask & GENERIC_EXECUTE) mapped |= KEY_EXECUTE;
  if (mask & GENERIC_ALL) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

AccessResult CheckKeyAccess(const SecurityModel& security, const Token& token, ACCESS_MASK desiredIn) {
  ACCESS_MASK desired = MapKeyGenericRights(desiredIn);
  const bool maximum = (desired & MAXIMUM_ALLOWED) != 0;
  desired &= ~MAXIMUM_ALLOWED;

  // Rights that come before the DACL is read; no deny entry takes them away.
  ACCESS_MASK granted = 0;
  if (desired & ACCESS_SYSTEM_SECURITY) {
    if (!token.PrivilegeEnabled(L"SeSecurityPrivilege")) return {ERROR_PRIVILEGE_NOT_HELD, 0};
    granted |= ACCESS_SYSTEM_SECURITY;
  }
  if ((desired & WRITE_OWNER) && token.PrivilegeEnabled(SE_TAKE_OWNERSHIP_NAME)) granted |= WRITE_OWNER;
  if (security.owner && token.Matches(*security.owner, false)) granted |= READ_CONTROL | WRITE_DAC;

  if (!security.daclPresent || !security.dacl) {
    granted |= maximum ? (KEY_ALL_ACCESS | desired) : desired;
  } else {
    ACCESS_MASK denied = 0;
    for (const AceModel& ace : security.dacl->aces) {
      if (!maximum && (desired & ~granted) == 0) break;
      if (ace.flags & INHERIT_ONLY_ACE) continue;
      bool allow;
      switch (ace.type) {
        case ACCESS_ALLOWED_ACE_TYPE: allow = true; break;
        case ACCESS_DENIED_ACE_TYPE: allow = false; break;
        // Without an object type list, only object entries that name no
        // object type take part.
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE: allow = true; if (ace.objectType) continue; break;
        case ACCESS_DENIED_OBJECT_ACE_TYPE: allow = false; if (ace.objectType) continue; break;
        default: continue;
      }
      if (!token.Matches(ace.sid, !allow)) continue;
      const ACCESS_MASK mask = MapKeyGenericRights(ace.mask) & ~(ACCESS_SYSTEM_SECURITY | MAXIMUM_ALLOWED);
      if (maximum) {
        if (allow) granted |= mask & ~denied;
        else denied |= mask & ~granted;
      } else if (allow) {
        granted |= mask & desired;
      } else if (mask & desired & ~granted) {
        return {ERROR_ACCESS_DENIED, 0};
      }
    }
  }

  if (desired & ~granted) return {ERROR_ACCESS_DENIED, 0};
  if (!maximum) return {ERROR_SUCCESS, desired};
  if (granted == 0) return {ERROR_ACCESS_DENIED, 0};
  return {ERROR_SUCCESS, granted};
}

AclModel InheritedEntries(const RegistryState& registry, const RegistryKey& key) {
  // HKEY_LOCAL_MACHINE, a descriptor without DACL and a null DACL hand down nothing.
  std::optional<AclModel> parentDacl;
  if (key.parent != kMachineKey) {
    const SecurityModel& parent = registry.Key(key.parent)->security;
    if (parent.daclPresent) parentDacl = parent.dacl;
  }
  return InheritedEntries(parentDacl, key.security);
}

AclModel ExplicitEntries(const AclModel& dacl) {
  AclModel result;
  result.revision = dacl.revision;
  for (const AceModel& ace : dacl.aces) {
    if (!(ace.flags & INHERITED_ACE)) result.aces.push_back(ace);
  }
  return result;
}

AclModel InheritedEntries(const std::optional<AclModel>& parentDacl, const SecurityModel& child) {
  AclModel result;
  if (!parentDacl) return result;
  result.revision = parentDacl->revision;
  for (const AceModel& ace : parentDacl->aces) {
    // Entries the model keeps as raw bytes (compound, audit) are not handed down.
    if (!ace.raw.empty()) continue;
    const BYTE flags = ace.flags;
    if (!(flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE))) continue;

    AceModel inheritOnly = ace;
    inheritOnly.flags = flags | INHERIT_ONLY_ACE | INHERITED_ACE;
    if (!(flags & CONTAINER_INHERIT_ACE)) {
      // Meant for values' kind of objects: a key carries it on, unused, unless it stops here.
      if (!(flags & NO_PROPAGATE_INHERIT_ACE)) result.aces.push_back(inheritOnly);
      continue;
    }

    const bool creatorOwner = IsCreatorSid(ace.sid, SECURITY_CREATOR_OWNER_RID);
    const bool creatorGroup = IsCreatorSid(ace.sid, SECURITY_CREATOR_GROUP_RID);
    AceModel effective = ace;
    effective.mask = MapKeyGenericRights(ace.mask);
    if (creatorOwner && child.owner) effective.sid = *child.owner;
    if (creatorGroup && child.group) effective.sid = *child.group;

    if (flags & NO_PROPAGATE_INHERIT_ACE) {
      effective.flags = INHERITED_ACE;
      result.aces.push_back(effective);
    } else if ((ace.mask & kGenericRights) || creatorOwner || creatorGroup) {
      effective.flags = INHERITED_ACE;
      result.aces.push_back(effective);
      result.aces.push_back(inheritOnly);
    } else {
      effective.flags = (flags & ~INHERIT_ONLY_ACE) | INHERITED_ACE;
      result.aces.push_back(effective);
    }
  }
  return result;
}

void ApplyKeyDacl(RegistryState& registry, KeyId id, const std::optional<AclModel>& dacl,
                  std::optional<bool> protect) {
  RegistryKey& key = *registry.Key(id);
  SecurityModel& security = key.security;
  const bool isProtected = protect ? *protect : (security.control & SE_DACL_PROTECTED) != 0;
  if (isProtected) {
    security.control |= SE_DACL_PROTECTED;
  } else {
    security.control &= ~SE_DACL_PROTECTED;
  }
  security.daclPresent = true;
  security.control |= SE_DACL_PRESENT;
  if (!dacl) {
    security.dacl.reset();
    security.control &= ~SE_DACL_AUTO_INHERITED;
  } else {
    security.dacl = isProtected ? ExplicitEntries(*dacl) : MergeInherited(registry, key, *dacl);
    security.control |= SE_DACL_AUTO_INHERITED;
  }
  PropagateInheritance(registry, id);
}

void PropagateInheritance(RegistryState& registry, KeyId id) {
  // Parents are recomputed before their children; iterative for deep trees.
  std::vector<KeyId> pending(registry.Key(id)->children.rbegin(), registry.Key(id)->children.rend());
  while (!pending.empty()) {
    RegistryKey& key = *registry.Key(pending.back());
    pending.pop_back();
    SecurityModel& security = key.security;
    if ((security.control & SE_DACL_PROTECTED) || !security.daclPresent || !security.dacl) continue;
    security.dacl = MergeInherited(registry, key, *security.dacl);
    security.control |= SE_DACL_AUTO_INHERITED;
    pending.insert(pending.end(), key.children.rbegin(), key.children.rend());
  }
}

}  // namespace sim
