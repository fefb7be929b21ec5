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

// Owner and group: the same guard, the SID in the slot that `what` names.
bool SetSidPart(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& sid, SECURITY_INFORMATION what) {
  PSID bytes = object != nullptr ? ValidSidOf(sid) : nullptr;
  if (bytes == nullptr) {
    return Refuse();
  }
  return what == OWNER_SECURITY_INFORMATION ? Apply(object, type, what, bytes, nullptr, nullptr)
                                            : Apply(object, type, what, nullptr, bytes, nullptr);
}

}  // namespace

bool SetObjectOwner(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& owner) {
  return SetSidPart(object, type, owner, OWNER_SECURITY_INFORMATION);
}

bool SetObjectGroup(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& group) {
  return SetSidPart(object, type, group, GROUP_SECURITY_INFORMATION);
}

bool SetObjectDacl(HANDLE object, SE_OBJECT_TYPE type, ATL::CDacl& dacl, SECURITY_INFORMATION inheritance) {
  if (object == nullptr) {
    return Refuse();
  }
  return Apply(object, type, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, dacl.BuildAcl());
}

}  // namespace tessaroot
