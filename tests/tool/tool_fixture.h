// A current simulated machine for the tool's own tests, built from image text
// so that each test's machine reads as data.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"

namespace tool_testing {

// SOFTWARE and the class tree's root, as an XP Professional machine has them,
// with `below` (more [registry] lines) under it.
inline std::string XpImage(const std::string& below = "", const std::string& more = "") {
  return "[version]\nmajor = 5\nminor = 1\nproduct-type = 1\n"
         "[registry]\n"
         "SOFTWARE = O:BAG:SYD:(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CI;GR;;;BU)\n"
         "SOFTWARE\\Classes = O:BAG:SYD:(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CI;GR;;;BU)\n" +
         below + more;
}

class ToolTest : public ::testing::Test {
 protected:
  void Load(const std::string& image) {
    machine_ = sim::ParseImage(image, "test");
    machine_.calls.clear();
  }

  // The registry calls of the log as "Operation path mask" lines (mask in hex
  // when the call carried one), for comparing sequences.
  std::vector<std::string> RegistryCalls() const {
    std::vector<std::string> lines;
    for (const sim::CallRecord& call : machine_.calls) {
      if (call.operation.rfind("Reg", 0) != 0 && call.operation != "SetSecurityInfo") continue;
      char mask[16] = "";
      if (call.mask) std::snprintf(mask, sizeof mask, " %#x", static_cast<unsigned>(*call.mask));
      lines.push_back(call.operation + " " + sim::Narrow(call.path) + mask);
    }
    return lines;
  }

  std::string Sddl(const wchar_t* path) const { return sim::Narrow(sim::KeySddl(machine_, path)); }

  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};
};

}  // namespace tool_testing
