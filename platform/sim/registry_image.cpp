// The [registry] and [events] sections of machine images.
#include "platform/sim/image.h"
#include "platform/sim/registry_state.h"

namespace sim::image {

void LoadRegistry(Machine& machine, const Section& section) {
  for (const Line& line : section.lines) {
    // SDDL holds no '=', key names may: the last one separates them.
    const std::size_t equals = line.text.rfind('=');
    if (equals == std::string::npos) Refuse(line.number, "expected 'key path = SDDL'");
    const std::string path(Trim(std::string_view(line.text).substr(0, equals)));
    const std::string sddl(Trim(std::string_view(line.text).substr(equals + 1)));
    if (path.empty()) Refuse(line.number, "missing key path before '='");
    auto security = ParseSddl(Widen(sddl));
    if (!security) Refuse(line.number, "not a security descriptor: '" + sddl + "'");
    const std::string problem = machine.registry.AddPath(Widen(path), std::move(*security));
    if (!problem.empty()) Refuse(line.number, "key '" + path + "': " + problem);
  }
}

void StoreRegistry(const Machine& machine, std::string& out) {
  const RegistryState& registry = machine.registry;
  const auto keys = registry.Subtree(kMachineKey);
  if (keys.empty()) return;
  out += "\n[registry]\n";
  for (const auto& [id, path] : keys) {
    out += Narrow(path) + " = " + Narrow(FormatSddl(registry.Key(id)->security)) + "\n";
  }
}

void LoadRegistryEvents(Machine& machine, const Section& section) {
  for (const Line& line : section.lines) {
    auto [name, value] = NameValue(line);
    if (name != "vanish-after-enumeration") Refuse(line.number, "unknown event '" + name + "'");
    std::wstring path = Widen(value);
    auto parts = SplitKeyPath(path);
    if (!parts || parts->empty()) Refuse(line.number, "not a key path: '" + value + "'");
    machine.registry.events.push_back(VanishEvent{std::move(path), false});
  }
}

void StoreRegistryEvents(const Machine& machine, std::string& out) {
  if (machine.registry.events.empty()) return;
  out += "\n[events]\n";
  // Written back as given, fired or not, like the failure rules.
  for (const VanishEvent& event : machine.registry.events) {
    out += "vanish-after-enumeration = " + Narrow(event.path) + "\n";
  }
}

}  // namespace sim::image
