// The registry and object-security calls of the Win32 surface, acting on
// Current().registry.
#include <cstring>
#include <string>

#include "platform/sim/call.h"
#include "platform/sim/local_heap.h"
#include "platform/sim/registry_rules.h"

namespace sim {
namespace {

std::uintptr_t HandleValue(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

bool IsMachineKey(const void* handle) { return HandleValue(handle) == HandleValue(HKEY_LOCAL_MACHINE); }

// What a handle stands for; `path` is known even when `status` is an error,
// as far as the handle is known, so that logs and rules can name the key.
struct ResolvedHandle {
  DWORD status = ERROR_SUCCESS;
  KeyId key = kMachineKey;
  std::wstring path;
  ACCESS_MASK access = 0;
};

ResolvedHandle Resolve(const RegistryState& registry, const void* handle) {
  // HKEY_LOCAL_MACHINE is always open with every right to its own subkeys.
  if (IsMachineKey(handle)) return {ERROR_SUCCESS, kMachineKey, L"", KEY_ALL_ACCESS};
  auto it = registry.handles.find(HandleValue(handle));
  if (it == registry.handles.end()) return {ERROR_INVALID_HANDLE, kMachineKey, L"", 0};
  const RegistryHandle& open = it->second;
  const DWORD status = registry.Key(open.key) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  return {status, open.key, open.path, open.access};
}

// A key handle for SetSecurityInfo and GetSecurityInfo. HKEY_LOCAL_MACHINE
// carries no descriptor in this machine, so it is no such handle.
DWORD ResolveSecurable(const void* handle, SE_OBJECT_TYPE type, const ResolvedHandle& resolved) {
  if (type != SE_REGISTRY_KEY) return ERROR_INVALID_PARAMETER;
  if (IsMachineKey(handle)) return ERROR_INVALID_HANDLE;
  return resolved.status;
}

std::wstring JoinPath(const std::wstring& parent, const std::wstring& sub) {
  if (parent.empty()) return sub;
  if (sub.empty()) return parent;
  return parent + L'\\' + sub;
}

void FireVanishEvents(RegistryState& registry, KeyId enumerated) {
  for (VanishEvent& event : registry.events) {
    if (event.fired || registry.Find(event.path) != enumerated) continue;
    event.fired = true;
    registry.Remove(enumerated);
    return;
  }
}

// Absolute pointer into a self-relative block, null where the offset is 0.
template <typename T>
T* At(void* block, DWORD offset) {
  return offset == 0 ? nullptr : reinterpret_cast<T*>(static_cast<BYTE*>(block) + offset);
}

}  // namespace
}  // namespace sim

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  sim::Call call("RegOpenKeyExW");
  sim::Machine& machine = sim::Current();
  sim::RegistryState& registry = machine.registry;
  const sim::ResolvedHandle parent = sim::Resolve(registry, hKey);
  const std::wstring subKey = lpSubKey ? lpSubKey : L"";
  call.Describe(sim::JoinPath(parent.path, subKey), samDesired);
  if (auto status = call.Injected()) return static_cast<LONG>(call.Returns(*status));

  auto result = [&call](DWORD status) { return static_cast<LONG>(call.Returns(status)); };
  if (phkResult == nullptr) return result(ERROR_INVALID_PARAMETER);
  if (parent.status != ERROR_SUCCESS) return result(parent.status);
  auto parts = sim::SplitKeyPath(subKey);
  if (!parts) return result(ERROR_BAD_PATHNAME);
  sim::KeyId id = parent.key;
  for (std::wstring_view part : *parts) {
    auto child = registry.Child(id, part);
    if (!child) return result(ERROR_FILE_NOT_FOUND);
    id = *child;
  }
  if (id == sim::kMachineKey) {
    // Opening HKEY_LOCAL_MACHINE itself gives back the predefined handle.
    *phkResult = HKEY_LOCAL_MACHINE;
    return result(ERROR_SUCCESS);
  }
  const sim::AccessResult access =
      sim::CheckKeyAccess(registry.Key(id)->security, machine.tokens.Effective(), samDesired);
  if (access.status != ERROR_SUCCESS) return result(access.status);

  const std::uintptr_t handle = registry.nextHandle;
  registry.nextHandle += 4;
  registry.handles[handle] = sim::RegistryHandle{id, registry.PathOf(id), access.granted};
  *phkResult = reinterpret_cast<HKEY>(handle);
  return result(ERROR_SUCCESS);
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  (void)lpftLastWriteTime;  // keys keep no times in this machine
  sim::Call call("RegEnumKeyExW");
  sim::RegistryState& registry = sim::Current().registry;
  const sim::ResolvedHandle key = sim::Resolve(registry, hKey);
  call.Describe(key.path, std::nullopt);
  if (auto status = call.Injected()) return static_cast<LONG>(call.Returns(*status));

  auto result = [&call](DWORD status) { return static_cast<LONG>(call.Returns(status)); };
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr || (lpClass && !lpcchClass)) {
    return result(ERROR_INVALID_PARAMETER);
  }
  if (key.status != ERROR_SUCCESS) return result(key.status);
  if (!(key.access & KEY_ENUMERATE_SUB_KEYS)) return result(ERROR_ACCESS_DENIED);
  const std::vector<sim::KeyId>& children = registry.Key(key.key)->children;
  if (dwIndex >= children.size()) return result(ERROR_NO_MORE_ITEMS);
  const sim::KeyId child = children[dwIndex];
  const std::wstring& name = registry.Key(child)->name;
  // The buffer must hold the NUL as well; on failure neither it nor the length is touched.
  if (name.size() + 1 > *lpcchName) return result(ERROR_MORE_DATA);
  if (lpClass != nullptr && *lpcchClass < 1) return result(ERROR_MORE_DATA);
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr) {
    lpClass[0] = L'\0';
    *lpcchClass = 0;
  }
  sim::FireVanishEvents(registry, child);
  return result(ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  sim::Call call("RegCloseKey");
  sim::RegistryState& registry = sim::Current().registry;
  call.Describe(sim::Resolve(registry, hKey).path, std::nullopt);
  if (auto status = call.Injected()) return static_cast<LONG>(call.Returns(*status));
  if (sim::IsMachineKey(hKey)) return static_cast<LONG>(call.Returns(ERROR_SUCCESS));
  // A handle whose key was deleted still closes.
  if (registry.handles.erase(sim::HandleValue(hKey)) == 0) return static_cast<LONG>(call.Returns(ERROR_INVALID_HANDLE));
  return static_cast<LONG>(call.Returns(ERROR_SUCCESS));
}

DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                             PSID psidOwner, PSID psidGroup, PACL pDacl, PACL pSacl) {
  (void)pSacl;  // the machine keeps no SACLs; setting one only checks the right to
  sim::Call call("SetSecurityInfo");
  sim::Machine& machine = sim::Current();
  sim::RegistryState& registry = machine.registry;
  const sim::ResolvedHandle key = sim::Resolve(registry, handle);
  call.Describe(key.path, SecurityInfo);
  if (auto status = call.Injected()) return call.Returns(*status);

  if (DWORD status = sim::ResolveSecurable(handle, ObjectType, key)) return call.Returns(status);
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
  if (!(SecurityInfo & parts)) return call.Returns(ERROR_INVALID_PARAMETER);
  const bool protect = (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
  const bool unprotect = (SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION) != 0;
  if (protect && unprotect) return call.Returns(ERROR_INVALID_PARAMETER);

  const bool setOwner = SecurityInfo & OWNER_SECURITY_INFORMATION;
  const bool setGroup = SecurityInfo & GROUP_SECURITY_INFORMATION;
  const bool setDacl = SecurityInfo & DACL_SECURITY_INFORMATION;
  if ((setOwner && psidOwner == nullptr) || (setGroup && psidGroup == nullptr)) {
    return call.Returns(ERROR_INVALID_PARAMETER);
  }
  if (setOwner && !sim::ValidSid(psidOwner)) return call.Returns(ERROR_INVALID_OWNER);
  if (setGroup && !sim::ValidSid(psidGroup)) return call.Returns(ERROR_INVALID_SID);
  std::optional<sim::AclModel> dacl;
  if (setDacl && pDacl != nullptr) {
    dacl = sim::ReadAcl(pDacl);
    if (!dacl) return call.Returns(ERROR_INVALID_ACL);
  }

  ACCESS_MASK needed = 0;
  if (setOwner || setGroup) needed |= WRITE_OWNER;
  if (setDacl) needed |= WRITE_DAC;
  if (SecurityInfo & SACL_SECURITY_INFORMATION) needed |= ACCESS_SYSTEM_SECURITY;
  if ((key.access & needed) != needed) return call.Returns(ERROR_ACCESS_DENIED);

  auto sidOf = [](const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return sim::SidBytes(bytes, bytes + sim::SidLength(sid));
  };
  const sim::Token& token = machine.tokens.Effective();
  std::optional<sim::SidBytes> owner;
  if (setOwner) {
    owner = sidOf(psidOwner);
    if (!token.MayAssignOwner(*owner) && !token.PrivilegeEnabled(L"SeRestorePrivilege")) {
      return call.Returns(ERROR_INVALID_OWNER);
    }
  }

  sim::SecurityModel& security = registry.Key(key.key)->security;
  if (owner) {
    security.owner = std::move(owner);
    security.control &= ~SE_OWNER_DEFAULTED;
  }
  if (setGroup) {
    security.group = sidOf(psidGroup);
    security.control &= ~SE_GROUP_DEFAULTED;
  }
  if (setDacl) {
    security.control &= ~SE_DACL_DEFAULTED;
    std::optional<bool> protection;
    if (protect || unprotect) protection = protect;
    sim::ApplyKeyDacl(registry, key.key, dacl, protection);
  }
  return call.Returns(ERROR_SUCCESS);
}

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                             PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                             PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  sim::Call call("GetSecurityInfo");
  sim::RegistryState& registry = sim::Current().registry;
  const sim::ResolvedHandle key = sim::Resolve(registry, handle);
  call.Describe(key.path, SecurityInfo);
  if (auto status = call.Injected()) return call.Returns(*status);

  if (DWORD status = sim::ResolveSecurable(handle, ObjectType, key)) return call.Returns(status);
  // The pieces point into the descriptor block, which the caller must take to free.
  if (ppSecurityDescriptor == nullptr && (ppsidOwner || ppsidGroup || ppDacl || ppSacl)) {
    return call.Returns(ERROR_INVALID_PARAMETER);
  }
  const bool getOwner = SecurityInfo & OWNER_SECURITY_INFORMATION;
  const bool getGroup = SecurityInfo & GROUP_SECURITY_INFORMATION;
  const bool getDacl = SecurityInfo & DACL_SECURITY_INFORMATION;
  ACCESS_MASK needed = 0;
  if (getOwner || getGroup || getDacl) needed |= READ_CONTROL;
  if (SecurityInfo & SACL_SECURITY_INFORMATION) needed |= ACCESS_SYSTEM_SECURITY;
  if ((key.access & needed) != needed) return call.Returns(ERROR_ACCESS_DENIED);
  if (ppSecurityDescriptor == nullptr) return call.Returns(ERROR_SUCCESS);

  const sim::SecurityModel& security = registry.Key(key.key)->security;
  sim::SecurityModel wanted;
  if (getOwner) wanted.owner = security.owner;
  if (getGroup) wanted.group = security.group;
  if (getDacl) {
    wanted.daclPresent = security.daclPresent;
    wanted.dacl = security.dacl;
    wanted.control = security.control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED | SE_DACL_AUTO_INHERIT_REQ |
                                         SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED);
  }
  if (getOwner) wanted.control |= security.control & SE_OWNER_DEFAULTED;
  if (getGroup) wanted.control |= security.control & SE_GROUP_DEFAULTED;
  const std::vector<BYTE> bytes = sim::WriteSelfRelative(wanted);
  void* block = sim::AllocateLocalBlock(bytes.size());
  if (block == nullptr) return call.Returns(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(block, bytes.data(), bytes.size());

  const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(block);
  if (ppsidOwner) *ppsidOwner = sim::At<void>(block, header->Owner);
  if (ppsidGroup) *ppsidGroup = sim::At<void>(block, header->Group);
  if (ppDacl) *ppDacl = sim::At<ACL>(block, header->Dacl);
  if (ppSacl) *ppSacl = nullptr;
  *ppSecurityDescriptor = block;
  return call.Returns(ERROR_SUCCESS);
}
