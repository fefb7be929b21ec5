// SIDs on the simulated machine: binary layout, text forms and the advapi32 SID calls.
#include <cwchar>

#include "sim/security_fixture.h"

namespace {

using simsec_test::Bytes;
using simsec_test::Copy;
using simsec_test::Filled;
using SimSid = simsec_test::SimSecurityTest;

struct SidLayoutCase {
  const wchar_t* text;       // as parsed
  const wchar_t* canonical;  // as formatted
  std::vector<BYTE> bytes;
};

TEST_F(SimSid, TextAndBinaryLayouts) {
  const SidLayoutCase cases[] = {
      {L"S-1-5-18", L"S-1-5-18", Bytes({1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0})},
      {L"S-1-5-32-544", L"S-1-5-32-544", Bytes({1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0})},
      {L"BA", L"S-1-5-32-544", Bytes({1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0})},
      {L"WD", L"S-1-1-0", Bytes({1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
      {L"S-1-5", L"S-1-5", Bytes({1, 0, 0, 0, 0, 0, 0, 5})},
      {L"S-1-5-4294967295", L"S-1-5-4294967295", Bytes({1, 1, 0, 0, 0, 0, 0, 5, 0xff, 0xff, 0xff, 0xff})},
      // Authorities beyond 32 bits are written as twelve upper-case hex digits.
      {L"S-1-0x123456789abc-7", L"S-1-0x123456789ABC-7",
       Bytes({1, 1, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 7, 0, 0, 0})},
      {L"S-1-0x10-7", L"S-1-16-7", Bytes({1, 1, 0, 0, 0, 0, 0, 0x10, 7, 0, 0, 0})},
      {L"S-1-4294967296-1", L"S-1-0x000100000000-1", Bytes({1, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.text));
    auto sid = sim::ParseSid(c.text);
    ASSERT_TRUE(sid.has_value());
    EXPECT_EQ(*sid, c.bytes);
    EXPECT_EQ(sim::FormatSid(*sid), c.canonical);
    EXPECT_EQ(sim::SidLength(sid->data()), c.bytes.size());
  }
  EXPECT_EQ(sim::MakeSid(5, {32, 544}), *sim::ParseSid(L"S-1-5-32-544"));
  // Bytes that hold no whole SID have no text.
  EXPECT_EQ(sim::FormatSid({}), L"");
  EXPECT_EQ(sim::FormatSid(Bytes({1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0})), L"");
}

TEST_F(SimSid, TextsThatAreNotSids) {
  const wchar_t* cases[] = {
      L"", L"S", L"S-1", L"S-1-", L"S-2-5-18", L"s-1-5-18", L"S-1-5-", L"S-1-5--18", L"S-1--5",
      L"S-1-5-4294967296",           // sub-authority above 32 bits
      L"S-1-0x1000000000000-1",      // authority above 48 bits
      L"S-1-5-0x12",                 // sub-authorities are decimal only
      L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16",  // 16 sub-authorities
      L"S-1-5-18 ", L" S-1-5-18", L"S-1-5-1x", L"ba", L"XX", L"BAD",
  };
  for (const wchar_t* text : cases) {
    EXPECT_FALSE(sim::ParseSid(text).has_value()) << sim::Narrow(text);
  }
  EXPECT_TRUE(sim::ParseSid(L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15").has_value());
}

TEST_F(SimSid, EveryAliasNamesItsSid) {
  const struct {
    const wchar_t* alias;
    const wchar_t* sid;
  } cases[] = {
      {L"BA", L"S-1-5-32-544"}, {L"BU", L"S-1-5-32-545"}, {L"BG", L"S-1-5-32-546"}, {L"PU", L"S-1-5-32-547"},
      {L"AO", L"S-1-5-32-548"}, {L"SO", L"S-1-5-32-549"}, {L"PO", L"S-1-5-32-550"}, {L"BO", L"S-1-5-32-551"},
      {L"RE", L"S-1-5-32-552"}, {L"RU", L"S-1-5-32-554"}, {L"SY", L"S-1-5-18"},     {L"LS", L"S-1-5-19"},
      {L"NS", L"S-1-5-20"},     {L"WD", L"S-1-1-0"},      {L"CO", L"S-1-3-0"},      {L"CG", L"S-1-3-1"},
      {L"AU", L"S-1-5-11"},     {L"AN", L"S-1-5-7"},      {L"IU", L"S-1-5-4"},      {L"NU", L"S-1-5-2"},
      {L"SU", L"S-1-5-6"},
  };
  for (const auto& c : cases) {
    auto sid = sim::ParseSid(c.alias);
    ASSERT_TRUE(sid.has_value()) << sim::Narrow(c.alias);
    EXPECT_EQ(sim::FormatSid(*sid), c.sid) << sim::Narrow(c.alias);
  }
}

TEST_F(SimSid, LengthRequiredAndValidity) {
  EXPECT_EQ(GetSidLengthRequired(0), 8u);
  EXPECT_EQ(GetSidLengthRequired(1), 12u);
  EXPECT_EQ(GetSidLengthRequired(15), 68u);
  EXPECT_EQ(GetSidLengthRequired(16), 72u);  // no check: the caller compares with 68

  const struct {
    std::vector<BYTE> bytes;
    BOOL valid;
  } cases[] = {
      {Bytes({1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0}), TRUE},
      {Bytes({1, 0, 0, 0, 0, 0, 0, 5}), TRUE},
      {Bytes({2, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0}), FALSE},
      {Bytes({0, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0}), FALSE},
      {Bytes({1, 16, 0, 0, 0, 0, 0, 5}), FALSE},
  };
  for (const auto& c : cases) {
    std::vector<BYTE> sid = c.bytes;
    sid.resize(80);
    EXPECT_EQ(IsValidSid(sid.data()), c.valid) << int(c.bytes[0]) << "/" << int(c.bytes[1]);
  }
  EXPECT_FALSE(IsValidSid(nullptr));
}

TEST_F(SimSid, InitializeSidAndSubAuthoritiesBuildTheLayout) {
  std::vector<BYTE> buffer = Filled(SECURITY_MAX_SID_SIZE);
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  ASSERT_TRUE(InitializeSid(buffer.data(), &nt, 15));
  for (DWORD i = 0; i < 15; ++i) {
    SetLastError(0xdeadbeef);
    *GetSidSubAuthority(buffer.data(), i) = 100 + i;
    EXPECT_EQ(GetLastError(), 0u);
  }
  EXPECT_EQ(GetLengthSid(buffer.data()), 68u);
  EXPECT_EQ(Copy(buffer.data(), 68),
            sim::MakeSid(5, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114}));

  std::vector<BYTE> untouched = Filled(SECURITY_MAX_SID_SIZE);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(InitializeSid(untouched.data(), &nt, 16));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(untouched, Filled(SECURITY_MAX_SID_SIZE));
}

TEST_F(SimSid, CopySid) {
  sim::SidBytes admins = sim::MakeSid(5, {32, 544});
  const struct {
    DWORD length;
    BOOL ok;
    DWORD error;
  } cases[] = {
      {16, TRUE, 0xdeadbeef}, {68, TRUE, 0xdeadbeef}, {15, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {0, FALSE, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto& c : cases) {
    std::vector<BYTE> dest = Filled(68);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CopySid(c.length, dest.data(), admins.data()), c.ok) << c.length;
    EXPECT_EQ(GetLastError(), c.error) << c.length;
    if (c.ok) {
      EXPECT_EQ(Copy(dest.data(), 16), admins);
      EXPECT_EQ(dest[16], 0xcc);  // nothing past the SID
    } else {
      EXPECT_EQ(dest, Filled(68));
    }
  }

  std::vector<BYTE> bad = admins;
  bad[0] = 2;
  std::vector<BYTE> dest = Filled(68);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CopySid(68, dest.data(), bad.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  EXPECT_EQ(dest, Filled(68));
}

TEST_F(SimSid, EqualSidComparesWholeSidsAndClearsTheLastError) {
  sim::SidBytes admins = sim::MakeSid(5, {32, 544});
  sim::SidBytes users = sim::MakeSid(5, {32, 545});
  sim::SidBytes builtin = sim::MakeSid(5, {32});
  sim::SidBytes invalid = admins;
  invalid[0] = 3;
  sim::SidBytes sameAgain = admins;
  const struct {
    sim::SidBytes* a;
    sim::SidBytes* b;
    BOOL equal;
  } cases[] = {
      {&admins, &sameAgain, TRUE}, {&admins, &users, FALSE}, {&admins, &builtin, FALSE},
      {&invalid, &invalid, FALSE},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(EqualSid(c.a->data(), c.b->data()), c.equal);
    EXPECT_EQ(GetLastError(), 0u);
  }
  EXPECT_TRUE(sim::SameSid(admins, sameAgain));
  EXPECT_FALSE(sim::SameSid(admins, builtin));
  EXPECT_FALSE(sim::SameSid(invalid, invalid));
}

TEST_F(SimSid, StringConversionsBothWays) {
  PSID sid = reinterpret_cast<PSID>(0xdeadbeef);
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-500", &sid));
  EXPECT_EQ(Copy(sid, GetLengthSid(sid)), sim::MakeSid(5, {21, 1, 2, 3, 500}));
  LPWSTR text = reinterpret_cast<LPWSTR>(0xdeadbeef);
  ASSERT_TRUE(ConvertSidToStringSidW(sid, &text));
  EXPECT_STREQ(text, L"S-1-5-21-1-2-3-500");
  EXPECT_EQ(machine.localBlocks, 2u);
  LocalFree(text);
  LocalFree(sid);

  // An alias is a SID for the string conversion, but is never written back.
  ASSERT_TRUE(ConvertStringSidToSidW(L"SY", &sid));
  ASSERT_TRUE(ConvertSidToStringSidW(sid, &text));
  EXPECT_STREQ(text, L"S-1-5-18");
  LocalFree(text);
  LocalFree(sid);
}

TEST_F(SimSid, StringConversionFailures) {
  const struct {
    const wchar_t* text;
    DWORD error;
  } cases[] = {{L"S-1-5-", ERROR_INVALID_SID}, {L"", ERROR_INVALID_SID}, {L"xx", ERROR_INVALID_SID},
               {nullptr, ERROR_INVALID_PARAMETER}};
  for (const auto& c : cases) {
    PSID sid = reinterpret_cast<PSID>(0xdeadbeef);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ConvertStringSidToSidW(c.text, &sid));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(sid, reinterpret_cast<PSID>(0xdeadbeef));
  }

  sim::SidBytes bad = sim::MakeSid(5, {18});
  bad[1] = 16;
  bad.resize(80);
  LPWSTR text = reinterpret_cast<LPWSTR>(0xdeadbeef);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ConvertSidToStringSidW(bad.data(), &text));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  EXPECT_EQ(text, reinterpret_cast<LPWSTR>(0xdeadbeef));

  sim::SidBytes good = sim::MakeSid(5, {18});
  sim::FailAllocations(sim::Allocator::LocalHeap, 1, 2);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ConvertSidToStringSidW(good.data(), &text));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(text, reinterpret_cast<LPWSTR>(0xdeadbeef));
  PSID sid = reinterpret_cast<PSID>(0xdeadbeef);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ConvertStringSidToSidW(L"S-1-5-18", &sid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(sid, reinterpret_cast<PSID>(0xdeadbeef));
  EXPECT_EQ(sim::PendingAllocationFailures(sim::Allocator::LocalHeap), 0u);
}

}  // namespace
