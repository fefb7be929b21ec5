#include "tool/subkey_walk.h"

#include "error/com_error.h"
#include "tool/tool_fixture.h"

namespace {

using tessaroot::KeyHolder;

class SubkeyWalkTest : public tool_testing::ToolTest {
 protected:
  // Walks the class tree's root as the root reset hands it over.
  void Walk() {
    KeyHolder root;
    ASSERT_EQ(ERROR_SUCCESS, root.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", KEY_ENUMERATE_SUB_KEYS));
    machine_.calls.clear();
    tessaroot::ResetSubkeys(root);
  }
};

TEST_F(SubkeyWalkTest, AKeyWithoutSubkeysIsOneEnumeration) {
  Load(tool_testing::XpImage());
  Walk();
  EXPECT_EQ((std::vector<std::string>{"RegEnumKeyExW SOFTWARE\\Classes", "RegCloseKey SOFTWARE\\Classes"}),
            RegistryCalls());
}

TEST_F(SubkeyWalkTest, EachKeyIsFinishedBeforeAnyKeyBelowIt) {
  Load(tool_testing::XpImage(
      "SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"
      "SOFTWARE\\Classes\\a\\b = O:WDG:WDD:P(A;;KA;;;WD)\n"
      "SOFTWARE\\Classes\\c = O:WDG:WDD:(A;;KA;;;WD)\n"));
  Walk();
  const std::vector<std::string> expected = {
      "RegEnumKeyExW SOFTWARE\\Classes",
      "RegOpenKeyExW SOFTWARE\\Classes\\a 0x80000",
      "SetSecurityInfo SOFTWARE\\Classes\\a 0x1",
      "SetSecurityInfo SOFTWARE\\Classes\\a 0x2",
      "RegCloseKey SOFTWARE\\Classes\\a",
      "RegOpenKeyExW SOFTWARE\\Classes\\a 0x40000",
      "SetSecurityInfo SOFTWARE\\Classes\\a 0x20000004",
      "RegCloseKey SOFTWARE\\Classes\\a",
      "RegOpenKeyExW SOFTWARE\\Classes\\a 0x8",
      "RegEnumKeyExW SOFTWARE\\Classes\\a",
      "RegOpenKeyExW SOFTWARE\\Classes\\a\\b 0x80000",
      "SetSecurityInfo SOFTWARE\\Classes\\a\\b 0x1",
      "SetSecurityInfo SOFTWARE\\Classes\\a\\b 0x2",
      "RegCloseKey SOFTWARE\\Classes\\a\\b",
      "RegOpenKeyExW SOFTWARE\\Classes\\a\\b 0x40000",
      "SetSecurityInfo SOFTWARE\\Classes\\a\\b 0x20000004",
      "RegCloseKey SOFTWARE\\Classes\\a\\b",
      "RegOpenKeyExW SOFTWARE\\Classes\\a\\b 0x8",
      "RegEnumKeyExW SOFTWARE\\Classes\\a\\b",
      "RegCloseKey SOFTWARE\\Classes\\a\\b",
      "RegEnumKeyExW SOFTWARE\\Classes\\a",
      "RegCloseKey SOFTWARE\\Classes\\a",
      "RegEnumKeyExW SOFTWARE\\Classes",
      "RegOpenKeyExW SOFTWARE\\Classes\\c 0x80000",
      "SetSecurityInfo SOFTWARE\\Classes\\c 0x1",
      "SetSecurityInfo SOFTWARE\\Classes\\c 0x2",
      "RegCloseKey SOFTWARE\\Classes\\c",
      "RegOpenKeyExW SOFTWARE\\Classes\\c 0x40000",
      "SetSecurityInfo SOFTWARE\\Classes\\c 0x20000004",
      "RegCloseKey SOFTWARE\\Classes\\c",
      "RegOpenKeyExW SOFTWARE\\Classes\\c 0x8",
      "RegEnumKeyExW SOFTWARE\\Classes\\c",
      "RegCloseKey SOFTWARE\\Classes\\c",
      "RegEnumKeyExW SOFTWARE\\Classes",
      "RegCloseKey SOFTWARE\\Classes",  // the root's handle, when Walk's holder goes
  };
  EXPECT_EQ(expected, RegistryCalls());
  const char inherited[] =
      "O:BAG:SYD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)";
  for (const wchar_t* key : {L"SOFTWARE\\Classes\\a", L"SOFTWARE\\Classes\\a\\b", L"SOFTWARE\\Classes\\c"}) {
    EXPECT_EQ(inherited, Sddl(key)) << sim::Narrow(key);
  }
  EXPECT_EQ(0u, machine_.registry.OpenHandles());
}

TEST_F(SubkeyWalkTest, TheEmptyDaclIsBuiltOnceAndShared) {
  Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"
                             "SOFTWARE\\Classes\\b = O:WDG:WDD:(A;;KA;;;WD)\n"));
  ASSERT_FALSE(tessaroot::EmptyDacl.IsNull());
  EXPECT_EQ(0u, tessaroot::EmptyDacl.AceCount());
  Walk();
  const PACL built = tessaroot::EmptyDacl.BuildAcl();
  ASSERT_NE(nullptr, built);
  EXPECT_EQ(8, built->AclSize);
  EXPECT_EQ(0, built->AceCount);
  EXPECT_EQ(ACL_REVISION, built->AclRevision);
  Walk();
  EXPECT_EQ(0u, sim::CountCalls(machine_, "InitializeAcl"));
  EXPECT_EQ(built, tessaroot::EmptyDacl.BuildAcl());
}

// Each level keeps its name in its own frame and shares the one empty ACL:
// a key costs the tool no allocation, however large the tree.
TEST_F(SubkeyWalkTest, AKeyCostsNoAllocation) {
  std::string tree;
  for (int i = 0; i < 40; ++i) {
    const std::string key = "SOFTWARE\\Classes\\k" + std::to_string(i);
    tree += key + " = O:WDG:WDD:(A;;KA;;;WD)\n" + key + "\\shell = O:WDG:WDD:P(A;;KA;;;WD)\n";
  }
  Load(tool_testing::XpImage(tree));
  tessaroot::EmptyDacl.BuildAcl();
  const unsigned long heap = sim::AllocationsMade(sim::Allocator::CHeap);
  const unsigned long objects = sim::AllocationsMade(sim::Allocator::OperatorNew);
  Walk();
  EXPECT_EQ(80u, sim::CountCalls(machine_, "RegOpenKeyExW") / 3);
  EXPECT_EQ(heap, sim::AllocationsMade(sim::Allocator::CHeap));
  EXPECT_EQ(objects, sim::AllocationsMade(sim::Allocator::OperatorNew));
}

TEST_F(SubkeyWalkTest, AFailedEnumerationOfTheWalkedKeyLeavesIt) {
  Load(tool_testing::XpImage("SOFTWARE\\Classes\\a = O:WDG:WDD:(A;;KA;;;WD)\n"
                             "SOFTWARE\\Classes\\b = O:WDG:WDD:(A;;KA;;;WD)\n"));
  sim::FailureRule rule;
  rule.operation = "RegEnumKeyExW";
  rule.path = L"SOFTWARE\\Classes";
  rule.status = ERROR_MORE_DATA;
  rule.nth = 2;
  sim::FailCall(machine_, rule);
  try {
    Walk();
    ADD_FAILURE() << "did not raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(static_cast<HRESULT>(0x800700EA), error.Hresult());
  }
  EXPECT_EQ("O:BAG:SYD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)",
            Sddl(L"SOFTWARE\\Classes\\a"));
  EXPECT_EQ("O:WDG:WDD:(A;;KA;;;WD)", Sddl(L"SOFTWARE\\Classes\\b"));
}

}  // namespace
