// The host tessaroot binary's start-up, in place of the C run-time's wide
// console start-up on Windows: it loads the machine image named by
// TESSAROOT_MACHINE, calls the wide entry point with a wide argument vector
// and environment, and writes the machine back with the entry point's result.
#include <clocale>
#include <cwchar>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/control.h"

extern char** environ;

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]);

namespace {

constexpr int kImageRefused = 2;

std::vector<wchar_t*> WideVector(const std::vector<std::wstring>& strings) {
  std::vector<wchar_t*> vector;
  for (const std::wstring& s : strings) vector.push_back(const_cast<wchar_t*>(s.c_str()));
  vector.push_back(nullptr);
  return vector;
}

std::wstring WideArgument(const char* text) {
  try {
    return sim::Widen(text);
  } catch (const sim::ImageError&) {
    // Not UTF-8: take the bytes as they are, as a code page would.
    std::wstring wide;
    for (const char* p = text; *p != '\0'; ++p) wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return wide;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // Wide output to standard error is converted to UTF-8.
  std::setlocale(LC_ALL, "C.UTF-8");

  const char* path = std::getenv("TESSAROOT_MACHINE");
  sim::Machine machine;
  try {
    machine = path != nullptr ? sim::LoadImage(path) : sim::DefaultMachine();
  } catch (const sim::ImageError& error) {
    std::fwprintf(stderr, L"tessaroot: %s\n", error.What().c_str());
    return kImageRefused;
  }
  sim::Install(&machine);

  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(WideArgument(argv[i]));
  std::vector<std::wstring> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(WideArgument(*entry));
  std::vector<wchar_t*> wideArgv = WideVector(arguments);
  std::vector<wchar_t*> wideEnvp = WideVector(environment);

  const int status = wmain(argc, wideArgv.data(), wideEnvp.data());
  std::fflush(stderr);

  machine.exitStatus = static_cast<std::uint32_t>(status);
  if (path != nullptr) {
    try {
      sim::StoreImage(machine, path);
    } catch (const sim::ImageError& error) {
      std::fwprintf(stderr, L"tessaroot: %s\n", error.What().c_str());
      return kImageRefused;
    }
  }
  // A Linux parent sees only the low 8 bits; a failure whose low bits are 0
  // must still not read as success there. The image holds all 32 bits.
  if (status != 0 && (status & 0xFF) == 0) return 1;
  return status & 0xFF;
}
