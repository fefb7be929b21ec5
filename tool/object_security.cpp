#include "tool/object_security.h"

namespace tessaroot {
namespace {

bool Refuse() {
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

bool Apply(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner, PSID group, PACL dacl) {
  const DWORD status = ::SetSecurityInfo(object, type, what, owner, group, dacl, nullptr);
  ::SetLastError(status);
  return status == ERROR_SUCCESS;
}

// The platform takes SIDs as non-const pointers but does not write them.
PSID ValidSidOf(const ATL::CSid& sid) {
  if (!sid.HoldsSid()) {
    return nullptr;
  }
  PSID bytes = const_cast<SID*>(sid.SidBytes());
  return ::IsValidSid(bytes) ? bytes : nullptr;
}

}  // namespace

bool SetObjectOwner(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& owner) {
  PSID sid = object != nullptr ? ValidSidOf(owner) : nullptr;
  if (sid == nullptr) {
    return Refuse();
  }
  return Apply(object, type, OWNER_SECURITY_INFORMATION, sid, nullptr, nullptr);
}

bool SetObjectGroup(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& group) {
  PSID sid = object != nullptr ? ValidSidOf(group) : nullptr;
  if (sid == nullptr) {
    return Refuse();
  }
  return Apply(object, type, GROUP_SECURITY_INFORMATION, nullptr, sid, nullptr);
}

bool SetObjectDacl(HANDLE object, SE_OBJECT_TYPE type, ATL::CDacl& dacl, SECURITY_INFORMATION inheritance) {
  if (object == nullptr) {
    return Refuse();
  }
  return Apply(object, type, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, dacl.BuildAcl());
}

}  // namespace tessaroot
