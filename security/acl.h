// The abstract ACL object: a null mark, an ACL revision and a cached binary ACL
// assembled from ACE objects that a derived class holds.
#pragma once

#include "platform/platform.h"

namespace ATL {

class CAcl {
 public:
  // Base of all ACE objects; defined in security/ace.h.
  class CAce;

  CAcl(const CAcl&) = delete;
  CAcl& operator=(const CAcl&) = delete;

  // Releases the binary ACL.
  virtual ~CAcl();

  virtual DWORD AceCount() const = 0;
  // Destroys every ACE object, releases the list storage and the binary ACL;
  // the null mark stays as it is.
  virtual void ClearAces() = 0;
  // Destroys the ACE object at `index` and moves the later ones down. Raises
  // E_INVALIDARG unless index < AceCount(), and then changes nothing.
  virtual void EraseAceAt(DWORD index) = 0;
  // The ACE object at `index`, still owned by this object. Raises
  // E_INVALIDARG unless index < AceCount().
  virtual CAce* AceAt(DWORD index) = 0;
  // Puts the ACEs into the order the binary ACL is built in; the base keeps
  // the list order.
  virtual void OrderAces();

  // The binary ACL, built on first use from the ACEs in the order OrderAces
  // leaves them (a permanent reordering), sized exactly and filled by
  // appending. Null for a null DACL, which is not the same as an empty one.
  // Once built, later calls return the same pointer and call nothing. The
  // ACL stays owned by this object until ClearAces, MakeNull, MakeEmpty,
  // AssignFromAcl or destruction.
  // Raises E_OUTOFMEMORY when the buffer cannot be had, the HRESULT of the
  // last error when InitializeAcl or AddAce fails, or what an ACE's
  // BuildAceBytes raises; after any failure nothing is built or held.
  PACL BuildAcl();

  // ClearAces, then stands for no ACL at all.
  void MakeNull();
  // ClearAces, then stands for an ACL without entries.
  void MakeEmpty();

  bool IsNull() const noexcept { return null_; }
  DWORD AclRevision() const noexcept { return revision_; }

 protected:
  // An empty, not null ACL of revision ACL_REVISION, not built.
  CAcl() noexcept;

  void ReleaseBinaryAcl() noexcept { binary_.reset(); }
  void SetNull(bool null) noexcept { null_ = null; }
  void SetRevision(DWORD revision) noexcept { revision_ = revision; }

 private:
  platform::unique_crt_ptr<ACL> binary_;
  bool null_;
  DWORD revision_;
};

}  // namespace ATL
