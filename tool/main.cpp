// tessaroot: puts the security of HKEY_CLASSES_ROOT's machine-wide store back
// to what the operating system installs. Takes no arguments.
#include <cstdio>

#include "error/com_error.h"
#include "tool/reset.h"

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]) {
  // There are no options: whatever the command line says, the run is the same.
  (void)argc;
  (void)argv;
  (void)envp;
  try {
    tessaroot::ResetClassesRoot();
  } catch (const _com_error& error) {
    std::fwprintf(stderr, L"Error 0x%08x resetting HKEY_CLASSES_ROOT registry permissions: %ls\n",
                  static_cast<unsigned int>(error.Hresult()), error.MessageText());
    return error.Hresult();
  }
  return 0;
}
