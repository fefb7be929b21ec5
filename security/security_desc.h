// A security descriptor held in self-relative form in memory of its own.
#pragma once

#include <cstdlib>
#include <memory>

#include "platform/platform.h"
#include "security/dacl.h"

namespace ATL {

// Owns one C-heap block holding a self-relative security descriptor, so the
// owner, group, DACL and SACL all lie inside it and freeing the block frees
// everything. Blocks the platform allocates are copied and freed at once,
// never kept. Not copyable.
class CSecurityDesc {
 public:
  // Holds nothing.
  CSecurityDesc() noexcept;
  CSecurityDesc(const CSecurityDesc&) = delete;
  CSecurityDesc& operator=(const CSecurityDesc&) = delete;

  // Calls Release.
  virtual ~CSecurityDesc();

  // Frees the held block, if any; the object then holds nothing.
  virtual void Release() noexcept;

  // Parses SDDL revision 1 text and holds the result. False when the
  // platform rejects the text: the object is unchanged and the thread's error
  // code is the one the parser left. Raises as AssignDescriptor does.
  bool LoadFromSddl(LPCWSTR text);

  // Holds a self-relative copy of `source`, which may be self-relative or
  // absolute and is not kept; the held block is exactly
  // GetSecurityDescriptorLength(source) bytes long. Passing the held block
  // changes nothing. Otherwise the descriptor held before is released first,
  // so a failure leaves the object holding nothing: E_OUTOFMEMORY when the
  // block cannot be had, the HRESULT of the last error when
  // GetSecurityDescriptorControl or MakeSelfRelativeSD fails.
  void AssignDescriptor(PSECURITY_DESCRIPTOR source);

  // Fills `target` from the held descriptor's DACL: its ACEs when the DACL is
  // present, a null DACL when it is present but null, an empty DACL when it
  // is absent. The target keeps no pointer into this object.
  // False, with `target` untouched and the thread's error code telling why
  // (ERROR_INVALID_PARAMETER when nothing is held), when nothing is held or
  // GetSecurityDescriptorDacl fails. Raises what CDacl::AssignFromAcl raises,
  // after the target's ACEs have been cleared.
  bool ExtractDacl(CDacl& target) const;

  // The held block, or null. Still owned by this object.
  PSECURITY_DESCRIPTOR HeldDescriptor() const noexcept { return block_.get(); }

 private:
  platform::unique_crt_ptr<void> block_;
};

}  // namespace ATL
