#include "error/com_error.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/sim/control.h"

namespace {

HRESULT Raised(void (*raise)(HRESULT), HRESULT argument) {
  try {
    raise(argument);
  } catch (const _com_error& error) {
    return error.Hresult();
  }
  return static_cast<HRESULT>(0xDEADBEEF);
}

TEST(HresultFromWin32, FollowsThePublishedRule) {
  const struct {
    DWORD code;
    HRESULT expected;
  } cases[] = {
      {0, 0},
      {5, static_cast<HRESULT>(0x80070005)},
      {259, static_cast<HRESULT>(0x80070103)},
      {0x12345, static_cast<HRESULT>(0x80072345)},  // upper bits dropped
      {0x7FFFFFFF, static_cast<HRESULT>(0x8007FFFF)},
      {0x80004005, static_cast<HRESULT>(0x80004005)},  // already a failure: unchanged
      {0xFFFFFFFF, static_cast<HRESULT>(0xFFFFFFFF)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, HresultFromWin32(c.code)) << std::hex << c.code;
  }
}

TEST(HresultFromLastError, ConvertsTheThreadsError) {
  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope(machine);
  SetLastError(ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(static_cast<HRESULT>(0x80070103), HresultFromLastError());
  SetLastError(0);
  EXPECT_EQ(S_OK, HresultFromLastError());
}

TEST(RaiseHresult, ThrowsEveryValueAsItIs) {
  for (HRESULT hr : {static_cast<HRESULT>(0x80070005), static_cast<HRESULT>(0), static_cast<HRESULT>(1)}) {
    EXPECT_EQ(hr, Raised([](HRESULT h) { RaiseHresult(h); }, hr));
  }
}

TEST(RaiseIfFailed, RaisesOnlyFailures) {
  const struct {
    HRESULT hr;
    bool raises;
  } cases[] = {
      {0, false},
      {1, false},
      {0x7FFFFFFF, false},
      {static_cast<HRESULT>(0x80070005), true},
      {static_cast<HRESULT>(0x80000000), true},
  };
  for (const auto& c : cases) {
    bool raised = false;
    try {
      RaiseIfFailed(c.hr);
    } catch (const _com_error& error) {
      raised = true;
      EXPECT_EQ(c.hr, error.Hresult());
    }
    EXPECT_EQ(c.raises, raised) << std::hex << c.hr;
  }
}

TEST(RaiseLastError, NeverReportsSuccess) {
  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope(machine);
  const struct {
    DWORD lastError;
    HRESULT expected;
  } cases[] = {
      {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
      {0x80004005, static_cast<HRESULT>(0x80004005)},
      {0, E_FAIL},  // a failure with no recorded reason is still a failure
  };
  for (const auto& c : cases) {
    SetLastError(c.lastError);
    try {
      RaiseLastError();
      ADD_FAILURE() << "did not raise";
    } catch (const _com_error& error) {
      EXPECT_EQ(c.expected, error.Hresult()) << c.lastError;
    }
  }
}

TEST(CheckCrtResult, MapsErrnoResults) {
  const struct {
    errno_t result;
    std::optional<HRESULT> raised;
  } cases[] = {
      {0, std::nullopt},
      {80, std::nullopt},  // STRUNCATE counts as success
      {12, E_OUTOFMEMORY},
      {22, E_INVALIDARG},
      {34, E_INVALIDARG},
      {1, E_FAIL},
      {81, E_FAIL},
      {-1, E_FAIL},
  };
  for (const auto& c : cases) {
    std::optional<HRESULT> raised;
    try {
      CheckCrtResult(c.result);
    } catch (const _com_error& error) {
      raised = error.Hresult();
    }
    EXPECT_EQ(c.raised, raised) << c.result;
  }
}

class MessageTextTest : public ::testing::Test {
 protected:
  MessageTextTest() : machine_(sim::DefaultMachine()), scope_(machine_) {}

  std::size_t Calls(const char* operation) const { return sim::CountCalls(machine_, operation); }

  sim::Machine machine_;
  sim::MachineScope scope_;
};

TEST_F(MessageTextTest, CutsOnlyOneTrailingLineBreak) {
  const struct {
    const wchar_t* system;
    const wchar_t* expected;
  } cases[] = {
      {L"Access is denied.\r\n", L"Access is denied."},
      {L"Access is denied.\n", L"Access is denied."},
      {L"Access is denied.\r", L"Access is denied.\r"},  // CR alone stays
      {L"\n", L"\n"},                                    // a one-character text is never cut
      {L"\r\n", L""},
      {L"Two lines.\r\n\r\n", L"Two lines.\r\n"},
      {L"Trailing blank. \r\n", L"Trailing blank. "},
      {L"No break", L"No break"},
  };
  const DWORD id = 0x80071234;
  for (const auto& c : cases) {
    machine_.messages[id] = std::wstring(c.system);
    _com_error error(static_cast<HRESULT>(id));
    ASSERT_NE(nullptr, error.MessageText());
    EXPECT_EQ(std::wstring(c.expected), error.MessageText()) << sim::Narrow(c.system);
  }
}

TEST_F(MessageTextTest, TextWithInsertSequencesFallsBack) {
  // ERROR_WRONG_DISK's text has %1..%3; without arguments the platform refuses it.
  _com_error error(HresultFromWin32(ERROR_WRONG_DISK));
  ASSERT_NE(nullptr, error.MessageText());
  EXPECT_EQ(std::wstring(L"Unknown error 0x80070022"), error.MessageText());
  EXPECT_EQ(1u, Calls("FormatMessageW"));
}

TEST_F(MessageTextTest, FallbackFormsAndTheirBoundaries) {
  const struct {
    DWORD hr;
    const wchar_t* expected;
  } cases[] = {
      {0x80040201, L"IDispatch error #1"},
      {0x8004FFFF, L"IDispatch error #65023"},
      {0x80040200, L"Unknown error 0x80040200"},  // number 0 would be meaningless
      {0x80050000, L"Unknown error 0x80050000"},
      {0x800401FA, L"Unknown error 0x800401FA"},
      {0x00000001, L"Unknown error 0x1"},  // no leading zeros
  };
  for (const auto& c : cases) {
    machine_.messages[c.hr] = std::nullopt;  // the system has no text
    _com_error error(static_cast<HRESULT>(c.hr));
    ASSERT_NE(nullptr, error.MessageText());
    EXPECT_EQ(std::wstring(c.expected), error.MessageText());
  }
}

TEST_F(MessageTextTest, NullWhenTheFallbackBufferCannotBeHadAndRetriedLater) {
  machine_.messages[0x80050000] = std::nullopt;
  _com_error error(static_cast<HRESULT>(0x80050000));
  sim::FailAllocations(sim::Allocator::LocalHeap);
  EXPECT_EQ(nullptr, error.MessageText());
  EXPECT_EQ(1u, Calls("FormatMessageW"));
  // The next request starts again at the system table.
  ASSERT_NE(nullptr, error.MessageText());
  EXPECT_EQ(std::wstring(L"Unknown error 0x80050000"), error.MessageText());
  EXPECT_EQ(2u, Calls("FormatMessageW"));
}

TEST_F(MessageTextTest, SecondCallAsksThePlatformForNothing) {
  _com_error error(E_ACCESSDENIED);
  const WCHAR* first = error.MessageText();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(std::wstring(L"Access is denied."), first);
  const std::size_t callsBefore = machine_.calls.size();
  EXPECT_EQ(first, error.MessageText());
  EXPECT_EQ(callsBefore, machine_.calls.size());
}

TEST_F(MessageTextTest, CopyBuildsItsOwnText) {
  _com_error original(E_ACCESSDENIED);
  const WCHAR* text = original.MessageText();
  ASSERT_NE(nullptr, text);
  _com_error copy(original);
  EXPECT_EQ(original.Hresult(), copy.Hresult());
  EXPECT_EQ(1u, Calls("FormatMessageW"));  // copying looks nothing up
  const WCHAR* copied = copy.MessageText();
  ASSERT_NE(nullptr, copied);
  EXPECT_NE(text, copied);
  EXPECT_EQ(std::wstring(text), copied);
  EXPECT_EQ(2u, Calls("FormatMessageW"));
}

TEST_F(MessageTextTest, TextsAreReleasedThroughTheProcessHeap) {
  for (DWORD hr : {0x80070005u, 0x80050000u}) {  // a system text, then a fallback buffer
    machine_.messages[0x80050000] = std::nullopt;
    {
      _com_error error(static_cast<HRESULT>(hr));
      ASSERT_NE(nullptr, error.MessageText());
      EXPECT_EQ(1u, machine_.localBlocks);
    }
    EXPECT_EQ(0u, machine_.localBlocks) << std::hex << hr;
  }
  EXPECT_EQ(2u, Calls("HeapFree"));
  EXPECT_EQ(0u, Calls("LocalFree"));
}

TEST_F(MessageTextTest, AnErrorNeverAskedForTextReleasesNothing) {
  { _com_error error(E_ACCESSDENIED); }
  EXPECT_EQ(0u, Calls("GetProcessHeap"));
  EXPECT_EQ(0u, Calls("HeapFree"));
}

TEST_F(MessageTextTest, NoProcessHeapMeansNoFree) {
  sim::FailCall(machine_, "GetProcessHeap", ERROR_NOT_ENOUGH_MEMORY);
  const WCHAR* text = nullptr;
  {
    _com_error error(E_ACCESSDENIED);
    text = error.MessageText();
    ASSERT_NE(nullptr, text);
  }
  EXPECT_EQ(0u, Calls("HeapFree"));
  EXPECT_EQ(1u, machine_.localBlocks);
  LocalFree(const_cast<WCHAR*>(text));
}

}  // namespace
