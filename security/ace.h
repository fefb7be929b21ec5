// ACE objects: the entries of a DACL object, each assembling its binary ACE
// once, on first demand, and keeping it for its lifetime.
#pragma once

#include "platform/platform.h"
#include "security/acl.h"
#include "security/dacl.h"
#include "security/sid.h"

namespace ATL {

// Trustee, access mask and ACE flags of one ACE. Nothing changes an ACE object
// after construction, so the cached binary ACE never goes stale.
class CAcl::CAce {
 public:
  CAce(const CAce&) = delete;
  CAce& operator=(const CAce&) = delete;

  // Releases the binary ACE.
  virtual ~CAce();

  // The binary ACE in the platform's layout, assembled on the first call;
  // later calls return the same buffer. Owned by this object for its
  // lifetime. Raises E_OUTOFMEMORY when the buffer cannot be had; nothing is
  // cached then, and a later call tries again.
  virtual const BYTE* BuildAceBytes() = 0;
  // The length of the binary ACE in bytes, without assembling anything.
  virtual DWORD AceByteLength() const = 0;
  // The platform's ACE type: 0, 1, 5 or 6.
  virtual BYTE AceTypeCode() const = 0;
  virtual bool IsObjectKind() const;
  // Sixteen zero bytes unless the ACE carries that GUID.
  virtual GUID ObjectTypeGuid() const;
  virtual GUID InheritedObjectTypeGuid() const;

  const CSid& Sid() const noexcept { return sid_; }
  ACCESS_MASK AccessMask() const noexcept { return mask_; }
  // The AceFlags byte as read; INHERITED_ACE marks an inherited ACE.
  BYTE AceFlags() const noexcept { return flags_; }

 protected:
  // Copies `sid` (see CSid's copy constructor for what that raises).
  CAce(const CSid& sid, ACCESS_MASK mask, BYTE flags);

  // GetLengthSid of the trustee.
  DWORD SidLength() const;

  // A zeroed buffer of `length` bytes with the ACE header and the mask
  // written, and the trustee's SID copied to `sidOffset`, the end of the
  // fixed part. Raises E_OUTOFMEMORY when the buffer cannot be had.
  platform::unique_crt_ptr<BYTE> AssembleAce(DWORD length, DWORD sidOffset) const;

  // Keeps `built` as the binary ACE and returns it.
  const BYTE* Keep(platform::unique_crt_ptr<BYTE> built) noexcept;
  const BYTE* Built() const noexcept { return binary_.get(); }

 private:
  CSid sid_;
  ACCESS_MASK mask_;
  BYTE flags_;
  platform::unique_crt_ptr<BYTE> binary_;
};

// An access-allowed (type 0) or access-denied (type 1) ACE:
// header, mask, then the SID at offset 8.
class CDacl::CAccessAce : public CAcl::CAce {
 public:
  // Copies `sid`: raises E_INVALIDARG when it holds an invalid SID and the
  // HRESULT of the last error when CopySid fails.
  CAccessAce(const CSid& sid, ACCESS_MASK mask, BYTE flags, bool allowed);

  const BYTE* BuildAceBytes() override;
  DWORD AceByteLength() const override;
  BYTE AceTypeCode() const override;

  bool IsAllowed() const noexcept { return allowed_; }

 private:
  bool allowed_;
};

// An object access-allowed (type 5) or object access-denied (type 6) ACE:
// header, mask, Flags, then the GUIDs that are present, then the SID.
class CDacl::CAccessObjectAce : public CDacl::CAccessAce {
 public:
  // As CAccessAce, and each GUID given (null: absent) is copied into a block
  // of its own. Raises E_OUTOFMEMORY when a copy cannot be had; nothing leaks.
  CAccessObjectAce(const CSid& sid, ACCESS_MASK mask, BYTE flags, bool allowed, const GUID* objectType,
                   const GUID* inheritedObjectType);
  // Releases both GUID copies, then as the base.
  ~CAccessObjectAce() override;

  const BYTE* BuildAceBytes() override;
  DWORD AceByteLength() const override;
  BYTE AceTypeCode() const override;
  bool IsObjectKind() const override;
  GUID ObjectTypeGuid() const override;
  GUID InheritedObjectTypeGuid() const override;

 private:
  DWORD GuidCount() const noexcept;

  platform::unique_crt_ptr<GUID> objectType_;
  platform::unique_crt_ptr<GUID> inheritedObjectType_;
};

}  // namespace ATL
