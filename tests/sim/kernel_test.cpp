// The simulated machine's kernel32, user32 and C run-time services, and its
// test-control knobs: the parts of the instrument the other tests stand on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sim/control.h"
#include "platform/sim/win32.h"

namespace {

class KernelTest : public ::testing::Test {
 protected:
  KernelTest() : machine_(sim::DefaultMachine()), scope_(machine_) {}
  sim::Machine machine_;
  sim::MachineScope scope_;
};

TEST_F(KernelTest, GetVersionExWFillsTheRecordItsSizeAsksFor) {
  machine_.version.info = sim::Windows2000Professional();

  OSVERSIONINFOEXW ex;
  std::memset(&ex, 0xEE, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
  EXPECT_EQ(sizeof ex, ex.dwOSVersionInfoSize);
  EXPECT_EQ(5u, ex.dwMajorVersion);
  EXPECT_EQ(0u, ex.dwMinorVersion);
  EXPECT_EQ(2195u, ex.dwBuildNumber);
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), ex.dwPlatformId);
  EXPECT_EQ(std::wstring(L"Service Pack 4"), ex.szCSDVersion);
  EXPECT_EQ(VER_NT_WORKSTATION, ex.wProductType);

  // The short record gets the short fields only.
  struct {
    OSVERSIONINFOW info;
    DWORD guard;
  } small;
  std::memset(&small, 0xEE, sizeof small);
  small.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  ASSERT_TRUE(GetVersionExW(&small.info));
  EXPECT_EQ(2195u, small.info.dwBuildNumber);
  EXPECT_EQ(0xEEEEEEEEu, small.guard);
}

TEST_F(KernelTest, GetVersionExWRefusesOtherSizesAndInjectedFailures) {
  OSVERSIONINFOEXW ex;
  std::memset(&ex, 0xEE, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex - 1;
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(0xEEEEEEEEu, ex.dwMajorVersion);

  sim::FailCall(machine_, "GetVersionExW", ERROR_ACCESS_DENIED, 2);
  ex.dwOSVersionInfoSize = sizeof ex;
  EXPECT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
  ex.dwMajorVersion = 0xEEEEEEEE;
  EXPECT_FALSE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0xEEEEEEEEu, ex.dwMajorVersion);
  EXPECT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
}

TEST_F(KernelTest, FormatMessageWFromTheSystemTable) {
  machine_.messages[0x1000] = std::wstring(L"Insert %1 here.\r\n");
  const DWORD allocateFromSystem = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
  const struct {
    DWORD flags;
    DWORD id;
    DWORD language;
    DWORD expectedLength;  // 0: fails
    DWORD expectedError;
    const wchar_t* expectedText;
  } cases[] = {
      {allocateFromSystem, 5, 0x400, 19, 0, L"Access is denied.\r\n"},
      {allocateFromSystem, 0x80070005, 0x400, 19, 0, L"Access is denied.\r\n"},
      {allocateFromSystem, 0x80070005, 0, 19, 0, L"Access is denied.\r\n"},
      {allocateFromSystem, 0x1000, 0x400, 0, ERROR_INVALID_PARAMETER, nullptr},
      {allocateFromSystem | FORMAT_MESSAGE_IGNORE_INSERTS, 0x1000, 0x400, 17, 0, L"Insert %1 here.\r\n"},
      {allocateFromSystem, 0x80045678, 0x400, 0, ERROR_MR_MID_NOT_FOUND, nullptr},
      {allocateFromSystem, 5, 0x0407, 0, 1815, nullptr},  // a language the machine has no table for
      {FORMAT_MESSAGE_ALLOCATE_BUFFER, 5, 0x400, 0, ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const auto& c : cases) {
    WCHAR* text = reinterpret_cast<WCHAR*>(static_cast<std::uintptr_t>(0xDEADBEEF));
    SetLastError(0xDEADBEEF);
    const DWORD length = FormatMessageW(c.flags, nullptr, c.id, c.language, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    EXPECT_EQ(c.expectedLength, length) << std::hex << c.id;
    if (c.expectedText == nullptr) {
      EXPECT_EQ(nullptr, text);
      EXPECT_EQ(c.expectedError, GetLastError()) << std::hex << c.id;
    } else {
      ASSERT_NE(nullptr, text);
      EXPECT_EQ(std::wstring(c.expectedText), text);
      EXPECT_EQ(nullptr, LocalFree(text));
    }
  }
  EXPECT_EQ(0u, machine_.localBlocks);
}

TEST_F(KernelTest, FormatMessageWReportsAnExhaustedLocalHeap) {
  WCHAR* text = nullptr;
  sim::FailAllocations(sim::Allocator::LocalHeap);
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0x400,
                               reinterpret_cast<LPWSTR>(&text), 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  EXPECT_EQ(nullptr, text);
}

TEST_F(KernelTest, LocalBlocksAreFreedByLocalFreeOrTheProcessHeap) {
  HLOCAL first = LocalAlloc(LMEM_FIXED, 64);
  auto* second = static_cast<BYTE*>(LocalAlloc(LPTR, 16));
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(0, second[0] | second[15]);
  EXPECT_EQ(2u, machine_.localBlocks);

  EXPECT_EQ(nullptr, LocalFree(first));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, second));
  EXPECT_EQ(0u, machine_.localBlocks);

  // A block freed twice is no longer the heap's.
  EXPECT_EQ(first, LocalFree(first));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, second));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(HeapFree(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)), 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// A release the platform refuses hands the block back and leaves it allocated,
// so a test can show that the caller neither frees it twice nor reports it.
TEST_F(KernelTest, LocalFreeCanBeMadeToFail) {
  HLOCAL block = LocalAlloc(LMEM_FIXED, 8);
  ASSERT_NE(nullptr, block);
  sim::FailCall(machine_, "LocalFree", ERROR_INVALID_HANDLE, 1);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(block, LocalFree(block));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(1u, machine_.localBlocks);
  ASSERT_EQ(1u, sim::CallsOf(machine_, "LocalFree").size());
  EXPECT_TRUE(sim::CallsOf(machine_, "LocalFree")[0].injected);

  EXPECT_EQ(nullptr, LocalFree(block));
  EXPECT_EQ(0u, machine_.localBlocks);
}

TEST_F(KernelTest, WsprintfWForms) {
  const struct {
    const wchar_t* expected;
    int length;
  } cases[] = {
      {L"IDispatch error #65023", 22},
      {L"Unknown error 0x800401FA", 24},
      {L"Unknown error 0x0", 17},
      {L"[0000002a] [  -7] [-7  ] [abc] [%]", 34},
  };
  WCHAR buffer[64];
  std::wmemset(buffer, L'#', 64);
  EXPECT_EQ(cases[0].length, wsprintfW(buffer, L"IDispatch error #%d", 65023));
  EXPECT_EQ(std::wstring(cases[0].expected), buffer);
  EXPECT_EQ(cases[1].length, wsprintfW(buffer, L"Unknown error 0x%0lX", 0x800401FAul));
  EXPECT_EQ(std::wstring(cases[1].expected), buffer);
  EXPECT_EQ(cases[2].length, wsprintfW(buffer, L"Unknown error 0x%0lX", 0ul));
  EXPECT_EQ(std::wstring(cases[2].expected), buffer);
  EXPECT_EQ(cases[3].length, wsprintfW(buffer, L"[%08x] [%4d] [%-4d] [%s] [%%]", 42u, -7, -7, L"abc"));
  EXPECT_EQ(std::wstring(cases[3].expected), buffer);
  EXPECT_EQ(L'#', buffer[35]);
}

TEST_F(KernelTest, BoundedCopiesReturnTheRunTimesErrnoValues) {
  const char source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const struct {
    bool nullDest, nullSource;
    std::size_t destSize, count;
    errno_t expected;
    unsigned char firstByteAfter;  // 0xEE: untouched
  } cases[] = {
      {false, false, 8, 8, 0, 1},
      {false, false, 8, 0, 0, 0xEE},
      {false, false, 4, 8, ERANGE, 0},  // destination cleared
      {false, true, 8, 8, EINVAL, 0},   // destination cleared
      {true, false, 8, 8, EINVAL, 0xEE},
  };
  for (auto copy : {&memcpy_s, &memmove_s}) {
    for (const auto& c : cases) {
      unsigned char dest[8];
      std::memset(dest, 0xEE, sizeof dest);
      EXPECT_EQ(c.expected, copy(c.nullDest ? nullptr : dest, c.destSize, c.nullSource ? nullptr : source, c.count));
      EXPECT_EQ(c.firstByteAfter, dest[0]);
    }
  }
  // Failure rules can make a copy report any errno value.
  sim::FailCall(machine_, "memcpy_s", ENOMEM);
  unsigned char dest[8];
  std::memset(dest, 0xEE, sizeof dest);
  EXPECT_EQ(ENOMEM, memcpy_s(dest, 8, source, 8));
  EXPECT_EQ(0xEE, dest[0]);
}

TEST_F(KernelTest, FailureRulesMatchTheNthCallOfAnOperation) {
  sim::FailureRule rule;
  rule.operation = "LocalAlloc";
  rule.status = ERROR_OUTOFMEMORY;
  rule.nth = 3;
  sim::FailCall(machine_, rule);
  HLOCAL blocks[4];
  for (HLOCAL& block : blocks) block = LocalAlloc(LMEM_FIXED, 8);
  EXPECT_NE(nullptr, blocks[0]);
  EXPECT_NE(nullptr, blocks[1]);
  EXPECT_EQ(nullptr, blocks[2]);
  EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), GetLastError());
  EXPECT_NE(nullptr, blocks[3]);
  for (HLOCAL block : blocks) LocalFree(block);
  const auto calls = sim::CallsOf(machine_, "LocalAlloc");
  ASSERT_EQ(4u, calls.size());
  EXPECT_TRUE(calls[2].injected);
  EXPECT_FALSE(calls[3].injected);
}

TEST_F(KernelTest, AllocationKnobsFailTheArmedAllocationsOnly) {
  sim::FailAllocations(sim::Allocator::CHeap, 2, 2);
  void* first = std::malloc(4);
  void* second = std::malloc(4);
  void* third = std::calloc(1, 4);
  void* fourth = std::malloc(4);
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(nullptr, second);
  EXPECT_EQ(nullptr, third);
  EXPECT_NE(nullptr, fourth);
  EXPECT_EQ(0u, sim::PendingAllocationFailures(sim::Allocator::CHeap));
  std::free(first);
  std::free(fourth);

  sim::FailAllocations(sim::Allocator::OperatorNew);
  EXPECT_THROW(new int(1), std::bad_alloc);
  int* survivor = new int(2);
  EXPECT_EQ(2, *survivor);
  delete survivor;

  // The simulator's own allocations are not the tool's and never fail.
  sim::FailAllocations(sim::Allocator::OperatorNew, 1, 1000);
  WCHAR* text = nullptr;
  EXPECT_EQ(19u, FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0x400,
                                reinterpret_cast<LPWSTR>(&text), 0, nullptr));
  EXPECT_EQ(1000u, sim::PendingAllocationFailures(sim::Allocator::OperatorNew));
  sim::ClearAllocationFailures();
  LocalFree(text);
}

TEST(MachineImage, VersionAndFailuresRoundTrip) {
  const std::string text =
      "[version]\n"
      "platform-id = 2\n"
      "major = 5\n"
      "minor = 0\n"
      "build = 2195\n"
      "csd-version = Service Pack 4\n"
      "service-pack-major = 4\n"
      "service-pack-minor = 0\n"
      "suite-mask = 0x0000\n"
      "product-type = 1\n"
      "\n[failures]\n"
      "fail = RegOpenKeyExW status=5 mask=0x00080000 path=SOFTWARE\\Classes\\a b = c\n"
      "fail = RegEnumKeyExW status=234 nth=3\n";
  const sim::Machine machine = sim::ParseImage(text);
  EXPECT_EQ(2195u, machine.version.info.dwBuildNumber);
  EXPECT_EQ(std::wstring(L"Service Pack 4"), machine.version.info.szCSDVersion);
  ASSERT_EQ(2u, machine.failures.size());
  EXPECT_EQ(std::wstring(L"SOFTWARE\\Classes\\a b = c"), machine.failures[0].path.value_or(L""));
  EXPECT_EQ(0x80000u, machine.failures[0].mask.value_or(0));
  EXPECT_EQ(3u, machine.failures[1].nth);

  const std::string formatted = sim::FormatImage(machine);
  EXPECT_NE(std::string::npos, formatted.find(text.substr(0, text.find("\n[failures]"))));
  EXPECT_NE(std::string::npos, formatted.find(text.substr(text.find("[failures]"))));
  EXPECT_EQ(formatted, sim::FormatImage(sim::ParseImage(formatted)));
}

TEST(MachineImage, RefusesMalformedLinesWithTheirNumber) {
  const struct {
    const char* text;
    unsigned line;
  } cases[] = {
      {"[version]\nmajor = 0x100000000\n", 2},
      {"[version]\nsuite-mask = 0x10000\n", 2},
      {"[version]\ncolour = blue\n", 2},
      {"[version\n", 1},
      {"[]\n", 1},
      {"\n\nmajor = 5\n", 3},
      {"[failures]\nfail = status=5\n", 2},
      {"[failures]\nfail = RegOpenKeyExW status=5 colour=1\n", 2},
      {"[failures]\nfail = RegOpenKeyExW status=5 path=\n", 2},
      {"[failures]\nhang = RegOpenKeyExW status=5\n", 2},
      {"[version]\ncsd-version = \xc3\n", 2},
  };
  for (const auto& c : cases) {
    try {
      sim::ParseImage(c.text, "test.image");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(c.line, error.line) << c.text << " -> " << error.What();
      EXPECT_EQ("test.image", error.file);
    }
  }
}

}  // namespace
