// The one way the rest of tessaroot reaches Windows.
//
// On Windows this is the SDK: the shipped executable calls advapi32, kernel32
// and user32 by their own names. Everywhere else the same names are declared by
// the simulated NT 5.x machine in platform/sim, which is linked in their place.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <string.h>  // memcpy_s, memmove_s
#else
#include "platform/sim/win32.h"
#endif

#include "platform/owners.h"
