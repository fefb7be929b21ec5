// The reset of one key, the same for the root and for every key below it.
#pragma once

#include "platform/platform.h"
#include "security/dacl.h"
#include "tool/key_holder.h"

namespace tessaroot {

// Gives the key `name` below `parent` owner Administrators and group SYSTEM
// through a handle opened only with WRITE_OWNER, then the DACL that `dacl`
// builds, with `inheritance` (PROTECTED_ or UNPROTECTED_DACL_SECURITY_INFORMATION),
// through a new handle opened only with WRITE_DAC. On return `key` holds the
// key opened only with KEY_ENUMERATE_SUB_KEYS, so that the keys below it are
// walked after it is complete. `key` must hold nothing on entry.
// Raises _com_error at the first step that fails; the key keeps what the steps
// before it changed, and whatever `key` still holds is closed when it goes.
void ResetKey(KeyHolder& key, HKEY parent, LPCWSTR name, ATL::CDacl& dacl, SECURITY_INFORMATION inheritance);

}  // namespace tessaroot
