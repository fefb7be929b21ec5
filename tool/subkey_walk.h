// The walk that gives every key below an open key the standard owner and
// group and an empty DACL that inherits from its parent.
#pragma once

#include "security/dacl.h"
#include "tool/key_holder.h"

namespace tessaroot {

// The DACL every key below the root receives: empty (not null), revision 2,
// no entries. Made empty during static initialisation; its binary ACL is
// built at the first subkey and shared by all the others.
extern ATL::CDacl EmptyDacl;

// Visits every key below `parent`, parents before children. Each subkey gets
// owner Administrators and group SYSTEM through a WRITE_OWNER handle, then
// EmptyDacl with inheritance switched on through a WRITE_DAC handle, then its
// own subkeys through a KEY_ENUMERATE_SUB_KEYS handle. A subkey that fails is
// reported on standard error as one line with its name, keeps what was done
// to it, its subkeys are not visited, and the walk goes on with its next
// sibling. `parent` must allow KEY_ENUMERATE_SUB_KEYS; raises _com_error when
// enumerating `parent` itself fails (what was reset so far stays reset).
void ResetSubkeys(const KeyHolder& parent);

}  // namespace tessaroot
