// The simulated machine's system message table.
#pragma once

#include <optional>
#include <string>

#include "platform/sim/machine.h"

namespace sim {

// The text FormatMessageW finds for `id` on `machine`: the machine's own
// entry when it has one, else the built-in table. HRESULTs of facility Win32
// find the text of their Win32 code. Texts end in CR LF; nullopt: none.
std::optional<std::wstring> SystemMessage(const Machine& machine, DWORD id);

}  // namespace sim
