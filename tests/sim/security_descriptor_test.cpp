// Security descriptors on the simulated machine: both forms and the advapi32 descriptor calls.
#include <functional>

#include "sim/security_fixture.h"

namespace {

using simsec_test::Bytes;
using simsec_test::Copy;
using simsec_test::Filled;
using SimDescriptor = simsec_test::SimSecurityTest;

sim::SidBytes kAdmins = sim::MakeSid(5, {32, 544});
sim::SidBytes kSystem = sim::MakeSid(5, {18});
const std::vector<BYTE> kEmptyAcl = Bytes({2, 0, 8, 0, 0, 0, 0, 0});

// An absolute descriptor with owner BA, group SY and the empty DACL.
struct AbsoluteDescriptor {
  SECURITY_DESCRIPTOR sd{};
  std::vector<BYTE> owner = kAdmins;
  std::vector<BYTE> group = kSystem;
  std::vector<BYTE> dacl = kEmptyAcl;

  AbsoluteDescriptor() {
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorOwner(&sd, owner.data(), FALSE));
    EXPECT_TRUE(SetSecurityDescriptorGroup(&sd, group.data(), FALSE));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE));
  }
};

TEST_F(SimDescriptor, InitializeSecurityDescriptor) {
  SECURITY_DESCRIPTOR sd;
  std::memset(&sd, 0xcc, sizeof sd);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
  EXPECT_EQ(sd.Revision, 0xcc);

  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_EQ(sd.Revision, 1);
  EXPECT_EQ(sd.Control, 0);
  EXPECT_EQ(sd.Owner, nullptr);
  EXPECT_EQ(sd.Group, nullptr);
  EXPECT_EQ(sd.Sacl, nullptr);
  EXPECT_EQ(sd.Dacl, nullptr);
  EXPECT_EQ(GetSecurityDescriptorLength(&sd), 20u);
}

TEST_F(SimDescriptor, OwnerGroupAndDaclOfTheAbsoluteForm) {
  AbsoluteDescriptor a;
  ASSERT_TRUE(SetSecurityDescriptorOwner(&a.sd, a.owner.data(), TRUE));
  PSID owner = nullptr, group = nullptr;
  BOOL ownerDefaulted = 0xdead, groupDefaulted = 0xdead;
  ASSERT_TRUE(GetSecurityDescriptorOwner(&a.sd, &owner, &ownerDefaulted));
  ASSERT_TRUE(GetSecurityDescriptorGroup(&a.sd, &group, &groupDefaulted));
  EXPECT_EQ(owner, a.owner.data());
  EXPECT_EQ(ownerDefaulted, TRUE);
  EXPECT_EQ(group, a.group.data());
  EXPECT_EQ(groupDefaulted, FALSE);

  BOOL present = 0xdead, defaulted = 0xdead;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(&a.sd, &present, &dacl, &defaulted));
  EXPECT_EQ(present, TRUE);
  EXPECT_EQ(dacl, reinterpret_cast<PACL>(a.dacl.data()));
  EXPECT_EQ(defaulted, FALSE);

  // Taking the DACL away clears only the present bit; the DACL outputs are
  // then left as they were.
  ASSERT_TRUE(SetSecurityDescriptorDacl(&a.sd, FALSE, nullptr, TRUE));
  EXPECT_EQ(a.sd.Control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED), 0);
  dacl = reinterpret_cast<PACL>(0xdeadbeef);
  defaulted = 0xdead;
  ASSERT_TRUE(GetSecurityDescriptorDacl(&a.sd, &present, &dacl, &defaulted));
  EXPECT_EQ(present, FALSE);
  EXPECT_EQ(dacl, reinterpret_cast<PACL>(0xdeadbeef));
  EXPECT_EQ(defaulted, 0xdead);

  // A present null DACL is not the same as no DACL.
  ASSERT_TRUE(SetSecurityDescriptorDacl(&a.sd, TRUE, nullptr, TRUE));
  ASSERT_TRUE(GetSecurityDescriptorDacl(&a.sd, &present, &dacl, &defaulted));
  EXPECT_EQ(present, TRUE);
  EXPECT_EQ(dacl, nullptr);
  EXPECT_EQ(defaulted, TRUE);
}

TEST_F(SimDescriptor, SettersRefuseSelfRelativeAndUnknownRevisions) {
  std::vector<BYTE> relative = Bytes({1, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  std::vector<BYTE> revision0 = Filled(sizeof(SECURITY_DESCRIPTOR), 0);
  const struct {
    std::vector<BYTE>* sd;
    DWORD error;
  } descriptors[] = {{&relative, ERROR_INVALID_SECURITY_DESCR}, {&revision0, ERROR_UNKNOWN_REVISION}};
  const struct {
    const char* name;
    std::function<BOOL(PSECURITY_DESCRIPTOR)> call;
  } setters[] = {
      {"owner", [](PSECURITY_DESCRIPTOR sd) { return SetSecurityDescriptorOwner(sd, kAdmins.data(), FALSE); }},
      {"group", [](PSECURITY_DESCRIPTOR sd) { return SetSecurityDescriptorGroup(sd, kSystem.data(), FALSE); }},
      {"dacl", [](PSECURITY_DESCRIPTOR sd) { return SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE); }},
  };
  for (const auto& d : descriptors) {
    for (const auto& s : setters) {
      std::vector<BYTE> sd = *d.sd;
      sd.resize(sizeof(SECURITY_DESCRIPTOR));
      std::vector<BYTE> before = sd;
      SetLastError(0xdeadbeef);
      EXPECT_FALSE(s.call(sd.data())) << s.name;
      EXPECT_EQ(GetLastError(), d.error) << s.name;
      EXPECT_EQ(sd, before) << s.name;
    }
  }
}

TEST_F(SimDescriptor, MakeSelfRelativeLayout) {
  AbsoluteDescriptor a;
  ASSERT_TRUE(SetSecurityDescriptorControl(&a.sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
  // 20 header + 8 DACL + 16 owner + 12 group, also for the absolute form on a 64-bit host.
  ASSERT_EQ(GetSecurityDescriptorLength(&a.sd), 56u);

  DWORD length = 55;
  std::vector<BYTE> small = Filled(64);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(MakeSelfRelativeSD(&a.sd, small.data(), &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(length, 56u);
  EXPECT_EQ(small, Filled(64));

  std::vector<BYTE> relative = Filled(64);
  length = 64;
  ASSERT_TRUE(MakeSelfRelativeSD(&a.sd, relative.data(), &length));
  EXPECT_EQ(length, 64u);  // left alone on success
  std::vector<BYTE> expected = Bytes({1, 0, 0x04, 0x90, 28, 0, 0, 0, 44, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0});
  expected.insert(expected.end(), kEmptyAcl.begin(), kEmptyAcl.end());
  expected.insert(expected.end(), kAdmins.begin(), kAdmins.end());
  expected.insert(expected.end(), kSystem.begin(), kSystem.end());
  EXPECT_EQ(Copy(relative.data(), 56), expected);
  EXPECT_EQ(relative[56], 0xcc);
  EXPECT_EQ(GetSecurityDescriptorLength(relative.data()), 56u);
  EXPECT_TRUE(IsValidSecurityDescriptor(relative.data()));

  // The getters read the self-relative form through its offsets.
  PSID owner = nullptr;
  BOOL defaulted = 0xdead;
  ASSERT_TRUE(GetSecurityDescriptorOwner(relative.data(), &owner, &defaulted));
  EXPECT_EQ(owner, relative.data() + 28);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(relative.data(), &control, &revision));
  EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
  EXPECT_EQ(revision, 1u);

  // A self-relative source is refused.
  std::vector<BYTE> again = Filled(64);
  length = 64;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(MakeSelfRelativeSD(relative.data(), again.data(), &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_DESCRIPTOR_FORMAT));
  EXPECT_EQ(again, Filled(64));
}

TEST_F(SimDescriptor, LengthCountsOnlyPresentParts) {
  const struct {
    const char* what;
    bool owner, group;
    int dacl;  // 0 absent, 1 present null, 2 present empty
    DWORD length;
  } cases[] = {
      {"nothing", false, false, 0, 20},       {"owner", true, false, 0, 36},
      {"group", false, true, 0, 32},          {"null DACL", false, false, 1, 20},
      {"empty DACL", false, false, 2, 28},    {"all", true, true, 2, 56},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AbsoluteDescriptor a;
    if (!c.owner) a.sd.Owner = nullptr;
    if (!c.group) a.sd.Group = nullptr;
    if (c.dacl == 0) SetSecurityDescriptorDacl(&a.sd, FALSE, nullptr, FALSE);
    if (c.dacl == 1) SetSecurityDescriptorDacl(&a.sd, TRUE, nullptr, FALSE);
    EXPECT_EQ(GetSecurityDescriptorLength(&a.sd), c.length);
    std::vector<BYTE> relative(c.length);
    DWORD length = c.length;
    ASSERT_TRUE(MakeSelfRelativeSD(&a.sd, relative.data(), &length));
    EXPECT_EQ(GetSecurityDescriptorLength(relative.data()), c.length);
    auto model = sim::ReadDescriptor(relative.data());
    ASSERT_TRUE(model.has_value());
    EXPECT_EQ(sim::WriteSelfRelative(*model), relative);
    EXPECT_EQ(model->daclPresent, c.dacl != 0);
    EXPECT_EQ(model->dacl.has_value(), c.dacl == 2);
  }
}

TEST_F(SimDescriptor, ControlBits) {
  AbsoluteDescriptor a;
  ASSERT_TRUE(SetSecurityDescriptorControl(&a.sd, SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED, SE_DACL_PROTECTED));
  EXPECT_EQ(a.sd.Control, SE_DACL_PRESENT | SE_DACL_PROTECTED);
  ASSERT_TRUE(SetSecurityDescriptorControl(&a.sd, SE_DACL_PROTECTED, 0));
  EXPECT_EQ(a.sd.Control, SE_DACL_PRESENT);

  for (SECURITY_DESCRIPTOR_CONTROL bit : {SE_DACL_PRESENT, SE_OWNER_DEFAULTED, SE_SELF_RELATIVE, SE_SACL_PRESENT}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetSecurityDescriptorControl(&a.sd, bit, bit)) << bit;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(a.sd.Control, SE_DACL_PRESENT);
  }

  a.sd.Revision = 2;
  SECURITY_DESCRIPTOR_CONTROL control = 0xcccc;
  DWORD revision = 0xdeadbeef;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetSecurityDescriptorControl(&a.sd, &control, &revision));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
  EXPECT_EQ(control, 0xcccc);
  EXPECT_EQ(revision, 2u);
}

TEST_F(SimDescriptor, InvalidDescriptors) {
  const struct {
    const char* what;
    std::function<void(AbsoluteDescriptor&)> spoil;
  } cases[] = {
      {"revision 0", [](AbsoluteDescriptor& a) { a.sd.Revision = 0; }},
      {"owner of revision 2", [](AbsoluteDescriptor& a) { a.owner[0] = 2; }},
      {"group with 16 sub-authorities", [](AbsoluteDescriptor& a) { a.group[1] = 16; }},
      {"DACL of revision 1", [](AbsoluteDescriptor& a) { a.dacl[0] = 1; }},
      {"DACL size below its header", [](AbsoluteDescriptor& a) { a.dacl[2] = 4; }},
  };
  {
    AbsoluteDescriptor valid;
    EXPECT_TRUE(IsValidSecurityDescriptor(&valid.sd));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AbsoluteDescriptor a;
    a.group.resize(80);  // room for what a spoiled count claims
    a.sd.Group = a.group.data();
    c.spoil(a);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(IsValidSecurityDescriptor(&a.sd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    EXPECT_FALSE(sim::ReadDescriptor(&a.sd).has_value());
  }
}

TEST_F(SimDescriptor, InjectedFailures) {
  AbsoluteDescriptor a;
  SECURITY_DESCRIPTOR before = a.sd;
  PSID sid = reinterpret_cast<PSID>(0xdeadbeef);
  PACL acl = reinterpret_cast<PACL>(0xdeadbeef);
  BOOL flag = 0xdead;
  SECURITY_DESCRIPTOR_CONTROL control = 0xcccc;
  DWORD revision = 0xdeadbeef, length = 256;
  std::vector<BYTE> out = Filled(256);
  const struct {
    const char* name;
    std::function<BOOL()> call;
  } cases[] = {
      {"InitializeSecurityDescriptor", [&] { return InitializeSecurityDescriptor(&a.sd, 1); }},
      {"SetSecurityDescriptorOwner", [&] { return SetSecurityDescriptorOwner(&a.sd, nullptr, TRUE); }},
      {"SetSecurityDescriptorGroup", [&] { return SetSecurityDescriptorGroup(&a.sd, nullptr, TRUE); }},
      {"SetSecurityDescriptorDacl", [&] { return SetSecurityDescriptorDacl(&a.sd, FALSE, nullptr, TRUE); }},
      {"GetSecurityDescriptorOwner", [&] { return GetSecurityDescriptorOwner(&a.sd, &sid, &flag); }},
      {"GetSecurityDescriptorGroup", [&] { return GetSecurityDescriptorGroup(&a.sd, &sid, &flag); }},
      {"GetSecurityDescriptorDacl", [&] { return GetSecurityDescriptorDacl(&a.sd, &flag, &acl, &flag); }},
      {"GetSecurityDescriptorControl", [&] { return GetSecurityDescriptorControl(&a.sd, &control, &revision); }},
      {"SetSecurityDescriptorControl",
       [&] { return SetSecurityDescriptorControl(&a.sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED); }},
      {"IsValidSecurityDescriptor", [&] { return IsValidSecurityDescriptor(&a.sd); }},
      {"MakeSelfRelativeSD", [&] { return MakeSelfRelativeSD(&a.sd, out.data(), &length); }},
  };
  for (const auto& c : cases) {
    ExpectInjectedFailure(c.name, ERROR_NOT_ENOUGH_MEMORY, c.call);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::memcmp(&a.sd, &before, sizeof before), 0);
    EXPECT_EQ(sid, reinterpret_cast<PSID>(0xdeadbeef));
    EXPECT_EQ(acl, reinterpret_cast<PACL>(0xdeadbeef));
    EXPECT_EQ(flag, 0xdead);
    EXPECT_EQ(control, 0xcccc);
    EXPECT_EQ(revision, 0xdeadbeef);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(out, Filled(256));
  }
}

}  // namespace
