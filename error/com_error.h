// The one exception type of tessaroot and the conversions into HRESULTs.
//
// Every failure travels as a _com_error that carries an HRESULT. Raising does
// no message lookup; the text is built only when a reporting site asks for it.
#pragma once

#include "platform/platform.h"

class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept;
  // A copy carries the HRESULT only and builds its own text when asked.
  _com_error(const _com_error& other) noexcept;
  _com_error& operator=(const _com_error&) = delete;
  virtual ~_com_error();

  HRESULT Hresult() const noexcept { return hresult_; }

  // The system's text for the HRESULT without its trailing line break, or a
  // fallback ("IDispatch error #n", "Unknown error 0x…") when the system has
  // none. Owned by this object and valid until it is destroyed; null when not
  // even the 64-byte fallback buffer could be had (a later call tries again).
  const WCHAR* MessageText() const noexcept;

 private:
  const HRESULT hresult_;
  // FormatMessageW's block or the LocalAlloc fallback; both are released with
  // HeapFree on the process heap, which on NT owns LocalAlloc blocks.
  mutable WCHAR* message_ = nullptr;
};

// Throws a _com_error carrying `hr`, whatever its value.
[[noreturn]] void RaiseHresult(HRESULT hr);

// Raises `hr` when it is a failure (negative); returns otherwise.
void RaiseIfFailed(HRESULT hr);

// HRESULT_FROM_WIN32: 0 and values that are already negative pass through;
// any other code keeps its low 16 bits under facility Win32.
HRESULT HresultFromWin32(DWORD code) noexcept;

// HresultFromWin32 of the thread's last error.
HRESULT HresultFromLastError() noexcept;

// Raises HresultFromLastError, or E_FAIL when the thread's last error is 0:
// a site that raises because a call failed never reports success.
[[noreturn]] void RaiseLastError();

// Maps the errno result of memcpy_s and memmove_s: 0 and STRUNCATE (80)
// return; ENOMEM raises E_OUTOFMEMORY; EINVAL and ERANGE raise E_INVALIDARG;
// anything else raises E_FAIL.
void CheckCrtResult(errno_t result);
