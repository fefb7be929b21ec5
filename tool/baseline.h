// The security that the supported editions install on the class
// registration tree's root, and the choice among them.
#pragma once

#include "platform/platform.h"

namespace tessaroot {

extern const WCHAR SddlWindows2000Professional[];
extern const WCHAR SddlWindowsXpHome[];
extern const WCHAR SddlWindowsXpProfessional[];

// The baseline SDDL text of the running edition; static, valid for the whole
// run. Queries the version on every call. Raises CO_E_WRONGOSFORAPP for any
// system that is not Windows 2000 Professional, XP Home or XP Professional,
// including when the version query itself fails.
const WCHAR* SelectBaselineSddl();

}  // namespace tessaroot
