#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "security/security_desc.h"
#include "sec_fixture.h"

namespace {

using ATL::CDacl;
using ATL::CSecurityDesc;
using sectest::Ace;
using sectest::AclImage;
using sectest::BytesAt;
using sectest::HresultOf;
using sectest::Masks;

class SecurityDescTest : public sectest::SecurityObjectTest {
 protected:
  // A self-relative descriptor, kept in DWORDs so that it is aligned.
  static std::vector<DWORD> SelfRelative(const sim::SecurityModel& model) {
    std::vector<BYTE> bytes = sim::WriteSelfRelative(model);
    std::vector<DWORD> words((bytes.size() + 3) / 4);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return words;
  }

  static sim::SecurityModel ModelWithDacl(std::optional<sim::AclModel> dacl, bool present = true) {
    sim::SecurityModel model;
    model.owner = sectest::AdminsSid();
    model.group = sectest::SystemSid();
    model.daclPresent = present;
    model.dacl = std::move(dacl);
    if (present) model.control |= SE_DACL_PRESENT;
    return model;
  }

  static sim::AclModel OneAceAcl(ACCESS_MASK mask) {
    sim::AclModel acl;
    acl.aces.push_back(Ace(ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, mask, sectest::UsersSid()));
    return acl;
  }

  // A DACL object holding one ACE whose mask is 0xdeadbeef.
  static void FillWithSentinel(CDacl& dacl) {
    AclImage sentinel(ACL_REVISION, {Ace(ACCESS_DENIED_ACE_TYPE, 0, 0xdeadbeef, sectest::SystemSid())});
    dacl.AssignFromAcl(sentinel.get());
  }
};

DWORD LengthOf(PSECURITY_DESCRIPTOR descriptor) { return GetSecurityDescriptorLength(descriptor); }

// ---------------------------------------------------------------- the baselines

TEST_F(SecurityDescTest, BaselinesLoadAndExtractAceForAce) {
  const ACCESS_MASK GR = GENERIC_READ, GRGWSD = GENERIC_READ | GENERIC_WRITE | DELETE, GA = GENERIC_ALL;
  const BYTE CI = CONTAINER_INHERIT_ACE, CIIO = CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
  struct Expected {
    BYTE flags;
    ACCESS_MASK mask;
    sim::SidBytes sid;
  };
  const Expected users{CI, GR, sim::MakeSid(5, {32, 545})}, powerUsers{CI, GRGWSD, sim::MakeSid(5, {32, 547})},
      admins{CI, GA, sim::MakeSid(5, {32, 544})}, system{CI, GA, sim::MakeSid(5, {18})},
      creatorOwner{CIIO, GA, sim::MakeSid(3, {0})}, everyone{CI, GR, sim::MakeSid(1, {0})};
  struct Case {
    const wchar_t* text;
    std::vector<Expected> aces;
  } cases[] = {
      {L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)(A;CI;GR;;;WD)",
       {users, powerUsers, admins, system, creatorOwner, everyone}},
      {L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)",
       {users, admins, system, creatorOwner}},
      {L"O:BAG:SYD:P(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)",
       {users, powerUsers, admins, system, creatorOwner}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.text));
    CSecurityDesc descriptor;
    ASSERT_TRUE(descriptor.LoadFromSddl(c.text));
    CDacl dacl;
    ASSERT_TRUE(descriptor.ExtractDacl(dacl));
    EXPECT_FALSE(dacl.IsNull());
    ASSERT_EQ(c.aces.size(), dacl.AceCount());
    for (DWORD i = 0; i < dacl.AceCount(); ++i) {
      SCOPED_TRACE(i);
      ATL::CAcl::CAce* ace = dacl.AceAt(i);
      EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->AceTypeCode());
      EXPECT_EQ(c.aces[i].flags, ace->AceFlags());
      EXPECT_EQ(c.aces[i].mask, ace->AccessMask());
      EXPECT_EQ(c.aces[i].sid, BytesAt(ace->Sid().SidBytes(), c.aces[i].sid.size()));
    }

    BOOL present = FALSE, defaulted = FALSE;
    PACL parsed = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.HeldDescriptor(), &present, &parsed, &defaulted));
    ASSERT_NE(nullptr, parsed);
    PACL built = dacl.BuildAcl();
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(sectest::AclBytes(parsed), sectest::AclBytes(built));
  }
}

// ---------------------------------------------------------------- AssignDescriptor

TEST_F(SecurityDescTest, AssignDescriptorCopiesASelfRelativeSourceByteForByte) {
  std::vector<DWORD> source = SelfRelative(ModelWithDacl(OneAceAcl(0x1234)));
  const DWORD length = LengthOf(source.data());
  CSecurityDesc descriptor;
  descriptor.AssignDescriptor(source.data());
  ASSERT_NE(nullptr, descriptor.HeldDescriptor());
  EXPECT_NE(static_cast<void*>(source.data()), descriptor.HeldDescriptor());
  EXPECT_EQ(length, LengthOf(descriptor.HeldDescriptor()));
  EXPECT_EQ(BytesAt(source.data(), length), BytesAt(descriptor.HeldDescriptor(), length));
  EXPECT_EQ(0u, sim::CountCalls(machine_, "MakeSelfRelativeSD"));

  // The source is not kept.
  std::fill(source.begin(), source.end(), 0xdeadbeef);
  CDacl dacl;
  ASSERT_TRUE(descriptor.ExtractDacl(dacl));
  EXPECT_EQ((std::vector<ACCESS_MASK>{0x1234}), Masks(dacl));
}

TEST_F(SecurityDescTest, AssignDescriptorHoldsAnAbsoluteSourceSelfRelative) {
  sim::SidBytes owner = sectest::AdminsSid(), group = sectest::SystemSid();
  AclImage acl(ACL_REVISION, {Ace(ACCESS_ALLOWED_ACE_TYPE, 0, 0x4321, sectest::UsersSid())});
  SECURITY_DESCRIPTOR absolute;
  ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&absolute, owner.data(), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorGroup(&absolute, group.data(), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, acl.get(), FALSE));

  CSecurityDesc descriptor;
  descriptor.AssignDescriptor(&absolute);
  PSECURITY_DESCRIPTOR held = descriptor.HeldDescriptor();
  ASSERT_NE(nullptr, held);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(held, &control, &revision));
  EXPECT_EQ(SE_SELF_RELATIVE | SE_DACL_PRESENT, control & (SE_SELF_RELATIVE | SE_DACL_PRESENT));
  EXPECT_EQ(LengthOf(&absolute), LengthOf(held));

  std::optional<sim::SecurityModel> model = sim::ReadDescriptor(held);
  ASSERT_TRUE(model.has_value());
  EXPECT_EQ(owner, model->owner);
  EXPECT_EQ(group, model->group);
  // Everything lies inside the block: the caller's parts can go.
  acl.get()->AceCount = 0;
  CDacl dacl;
  ASSERT_TRUE(descriptor.ExtractDacl(dacl));
  EXPECT_EQ((std::vector<ACCESS_MASK>{0x4321}), Masks(dacl));
}

TEST_F(SecurityDescTest, AssignDescriptorOfTheHeldBlockChangesNothing) {
  std::vector<DWORD> source = SelfRelative(ModelWithDacl(OneAceAcl(1)));
  CSecurityDesc descriptor;
  descriptor.AssignDescriptor(source.data());
  PSECURITY_DESCRIPTOR held = descriptor.HeldDescriptor();
  ExpectNoCallNorAllocation([&] { descriptor.AssignDescriptor(held); });
  EXPECT_EQ(held, descriptor.HeldDescriptor());
}

TEST_F(SecurityDescTest, FailedAssignDescriptorLeavesNothingHeld) {
  std::vector<DWORD> selfRelative = SelfRelative(ModelWithDacl(OneAceAcl(1)));
  SECURITY_DESCRIPTOR absolute;
  ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE));
  struct Case {
    const char* name;
    PSECURITY_DESCRIPTOR source;
    const char* operation;  // made to fail, or null for the C heap
    HRESULT hr;
  } cases[] = {
      {"no memory for the copy", selfRelative.data(), nullptr, E_OUTOFMEMORY},
      {"no memory for the conversion", &absolute, nullptr, E_OUTOFMEMORY},
      {"GetSecurityDescriptorControl", selfRelative.data(), "GetSecurityDescriptorControl", HRESULT(0x8007053A)},
      {"MakeSelfRelativeSD", &absolute, "MakeSelfRelativeSD", HRESULT(0x8007053A)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DWORD> previous = SelfRelative(ModelWithDacl(OneAceAcl(2)));
    CSecurityDesc descriptor;
    descriptor.AssignDescriptor(previous.data());
    machine_.failures.clear();
    if (c.operation) sim::FailCall(machine_, c.operation, ERROR_INVALID_SECURITY_DESCR);
    if (!c.operation) sim::FailAllocations(sim::Allocator::CHeap);
    // Freeing the block disturbs the thread's error: the HRESULT must have
    // been taken from it before.
    sim::ClobberLastErrorOnRelease(true);
    EXPECT_EQ(c.hr, HresultOf([&] { descriptor.AssignDescriptor(c.source); }));
    EXPECT_EQ(0u, sim::PendingAllocationFailures(sim::Allocator::CHeap));
    sim::ClearAllocationFailures();
    EXPECT_EQ(nullptr, descriptor.HeldDescriptor());
  }
}

// ---------------------------------------------------------------- LoadFromSddl

TEST_F(SecurityDescTest, LoadFromSddlCopiesAndFreesThePlatformBlock) {
  const std::size_t blocks = machine_.localBlocks;
  CSecurityDesc descriptor;
  ASSERT_TRUE(descriptor.LoadFromSddl(L"O:BAG:SYD:(A;;GA;;;SY)"));
  EXPECT_EQ(blocks, machine_.localBlocks);
  ASSERT_NE(nullptr, descriptor.HeldDescriptor());
  std::optional<sim::SecurityModel> model = sim::ReadDescriptor(descriptor.HeldDescriptor());
  ASSERT_TRUE(model.has_value());
  EXPECT_EQ(sectest::AdminsSid(), model->owner);

  // Also when the copy fails.
  sim::FailAllocations(sim::Allocator::CHeap);
  EXPECT_EQ(E_OUTOFMEMORY, HresultOf([&] { descriptor.LoadFromSddl(L"O:SYG:SYD:"); }));
  EXPECT_EQ(blocks, machine_.localBlocks);
  EXPECT_EQ(nullptr, descriptor.HeldDescriptor());
}

TEST_F(SecurityDescTest, RejectedSddlReturnsFalseAndKeepsWhatWasHeld) {
  struct Case {
    const char* name;
    const wchar_t* text;
    const char* failing;      // operation made to fail, or null
    bool localHeapFails;
    DWORD error;              // 0: any, but set
  } cases[] = {
      {"malformed text", L"O:BAG:SYD:(Q;;;;;)", nullptr, false, 0},
      {"not SDDL at all", L"hello", nullptr, false, 0},
      {"parser fails", L"O:BAG:SYD:", "ConvertStringSecurityDescriptorToSecurityDescriptorW", false,
       ERROR_INVALID_DATATYPE},
      {"no local memory", L"O:BAG:SYD:", nullptr, true, ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSecurityDesc descriptor;
    ASSERT_TRUE(descriptor.LoadFromSddl(L"O:BAG:SYD:(A;;GA;;;SY)"));
    PSECURITY_DESCRIPTOR held = descriptor.HeldDescriptor();
    const std::vector<BYTE> before = BytesAt(held, LengthOf(held));
    machine_.failures.clear();
    if (c.failing) sim::FailCall(machine_, c.failing, c.error);
    SetLastError(0xdeadbeef);
    if (c.localHeapFails) sim::FailAllocations(sim::Allocator::LocalHeap);
    EXPECT_FALSE(descriptor.LoadFromSddl(c.text));
    sim::ClearAllocationFailures();
    const DWORD error = GetLastError();
    if (c.error) {
      EXPECT_EQ(c.error, error);
    } else {
      EXPECT_NE(0xdeadbeefu, error);
      EXPECT_NE(0u, error);
    }
    EXPECT_EQ(held, descriptor.HeldDescriptor());
    EXPECT_EQ(before, BytesAt(held, before.size()));
  }
}

// ---------------------------------------------------------------- ExtractDacl

TEST_F(SecurityDescTest, ExtractDaclDistinguishesAbsentNullAndPresentDacls) {
  struct Case {
    const char* name;
    sim::SecurityModel model;
    bool targetNullBefore;
    bool null;
    std::vector<ACCESS_MASK> masks;
  } cases[] = {
      {"no DACL: empty, not null", ModelWithDacl(std::nullopt, false), false, false, {}},
      {"no DACL into a null target", ModelWithDacl(std::nullopt, false), true, false, {}},
      {"null DACL", ModelWithDacl(std::nullopt), false, true, {}},
      {"present DACL replaces the target's ACEs", ModelWithDacl(OneAceAcl(0x77)), false, false, {0x77}},
      {"present DACL into a null target", ModelWithDacl(OneAceAcl(0x77)), true, false, {0x77}},
      {"present empty DACL", ModelWithDacl(sim::AclModel{}), false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DWORD> source = SelfRelative(c.model);
    CSecurityDesc descriptor;
    descriptor.AssignDescriptor(source.data());
    CDacl target;
    if (c.targetNullBefore) {
      target.MakeNull();
    } else {
      FillWithSentinel(target);
      target.BuildAcl();
    }
    ASSERT_TRUE(descriptor.ExtractDacl(target));
    EXPECT_EQ(c.null, target.IsNull());
    EXPECT_EQ(c.masks, Masks(target));
    PACL built = target.BuildAcl();
    EXPECT_EQ(c.null, built == nullptr);
    if (built) {
      EXPECT_EQ(c.masks.size(), built->AceCount);
    }
  }
}

TEST_F(SecurityDescTest, ExtractDaclFailureLeavesTargetAndErrorCode) {
  std::vector<DWORD> source = SelfRelative(ModelWithDacl(OneAceAcl(0x77)));
  struct Case {
    const char* name;
    bool holds;
    DWORD error;
  } cases[] = {
      {"nothing held", false, ERROR_INVALID_PARAMETER},
      {"GetSecurityDescriptorDacl fails", true, ERROR_INVALID_SECURITY_DESCR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSecurityDesc descriptor;
    if (c.holds) descriptor.AssignDescriptor(source.data());
    CDacl target;
    FillWithSentinel(target);
    machine_.failures.clear();
    if (c.holds) sim::FailCall(machine_, "GetSecurityDescriptorDacl", c.error);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(descriptor.ExtractDacl(target));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_FALSE(target.IsNull());
    EXPECT_EQ((std::vector<ACCESS_MASK>{0xdeadbeef}), Masks(target));
  }
}

TEST_F(SecurityDescTest, ExtractDaclRaisesWhatAssignFromAclRaisesWithTheTargetCleared) {
  std::vector<DWORD> source = SelfRelative(ModelWithDacl(OneAceAcl(0x77)));
  CSecurityDesc descriptor;
  descriptor.AssignDescriptor(source.data());
  CDacl target;
  FillWithSentinel(target);
  sim::FailCall(machine_, "GetAce", ERROR_ACCESS_DENIED);
  EXPECT_EQ(HRESULT(0x80070005), HresultOf([&] { descriptor.ExtractDacl(target); }));
  EXPECT_EQ(0u, target.AceCount());
}

TEST_F(SecurityDescTest, ReleaseFreesOnce) {
  CSecurityDesc descriptor;
  descriptor.Release();
  EXPECT_EQ(nullptr, descriptor.HeldDescriptor());
  ASSERT_TRUE(descriptor.LoadFromSddl(L"O:BAG:SYD:"));
  descriptor.Release();
  EXPECT_EQ(nullptr, descriptor.HeldDescriptor());
  descriptor.Release();
  EXPECT_EQ(nullptr, descriptor.HeldDescriptor());
  CDacl target;
  SetLastError(0);
  EXPECT_FALSE(descriptor.ExtractDacl(target));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
}

}  // namespace
