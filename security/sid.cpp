#include "security/sid.h"

#include <cstring>

#include "error/com_error.h"

namespace ATL {
namespace {

// The platform's SID functions take non-const pointers even where they only read.
PSID Mutable(const SID* sid) { return const_cast<SID*>(sid); }

}  // namespace

CSid::CSid() noexcept : held_(false) { std::memset(storage_, 0, sizeof(storage_)); }

CSid::CSid(const CSid& other) : held_(other.held_) {
  std::memset(storage_, 0, sizeof(storage_));
  if (!held_) return;
  PSID source = Mutable(other.SidBytes());
  if (!IsValidSid(source)) RaiseHresult(E_INVALIDARG);
  // The source already passed the length test when it was stored.
  if (!CopySid(GetLengthSid(source), storage_, source)) RaiseLastError();
}

CSid::CSid(const SID_IDENTIFIER_AUTHORITY& authority, BYTE count, const DWORD* subAuthorities)
    : held_(false) {
  std::memset(storage_, 0, sizeof(storage_));
  if (count == 0 || GetSidLengthRequired(count) > sizeof(storage_)) RaiseHresult(E_INVALIDARG);

  alignas(DWORD) BYTE scratch[SECURITY_MAX_SID_SIZE];
  if (!InitializeSid(scratch, const_cast<SID_IDENTIFIER_AUTHORITY*>(&authority), count)) RaiseLastError();
  for (BYTE k = 0; k < count; ++k) *GetSidSubAuthority(scratch, k) = subAuthorities[k];
  StoreSid(reinterpret_cast<const SID*>(scratch));
}

CSid& CSid::operator=(const CSid& other) {
  if (other.held_) return AssignSid(other.SidBytes());
  held_ = false;
  return *this;
}

CSid::~CSid() = default;

CSid& CSid::AssignSid(const SID* sid) {
  if (held_ && sid == SidBytes()) return *this;
  StoreSid(sid);
  return *this;
}

void CSid::StoreSid(const SID* sid) {
  held_ = false;
  PSID source = Mutable(sid);
  if (!IsValidSid(source)) RaiseHresult(E_INVALIDARG);
  DWORD length = GetLengthSid(source);
  if (length > sizeof(storage_)) RaiseHresult(E_INVALIDARG);
  held_ = true;
  if (!CopySid(length, storage_, source)) {
    held_ = false;
    RaiseLastError();
  }
}

CSid AdministratorsSid() {
  const SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  const DWORD rids[] = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS};
  return CSid(nt, 2, rids);
}

CSid LocalSystemSid() {
  const SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  const DWORD rids[] = {SECURITY_LOCAL_SYSTEM_RID};
  return CSid(nt, 1, rids);
}

}  // namespace ATL
