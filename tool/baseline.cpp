#include "tool/baseline.h"

#include "error/com_error.h"

#if defined(_WIN32)
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the extended version record of the 32-bit API");
#endif

namespace tessaroot {

const WCHAR SddlWindows2000Professional[] =
    L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)(A;CI;GR;;;WD)";
const WCHAR SddlWindowsXpHome[] = L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)";
const WCHAR SddlWindowsXpProfessional[] =
    L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)";

const WCHAR* SelectBaselineSddl() {
  // Zero-filled, so that a failed query leaves a record that matches no
  // edition instead of whatever the stack held.
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));

  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 5 &&
      version.wProductType == VER_NT_WORKSTATION) {
    if (version.dwMinorVersion == 0) {
      return SddlWindows2000Professional;
    }
    if (version.dwMinorVersion == 1) {
      return (version.wSuiteMask & VER_SUITE_PERSONAL) != 0 ? SddlWindowsXpHome : SddlWindowsXpProfessional;
    }
  }
  RaiseHresult(CO_E_WRONGOSFORAPP);
}

}  // namespace tessaroot
