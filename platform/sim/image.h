// Reading and writing the sections of a machine image (docs/machine-image.md).
// Each part of the machine loads and stores its own section, next to the code
// that implements its calls.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/control.h"
#include "platform/sim/machine.h"

namespace sim::image {

// One line of a section: blanks around it and comment lines are gone.
struct Line {
  unsigned number = 0;
  std::string text;
};

struct Section {
  std::string name;  // without the brackets
  unsigned number = 0;
  std::vector<Line> lines;
};

// Refuses the image at `line`. The file name is added by the caller.
[[noreturn]] void Refuse(unsigned line, std::string message);

// "name = value", split at the first '='; both sides trimmed. Refuses a line
// without '=' or with an empty name.
std::pair<std::string, std::string> NameValue(const Line& line);

// A 32-bit number written in decimal or as 0x followed by hex digits.
DWORD Number(const Line& line, std::string_view text);

// Blanks and tabs trimmed from both ends.
std::string_view Trim(std::string_view text);

// Splits at runs of blanks.
std::vector<std::string> Words(std::string_view text);

// "0x%08X"
std::string Hex(DWORD value);

void LoadVersion(Machine& machine, const Section& section);
void StoreVersion(const Machine& machine, std::string& out);

// Loads [token] (the process token) or [thread-token].
void LoadToken(Machine& machine, const Section& section, bool threadToken);
void StoreTokens(const Machine& machine, std::string& out);

void LoadRegistry(Machine& machine, const Section& section);
void StoreRegistry(const Machine& machine, std::string& out);

// [events]: changes the registry undergoes while the tool runs.
void LoadRegistryEvents(Machine& machine, const Section& section);
void StoreRegistryEvents(const Machine& machine, std::string& out);

void LoadFailures(Machine& machine, const Section& section);
void StoreFailures(const Machine& machine, std::string& out);

}  // namespace sim::image
