// Shared by the tests of the simulated security calls: a fresh machine made
// current for each test, and small byte helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/sim/control.h"
#include "platform/sim/security_model.h"

namespace simsec_test {

inline std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> bytes;
  for (int v : values) bytes.push_back(static_cast<BYTE>(v));
  return bytes;
}

inline std::vector<BYTE> Copy(const void* p, std::size_t n) {
  const BYTE* b = static_cast<const BYTE*>(p);
  return std::vector<BYTE>(b, b + n);
}

// A buffer filled with a sentinel, so that a write on failure shows.
inline std::vector<BYTE> Filled(std::size_t n, BYTE fill = 0xcc) { return std::vector<BYTE>(n, fill); }

class SimSecurityTest : public ::testing::Test {
 protected:
  sim::Machine machine = sim::DefaultMachine();
  sim::MachineScope scope{machine};

  // Makes the next call of `name` fail with `status` through a failure rule,
  // runs `call` and checks that it failed as the rule said and was logged as
  // injected. The caller checks its own sentinels afterwards.
  void ExpectInjectedFailure(const char* name, DWORD status, const std::function<BOOL()>& call) {
    SCOPED_TRACE(name);
    sim::FailCall(machine, name, status);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(call());
    EXPECT_EQ(GetLastError(), status);
    auto calls = sim::CallsOf(machine, name);
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(calls.back().injected);
  }

  // Every test leaves no local block behind.
  void TearDown() override { EXPECT_EQ(machine.localBlocks, 0u); }
};

}  // namespace simsec_test
