// The test-control API of the simulated registry: build a tree of keys, read
// their security as canonical SDDL, and ask what the platform's access check
// and inheritance would make of them. None of these functions goes through
// the Win32 surface: they log no calls and no failure rule touches them.
//
// Paths are below HKEY_LOCAL_MACHINE ("SOFTWARE\Classes"), compared without
// case. Functions that change the tree throw std::invalid_argument with the
// reason when the platform would not have such a key; readers throw
// std::out_of_range for a path that names no key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/security_model.h"
#include "platform/sim/token_state.h"

namespace sim {

// Adds the key at `path`; its parent must exist. The descriptor is taken as
// given: nothing is inherited, nothing propagated.
void AddKey(Machine& machine, std::wstring_view path, std::wstring_view sddl);
void AddKey(Machine& machine, std::wstring_view path, const SecurityModel& security);

// Deletes the key and its subtree; false when there is no such key. Open
// handles on them then report ERROR_KEY_DELETED.
bool DeleteKey(Machine& machine, std::wstring_view path);

bool KeyExists(const Machine& machine, std::wstring_view path);

// The key's descriptor as the machine holds it.
const SecurityModel& KeySecurity(const Machine& machine, std::wstring_view path);
// The same as canonical SDDL (sim::FormatSddl).
std::wstring KeySddl(const Machine& machine, std::wstring_view path);

// Replaces the key's descriptor as given, with no inheritance or propagation.
void SetKeySddl(Machine& machine, std::wstring_view path, std::wstring_view sddl);

// The paths of the keys below `path` ("" for all), depth-first in
// enumeration order, as the image stores them.
std::vector<std::wstring> ListKeys(const Machine& machine, std::wstring_view path = L"");

// The names of the key's direct children in enumeration order, as created.
std::vector<std::wstring> ChildNames(const Machine& machine, std::wstring_view path);

// The rights the access check grants `token` on the key for MAXIMUM_ALLOWED
// (0 when it grants none). Rights that only a privilege brings are not in it.
ACCESS_MASK EffectiveAccess(const Machine& machine, std::wstring_view path, const Token& token);

// The entries the key would inherit from its parent as things stand, as
// SDDL of a DACL with only those entries ("D:(A;ID;KR;;;BU)...").
std::wstring InheritedDaclSddl(const Machine& machine, std::wstring_view path);

// Deletes the key and its subtree right after RegEnumKeyExW first returns its
// name, as another program would between the tool's enumeration and open.
void VanishAfterEnumeration(Machine& machine, std::wstring_view path);

}  // namespace sim
