#include "security/security_desc.h"

#include <utility>

#include "error/com_error.h"

namespace ATL {

CSecurityDesc::CSecurityDesc() noexcept = default;

CSecurityDesc::~CSecurityDesc() { Release(); }

void CSecurityDesc::Release() noexcept { block_.reset(); }

bool CSecurityDesc::LoadFromSddl(LPCWSTR text) {
  PSECURITY_DESCRIPTOR parsed = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &parsed, nullptr)) return false;
  platform::unique_local_ptr<void> owned(parsed);
  AssignDescriptor(owned.get());
  return true;
}

void CSecurityDesc::AssignDescriptor(PSECURITY_DESCRIPTOR source) {
  if (source == block_.get()) return;
  Release();

  const DWORD length = GetSecurityDescriptorLength(source);
  // Held locally until filled. A failing call below raises its HRESULT
  // before the block is freed during unwinding, so freeing cannot change it.
  platform::unique_crt_ptr<void> block(std::malloc(length));
  if (!block) RaiseHresult(E_OUTOFMEMORY);

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(source, &control, &revision)) RaiseLastError();

  if (control & SE_SELF_RELATIVE) {
    CheckCrtResult(memcpy_s(block.get(), length, source, length));
  } else {
    DWORD bufferLength = length;
    if (!MakeSelfRelativeSD(source, block.get(), &bufferLength)) RaiseLastError();
  }
  block_ = std::move(block);
}

bool CSecurityDesc::ExtractDacl(CDacl& target) const {
  if (!block_) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(block_.get(), &present, &acl, &defaulted)) return false;

  if (!present) {
    target.MakeEmpty();
  } else if (acl == nullptr) {
    target.MakeNull();
  } else {
    target.ClearAces();
    target.AssignFromAcl(acl);
  }
  return true;
}

}  // namespace ATL
