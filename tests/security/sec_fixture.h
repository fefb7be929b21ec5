// Shared pieces of the security-object tests: a current simulated machine,
// the HRESULT an operation raises, and binary SIDs and ACLs described as data.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "error/com_error.h"
#include "platform/sim/control.h"
#include "platform/sim/security_model.h"
#include "security/dacl.h"

namespace sectest {

// Every test runs on a fresh machine of its own.
class SecurityObjectTest : public ::testing::Test {
 protected:
  sim::Machine machine_ = sim::DefaultMachine();
  sim::MachineScope scope_{machine_};

  // Platform calls made so far, of every operation.
  std::size_t CallCount() const { return machine_.calls.size(); }

  // Runs `operation` with the C heap armed to fail and checks that it
  // neither allocated from it nor called the platform.
  template <typename Operation>
  void ExpectNoCallNorAllocation(Operation&& operation) {
    const std::size_t before = CallCount();
    sim::FailAllocations(sim::Allocator::CHeap);
    operation();
    EXPECT_EQ(1u, sim::PendingAllocationFailures(sim::Allocator::CHeap)) << "allocated from the C heap";
    sim::ClearAllocationFailures();
    EXPECT_EQ(before, CallCount()) << "called the platform";
  }
};

// S_OK when `operation` returns, the carried HRESULT when it raises
// _com_error. Any other exception fails the test: nothing else may leave the
// security objects.
template <typename Operation>
HRESULT HresultOf(Operation&& operation) {
  try {
    operation();
  } catch (const _com_error& error) {
    return error.Hresult();
  } catch (const std::exception& other) {
    ADD_FAILURE() << "foreign exception: " << other.what();
    return 0x7fffffff;
  } catch (...) {
    ADD_FAILURE() << "foreign exception";
    return 0x7fffffff;
  }
  return S_OK;
}

inline std::vector<BYTE> BytesAt(const void* data, std::size_t length) {
  const BYTE* p = static_cast<const BYTE*>(data);
  return std::vector<BYTE>(p, p + length);
}

inline std::vector<BYTE> AclBytes(const ACL* acl) { return BytesAt(acl, acl->AclSize); }

// The access masks of a DACL object's ACEs, in list order; tests tell ACEs
// apart by their masks.
inline std::vector<ACCESS_MASK> Masks(ATL::CDacl& dacl) {
  std::vector<ACCESS_MASK> masks;
  for (DWORD i = 0; i < dacl.AceCount(); ++i) masks.push_back(dacl.AceAt(i)->AccessMask());
  return masks;
}

inline const SID* AsSid(const sim::SidBytes& sid) { return reinterpret_cast<const SID*>(sid.data()); }

// The trustees the tests use.
inline sim::SidBytes SystemSid() { return sim::MakeSid(5, {18}); }
inline sim::SidBytes AdminsSid() { return sim::MakeSid(5, {32, 544}); }
inline sim::SidBytes UsersSid() { return sim::MakeSid(5, {32, 545}); }

// Two GUIDs whose every byte differs, so that a misplaced copy shows.
inline GUID ObjectGuid() { return GUID{0x01234567, 0x89ab, 0xcdef, {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe}}; }
inline GUID InheritedGuid() { return GUID{0xa1b2c3d4, 0xe5f6, 0x0718, {0x29, 0x3a, 0x4b, 0x5c, 0x6d, 0x7e, 0x8f, 0x90}}; }

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

inline sim::AceModel Ace(BYTE type, BYTE flags, ACCESS_MASK mask, sim::SidBytes sid,
                         std::optional<GUID> objectType = std::nullopt,
                         std::optional<GUID> inheritedObjectType = std::nullopt) {
  sim::AceModel ace;
  ace.type = type;
  ace.flags = flags;
  ace.mask = mask;
  ace.sid = std::move(sid);
  ace.objectType = objectType;
  ace.inheritedObjectType = inheritedObjectType;
  return ace;
}

// An ACE of a type the model does not take apart: header and `body` bytes.
inline sim::AceModel RawAce(BYTE type, std::vector<BYTE> body) {
  sim::AceModel ace;
  ace.type = type;
  ace.raw = {type, 0, static_cast<BYTE>(4 + body.size()), 0};
  ace.raw.insert(ace.raw.end(), body.begin(), body.end());
  return ace;
}

// A binary ACL, kept in DWORDs so that it is aligned as the platform's are.
class AclImage {
 public:
  AclImage(BYTE revision, std::vector<sim::AceModel> aces) {
    sim::AclModel model;
    model.revision = revision;
    model.aces = std::move(aces);
    std::vector<BYTE> bytes = sim::WriteAcl(model);
    words_.resize((bytes.size() + 3) / 4);
    std::memcpy(words_.data(), bytes.data(), bytes.size());
  }
  const ACL* get() const { return reinterpret_cast<const ACL*>(words_.data()); }
  ACL* get() { return reinterpret_cast<ACL*>(words_.data()); }

 private:
  std::vector<DWORD> words_;
};

}  // namespace sectest
