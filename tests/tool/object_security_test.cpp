#include "tool/object_security.h"

#include "error/com_error.h"
#include "tool/key_holder.h"
#include "tool/tool_fixture.h"

namespace {

using tessaroot::KeyHolder;

class SetterTest : public tool_testing::ToolTest {
 protected:
  SetterTest() {
    Load(tool_testing::XpImage("SOFTWARE\\Classes\\.txt = O:S-1-5-21-9-9-9-1000G:BUD:P(A;;KA;;;WD)\n"));
  }
  HKEY Open(REGSAM access) {
    EXPECT_EQ(ERROR_SUCCESS, key_.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.txt", access));
    machine_.calls.clear();
    return key_.Handle();
  }
  KeyHolder key_;
};

TEST_F(SetterTest, EachSetterChangesItsOnePart) {
  const HKEY key = Open(WRITE_OWNER);
  SetLastError(0xDEADBEEF);
  EXPECT_TRUE(tessaroot::SetObjectOwner(key, SE_REGISTRY_KEY, ATL::AdministratorsSid()));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_TRUE(tessaroot::SetObjectGroup(key, SE_REGISTRY_KEY, ATL::LocalSystemSid()));
  EXPECT_EQ("O:BAG:SYD:P(A;;KA;;;WD)", Sddl(L"SOFTWARE\\Classes\\.txt"));

  key_.CloseKey();
  ATL::CDacl empty;
  EXPECT_TRUE(tessaroot::SetObjectDacl(Open(WRITE_DAC), SE_REGISTRY_KEY, empty, UNPROTECTED_DACL_SECURITY_INFORMATION));
  EXPECT_EQ("O:BAG:SYD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)",
            Sddl(L"SOFTWARE\\Classes\\.txt"));
  EXPECT_EQ((std::vector<std::string>{"SetSecurityInfo SOFTWARE\\Classes\\.txt 0x20000004"}), RegistryCalls());
}

TEST_F(SetterTest, ThePlatformsStatusBecomesTheThreadsError) {
  const HKEY key = Open(WRITE_OWNER);
  const struct {
    DWORD status;
  } cases[] = {{ERROR_INVALID_OWNER}, {ERROR_ACCESS_DENIED}, {0x8007000E}};
  for (const auto& c : cases) {
    sim::FailCall(machine_, "SetSecurityInfo", c.status);
    SetLastError(0);
    EXPECT_FALSE(tessaroot::SetObjectOwner(key, SE_REGISTRY_KEY, ATL::AdministratorsSid()));
    EXPECT_EQ(c.status, GetLastError());
    machine_.failures.clear();
  }
  EXPECT_EQ("O:S-1-5-21-9-9-9-1000G:BUD:P(A;;KA;;;WD)", Sddl(L"SOFTWARE\\Classes\\.txt"));
}

TEST_F(SetterTest, RefusedArgumentsMakeNoCallAndAreNeverSuccess) {
  const HKEY key = Open(WRITE_OWNER | WRITE_DAC);
  ATL::CDacl dacl;
  const struct {
    const char* what;
    bool (*set)(HANDLE, ATL::CDacl&);
    HANDLE handle;
  } cases[] = {
      {"owner, null handle", [](HANDLE h, ATL::CDacl&) { return tessaroot::SetObjectOwner(h, SE_REGISTRY_KEY, ATL::AdministratorsSid()); }, nullptr},
      {"owner, no SID", [](HANDLE h, ATL::CDacl&) { return tessaroot::SetObjectOwner(h, SE_REGISTRY_KEY, ATL::CSid()); }, key},
      {"group, null handle", [](HANDLE h, ATL::CDacl&) { return tessaroot::SetObjectGroup(h, SE_REGISTRY_KEY, ATL::LocalSystemSid()); }, nullptr},
      {"group, no SID", [](HANDLE h, ATL::CDacl&) { return tessaroot::SetObjectGroup(h, SE_REGISTRY_KEY, ATL::CSid()); }, key},
      {"DACL, null handle", [](HANDLE h, ATL::CDacl& d) { return tessaroot::SetObjectDacl(h, SE_REGISTRY_KEY, d, PROTECTED_DACL_SECURITY_INFORMATION); }, nullptr},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(c.set(c.handle, dacl)) << c.what;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.what;
  }
  EXPECT_EQ(0u, sim::CountCalls(machine_, "SetSecurityInfo"));
  EXPECT_EQ(0u, sim::CountCalls(machine_, "InitializeAcl"));  // the DACL is not even built
}

TEST_F(SetterTest, AFailingBuildPassesThrough) {
  const HKEY key = Open(WRITE_DAC);
  ATL::CDacl dacl;
  sim::FailCall(machine_, "InitializeAcl", ERROR_INVALID_PARAMETER);
  try {
    tessaroot::SetObjectDacl(key, SE_REGISTRY_KEY, dacl, PROTECTED_DACL_SECURITY_INFORMATION);
    ADD_FAILURE() << "did not raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(E_INVALIDARG, error.Hresult());
  }
  EXPECT_EQ(0u, sim::CountCalls(machine_, "SetSecurityInfo"));
}

}  // namespace
