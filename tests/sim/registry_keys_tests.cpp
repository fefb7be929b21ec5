// Opening, enumerating and closing keys: paths, names, handles and their counts.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "registry_testing.h"

namespace {

using registry_testing::kSentinelKey;
using registry_testing::RegistryTest;

const wchar_t* const kOpen = L"O:BAG:SYD:(A;;KA;;;BA)";

class RegistryKeysTest : public RegistryTest {
 protected:
  RegistryKeysTest() {
    for (const wchar_t* path : {L"K", L"K\\beta", L"K\\Alpha", L"K\\gamma", L"K\\_x", L"K\\ALPHA2",
                                L"K\\Alpha\\Leaf"}) {
      sim::AddKey(machine, path, kOpen);
    }
  }

  // RegEnumKeyExW with a name buffer of `room` characters filled with 'X'.
  struct Enumerated {
    LONG status;
    std::wstring buffer;
    DWORD length;
  };
  Enumerated Enumerate(HKEY key, DWORD index, DWORD room) {
    Enumerated result{0, std::wstring(room, L'X'), room};
    result.status = RegEnumKeyExW(key, index, result.buffer.data(), &result.length, nullptr, nullptr, nullptr,
                                  nullptr);
    return result;
  }

  std::vector<std::wstring> EnumerateAll(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
      Enumerated e = Enumerate(key, index, 260);
      if (e.status != ERROR_SUCCESS) {
        EXPECT_EQ(ERROR_NO_MORE_ITEMS, e.status);
        return names;
      }
      names.push_back(e.buffer.substr(0, e.length));
    }
  }
};

TEST_F(RegistryKeysTest, OpenResolvesPathsBelowTheParent) {
  struct {
    const wchar_t* path;
    LONG status;
    const wchar_t* opened;  // the key's path with the case it was created with
  } const cases[] = {
      {L"K", 0, L"K"},
      {L"k", 0, L"K"},
      {L"K\\alpha", 0, L"K\\Alpha"},
      {L"k\\ALPHA\\leaf", 0, L"K\\Alpha\\Leaf"},
      {L"K\\missing", ERROR_FILE_NOT_FOUND, nullptr},
      {L"K\\Alpha\\Leaf\\deeper", ERROR_FILE_NOT_FOUND, nullptr},
      {L"Alpha", ERROR_FILE_NOT_FOUND, nullptr},
      {L"\\K", ERROR_BAD_PATHNAME, nullptr},
      {L"K\\\\Alpha", ERROR_BAD_PATHNAME, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.path));
    HKEY key = kSentinelKey;
    ASSERT_EQ(c.status, RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ, &key));
    if (c.status != ERROR_SUCCESS) {
      EXPECT_EQ(kSentinelKey, key);
      continue;
    }
    EXPECT_EQ(c.opened, machine.registry.handles.at(reinterpret_cast<std::uintptr_t>(key)).path);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  }
  EXPECT_EQ(0u, machine.registry.OpenHandles());
}

TEST_F(RegistryKeysTest, OpenBelowAnOpenKeyAndItsErrors) {
  HKEY parent = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  HKEY child = kSentinelKey;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, L"alpha\\leaf", 0, KEY_READ, &child));
  EXPECT_EQ(L"K\\Alpha\\Leaf", machine.registry.handles.at(reinterpret_cast<std::uintptr_t>(child)).path);

  struct {
    const char* what;
    HKEY parent;
    PHKEY result;
    LONG status;
  } const cases[] = {
      {"null result", parent, nullptr, ERROR_INVALID_PARAMETER},
      {"unknown handle", reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234)), &child,
       ERROR_INVALID_HANDLE},
      {"null handle", nullptr, &child, ERROR_INVALID_HANDLE},
      {"other predefined key", HKEY_CURRENT_USER, &child, ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HKEY before = child;
    EXPECT_EQ(c.status, RegOpenKeyExW(c.parent, L"Alpha", 0, KEY_READ, c.result));
    EXPECT_EQ(before, child);
  }
  EXPECT_EQ(2u, machine.registry.OpenHandles());

  // A handle outlives its key; what goes through it then finds the key deleted.
  ASSERT_TRUE(sim::DeleteKey(machine, L"K"));
  HKEY sentinel = kSentinelKey;
  EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExW(parent, L"Alpha", 0, KEY_READ, &sentinel));
  EXPECT_EQ(kSentinelKey, sentinel);
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(parent));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
  EXPECT_EQ(0u, machine.registry.OpenHandles());
}

TEST_F(RegistryKeysTest, OpeningTheMachineKeyItselfGivesThePredefinedHandle) {
  HKEY key = kSentinelKey;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_READ, &key));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, key);
  EXPECT_EQ(0u, machine.registry.OpenHandles());
}

TEST_F(RegistryKeysTest, HandlesAreCountedUntilClosed) {
  HKEY a = Open(L"K", KEY_READ);
  HKEY b = Open(L"K", KEY_READ);
  HKEY c = Open(L"K\\Alpha", WRITE_DAC);
  EXPECT_NE(a, b);
  EXPECT_EQ(3u, machine.registry.OpenHandles());

  struct {
    HKEY key;
    LONG status;
    std::size_t left;
  } const steps[] = {
      {b, ERROR_SUCCESS, 2},
      {b, ERROR_INVALID_HANDLE, 2},  // closed already
      {HKEY_LOCAL_MACHINE, ERROR_SUCCESS, 2},
      {reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0xdeadbeef)), ERROR_INVALID_HANDLE, 2},
      {a, ERROR_SUCCESS, 1},
      {c, ERROR_SUCCESS, 0},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(step.status, RegCloseKey(step.key));
    EXPECT_EQ(step.left, machine.registry.OpenHandles());
  }
}

TEST_F(RegistryKeysTest, EnumerationIsSortedWithoutCaseAsTheHivesKeepIt) {
  HKEY key = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  // Upper case is the order: '_' (0x5F) comes after 'Z', though before 'a'.
  const std::vector<std::wstring> expected = {L"Alpha", L"ALPHA2", L"beta", L"gamma", L"_x"};
  EXPECT_EQ(expected, EnumerateAll(key));
  EXPECT_EQ(expected, sim::ChildNames(machine, L"k"));

  Enumerated past = Enumerate(key, 5, 260);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, past.status);
  EXPECT_EQ(260u, past.length);
  EXPECT_EQ(std::wstring(260, L'X'), past.buffer);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, Enumerate(key, 0xFFFFFFFF, 260).status);

  // A key added later takes its sorted place; the indexes after it move on.
  sim::AddKey(machine, L"K\\Aardvark", kOpen);
  EXPECT_EQ(L"Aardvark", EnumerateAll(key).front());
  RegCloseKey(key);
}

TEST_F(RegistryKeysTest, EnumerationNeedsRoomForTheNameAndItsNul) {
  HKEY key = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  struct {
    DWORD room;
    LONG status;
  } const cases[] = {{0, ERROR_MORE_DATA}, {5, ERROR_MORE_DATA}, {6, ERROR_SUCCESS}, {260, ERROR_SUCCESS}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.room);
    Enumerated e = Enumerate(key, 0, c.room);  // "Alpha"
    ASSERT_EQ(c.status, e.status);
    if (c.status == ERROR_MORE_DATA) {
      EXPECT_EQ(c.room, e.length);
      EXPECT_EQ(std::wstring(c.room, L'X'), e.buffer);
    } else {
      EXPECT_EQ(5u, e.length);
      EXPECT_EQ(0, std::wmemcmp(L"Alpha\0", e.buffer.data(), 6));
      EXPECT_EQ(std::wstring(c.room - 6, L'X'), e.buffer.substr(6));
    }
  }
  RegCloseKey(key);

  // The longest name there can be fits the tool's 260 characters.
  const std::wstring longest(255, L'n');
  sim::AddKey(machine, L"Long", kOpen);
  sim::AddKey(machine, L"Long\\" + longest, kOpen);
  HKEY parent = Open(L"Long", KEY_ENUMERATE_SUB_KEYS);
  Enumerated fits = Enumerate(parent, 0, 256);
  ASSERT_EQ(ERROR_SUCCESS, fits.status);
  EXPECT_EQ(255u, fits.length);
  EXPECT_EQ(ERROR_MORE_DATA, Enumerate(parent, 0, 255).status);
  RegCloseKey(parent);
}

TEST_F(RegistryKeysTest, EnumerationErrors) {
  HKEY readOnly = Open(L"K", KEY_QUERY_VALUE);
  HKEY enumerable = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  HKEY doomed = Open(L"K\\Alpha", KEY_ENUMERATE_SUB_KEYS);
  ASSERT_TRUE(sim::DeleteKey(machine, L"K\\Alpha"));
  WCHAR name[8];
  DWORD length = 8;
  DWORD reserved = 0;
  struct {
    const char* what;
    HKEY key;
    LPWSTR name;
    LPDWORD length;
    LPDWORD reserved;
    LONG status;
  } const cases[] = {
      {"no KEY_ENUMERATE_SUB_KEYS", readOnly, name, &length, nullptr, ERROR_ACCESS_DENIED},
      {"deleted key", doomed, name, &length, nullptr, ERROR_KEY_DELETED},
      {"unknown handle", reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x4321)), name, &length, nullptr,
       ERROR_INVALID_HANDLE},
      {"null name", enumerable, nullptr, &length, nullptr, ERROR_INVALID_PARAMETER},
      {"null length", enumerable, name, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {"reserved not null", enumerable, name, &length, &reserved, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::wmemset(name, L'X', 8);
    length = 8;
    EXPECT_EQ(c.status, RegEnumKeyExW(c.key, 0, c.name, c.length, c.reserved, nullptr, nullptr, nullptr));
    EXPECT_EQ(8u, length);
    EXPECT_EQ(L'X', name[0]);
  }
  // The deleted key is gone from its parent's enumeration as well.
  EXPECT_EQ((std::vector<std::wstring>{L"ALPHA2", L"beta", L"gamma", L"_x"}), EnumerateAll(enumerable));
  for (HKEY key : {readOnly, enumerable, doomed}) EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryKeysTest, AKeyVanishesRightAfterItsFirstEnumeration) {
  sim::VanishAfterEnumeration(machine, L"k\\BETA");
  HKEY key = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  EXPECT_EQ(L"ALPHA2", Enumerate(key, 1, 260).buffer.substr(0, 6));
  Enumerated beta = Enumerate(key, 2, 260);
  ASSERT_EQ(ERROR_SUCCESS, beta.status);
  EXPECT_EQ(L"beta", beta.buffer.substr(0, beta.length));
  EXPECT_FALSE(sim::KeyExists(machine, L"K\\beta"));

  HKEY gone = kSentinelKey;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(key, L"beta", 0, WRITE_OWNER, &gone));
  // As on a live machine, the next index has moved past a sibling.
  Enumerated next = Enumerate(key, 3, 260);
  EXPECT_EQ(L"_x", next.buffer.substr(0, next.length));
  EXPECT_TRUE(machine.registry.events.front().fired);

  // Once only: a key of the same name made again stays.
  sim::AddKey(machine, L"K\\Beta", kOpen);
  EXPECT_EQ(ERROR_SUCCESS, Enumerate(key, 2, 260).status);
  EXPECT_TRUE(sim::KeyExists(machine, L"K\\beta"));
  RegCloseKey(key);
}

TEST_F(RegistryKeysTest, CallsNameTheirKeyForTheLogAndForFailureRules) {
  sim::FailureRule byPathAndMask;
  byPathAndMask.operation = "RegOpenKeyExW";
  byPathAndMask.status = ERROR_ACCESS_DENIED;
  byPathAndMask.path = L"k\\alpha";
  byPathAndMask.mask = WRITE_OWNER;
  sim::FailCall(machine, byPathAndMask);
  sim::FailCall(machine, "RegEnumKeyExW", ERROR_MORE_DATA, 2);

  HKEY parent = Open(L"K", KEY_ENUMERATE_SUB_KEYS);
  HKEY key = kSentinelKey;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(parent, L"Alpha", 0, WRITE_OWNER, &key));
  EXPECT_EQ(kSentinelKey, key);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, L"Alpha", 0, WRITE_DAC, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, L"beta", 0, WRITE_OWNER, &key));

  EXPECT_EQ(ERROR_SUCCESS, Enumerate(parent, 0, 260).status);
  Enumerated second = Enumerate(parent, 1, 260);
  EXPECT_EQ(ERROR_MORE_DATA, second.status);
  EXPECT_EQ(std::wstring(260, L'X'), second.buffer);
  EXPECT_EQ(ERROR_SUCCESS, Enumerate(parent, 2, 260).status);
  RegCloseKey(parent);

  const auto opens = sim::CallsOf(machine, "RegOpenKeyExW");
  ASSERT_EQ(4u, opens.size());
  EXPECT_EQ(L"K", opens[0].path);
  EXPECT_EQ(L"K\\Alpha", opens[1].path);
  EXPECT_EQ(std::optional<DWORD>(WRITE_OWNER), opens[1].mask);
  EXPECT_TRUE(opens[1].injected);
  EXPECT_FALSE(opens[2].injected);
  EXPECT_EQ(std::optional<DWORD>(ERROR_SUCCESS), opens[2].status);
  const auto enumerations = sim::CallsOf(machine, "RegEnumKeyExW");
  ASSERT_EQ(3u, enumerations.size());
  EXPECT_EQ(L"K", enumerations[1].path);
  EXPECT_EQ(std::nullopt, enumerations[1].mask);
  EXPECT_TRUE(enumerations[1].injected);
  EXPECT_EQ(L"K", sim::CallsOf(machine, "RegCloseKey").back().path);
  EXPECT_EQ(2u, machine.registry.OpenHandles());
}

}  // namespace
