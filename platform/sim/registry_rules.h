// How the simulated machine decides access to a key and what a key inherits
// from its parent: the platform's access check and container inheritance,
// applied to sim::SecurityModel. Shared by the Win32 calls (registry_api.cpp)
// and the test-control functions (registry_control.h).
#pragma once

#include "platform/sim/registry_state.h"
#include "platform/sim/security_model.h"
#include "platform/sim/token_state.h"
#include "platform/sim/win32.h"

namespace sim {

// Replaces GENERIC_READ/WRITE/EXECUTE/ALL with the key rights they stand for
// (KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS); other bits stay.
ACCESS_MASK MapKeyGenericRights(ACCESS_MASK mask);

struct AccessResult {
  DWORD status = ERROR_SUCCESS;  // ERROR_ACCESS_DENIED or ERROR_PRIVILEGE_NOT_HELD on refusal
  ACCESS_MASK granted = 0;       // the handle's rights on success
};

// The platform's access check of `desired` (generic rights and
// MAXIMUM_ALLOWED allowed) against a key's descriptor for `token`:
// - ACCESS_SYSTEM_SECURITY needs SeSecurityPrivilege, else ERROR_PRIVILEGE_NOT_HELD;
// - WRITE_OWNER asked for explicitly is granted by SeTakeOwnershipPrivilege;
// - the owner is granted READ_CONTROL and WRITE_DAC before any entry is read;
// - no DACL or a null DACL grants everything, an empty DACL nothing;
// - entries are read in order, inherit-only ones skipped; a deny entry that
//   names a requested right not yet granted refuses.
// With MAXIMUM_ALLOWED the handle gets every right the entries grant (rights
// from privileges only when asked for by name), refused when that is none.
AccessResult CheckKeyAccess(const SecurityModel& security, const Token& token, ACCESS_MASK desired);

// The entries a key with owner and group from `child` inherits from a parent
// whose DACL is `parentDacl` (null: a null DACL or none, which hand down
// nothing), all marked INHERITED_ACE, in the parent's order.
AclModel InheritedEntries(const std::optional<AclModel>& parentDacl, const SecurityModel& child);

// What `key` inherits from its parent in `registry` as things stand.
AclModel InheritedEntries(const RegistryState& registry, const RegistryKey& key);

// The entries of `dacl` that the key holds in its own right (no INHERITED_ACE).
AclModel ExplicitEntries(const AclModel& dacl);

// Gives `id` the DACL `dacl` (nullopt: a null DACL) as SetSecurityInfo does:
// `protect` true sets SE_DACL_PROTECTED and keeps only explicit entries,
// false clears it, nullopt keeps the key's protection as it was; an
// unprotected key gets its explicit entries followed by what it inherits from
// its parent. A non-null DACL is marked SE_DACL_AUTO_INHERITED. The change is
// then propagated to the keys below (PropagateInheritance).
void ApplyKeyDacl(RegistryState& registry, KeyId id, const std::optional<AclModel>& dacl,
                  std::optional<bool> protect);

// Recomputes the inherited entries of every key below `id` from its parent,
// as the platform does after a DACL change. Keys with SE_DACL_PROTECTED, and
// keys with a null DACL, are left as they are, and so are their subtrees.
void PropagateInheritance(RegistryState& registry, KeyId id);

}  // namespace sim
