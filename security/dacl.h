// A discretionary ACL held as an ordered list of owned ACE objects.
#pragma once

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "security/acl.h"

namespace ATL {

class CDacl : public CAcl {
 public:
  // Access-allowed and access-denied ACEs, plain and object-specific; both
  // are defined in security/ace.h, which this header brings in below.
  class CAccessAce;
  class CAccessObjectAce;

  // An empty DACL (not null), revision ACL_REVISION, no ACEs, not built.
  CDacl() noexcept;
  // Destroys every ACE object and the list storage, then releases the
  // binary ACL.
  ~CDacl() override;

  DWORD AceCount() const override;
  void ClearAces() override;
  // Also drops a binary ACL built earlier, which would no longer match.
  void EraseAceAt(DWORD index) override;
  CAce* AceAt(DWORD index) override;
  // Canonical order: explicit before inherited, then deny before allow, then
  // plain before object ACEs. ACEs with equal keys can change places when
  // there are five or more of them.
  void OrderAces() override;

  // Null `acl`: MakeNull. Otherwise appends one ACE object per access-allowed
  // or access-denied ACE of `acl` (types 0, 1, 5, 6; every other type is
  // skipped), takes the ACL's revision, clears the null mark and drops a
  // binary ACL built earlier. Does not keep `acl`.
  // Raises the HRESULT of the last error when GetAclInformation or GetAce
  // fails, what AssignSid raises for an ACE's SID, and E_OUTOFMEMORY when an
  // ACE object cannot be created or the list cannot grow. The ACEs read
  // before a failure stay in the list.
  void AssignFromAcl(const ACL* acl);

 private:
  std::vector<std::unique_ptr<CAccessAce>> aces_;
};

}  // namespace ATL

// The nested ACE classes need CDacl to be complete.
#include "security/ace.h"
