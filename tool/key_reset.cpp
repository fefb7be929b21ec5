#include "tool/key_reset.h"

#include "error/com_error.h"
#include "security/sid.h"
#include "tool/object_security.h"

namespace tessaroot {

void ResetKey(KeyHolder& key, HKEY parent, LPCWSTR name, ATL::CDacl& dacl, SECURITY_INFORMATION inheritance) {
  RaiseIfFailed(HresultFromWin32(key.OpenKey(parent, name, WRITE_OWNER)));
  if (!SetObjectOwner(key.Handle(), SE_REGISTRY_KEY, ATL::AdministratorsSid())) {
    RaiseLastError();
  }
  if (!SetObjectGroup(key.Handle(), SE_REGISTRY_KEY, ATL::LocalSystemSid())) {
    RaiseLastError();
  }
  key.CloseKey();

  RaiseIfFailed(HresultFromWin32(key.OpenKey(parent, name, WRITE_DAC)));
  if (!SetObjectDacl(key.Handle(), SE_REGISTRY_KEY, dacl, inheritance)) {
    RaiseLastError();
  }
  key.CloseKey();

  RaiseIfFailed(HresultFromWin32(key.OpenKey(parent, name, KEY_ENUMERATE_SUB_KEYS)));
}

}  // namespace tessaroot
