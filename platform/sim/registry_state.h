// The simulated machine's registry: the tree of keys under HKEY_LOCAL_MACHINE,
// each with its security descriptor, and the open key handles.
//
// The state is a plain value: copying a Machine copies its registry, handles
// included. Keys are addressed by a KeyId that is never reused, so a handle
// whose key was deleted keeps a dangling id and reports ERROR_KEY_DELETED.
// Tests build and read the tree through registry_control.h; the Win32 calls
// and the image code use the members below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/security_model.h"
#include "platform/sim/win32.h"

namespace sim {

using KeyId = std::uint64_t;

// HKEY_LOCAL_MACHINE itself: always present, no name, no security of its own
// (nothing inherits from it).
inline constexpr KeyId kMachineKey = 0;

// The platform's limits on key names and nesting below HKEY_LOCAL_MACHINE.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxKeyDepth = 512;

struct RegistryKey {
  std::wstring name;  // as created; compared without case
  SecurityModel security;
  KeyId parent = kMachineKey;
  std::vector<KeyId> children;  // enumeration order: sorted without case
};

struct RegistryHandle {
  KeyId key = kMachineKey;
  std::wstring path;  // the key's path when opened: logs and rules still name it after deletion
  ACCESS_MASK access = 0;  // the rights the access check granted
};

// A change the registry undergoes while the tool runs ([events] in images).
struct VanishEvent {
  std::wstring path;   // deleted with its subtree right after RegEnumKeyExW first returns its name
  bool fired = false;
};

struct RegistryState {
  std::map<KeyId, RegistryKey> keys{{kMachineKey, RegistryKey{}}};
  KeyId nextKey = 1;

  // Handle value -> open key. Values live apart from token handles and the
  // predefined HKEY_* values.
  std::map<std::uintptr_t, RegistryHandle> handles;
  std::uintptr_t nextHandle = 0x00A00000;

  std::vector<VanishEvent> events;

  // Key handles that have been opened and not yet closed.
  std::size_t OpenHandles() const { return handles.size(); }

  // Null when `id` names no live key.
  const RegistryKey* Key(KeyId id) const;
  RegistryKey* Key(KeyId id);

  // The child of `parent` named `name` (without case), if any.
  std::optional<KeyId> Child(KeyId parent, std::wstring_view name) const;
  // The key at `path` below HKEY_LOCAL_MACHINE ("" is HKEY_LOCAL_MACHINE).
  std::optional<KeyId> Find(std::wstring_view path) const;
  // "SOFTWARE\Classes" for a live key; "" for HKEY_LOCAL_MACHINE.
  std::wstring PathOf(KeyId id) const;
  // Components between the key and HKEY_LOCAL_MACHINE (1 for its children).
  std::size_t Depth(KeyId id) const;

  // The keys below `top` with their paths, depth-first in enumeration order
  // (as images store them).
  std::vector<std::pair<KeyId, std::wstring>> Subtree(KeyId top) const;

  // Adds a child; the caller has checked the name (ValidKeyName), the depth
  // and that no sibling has the same name.
  KeyId Add(KeyId parent, std::wstring name, SecurityModel security);
  // Adds the key at `path` below HKEY_LOCAL_MACHINE, whose parent must exist.
  // Returns why the platform could not hold such a key ("parent key ... is
  // missing", "key ... exists", name or depth over the limits), or "" when added.
  std::string AddPath(std::wstring_view path, SecurityModel security);
  // Deletes a key and its subtree; handles open on them stay and dangle.
  // HKEY_LOCAL_MACHINE itself cannot be removed.
  void Remove(KeyId id);
};

// A key name the platform accepts: 1 to 255 characters, no backslash, no NUL.
bool ValidKeyName(std::wstring_view name);

// Compares key names as the hives order them: without case, by UTF-16 code
// unit. <0, 0 or >0.
int CompareKeyNames(std::wstring_view a, std::wstring_view b);

// Splits a path at backslashes. nullopt when a component is empty (leading,
// doubled or trailing backslash) — "" gives no components.
std::optional<std::vector<std::wstring_view>> SplitKeyPath(std::wstring_view path);

}  // namespace sim
