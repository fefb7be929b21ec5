// The [token] and [thread-token] sections of machine images.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/control.h"
#include "platform/sim/token_state.h"

namespace {

LUID Luid(const wchar_t* name) { return *sim::PrivilegeLuid(name); }

void ExpectSameToken(const sim::Token& expected, const sim::Token& actual) {
  EXPECT_EQ(sim::FormatSid(expected.user), sim::FormatSid(actual.user));
  ASSERT_EQ(expected.groups.size(), actual.groups.size());
  for (std::size_t i = 0; i < expected.groups.size(); ++i) {
    EXPECT_EQ(sim::FormatSid(expected.groups[i].sid), sim::FormatSid(actual.groups[i].sid)) << i;
    EXPECT_EQ(expected.groups[i].attributes, actual.groups[i].attributes) << i;
  }
  ASSERT_EQ(expected.privileges.size(), actual.privileges.size());
  for (std::size_t i = 0; i < expected.privileges.size(); ++i) {
    EXPECT_TRUE(sim::SameLuid(expected.privileges[i].luid, actual.privileges[i].luid)) << i;
    EXPECT_EQ(expected.privileges[i].attributes, actual.privileges[i].attributes) << i;
  }
}

const char kImage[] =
    "[token]\n"
    "user = S-1-5-21-1-2-3-1001\n"
    "group = BA mandatory enabled default owner\n"
    "group = S-1-5-32-546 deny-only\n"
    "group = WD\n"
    "privilege = SeChangeNotifyPrivilege enabled default\n"
    "privilege = setakeownershipprivilege disabled\n"
    "privilege = SeBackupPrivilege default disabled\n"
    "privilege = SeDebugPrivilege removed\n"
    "\n"
    "[thread-token]\n"
    "  user =   SY  \n"
    "# the thread impersonates LocalSystem\n"
    "privilege = SeTcbPrivilege enabled\n";

TEST(TokenImage, LoadsEveryAttributeWord) {
  const sim::Machine machine = sim::ParseImage(kImage);
  const sim::Token& process = *machine.tokens.process;
  EXPECT_EQ(L"S-1-5-21-1-2-3-1001", sim::FormatSid(process.user));
  ASSERT_EQ(3u, process.groups.size());
  EXPECT_EQ(L"S-1-5-32-544", sim::FormatSid(process.groups[0].sid));
  EXPECT_EQ(DWORD{SE_GROUP_MANDATORY | SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_OWNER},
            process.groups[0].attributes);
  EXPECT_EQ(DWORD{SE_GROUP_USE_FOR_DENY_ONLY}, process.groups[1].attributes);
  EXPECT_EQ(0u, process.groups[2].attributes);
  ASSERT_EQ(4u, process.privileges.size());
  const struct {
    const wchar_t* name;
    DWORD attributes;
  } privileges[] = {
      {L"SeChangeNotifyPrivilege", SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT},
      {L"SeTakeOwnershipPrivilege", 0},
      {L"SeBackupPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT},
      {L"SeDebugPrivilege", SE_PRIVILEGE_REMOVED},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(sim::SameLuid(Luid(privileges[i].name), process.privileges[i].luid)) << i;
    EXPECT_EQ(privileges[i].attributes, process.privileges[i].attributes) << i;
  }
  ASSERT_TRUE(machine.tokens.thread);
  EXPECT_EQ(L"S-1-5-18", sim::FormatSid(machine.tokens.thread->user));
  EXPECT_TRUE(machine.tokens.thread->groups.empty());
  EXPECT_TRUE(machine.tokens.thread->PrivilegeEnabled(L"SeTcbPrivilege"));
}

TEST(TokenImage, RoundTripKeepsBothTokens) {
  const sim::Machine first = sim::ParseImage(kImage);
  const std::string text = sim::FormatImage(first);
  const sim::Machine second = sim::ParseImage(text);
  ExpectSameToken(*first.tokens.process, *second.tokens.process);
  ASSERT_TRUE(second.tokens.thread);
  ExpectSameToken(*first.tokens.thread, *second.tokens.thread);
  // [token] comes first, [thread-token] after it.
  EXPECT_LT(text.find("[token]"), text.find("[thread-token]"));
  EXPECT_EQ(text, sim::FormatImage(second));
}

TEST(TokenImage, AdministratorTokenRoundTripsWithoutThreadToken) {
  sim::Machine machine = sim::DefaultMachine();
  *machine.tokens.process = sim::AdministratorToken();
  machine.tokens.thread.reset();
  const std::string text = sim::FormatImage(machine);
  EXPECT_EQ(std::string::npos, text.find("[thread-token]"));
  const sim::Machine back = sim::ParseImage(text);
  ExpectSameToken(sim::AdministratorToken(), *back.tokens.process);
  EXPECT_FALSE(back.tokens.thread);
}

TEST(TokenImage, WritesThePrivilegeStateAsItIsNow) {
  sim::Machine machine = sim::ParseImage(kImage);
  machine.tokens.process->FindPrivilege(Luid(L"SeTakeOwnershipPrivilege"))->attributes = SE_PRIVILEGE_ENABLED;
  const std::string text = sim::FormatImage(machine);
  EXPECT_NE(std::string::npos, text.find("privilege = SeTakeOwnershipPrivilege enabled\n")) << text;
  EXPECT_NE(std::string::npos, text.find("privilege = SeBackupPrivilege disabled default\n")) << text;
  EXPECT_NE(std::string::npos, text.find("privilege = SeDebugPrivilege removed\n")) << text;
}

TEST(TokenImage, TokenWithoutUserIsNotWritten) {
  sim::Machine machine = sim::ParseImage(kImage);
  machine.tokens.process = std::make_shared<sim::Token>();
  const std::string text = sim::FormatImage(machine);
  EXPECT_EQ(std::string::npos, text.find("[token]")) << text;
  EXPECT_NE(std::string::npos, text.find("[thread-token]")) << text;
  EXPECT_NO_THROW(sim::ParseImage(text));
}

TEST(TokenImage, PrivilegeWithoutStandardNameCannotBeStored) {
  sim::Machine machine = sim::DefaultMachine();
  machine.tokens.process->user = sim::MakeSid(5, {18});
  machine.tokens.process->privileges.push_back(sim::TokenPrivilege{LUID{0x1234, 0}, 0});
  EXPECT_THROW(sim::FormatImage(machine), sim::ImageError);
}

TEST(TokenImage, RefusesMalformedLinesWithTheirNumber) {
  struct Case {
    const char* text;
    unsigned line;
  } const cases[] = {
      {"[token]\nprivilege = SeBackupPrivilege enabled\n", 1},  // no user: the section's line
      {"[thread-token]\n\ngroup = BA enabled\n", 1},
      {"[token]\nuser = BA\nuser = SY\n", 3},
      {"[token]\nuser = S-1-5-x\n", 2},
      {"[token]\nuser =\n", 2},
      {"[token]\nuser = BA\nowner = BA\n", 3},
      {"[token]\nuser = BA\ngroup =\n", 3},
      {"[token]\nuser = BA\ngroup = NOTASID enabled\n", 3},
      {"[token]\nuser = BA\ngroup = BA enabled sometimes\n", 3},
      {"[token]\nuser = BA\ngroup = BA enabled enabled\n", 3},
      {"[token]\nuser = BA\ngroup = BA\n# comment\ngroup = S-1-5-32-544 owner\n", 5},
      {"[token]\nuser = BA\nprivilege =\n", 3},
      {"[token]\nuser = BA\nprivilege = SeNoSuchPrivilege enabled\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege default\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege enabled disabled\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege enabled default default\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege on\n", 3},
      {"[token]\nuser = BA\nprivilege = SeBackupPrivilege enabled\nprivilege = sebackupprivilege disabled\n", 4},
      {"[token]\nuser = BA\nprivilege SeBackupPrivilege enabled\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      sim::ParseImage(c.text, "machine.ini");
      ADD_FAILURE() << "accepted";
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(c.line, error.line) << error.What();
      EXPECT_EQ("machine.ini", error.file);
    }
  }
}

}  // namespace
