// kernel32, user32 and C run-time services of the simulated machine: version,
// the thread's last error, the system message table, string length,
// formatted output and bounded copies.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/sim/call.h"
#include "platform/sim/local_heap.h"
#include "platform/sim/messages.h"

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  sim::Call call("GetVersionExW");
  if (call.FailWithLastError()) return FALSE;
  if (lpVersionInformation == nullptr) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  const OSVERSIONINFOEXW& info = sim::Current().version.info;
  if (size == sizeof(OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
    *ex = info;
  } else if (size == sizeof(OSVERSIONINFOW)) {
    std::memcpy(lpVersionInformation, &info, sizeof(OSVERSIONINFOW));
  } else {
    sim::SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lpVersionInformation->dwOSVersionInfoSize = size;
  return TRUE;
}

DWORD WINAPI GetLastError() { return sim::Current().lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { sim::Current().lastError = dwErrCode; }

int WINAPI lstrlenW(LPCWSTR lpString) {
  sim::Call call("lstrlenW");
  return lpString == nullptr ? 0 : static_cast<int>(std::wcslen(lpString));
}

namespace {

bool HasInserts(const std::wstring& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == L'%' && text[i + 1] >= L'1' && text[i + 1] <= L'9') return true;
  }
  return false;
}

bool KnownLanguage(DWORD language) {
  // Neutral, the user's and the system's default, and US English are what
  // the machine's one message table answers to.
  return language == 0 || language == 0x400 || language == 0x800 || language == 0x409;
}

}  // namespace

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, void* Arguments) {
  sim::Call call("FormatMessageW");
  const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  if (allocate && lpBuffer != nullptr) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
  if (call.FailWithLastError()) return 0;
  (void)lpSource;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!KnownLanguage(dwLanguageId)) {
    sim::SetError(1815);  // ERROR_RESOURCE_LANG_NOT_FOUND
    return 0;
  }
  std::optional<std::wstring> text = sim::SystemMessage(sim::Current(), dwMessageId);
  if (!text) {
    sim::SetError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Insert sequences need arguments unless the caller asked to keep them.
  if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && Arguments == nullptr && HasInserts(*text)) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t length = text->size();
  if (allocate) {
    const std::size_t chars = std::max<std::size_t>(length + 1, nSize);
    auto* block = static_cast<WCHAR*>(sim::AllocateLocalBlock(chars * sizeof(WCHAR)));
    if (block == nullptr) {
      sim::SetError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::wmemcpy(block, text->c_str(), length + 1);
    *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
  } else {
    if (length + 1 > nSize) {
      sim::SetError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::wmemcpy(lpBuffer, text->c_str(), length + 1);
  }
  return static_cast<DWORD>(length);
}

namespace {

// wsprintfW writes at most 1024 characters, the terminating NUL included.
constexpr std::size_t kWsprintfLimit = 1024;

void Pad(std::wstring& out, const std::wstring& body, std::size_t width, bool left, wchar_t fill) {
  if (body.size() >= width) {
    out += body;
  } else if (left) {
    out += body;
    out.append(width - body.size(), L' ');
  } else if (fill == L'0' && !body.empty() && body[0] == L'-') {
    out += L'-';
    out.append(width - body.size(), L'0');
    out.append(body, 1, std::wstring::npos);
  } else {
    out.append(width - body.size(), fill);
    out += body;
  }
}

}  // namespace

int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  sim::Call call("wsprintfW");
  va_list args;
  va_start(args, format);
  std::wstring out;
  for (const WCHAR* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      out += *p;
      continue;
    }
    ++p;
    bool left = false;
    wchar_t fill = L' ';
    for (;; ++p) {
      if (*p == L'-') {
        left = true;
      } else if (*p == L'0') {
        fill = L'0';
      } else {
        break;
      }
    }
    std::size_t width = 0;
    while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<std::size_t>(*p++ - L'0');
    bool isLong = false;
    if (*p == L'l') {
      isLong = true;
      ++p;
    } else if (*p == L'h') {
      ++p;
    }
    wchar_t number[32];
    std::wstring body;
    switch (*p) {
      case L'd':
      case L'i': {
        long value = isLong ? va_arg(args, long) : va_arg(args, int);
        std::swprintf(number, 32, L"%ld", value);
        body = number;
        break;
      }
      case L'u':
      case L'x':
      case L'X': {
        unsigned long value = isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned int);
        std::swprintf(number, 32, *p == L'u' ? L"%lu" : (*p == L'x' ? L"%lx" : L"%lX"), value);
        body = number;
        break;
      }
      case L'c':
        body = static_cast<wchar_t>(va_arg(args, int));
        break;
      case L's': {
        const WCHAR* text = va_arg(args, const WCHAR*);
        body = text != nullptr ? text : L"(null)";
        break;
      }
      case L'%':
        body = L"%";
        break;
      case L'\0':
        --p;
        break;
      default:
        body = *p;
        break;
    }
    Pad(out, body, width, left, fill);
  }
  va_end(args);
  if (out.size() > kWsprintfLimit - 1) out.resize(kWsprintfLimit - 1);
  std::wmemcpy(buffer, out.c_str(), out.size() + 1);
  return static_cast<int>(out.size());
}

namespace {

errno_t BoundedCopy(const char* operation, void* dest, std::size_t destSize, const void* src, std::size_t count,
                    bool overlapping) {
  sim::Call call(operation);
  if (auto status = call.Injected()) return static_cast<errno_t>(call.Returns(*status));
  if (count == 0) return 0;
  if (dest == nullptr) return call.Returns(EINVAL);
  if (src == nullptr) {
    std::memset(dest, 0, destSize);
    return call.Returns(EINVAL);
  }
  if (destSize < count) {
    std::memset(dest, 0, destSize);
    return call.Returns(ERANGE);
  }
  if (overlapping) {
    std::memmove(dest, src, count);
  } else {
    std::memcpy(dest, src, count);
  }
  return 0;
}

}  // namespace

errno_t memcpy_s(void* dest, std::size_t destSize, const void* src, std::size_t count) {
  return BoundedCopy("memcpy_s", dest, destSize, src, count, false);
}

errno_t memmove_s(void* dest, std::size_t destSize, const void* src, std::size_t count) {
  return BoundedCopy("memmove_s", dest, destSize, src, count, true);
}
