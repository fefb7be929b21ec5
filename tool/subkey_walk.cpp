#include "tool/subkey_walk.h"

#include <cstdio>

#include "error/com_error.h"
#include "tool/object_security.h"

namespace tessaroot {

ATL::CDacl EmptyDacl;

namespace {

// A newly constructed CDacl already stands for an empty DACL; making it empty
// explicitly keeps that true whatever the class's construction does.
const bool kEmptyDaclPrepared = (EmptyDacl.MakeEmpty(), true);

constexpr DWORD kNameCapacity = 260;

void ResetSubkey(const KeyHolder& parent, LPCWSTR name) {
  KeyHolder subkey;
  RaiseIfFailed(HresultFromWin32(subkey.OpenKey(parent.Handle(), name, WRITE_OWNER)));
  if (!SetObjectOwner(subkey.Handle(), SE_REGISTRY_KEY, ATL::AdministratorsSid())) {
    RaiseLastError();
  }
  if (!SetObjectGroup(subkey.Handle(), SE_REGISTRY_KEY, ATL::LocalSystemSid())) {
    RaiseLastError();
  }
  subkey.CloseKey();

  RaiseIfFailed(HresultFromWin32(subkey.OpenKey(parent.Handle(), name, WRITE_DAC)));
  if (!SetObjectDacl(subkey.Handle(), SE_REGISTRY_KEY, EmptyDacl, UNPROTECTED_DACL_SECURITY_INFORMATION)) {
    RaiseLastError();
  }
  subkey.CloseKey();

  RaiseIfFailed(HresultFromWin32(subkey.OpenKey(parent.Handle(), name, KEY_ENUMERATE_SUB_KEYS)));
  ResetSubkeys(subkey);
}

}  // namespace

void ResetSubkeys(const KeyHolder& parent) {
  (void)kEmptyDaclPrepared;
  WCHAR name[kNameCapacity];
  for (DWORD index = 0;;) {
    DWORD length = kNameCapacity;
    const LONG status = ::RegEnumKeyExW(parent.Handle(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    ++index;
    if (status == ERROR_NO_MORE_ITEMS) {
      return;
    }
    RaiseIfFailed(HresultFromWin32(status));
    try {
      ResetSubkey(parent, name);
    } catch (const _com_error& error) {
      std::fwprintf(stderr, L"Error 0x%08x processing subkey %ls: %ls\n", static_cast<unsigned int>(error.Hresult()),
                    name, error.MessageText());
    }
  }
}

}  // namespace tessaroot
