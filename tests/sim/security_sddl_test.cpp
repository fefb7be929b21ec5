// SDDL on the simulated machine: both conversions, the canonical text, refusals
// and the failure paths.
#include <cwchar>
#include <functional>

#include "sim/security_fixture.h"

namespace {

using simsec_test::Bytes;
using simsec_test::Copy;
using SimSddl = simsec_test::SimSecurityTest;

const wchar_t kWindows2000Professional[] =
    L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)(A;CI;GR;;;WD)";
const wchar_t kWindowsXpHome[] = L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)";
const wchar_t kWindowsXpProfessional[] =
    L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)";

const DWORD kAllParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Text -> descriptor -> text through the two Win32 conversions.
std::wstring ThroughWin32(const wchar_t* text, DWORD info = kAllParts) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ULONG size = 0xdeadbeef;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &sd, &size)) {
    ADD_FAILURE() << "refused, error " << GetLastError();
    return L"<refused>";
  }
  EXPECT_EQ(size, GetSecurityDescriptorLength(sd));
  LPWSTR out = nullptr;
  ULONG length = 0xdeadbeef;
  std::wstring result = L"<refused back>";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, info, &out, &length)) {
    result = out;
    EXPECT_EQ(length, result.size() + 1) << "the length counts the terminating NUL";
    LocalFree(out);
  } else {
    ADD_FAILURE() << "refused back, error " << GetLastError();
  }
  LocalFree(sd);
  return result;
}

TEST_F(SimSddl, CanonicalTextsRoundTripExactly) {
  const wchar_t* cases[] = {
      kWindows2000Professional,
      kWindowsXpHome,
      kWindowsXpProfessional,
      L"O:BAG:SYD:PAI(A;CI;GR;;;BU)(A;CIID;GA;;;BA)",
      L"",
      L"O:SY",
      L"G:BA",
      L"D:",
      L"D:P",
      L"D:NO_ACCESS_CONTROL",
      L"D:PARAINO_ACCESS_CONTROL",
      L"O:S-1-5-21-1-2-3-500G:S-1-0x123456789ABC-7D:AI",
      L"D:(D;OICINPIOID;0x1;;;WD)(A;;KA;;;SY)(A;;KR;;;BU)(A;;KW;;;PU)",
      L"D:(A;;0x0;;;AN)(A;;0x1f01ff;;;BA)(A;;GX;;;IU)(A;;0x10000001;;;NU)",
      L"D:(A;;GAGRGWGXSDRCWDWO;;;S-1-5-21-7-8-9-1000)(A;;GXRC;;;S-1-5)",
      L"D:(OA;CI;RC;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)",
      L"D:(OD;;GR;;bf967aba-0de6-11d0-a285-00aa003049e2;NS)",
      L"D:(OA;;0x100;00112233-4455-6677-8899-aabbccddeeff;ffeeddcc-bbaa-9988-7766-554433221100;LS)(A;;GA;;;SY)",
      L"D:(AU;SAFA;GA;;;WD)(AL;;GA;;;WD)(OU;;GA;;;WD)(OL;;GA;;;WD)",
      L"D:(A;;GR;;;BA)(A;;GR;;;BU)(A;;GR;;;BG)(A;;GR;;;PU)(A;;GR;;;AO)(A;;GR;;;SO)(A;;GR;;;PO)(A;;GR;;;BO)"
      L"(A;;GR;;;RE)(A;;GR;;;RU)(A;;GR;;;SY)(A;;GR;;;LS)(A;;GR;;;NS)(A;;GR;;;WD)(A;;GR;;;CO)(A;;GR;;;CG)"
      L"(A;;GR;;;AU)(A;;GR;;;AN)(A;;GR;;;IU)(A;;GR;;;NU)(A;;GR;;;SU)",
  };
  for (const wchar_t* text : cases) {
    SCOPED_TRACE(sim::Narrow(text));
    auto model = sim::ParseSddl(text);
    ASSERT_TRUE(model.has_value());
    EXPECT_EQ(sim::FormatSddl(*model), text);
    EXPECT_EQ(ThroughWin32(text), text);
  }
}

TEST_F(SimSddl, OtherSpellingsComeBackCanonical) {
  const struct {
    const wchar_t* text;
    const wchar_t* canonical;
  } cases[] = {
      {L"G:SYO:BA", L"O:BAG:SY"},
      {L"D:(A;;GA;;;BA)O:S-1-5-32-544", L"O:BAD:(A;;GA;;;BA)"},
      {L"D:AIP(A;IOCI;GA;;;CO)", L"D:PAI(A;CIIO;GA;;;CO)"},
      {L"D:AIARP", L"D:PARAI"},
      {L"D:NO_ACCESS_CONTROLP", L"D:PNO_ACCESS_CONTROL"},
      {L"D:(A;IDIONPCIOI;GA;;;CO)", L"D:(A;OICINPIOID;GA;;;CO)"},
      {L"D:(A;;KX;;;BU)", L"D:(A;;KR;;;BU)"},
      {L"D:(A;;0x20019;;;BU)", L"D:(A;;KR;;;BU)"},
      {L"D:(A;;0xF003F;;;BU)", L"D:(A;;KA;;;BU)"},
      {L"D:(A;;0X80000000;;;BU)", L"D:(A;;GR;;;BU)"},
      {L"D:(A;;0x20000000;;;IU)", L"D:(A;;GX;;;IU)"},
      {L"D:(A;;SDGWGR;;;BU)", L"D:(A;;GRGWSD;;;BU)"},
      {L"D:(A;;GRGR;;;BU)", L"D:(A;;GR;;;BU)"},
      {L"D:(A;;WORCWDSD;;;BU)", L"D:(A;;SDRCWDWO;;;BU)"},
      {L"D:(A;;FA;;;BU)", L"D:(A;;0x1f01ff;;;BU)"},
      {L"D:(A;;FRFWFX;;;BU)", L"D:(A;;0x1201bf;;;BU)"},
      {L"D:(A;;CCDCLCSWRPWPDTLOCR;;;BU)", L"D:(A;;0x1ff;;;BU)"},
      {L"D:(A;;KAGA;;;BU)", L"D:(A;;0x100f003f;;;BU)"},
      {L"D:(A;;;;;BU)", L"D:(A;;0x0;;;BU)"},
      {L"D:(OA;;GA;BF967ABA-0DE6-11D0-A285-00AA003049E2;;BU)",
       L"D:(OA;;GA;bf967aba-0de6-11d0-a285-00aa003049e2;;BU)"},
      {L"D:(A;;GA;;;S-1-1-0)(A;;GA;;;S-1-0x5-18)", L"D:(A;;GA;;;WD)(A;;GA;;;SY)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.text));
    EXPECT_EQ(ThroughWin32(c.text), c.canonical);
  }
}

TEST_F(SimSddl, TextsThatAreNotSddlAreRefused) {
  const wchar_t* cases[] = {
      L"X:BA",
      L"O:",
      L"O:XX",
      L"O:ba",
      L"O:BAO:SY",
      L"G:BAG:BA",
      L"D:D:",
      L"D:(A;;GA;;;BA)D:",
      L"O:BA G:SY",
      L" O:BA",
      L"O:BA ",
      L":BA",
      L"O",
      L"S:",
      L"S:(AU;SA;GA;;;WD)",
      L"O:BAS:",
      L"D:PP",
      L"D:X",
      L"D:p",
      L"D:NO_ACCESS_CONTROL(A;;GA;;;BA)",
      L"D:NO_ACCESS_CONTROLNO_ACCESS_CONTROL",
      L"D:(A;;GA;;;BA",
      L"D:(A;;GA;;;BA)x",
      L"D:(A;;GA;;;BA)(",
      L"D:(A;;GA;;BA)",
      L"D:(A;;GA;;;;BA)",
      L"D:()",
      L"D:(X;;GA;;;BA)",
      L"D:(a;;GA;;;BA)",
      L"D:(;;GA;;;BA)",
      L"D:(A;ZZ;GA;;;BA)",
      L"D:(A;C;GA;;;BA)",
      L"D:(A;ci;GA;;;BA)",
      L"D:(A;;ZZ;;;BA)",
      L"D:(A;;ga;;;BA)",
      L"D:(A;;G;;;BA)",
      L"D:(A;;1;;;BA)",
      L"D:(A;;0x;;;BA)",
      L"D:(A;;0xG;;;BA)",
      L"D:(A;;0x100000000;;;BA)",
      L"D:(A;;GA0x1;;;BA)",
      L"D:(A;;GA;;;)",
      L"D:(A;;GA;;;XX)",
      L"D:(A;;GA;;;S-1-5-)",
      L"D:(A;;GA;bf967aba-0de6-11d0-a285-00aa003049e2;;BA)",
      L"D:(A;;GA;;bf967aba-0de6-11d0-a285-00aa003049e2;BA)",
      L"D:(OA;;GA;{bf967aba-0de6-11d0-a285-00aa003049e2};;BA)",
      L"D:(OA;;GA;bf967aba-0de6-11d0-a285-00aa003049e;;BA)",
      L"D:(OA;;GA;bf967aba0-de6-11d0-a285-00aa003049e2;;BA)",
      L"D:(OA;;GA;bf967aba-0de6-11d0-a285-00aa003049g2;;BA)",
      L"D:(OA;;GA;bf967aba-0de6-11d0-a285-00aa003049e22;;BA)",
  };
  for (const wchar_t* text : cases) {
    SCOPED_TRACE(sim::Narrow(text));
    EXPECT_FALSE(sim::ParseSddl(text).has_value());
    PSECURITY_DESCRIPTOR sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef);
    ULONG size = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &sd, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sd, reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef));
    EXPECT_EQ(size, 0xdeadbeef);
    EXPECT_EQ(machine.localBlocks, 0u);
  }
}

TEST_F(SimSddl, BaselineBecomesTheExpectedBinaryDescriptor) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ULONG size = 0;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kWindowsXpHome, SDDL_REVISION_1, &sd, &size));
  // Header, DACL of 8 + 24 + 24 + 20 + 20 bytes, owner 16, group 12.
  ASSERT_EQ(size, 20u + 96u + 16u + 12u);
  EXPECT_EQ(Copy(sd, 20), Bytes({1, 0, 0x04, 0x90, 116, 0, 0, 0, 132, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0}));
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(Copy(dacl, 8), Bytes({2, 0, 96, 0, 4, 0, 0, 0}));
  // (A;CI;GR;;;BU) then (A;CIIO;GA;;;CO) as the last entry.
  EXPECT_EQ(Copy(reinterpret_cast<BYTE*>(dacl) + 8, 24),
            Bytes({0, 2, 24, 0, 0, 0, 0, 0x80, 1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x21, 2, 0, 0}));
  LPVOID last = nullptr;
  ASSERT_TRUE(GetAce(dacl, 3, &last));
  EXPECT_EQ(Copy(last, 20), Bytes({0, 0x0a, 20, 0, 0, 0, 0, 0x10, 1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0}));
  LocalFree(sd);
}

TEST_F(SimSddl, ObjectAcesMakeARevision4Dacl) {
  auto model = sim::ParseSddl(L"D:(A;;GA;;;SY)(OA;;GA;;;SY)");
  ASSERT_TRUE(model && model->dacl);
  EXPECT_EQ(model->dacl->revision, ACL_REVISION_DS);
  auto plain = sim::ParseSddl(L"D:(A;;GA;;;SY)");
  ASSERT_TRUE(plain && plain->dacl);
  EXPECT_EQ(plain->dacl->revision, ACL_REVISION);
}

TEST_F(SimSddl, SecurityInformationChoosesTheParts) {
  const wchar_t text[] = L"O:BAG:SYD:P(A;CI;GR;;;BU)";
  const struct {
    DWORD info;
    const wchar_t* expected;
  } cases[] = {
      {kAllParts, text},
      {OWNER_SECURITY_INFORMATION, L"O:BA"},
      {GROUP_SECURITY_INFORMATION, L"G:SY"},
      {DACL_SECURITY_INFORMATION, L"D:P(A;CI;GR;;;BU)"},
      {GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, L"G:SYD:P(A;CI;GR;;;BU)"},
      {SACL_SECURITY_INFORMATION, L""},
      {0, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThroughWin32(text, c.info), c.expected) << c.info;
  }
}

TEST_F(SimSddl, DescriptorToTextFromTheAbsoluteForm) {
  sim::SidBytes owner = sim::MakeSid(5, {21, 1, 2, 3, 1001});
  std::vector<BYTE> dacl = sim::WriteAcl(*sim::ParseSddl(L"D:(A;OICI;KA;;;CO)")->dacl);
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, owner.data(), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorControl(&sd, SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERITED));
  LPWSTR text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(&sd, SDDL_REVISION_1, kAllParts, &text, nullptr));
  EXPECT_STREQ(text, L"O:S-1-5-21-1-2-3-1001D:AI(A;OICI;KA;;;CO)");
  LocalFree(text);
}

TEST_F(SimSddl, ConversionErrors) {
  PSECURITY_DESCRIPTOR sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef);
  for (DWORD revision : {0u, 2u}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kWindowsXpHome, revision, &sd, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    EXPECT_EQ(sd, reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef));
  }
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(nullptr, SDDL_REVISION_1, &sd, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  std::vector<BYTE> valid = sim::WriteSelfRelative(*sim::ParseSddl(kWindowsXpHome));
  std::vector<BYTE> badOwner = valid;
  badOwner[116] = 2;  // the owner's revision
  const struct {
    const char* what;
    std::vector<BYTE>* descriptor;
    DWORD revision;
    DWORD error;
  } cases[] = {
      {"revision 0", &valid, 0, ERROR_UNKNOWN_REVISION},
      {"revision 2", &valid, 2, ERROR_UNKNOWN_REVISION},
      {"invalid owner", &badOwner, SDDL_REVISION_1, ERROR_INVALID_SECURITY_DESCR},
      {"no descriptor", nullptr, SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LPWSTR text = reinterpret_cast<LPWSTR>(0xdeadbeef);
    ULONG length = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        c.descriptor ? c.descriptor->data() : nullptr, c.revision, kAllParts, &text, &length));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(text, reinterpret_cast<LPWSTR>(0xdeadbeef));
    EXPECT_EQ(length, 0xdeadbeef);
  }
}

TEST_F(SimSddl, LocalHeapExhaustion) {
  std::vector<BYTE> descriptor = sim::WriteSelfRelative(*sim::ParseSddl(kWindowsXpHome));
  PSECURITY_DESCRIPTOR sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef);
  ULONG size = 0xdeadbeef;
  sim::FailAllocations(sim::Allocator::LocalHeap);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kWindowsXpHome, SDDL_REVISION_1, &sd, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(sd, reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef));
  EXPECT_EQ(size, 0xdeadbeef);

  LPWSTR text = reinterpret_cast<LPWSTR>(0xdeadbeef);
  ULONG length = 0xdeadbeef;
  sim::FailAllocations(sim::Allocator::LocalHeap);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(
      ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kAllParts, &text, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(text, reinterpret_cast<LPWSTR>(0xdeadbeef));
  EXPECT_EQ(length, 0xdeadbeef);
  EXPECT_EQ(sim::PendingAllocationFailures(sim::Allocator::LocalHeap), 0u);

  // Once the heap recovers, the same calls work.
  EXPECT_EQ(ThroughWin32(kWindowsXpHome), kWindowsXpHome);
}

TEST_F(SimSddl, InjectedFailures) {
  std::vector<BYTE> descriptor = sim::WriteSelfRelative(*sim::ParseSddl(kWindowsXpHome));
  sim::SidBytes sid = sim::MakeSid(5, {18});
  PSECURITY_DESCRIPTOR sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef);
  PSID sidOut = reinterpret_cast<PSID>(0xdeadbeef);
  LPWSTR text = reinterpret_cast<LPWSTR>(0xdeadbeef);
  const struct {
    const char* name;
    std::function<BOOL()> call;
  } cases[] = {
      {"ConvertStringSecurityDescriptorToSecurityDescriptorW",
       [&] { return ConvertStringSecurityDescriptorToSecurityDescriptorW(kWindowsXpHome, 1, &sd, nullptr); }},
      {"ConvertSecurityDescriptorToStringSecurityDescriptorW",
       [&] {
         return ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), 1, kAllParts, &text, nullptr);
       }},
      {"ConvertStringSidToSidW", [&] { return ConvertStringSidToSidW(L"SY", &sidOut); }},
      {"ConvertSidToStringSidW", [&] { return ConvertSidToStringSidW(sid.data(), &text); }},
  };
  for (const auto& c : cases) {
    ExpectInjectedFailure(c.name, ERROR_NOT_ENOUGH_MEMORY, c.call);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sd, reinterpret_cast<PSECURITY_DESCRIPTOR>(0xdeadbeef));
    EXPECT_EQ(sidOut, reinterpret_cast<PSID>(0xdeadbeef));
    EXPECT_EQ(text, reinterpret_cast<LPWSTR>(0xdeadbeef));
    EXPECT_EQ(machine.localBlocks, 0u);
  }
}

}  // namespace
