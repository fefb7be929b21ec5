// Access tokens and privilege sets: the privilege bracket around a run.
//
// CTokenPrivileges is a set of privileges (LUID -> attribute word) that is
// either applied to a token or receives the state a token had before a change.
// CAccessToken owns one open token handle and changes the token's privileges.
#pragma once

#include <cstddef>
#include <unordered_map>

#include "platform/platform.h"

namespace ATL {

class CTokenPrivileges {
 public:
  CTokenPrivileges() noexcept;
  virtual ~CTokenPrivileges();
  CTokenPrivileges(const CTokenPrivileges&) = delete;
  CTokenPrivileges& operator=(const CTokenPrivileges&) = delete;

  // Inserts the entry, or replaces the attributes of the entry for `luid`.
  // Raises E_OUTOFMEMORY when the entry cannot be stored; the entries are then
  // as before.
  void SetEntry(const LUID& luid, DWORD attributes);

  // Looks `name` up on the local system and sets it as SE_PRIVILEGE_ENABLED.
  // False, with the set unchanged and the lookup's error as the thread's last
  // error, when the system does not know the name. Raises E_OUTOFMEMORY as
  // SetEntry does.
  bool AddByName(LPCWSTR name);

  DWORD EntryCount() const noexcept;

  // The entries as a TOKEN_PRIVILEGES block of 4 + 12 * n bytes, built anew on
  // every call (in no particular order). Owned by the set and valid until the
  // next call or the set's destruction; null when the set is empty. Raises
  // E_OUTOFMEMORY; the set then holds no built block.
  PTOKEN_PRIVILEGES AsTokenPrivileges();

 private:
  struct LuidHash {
    std::size_t operator()(const LUID& luid) const noexcept;
  };
  struct LuidEqual {
    bool operator()(const LUID& a, const LUID& b) const noexcept;
  };

  std::unordered_map<LUID, DWORD, LuidHash, LuidEqual> entries_;
  platform::unique_crt_ptr<TOKEN_PRIVILEGES> built_;
};

class CAccessToken {
 public:
  CAccessToken() noexcept;
  // Calls Release.
  virtual ~CAccessToken();
  // Closes the held token handle, if any (CloseHandle's result is not looked
  // at); the object then holds none. A second call does nothing.
  virtual void Release() noexcept;

  CAccessToken(const CAccessToken&) = delete;
  CAccessToken& operator=(const CAccessToken&) = delete;

  // Opens the current thread's token (as self) with `desiredAccess` and holds
  // it, closing the handle held before. False, with the object unchanged and
  // OpenThreadToken's error as the thread's last error (ERROR_NO_TOKEN when
  // the thread does not impersonate), when it cannot be opened.
  bool OpenThreadTokenFor(DWORD desiredAccess);
  // The same for the current process's token.
  bool OpenProcessTokenFor(DWORD desiredAccess);

  // Takes ownership of `token`, closing the handle held before (adopting the
  // handle already held keeps it open).
  void AdoptHandle(HANDLE token) noexcept;

  // The held handle, still owned by this object; null when none is held.
  HANDLE GetHandle() const noexcept { return handle_; }

  // Applies `privileges` to the held token, which needs TOKEN_ADJUST_PRIVILEGES
  // and TOKEN_QUERY. An empty set returns true at once without a platform
  // call. When `previous` is given it receives, added to what it holds, the
  // former state of exactly the privileges the platform reports as changed:
  // possibly none, for privileges already in the asked state or not held by
  // the token (which is not a failure). False, with the receiver unchanged and
  // the platform's error as the thread's last error, when the platform refuses
  // the change. Raises E_OUTOFMEMORY, with the token as it was, when the set
  // cannot be built, when no previous-state buffer can be had, or when the
  // receiver cannot store an entry: the change is then undone from the
  // platform's own report, since no caller could restore what it never saw.
  bool ApplyPrivileges(CTokenPrivileges& privileges, CTokenPrivileges* previous = nullptr);

  // Enables the privilege called `name` as ApplyPrivileges does. A name the
  // local system does not know gives an empty set: true, no platform call,
  // receiver untouched.
  bool EnablePrivilegeByName(LPCWSTR name, CTokenPrivileges* previous = nullptr);

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace ATL
