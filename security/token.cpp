#include "security/token.h"

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>

#include "error/com_error.h"

namespace ATL {
namespace {

// Room for a TOKEN_PRIVILEGES with `count` elements: 4 + 12 * count bytes.
// Raises E_OUTOFMEMORY when that does not fit in 32 bits.
DWORD TokenPrivilegesLength(DWORD count) {
  constexpr std::size_t kHeader = offsetof(TOKEN_PRIVILEGES, Privileges);
  constexpr std::size_t kElement = sizeof(LUID_AND_ATTRIBUTES);
  if (count > (MAXDWORD - kHeader) / kElement) RaiseHresult(E_OUTOFMEMORY);
  return static_cast<DWORD>(kHeader + count * kElement);
}

// The buffer that receives the previous state of one ApplyPrivileges call.
//
// Up to kStackLimit bytes it is an array in the caller's own frame, whose size
// is fixed at compile time; beyond that it comes from the C heap. The stack
// reserve of 8192 bytes beyond the array is not probed at run time: portable
// code cannot ask how much stack is left, and the privilege bracket runs near
// the bottom of the one thread's stack (1 MB reserved on Windows, more on the
// host), so a buffer that fits in kStackLimit always has that reserve.
class PreviousStateBuffer {
 public:
  static constexpr DWORD kStackLimit = 1024;

  explicit PreviousStateBuffer(DWORD bytes) {
    if (bytes <= kStackLimit) {
      block_ = reinterpret_cast<PTOKEN_PRIVILEGES>(stack_);
    } else {
      heap_.reset(static_cast<PTOKEN_PRIVILEGES>(std::malloc(bytes)));
      block_ = heap_.get();
    }
  }
  PreviousStateBuffer(const PreviousStateBuffer&) = delete;
  PreviousStateBuffer& operator=(const PreviousStateBuffer&) = delete;

  // Null when the heap could not supply the buffer.
  PTOKEN_PRIVILEGES get() const noexcept { return block_; }

  // Frees a heap block now without touching the thread's last error, which
  // may hold the reason the caller is about to report.
  void FreeKeepingLastError() noexcept {
    if (!heap_) return;
    const DWORD error = ::GetLastError();
    heap_.reset();
    block_ = nullptr;
    ::SetLastError(error);
  }

 private:
  alignas(TOKEN_PRIVILEGES) BYTE stack_[kStackLimit];
  platform::unique_crt_ptr<TOKEN_PRIVILEGES> heap_;
  PTOKEN_PRIVILEGES block_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------- CTokenPrivileges

std::size_t CTokenPrivileges::LuidHash::operator()(const LUID& luid) const noexcept {
  const unsigned long long key = (static_cast<unsigned long long>(static_cast<DWORD>(luid.HighPart)) << 32) |
                                 static_cast<unsigned long long>(luid.LowPart);
  return std::hash<unsigned long long>()(key);
}

bool CTokenPrivileges::LuidEqual::operator()(const LUID& a, const LUID& b) const noexcept {
  return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

CTokenPrivileges::CTokenPrivileges() noexcept = default;

CTokenPrivileges::~CTokenPrivileges() = default;

void CTokenPrivileges::SetEntry(const LUID& luid, DWORD attributes) {
  try {
    entries_.insert_or_assign(luid, attributes);
  } catch (const std::bad_alloc&) {
    RaiseHresult(E_OUTOFMEMORY);
  }
}

bool CTokenPrivileges::AddByName(LPCWSTR name) {
  LUID luid{};
  if (!::LookupPrivilegeValueW(nullptr, name, &luid)) return false;
  SetEntry(luid, SE_PRIVILEGE_ENABLED);
  return true;
}

DWORD CTokenPrivileges::EntryCount() const noexcept { return static_cast<DWORD>(entries_.size()); }

PTOKEN_PRIVILEGES CTokenPrivileges::AsTokenPrivileges() {
  built_.reset();
  if (entries_.empty()) return nullptr;
  const DWORD count = EntryCount();
  platform::unique_crt_ptr<TOKEN_PRIVILEGES> block(
      static_cast<PTOKEN_PRIVILEGES>(std::malloc(TokenPrivilegesLength(count))));
  if (!block) RaiseHresult(E_OUTOFMEMORY);
  block->PrivilegeCount = count;
  LUID_AND_ATTRIBUTES* element = block->Privileges;
  for (const auto& [luid, attributes] : entries_) {
    element->Luid = luid;
    element->Attributes = attributes;
    ++element;
  }
  built_ = std::move(block);
  return built_.get();
}

// ---------------------------------------------------------------- CAccessToken

CAccessToken::CAccessToken() noexcept = default;

CAccessToken::~CAccessToken() { CAccessToken::Release(); }

void CAccessToken::Release() noexcept {
  if (handle_ == nullptr) return;
  ::CloseHandle(handle_);
  handle_ = nullptr;
}

bool CAccessToken::OpenThreadTokenFor(DWORD desiredAccess) {
  HANDLE token = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), desiredAccess, TRUE, &token)) return false;
  AdoptHandle(token);
  return true;
}

bool CAccessToken::OpenProcessTokenFor(DWORD desiredAccess) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), desiredAccess, &token)) return false;
  AdoptHandle(token);
  return true;
}

void CAccessToken::AdoptHandle(HANDLE token) noexcept {
  // Closing the handle about to be adopted would leave the object holding a
  // closed handle.
  if (token == handle_) return;
  Release();
  handle_ = token;
}

bool CAccessToken::ApplyPrivileges(CTokenPrivileges& privileges, CTokenPrivileges* previous) {
  const DWORD count = privileges.EntryCount();
  if (count == 0) return true;
  PTOKEN_PRIVILEGES newState = privileges.AsTokenPrivileges();

  const DWORD length = TokenPrivilegesLength(count);
  PreviousStateBuffer buffer(length);
  PTOKEN_PRIVILEGES previousState = buffer.get();
  if (previousState == nullptr) {
    // Without the buffer the change could not be recorded, so it is not made.
    RaiseHresult(E_OUTOFMEMORY);
  }
  DWORD returned = 0;
  if (!::AdjustTokenPrivileges(handle_, FALSE, newState, length, previousState, &returned)) {
    buffer.FreeKeepingLastError();
    return false;
  }
  // ERROR_NOT_ALL_ASSIGNED after success is deliberately not examined: the
  // previous state then lists what did change, possibly nothing.
  if (previous != nullptr) {
    try {
      const LUID_AND_ATTRIBUTES* elements = previousState->Privileges;
      for (DWORD i = 0; i < previousState->PrivilegeCount; ++i) {
        previous->SetEntry(elements[i].Luid, elements[i].Attributes);
      }
    } catch (...) {
      // The change is made but could not be recorded, and the caller will
      // not restore what it does not know about: undo it from the platform's
      // own report before the failure goes on.
      ::AdjustTokenPrivileges(handle_, FALSE, previousState, 0, nullptr, nullptr);
      throw;
    }
  }
  return true;
}

bool CAccessToken::EnablePrivilegeByName(LPCWSTR name, CTokenPrivileges* previous) {
  bool applied;
  DWORD error;
  {
    CTokenPrivileges privileges;
    privileges.AddByName(name);
    applied = ApplyPrivileges(privileges, previous);
    error = ::GetLastError();
  }
  // Destroying the set frees memory; the reason for a refusal must survive it.
  if (!applied) ::SetLastError(error);
  return applied;
}

}  // namespace ATL
