// A security identifier held by value.
#pragma once

#include "platform/platform.h"

namespace ATL {

// One SID in the platform's binary layout, stored inline in a fixed field big
// enough for any SID (15 sub-authorities), so that creating, copying and
// destroying a CSid never allocates. Owns no heap memory.
//
// Invariant: while HoldsSid() is true the storage holds a SID that passed
// IsValidSid and is at most SECURITY_MAX_SID_SIZE bytes long.
class CSid {
 public:
  // Holds nothing.
  CSid() noexcept;

  // Holds what `other` holds. Raises E_INVALIDARG when the source storage is
  // not a valid SID, or the HRESULT of the last error when CopySid fails.
  CSid(const CSid& other);

  // Builds S-<authority>-<subAuthorities[0]>-...: `count` values are read
  // from `subAuthorities`. Raises E_INVALIDARG for a count of 0 or one whose
  // SID would not fit the storage (more than 15), before anything is built;
  // raises the HRESULT of the last error when the platform cannot build it.
  CSid(const SID_IDENTIFIER_AUTHORITY& authority, BYTE count, const DWORD* subAuthorities);

  // Same outcome as AssignSid(other.SidBytes()) for a source that holds a
  // SID; makes this object hold nothing otherwise.
  CSid& operator=(const CSid& other);

  virtual ~CSid();

  // Replaces what the object holds by a copy of `sid`. Passing the object's
  // own storage while it holds a SID changes nothing and calls nothing.
  // Raises E_INVALIDARG for an invalid or oversized SID and the HRESULT of the
  // last error when CopySid fails; after any failure the object holds nothing.
  CSid& AssignSid(const SID* sid);

  bool HoldsSid() const noexcept { return held_; }

  // The storage; meaningful only while HoldsSid() is true. Owned by this
  // object and valid for its lifetime.
  const SID* SidBytes() const noexcept { return reinterpret_cast<const SID*>(storage_); }

 private:
  // Validates, measures and copies `sid` into the storage; the part of
  // AssignSid after its own-storage shortcut.
  void StoreSid(const SID* sid);

  alignas(DWORD) BYTE storage_[SECURITY_MAX_SID_SIZE];
  bool held_;
};

// BUILTIN\Administrators, S-1-5-32-544 (16 bytes). Built afresh on each call.
CSid AdministratorsSid();

// NT AUTHORITY\SYSTEM, S-1-5-18 (12 bytes). Built afresh on each call.
CSid LocalSystemSid();

}  // namespace ATL
