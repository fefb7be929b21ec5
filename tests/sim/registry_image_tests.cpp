// The [registry] and [events] sections of machine images, and the platform's
// limits on names and depth.
#include <stdexcept>
#include <string>
#include <vector>

#include "registry_testing.h"

namespace {

using registry_testing::RegistryTest;

// The lines of `section` in an image text, without its header.
std::string SectionOf(const std::string& image, const std::string& section) {
  const std::string header = "[" + section + "]\n";
  std::size_t start = image.find(header);
  if (start == std::string::npos) return "<absent>";
  start += header.size();
  std::size_t end = image.find("\n[", start);
  std::string lines = image.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
  while (lines.size() > 1 && lines[lines.size() - 2] == '\n') lines.pop_back();
  return lines;
}

// "k\k\...\k", `depth` components.
std::string Chain(std::size_t depth) {
  std::string path = "k";
  for (std::size_t i = 1; i < depth; ++i) path += "\\k";
  return path;
}

TEST(RegistryImage, KeysComeBackDepthFirstInEnumerationOrderWithCanonicalSddl) {
  const std::string image =
      "[registry]\n"
      "SOFTWARE = O:S-1-5-18G:SYD:PAI(A;CI;0xf003f;;;S-1-5-18)\n"
      "# comments and blank lines between keys are fine\n"
      "\n"
      "SOFTWARE\\Classes = O:BAG:SYD:PAI(A;CI;GR;;;BU)(A;CIIO;GA;;;CO)\n"
      "SOFTWARE\\Classes\\txtfile = O:BAG:SYD:AI(A;ID;KR;;;BU)\n"
      "SOFTWARE\\Classes\\.txt=O:BAG:SYD:AI(A;ID;KR;;;BU)\n"
      "SOFTWARE\\Classes\\txtfile\\shell = O:BAG:SY\n"
      "SOFTWARE\\a=b = O:BAD:NO_ACCESS_CONTROL\n"
      "SYSTEM = D:\n";
  const sim::Machine machine = sim::ParseImage(image);
  const std::string expected =
      "SOFTWARE = O:SYG:SYD:PAI(A;CI;KA;;;SY)\n"
      "SOFTWARE\\a=b = O:BAD:NO_ACCESS_CONTROL\n"
      "SOFTWARE\\Classes = O:BAG:SYD:PAI(A;CI;GR;;;BU)(A;CIIO;GA;;;CO)\n"
      "SOFTWARE\\Classes\\.txt = O:BAG:SYD:AI(A;ID;KR;;;BU)\n"
      "SOFTWARE\\Classes\\txtfile = O:BAG:SYD:AI(A;ID;KR;;;BU)\n"
      "SOFTWARE\\Classes\\txtfile\\shell = O:BAG:SY\n"
      "SYSTEM = D:\n";
  const std::string written = sim::FormatImage(machine);
  EXPECT_EQ(expected, SectionOf(written, "registry"));
  // What is written reads back to the same text.
  EXPECT_EQ(written, sim::FormatImage(sim::ParseImage(written)));
  EXPECT_EQ(L"O:BAD:NO_ACCESS_CONTROL", sim::KeySddl(machine, L"software\\A=B"));
}

TEST(RegistryImage, AnEmptyRegistryWritesNoSection) {
  EXPECT_EQ("<absent>", SectionOf(sim::FormatImage(sim::ParseImage("[registry]\n")), "registry"));
  EXPECT_EQ("<absent>", SectionOf(sim::FormatImage(sim::ParseImage("[events]\n")), "events"));
}

TEST(RegistryImage, EventsAreKeptAsGivenAndFire) {
  const std::string image =
      "[registry]\n"
      "K = D:NO_ACCESS_CONTROL\n"
      "K\\Gone = D:NO_ACCESS_CONTROL\n"
      "K\\Gone\\Below = D:NO_ACCESS_CONTROL\n"
      "[events]\n"
      "vanish-after-enumeration = k\\gone\n"
      "vanish-after-enumeration = K\\Not there = yet\n";
  sim::Machine machine = sim::ParseImage(image);
  ASSERT_EQ(2u, machine.registry.events.size());
  EXPECT_EQ(L"K\\Not there = yet", machine.registry.events[1].path);
  {
    sim::MachineScope scope(machine);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"K", 0, KEY_ENUMERATE_SUB_KEYS, &key));
    WCHAR name[260];
    DWORD length = 260;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
  }
  const std::string written = sim::FormatImage(machine);
  EXPECT_EQ("K = D:NO_ACCESS_CONTROL\n", SectionOf(written, "registry"));
  EXPECT_EQ("vanish-after-enumeration = k\\gone\nvanish-after-enumeration = K\\Not there = yet\n",
            SectionOf(written, "events"));
}

TEST(RegistryImage, MalformedKeysAndEventsAreRefusedWithTheirLine) {
  const std::string longName(256, 'n');
  struct {
    const char* what;
    std::string image;
    unsigned line;
    const char* message;  // a part of the message
  } const cases[] = {
      {"parent not listed before", "[registry]\nA = D:\nB\\C = D:\n", 3, "parent key is missing"},
      {"parent listed after", "[registry]\nA\\B = D:\nA = D:\n", 2, "parent key is missing"},
      {"duplicate, other case", "[registry]\nA = D:\nB = D:\na = O:BA\n", 4, "exists already"},
      {"bad SDDL", "[registry]\nA = D:(A;;KA;;;WD\n", 2, "not a security descriptor"},
      {"SACL part", "[registry]\nA = O:BAS:\n", 2, "not a security descriptor"},
      {"no '='", "[registry]\nA D:\n", 2, "key path = SDDL"},
      {"empty path", "[registry]\n = D:\n", 2, "missing key path"},
      {"leading backslash", "[registry]\n\\A = D:\n", 2, "not a key path"},
      {"doubled backslash", "[registry]\nA = D:\nA\\\\B = D:\n", 3, "not a key path"},
      {"name of 256 characters", "[registry]\n" + longName + " = D:\n", 2, "255 characters"},
      {"513 levels", "[registry]\n" + [] {
         std::string lines;
         for (std::size_t depth = 1; depth <= 513; ++depth) lines += Chain(depth) + " = D:\n";
         return lines;
       }(), 514, "512 levels"},
      {"unknown event", "[events]\nvanish-before-enumeration = A\n", 2, "unknown event"},
      {"event without path", "[events]\nvanish-after-enumeration =\n", 2, "not a key path"},
      {"event with a bad path", "[events]\nvanish-after-enumeration = A\\\n", 2, "not a key path"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      sim::ParseImage(c.image, "m.image");
      ADD_FAILURE() << "accepted";
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(c.line, error.line);
      EXPECT_NE(std::string::npos, error.message.find(c.message)) << error.What();
    }
  }
}

TEST(RegistryImage, NamesOfTheLongestLengthAreKept) {
  const std::string longName(255, 'n');
  const sim::Machine machine = sim::ParseImage("[registry]\n" + longName + " = D:\n");
  EXPECT_EQ(std::vector<std::wstring>{sim::Widen(longName)}, sim::ListKeys(machine));
}

TEST_F(RegistryTest, TreesGoAsDeepAs512LevelsAndNoDeeper) {
  std::string image = "[registry]\n";
  for (std::size_t depth = 1; depth <= 512; ++depth) {
    image += Chain(depth) + (depth == 1 ? " = O:BAG:SYD:P(A;CI;GR;;;BU)(A;;KA;;;BA)\n" : " = O:BAG:SYD:\n");
  }
  machine = sim::ParseImage(image);
  machine.tokens.process = std::make_shared<sim::Token>(sim::AdministratorToken());
  ASSERT_EQ(512u, sim::ListKeys(machine).size());
  EXPECT_THROW(sim::AddKey(machine, sim::Widen(Chain(513)), L"D:"), std::invalid_argument);

  // Opening the deepest key in one call, and a DACL change that reaches all the way down.
  const std::wstring deepest = sim::Widen(Chain(512));
  HKEY key = Open(deepest.c_str(), READ_CONTROL);
  RegCloseKey(key);
  key = Open(L"k", WRITE_DAC);
  ASSERT_EQ(ERROR_SUCCESS, SetDacl(key, L"D:(A;CI;GR;;;BU)(A;;KA;;;BA)", PROTECTED_DACL_SECURITY_INFORMATION));
  RegCloseKey(key);
  EXPECT_EQ(L"O:BAG:SYD:AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)", sim::KeySddl(machine, deepest));

  const std::string written = sim::FormatImage(machine);
  EXPECT_EQ(written, sim::FormatImage(sim::ParseImage(written)));
  EXPECT_TRUE(sim::DeleteKey(machine, L"k"));
  EXPECT_TRUE(sim::ListKeys(machine).empty());
  EXPECT_EQ(1u, machine.registry.keys.size());  // only HKEY_LOCAL_MACHINE is left
}

TEST(RegistryControl, RefusesWhatThePlatformWouldNotHold) {
  sim::Machine machine = sim::DefaultMachine();
  sim::AddKey(machine, L"A", L"D:");
  EXPECT_THROW(sim::AddKey(machine, L"a", L"D:"), std::invalid_argument);
  EXPECT_THROW(sim::AddKey(machine, L"B\\C", L"D:"), std::invalid_argument);
  EXPECT_THROW(sim::AddKey(machine, L"B", L"D:(nonsense)"), std::invalid_argument);
  EXPECT_THROW(sim::AddKey(machine, L"", L"D:"), std::invalid_argument);
  EXPECT_THROW(sim::KeySddl(machine, L"B"), std::out_of_range);
  EXPECT_THROW(sim::SetKeySddl(machine, L"", L"D:"), std::out_of_range);
  EXPECT_FALSE(sim::DeleteKey(machine, L"B"));
  EXPECT_FALSE(sim::DeleteKey(machine, L""));
  EXPECT_EQ(std::vector<std::wstring>{L"A"}, sim::ListKeys(machine));
}

}  // namespace
