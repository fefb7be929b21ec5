#include "tool/key_holder.h"

#include "tool/tool_fixture.h"

namespace {

using tessaroot::KeyHolder;

class KeyHolderTest : public tool_testing::ToolTest {
 protected:
  KeyHolderTest() { Load(tool_testing::XpImage()); }
};

TEST_F(KeyHolderTest, OpensWithExactlyTheAccessAskedForAndClosesWhenItGoes) {
  {
    KeyHolder key;
    EXPECT_EQ(nullptr, key.Handle());
    EXPECT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", WRITE_DAC));
    EXPECT_NE(nullptr, key.Handle());
    EXPECT_EQ(1u, machine_.registry.OpenHandles());
  }
  EXPECT_EQ(0u, machine_.registry.OpenHandles());
  EXPECT_EQ((std::vector<std::string>{"RegOpenKeyExW SOFTWARE\\Classes 0x40000", "RegCloseKey SOFTWARE\\Classes"}),
            RegistryCalls());
}

TEST_F(KeyHolderTest, AFailedOpenLeavesTheHolderAsItWas) {
  KeyHolder key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_ENUMERATE_SUB_KEYS));
  const HKEY held = key.Handle();
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Missing", WRITE_OWNER));
  EXPECT_EQ(held, key.Handle());
  sim::FailCall(machine_, "RegOpenKeyExW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_ACCESS_DENIED, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", WRITE_OWNER));
  EXPECT_EQ(held, key.Handle());
  EXPECT_EQ(1u, machine_.registry.OpenHandles());
}

TEST_F(KeyHolderTest, OpeningWhileHoldingClosesTheOldKeyAndReturnsThatStatus) {
  KeyHolder key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_ENUMERATE_SUB_KEYS));
  EXPECT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", WRITE_OWNER));
  EXPECT_EQ(1u, machine_.registry.OpenHandles());

  sim::FailCall(machine_, "RegCloseKey", ERROR_INVALID_HANDLE);
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", WRITE_DAC));
  EXPECT_NE(nullptr, key.Handle());  // the new key is held all the same
}

TEST_F(KeyHolderTest, CloseKeyClosesOnce) {
  KeyHolder key;
  EXPECT_EQ(ERROR_SUCCESS, key.CloseKey());
  EXPECT_EQ(0u, sim::CountCalls(machine_, "RegCloseKey"));
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", WRITE_DAC));
  EXPECT_EQ(ERROR_SUCCESS, key.CloseKey());
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_EQ(ERROR_SUCCESS, key.CloseKey());
  EXPECT_EQ(1u, sim::CountCalls(machine_, "RegCloseKey"));
}

TEST_F(KeyHolderTest, MovingHandsTheKeyOver) {
  KeyHolder first;
  ASSERT_EQ(ERROR_SUCCESS, first.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", WRITE_DAC));
  const HKEY held = first.Handle();
  KeyHolder second(std::move(first));
  EXPECT_EQ(nullptr, first.Handle());
  EXPECT_EQ(held, second.Handle());
  KeyHolder third;
  ASSERT_EQ(ERROR_SUCCESS, third.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", WRITE_DAC));
  third = std::move(second);
  EXPECT_EQ(held, third.Handle());
  EXPECT_EQ(1u, machine_.registry.OpenHandles());
}

}  // namespace
