#include "tool/subkey_walk.h"

#include <cstdio>

#include "error/com_error.h"
#include "tool/key_reset.h"

namespace tessaroot {

ATL::CDacl EmptyDacl;

namespace {

// Made empty explicitly during static initialisation, before the entry point
// runs, whatever state construction left it in.
[[maybe_unused]] const bool kEmptyDaclPrepared = (EmptyDacl.MakeEmpty(), true);

constexpr DWORD kNameCapacity = 260;

}  // namespace

void ResetSubkeys(const KeyHolder& parent) {
  WCHAR name[kNameCapacity];
  for (DWORD index = 0;;) {
    DWORD length = kNameCapacity;
    const LONG status = ::RegEnumKeyExW(parent.Handle(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    ++index;
    if (status == ERROR_NO_MORE_ITEMS) {
      return;
    }
    RaiseIfFailed(HresultFromWin32(status));
    try {
      KeyHolder subkey;
      ResetKey(subkey, parent.Handle(), name, EmptyDacl, UNPROTECTED_DACL_SECURITY_INFORMATION);
      ResetSubkeys(subkey);
    } catch (const _com_error& error) {
      std::fwprintf(stderr, L"Error 0x%08x processing subkey %ls: %ls\n", static_cast<unsigned int>(error.Hresult()),
                    name, error.MessageText());
    }
  }
}

}  // namespace tessaroot
