#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>

#include "platform/sim/registry_state.h"

namespace sim {
namespace {

// The hives fold case with the system's upcase table. ASCII and Latin-1 are
// folded here exactly; other characters go through the C library.
char32_t Upcase(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c <= 0xFF) return c;
  return static_cast<char32_t>(std::towupper(static_cast<std::wint_t>(c)));
}

// Names are ordered by UTF-16 code unit, so a character beyond the BMP sorts
// as its surrogate pair. Reads one unit at a time: lookups compare a lot.
class FoldedUnits {
 public:
  explicit FoldedUnits(std::wstring_view name) : name_(name) {}
  // The next unit, or -1 at the end.
  long Next() {
    if (low_ != 0) return std::exchange(low_, 0);
    if (at_ == name_.size()) return -1;
    char32_t c = Upcase(static_cast<char32_t>(name_[at_++]));
    if (c <= 0xFFFF) return static_cast<long>(c);
    c -= 0x10000;
    low_ = static_cast<long>(0xDC00 + (c & 0x3FF));
    return static_cast<long>(0xD800 + (c >> 10));
  }

 private:
  std::wstring_view name_;
  std::size_t at_ = 0;
  long low_ = 0;
};

}  // namespace

int CompareKeyNames(std::wstring_view a, std::wstring_view b) {
  FoldedUnits left(a), right(b);
  for (;;) {
    const long x = left.Next(), y = right.Next();
    if (x != y) return x < y ? -1 : 1;
    if (x < 0) return 0;
  }
}

bool ValidKeyName(std::wstring_view name) {
  if (name.empty() || name.size() > kMaxKeyNameLength) return false;
  return name.find_first_of(std::wstring_view(L"\\\0", 2)) == std::wstring_view::npos;
}

std::optional<std::vector<std::wstring_view>> SplitKeyPath(std::wstring_view path) {
  std::vector<std::wstring_view> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find(L'\\', start);
    std::wstring_view part = path.substr(start, end == std::wstring_view::npos ? end : end - start);
    if (part.empty()) return std::nullopt;
    parts.push_back(part);
    if (end == std::wstring_view::npos) return parts;
    start = end + 1;
  }
}

const RegistryKey* RegistryState::Key(KeyId id) const {
  auto it = keys.find(id);
  return it == keys.end() ? nullptr : &it->second;
}

RegistryKey* RegistryState::Key(KeyId id) {
  auto it = keys.find(id);
  return it == keys.end() ? nullptr : &it->second;
}

std::optional<KeyId> RegistryState::Child(KeyId parent, std::wstring_view name) const {
  const RegistryKey* key = Key(parent);
  if (key == nullptr) return std::nullopt;
  auto it = std::lower_bound(key->children.begin(), key->children.end(), name,
                             [this](KeyId child, std::wstring_view wanted) {
                               return CompareKeyNames(Key(child)->name, wanted) < 0;
                             });
  if (it == key->children.end() || CompareKeyNames(Key(*it)->name, name) != 0) return std::nullopt;
  return *it;
}

std::optional<KeyId> RegistryState::Find(std::wstring_view path) const {
  auto parts = SplitKeyPath(path);
  if (!parts) return std::nullopt;
  KeyId id = kMachineKey;
  for (std::wstring_view part : *parts) {
    auto child = Child(id, part);
    if (!child) return std::nullopt;
    id = *child;
  }
  return id;
}

std::wstring RegistryState::PathOf(KeyId id) const {
  std::wstring path;
  for (const RegistryKey* key = Key(id); key != nullptr && id != kMachineKey; key = Key(id)) {
    path = path.empty() ? key->name : key->name + L'\\' + path;
    id = key->parent;
  }
  return path;
}

std::size_t RegistryState::Depth(KeyId id) const {
  std::size_t depth = 0;
  for (const RegistryKey* key = Key(id); key != nullptr && id != kMachineKey; key = Key(id)) {
    ++depth;
    id = key->parent;
  }
  return depth;
}

std::vector<std::pair<KeyId, std::wstring>> RegistryState::Subtree(KeyId top) const {
  std::vector<std::pair<KeyId, std::wstring>> result;
  // Without recursion: trees may be as deep as the platform allows.
  std::vector<std::pair<KeyId, std::wstring>> pending{{top, PathOf(top)}};
  while (!pending.empty()) {
    auto [id, path] = std::move(pending.back());
    pending.pop_back();
    const RegistryKey& key = *Key(id);
    for (auto it = key.children.rbegin(); it != key.children.rend(); ++it) {
      const std::wstring& name = Key(*it)->name;
      pending.emplace_back(*it, path.empty() ? name : path + L'\\' + name);
    }
    if (id != top) result.emplace_back(id, std::move(path));
  }
  return result;
}

KeyId RegistryState::Add(KeyId parent, std::wstring name, SecurityModel security) {
  KeyId id = nextKey++;
  RegistryKey key;
  key.name = std::move(name);
  key.security = std::move(security);
  key.parent = parent;
  std::vector<KeyId>& siblings = Key(parent)->children;
  auto at = std::lower_bound(siblings.begin(), siblings.end(), key.name, [this](KeyId child, const std::wstring& wanted) {
    return CompareKeyNames(Key(child)->name, wanted) < 0;
  });
  siblings.insert(at, id);
  keys.emplace(id, std::move(key));
  return id;
}

std::string RegistryState::AddPath(std::wstring_view path, SecurityModel security) {
  auto parts = SplitKeyPath(path);
  if (!parts || parts->empty()) return "not a key path: empty name or stray backslash";
  for (std::wstring_view part : *parts) {
    if (!ValidKeyName(part)) return "key name over " + std::to_string(kMaxKeyNameLength) + " characters or holding a NUL";
  }
  if (parts->size() > kMaxKeyDepth) return "key deeper than " + std::to_string(kMaxKeyDepth) + " levels";
  const std::wstring_view name = parts->back();
  const std::wstring_view parentPath = path.substr(0, path.size() - name.size() - (parts->size() > 1 ? 1 : 0));
  auto parent = Find(parentPath);
  if (!parent) return "parent key is missing";
  if (Child(*parent, name)) return "key exists already";
  Add(*parent, std::wstring(name), std::move(security));
  return {};
}

void RegistryState::Remove(KeyId id) {
  RegistryKey* key = Key(id);
  if (key == nullptr || id == kMachineKey) return;
  std::vector<KeyId>& siblings = Key(key->parent)->children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
  // Iterative, so that a tree as deep as the platform allows cannot exhaust the stack.
  std::vector<KeyId> doomed{id};
  while (!doomed.empty()) {
    KeyId next = doomed.back();
    doomed.pop_back();
    auto it = keys.find(next);
    doomed.insert(doomed.end(), it->second.children.begin(), it->second.children.end());
    keys.erase(it);
  }
}

}  // namespace sim
