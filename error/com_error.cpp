#include "error/com_error.h"

namespace {

constexpr DWORD kMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr SIZE_T kFallbackBytes = 32 * sizeof(WCHAR);

constexpr HRESULT kFirstDispatchError = static_cast<HRESULT>(0x80040201);
constexpr HRESULT kLastDispatchError = static_cast<HRESULT>(0x8004FFFF);
constexpr HRESULT kDispatchErrorBase = static_cast<HRESULT>(0x80040200);

constexpr errno_t kEnomem = 12;
constexpr errno_t kEinval = 22;
constexpr errno_t kErange = 34;
constexpr errno_t kStruncate = 80;

}  // namespace

_com_error::_com_error(HRESULT hr) noexcept : hresult_(hr) {}

_com_error::_com_error(const _com_error& other) noexcept : hresult_(other.hresult_) {}

_com_error::~_com_error() {
  if (message_ != nullptr) {
    HANDLE heap = ::GetProcessHeap();
    if (heap != nullptr) {
      ::HeapFree(heap, 0, message_);
    }
  }
}

const WCHAR* _com_error::MessageText() const noexcept {
  if (message_ != nullptr) {
    return message_;
  }
  // Without FORMAT_MESSAGE_IGNORE_INSERTS the platform refuses texts that hold
  // insert sequences; those HRESULTs get the fallback form below.
  ::FormatMessageW(kMessageFlags, nullptr, static_cast<DWORD>(hresult_), kUserDefaultLanguage,
                   reinterpret_cast<LPWSTR>(&message_), 0, nullptr);
  if (message_ != nullptr) {
    const int length = ::lstrlenW(message_);
    if (length > 1 && message_[length - 1] == L'\n') {
      message_[length - 1] = L'\0';
      if (message_[length - 2] == L'\r') {
        message_[length - 2] = L'\0';
      }
    }
    return message_;
  }

  message_ = static_cast<WCHAR*>(::LocalAlloc(LMEM_FIXED, kFallbackBytes));
  if (message_ == nullptr) {
    return nullptr;
  }
  if (hresult_ >= kFirstDispatchError && hresult_ <= kLastDispatchError) {
    ::wsprintfW(message_, L"IDispatch error #%d", static_cast<int>(hresult_ - kDispatchErrorBase));
  } else {
    ::wsprintfW(message_, L"Unknown error 0x%0lX", static_cast<unsigned long>(static_cast<DWORD>(hresult_)));
  }
  return message_;
}

void RaiseHresult(HRESULT hr) { throw _com_error(hr); }

void RaiseIfFailed(HRESULT hr) {
  if (FAILED(hr)) {
    RaiseHresult(hr);
  }
}

HRESULT HresultFromWin32(DWORD code) noexcept {
  const HRESULT value = static_cast<HRESULT>(code);
  if (value <= 0) {
    return value;
  }
  return static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}

HRESULT HresultFromLastError() noexcept { return HresultFromWin32(::GetLastError()); }

void RaiseLastError() {
  const HRESULT hr = HresultFromLastError();
  RaiseHresult(hr == S_OK ? E_FAIL : hr);
}

void CheckCrtResult(errno_t result) {
  switch (result) {
    case 0:
    case kStruncate:
      return;
    case kEnomem:
      RaiseHresult(E_OUTOFMEMORY);
    case kEinval:
    case kErange:
      RaiseHresult(E_INVALIDARG);
    default:
      RaiseHresult(E_FAIL);
  }
}
