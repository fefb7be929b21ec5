#include "platform/sim/registry_control.h"

#include <stdexcept>

#include "platform/sim/control.h"
#include "platform/sim/registry_rules.h"

namespace sim {
namespace {

KeyId ExistingKey(const Machine& machine, std::wstring_view path) {
  auto id = machine.registry.Find(path);
  if (!id || *id == kMachineKey) throw std::out_of_range("no registry key '" + Narrow(path) + "'");
  return *id;
}

SecurityModel ParsedSddl(std::wstring_view sddl) {
  auto security = ParseSddl(sddl);
  if (!security) throw std::invalid_argument("not a security descriptor: '" + Narrow(sddl) + "'");
  return *security;
}

}  // namespace

void AddKey(Machine& machine, std::wstring_view path, std::wstring_view sddl) {
  AddKey(machine, path, ParsedSddl(sddl));
}

void AddKey(Machine& machine, std::wstring_view path, const SecurityModel& security) {
  std::string problem = machine.registry.AddPath(path, security);
  if (!problem.empty()) throw std::invalid_argument("cannot add '" + Narrow(path) + "': " + problem);
}

bool DeleteKey(Machine& machine, std::wstring_view path) {
  auto id = machine.registry.Find(path);
  if (!id || *id == kMachineKey) return false;
  machine.registry.Remove(*id);
  return true;
}

bool KeyExists(const Machine& machine, std::wstring_view path) {
  auto id = machine.registry.Find(path);
  return id && *id != kMachineKey;
}

const SecurityModel& KeySecurity(const Machine& machine, std::wstring_view path) {
  return machine.registry.Key(ExistingKey(machine, path))->security;
}

std::wstring KeySddl(const Machine& machine, std::wstring_view path) { return FormatSddl(KeySecurity(machine, path)); }

void SetKeySddl(Machine& machine, std::wstring_view path, std::wstring_view sddl) {
  machine.registry.Key(ExistingKey(machine, path))->security = ParsedSddl(sddl);
}

std::vector<std::wstring> ListKeys(const Machine& machine, std::wstring_view path) {
  auto top = machine.registry.Find(path);
  if (!top) throw std::out_of_range("no registry key '" + Narrow(path) + "'");
  std::vector<std::wstring> paths;
  for (auto& [id, keyPath] : machine.registry.Subtree(*top)) paths.push_back(std::move(keyPath));
  return paths;
}

std::vector<std::wstring> ChildNames(const Machine& machine, std::wstring_view path) {
  auto id = machine.registry.Find(path);
  if (!id) throw std::out_of_range("no registry key '" + Narrow(path) + "'");
  std::vector<std::wstring> names;
  for (KeyId child : machine.registry.Key(*id)->children) names.push_back(machine.registry.Key(child)->name);
  return names;
}

ACCESS_MASK EffectiveAccess(const Machine& machine, std::wstring_view path, const Token& token) {
  return CheckKeyAccess(KeySecurity(machine, path), token, MAXIMUM_ALLOWED).granted;
}

std::wstring InheritedDaclSddl(const Machine& machine, std::wstring_view path) {
  const RegistryKey& key = *machine.registry.Key(ExistingKey(machine, path));
  SecurityModel inherited;
  inherited.daclPresent = true;
  inherited.control = SE_DACL_PRESENT;
  inherited.dacl = InheritedEntries(machine.registry, key);
  return FormatSddl(inherited);
}

void VanishAfterEnumeration(Machine& machine, std::wstring_view path) {
  machine.registry.events.push_back(VanishEvent{std::wstring(path), false});
}

}  // namespace sim
