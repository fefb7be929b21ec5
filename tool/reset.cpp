#include "tool/reset.h"

#include "error/com_error.h"
#include "security/dacl.h"
#include "security/security_desc.h"
#include "security/token.h"
#include "tool/baseline.h"
#include "tool/key_holder.h"
#include "tool/key_reset.h"
#include "tool/subkey_walk.h"

namespace tessaroot {
namespace {

constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
constexpr WCHAR kTakeOwnership[] = L"SeTakeOwnershipPrivilege";
constexpr WCHAR kClassesRoot[] = L"SOFTWARE\\Classes";

// Root first, complete with its protected baseline, so that every subkey
// inherits from the new root DACL.
void ResetRootAndSubkeys() {
  KeyHolder root;
  ATL::CSecurityDesc descriptor;
  ATL::CDacl baseline;

  if (!descriptor.LoadFromSddl(SelectBaselineSddl())) {
    RaiseLastError();
  }
  if (!descriptor.ExtractDacl(baseline)) {
    RaiseLastError();
  }

  ResetKey(root, HKEY_LOCAL_MACHINE, kClassesRoot, baseline, PROTECTED_DACL_SECURITY_INFORMATION);
  ResetSubkeys(root);
}

}  // namespace

void ResetClassesRoot() {
  ATL::CAccessToken token;
  ATL::CTokenPrivileges previous;
  if (!token.OpenThreadTokenFor(kTokenAccess) && !token.OpenProcessTokenFor(kTokenAccess)) {
    RaiseLastError();
  }
  if (!token.EnablePrivilegeByName(kTakeOwnership, &previous)) {
    RaiseLastError();
  }

  try {
    ResetRootAndSubkeys();
  } catch (...) {
    // Put the privilege back before the failure goes on; whatever the restore
    // meets, the failure in flight is the one to report.
    try {
      token.ApplyPrivileges(previous);
    } catch (...) {
    }
    throw;
  }

  if (!token.ApplyPrivileges(previous)) {
    RaiseLastError();
  }
}

}  // namespace tessaroot
