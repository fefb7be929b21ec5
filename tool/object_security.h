// Setting one part of an object's security through an open handle.
//
// Each setter makes one SetSecurityInfo call, stores its status as the
// thread's last error and returns whether it was 0, so the caller raises
// RaiseLastError() on false. A refused argument makes no call and sets
// ERROR_INVALID_PARAMETER, so a false result never carries a success code.
#pragma once

#include "platform/platform.h"
#include "security/dacl.h"
#include "security/sid.h"

namespace tessaroot {

// Sets the owner. The handle needs WRITE_OWNER. Refuses a null handle and a
// CSid that holds no valid SID.
bool SetObjectOwner(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& owner);

// Sets the primary group. The handle needs WRITE_OWNER.
bool SetObjectGroup(HANDLE object, SE_OBJECT_TYPE type, const ATL::CSid& group);

// Sets the DACL that `dacl` builds (a null DACL when it is null), with
// `inheritance` PROTECTED_DACL_SECURITY_INFORMATION or
// UNPROTECTED_DACL_SECURITY_INFORMATION. The handle needs WRITE_DAC. Refuses
// a null handle before building anything; what BuildAcl raises passes through.
bool SetObjectDacl(HANDLE object, SE_OBJECT_TYPE type, ATL::CDacl& dacl, SECURITY_INFORMATION inheritance);

}  // namespace tessaroot
