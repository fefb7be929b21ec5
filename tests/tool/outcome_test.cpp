// The tool's outcome as an administrator sees it: what it writes, where, and
// the exit status, through the host binary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host_run.h"

namespace {

using testing_support::HostRun;
using testing_support::RunHost;

const char kServer2003[] =
    "[version]\n"
    "platform-id = 2\n"
    "major = 5\n"
    "minor = 2\n"
    "build = 3790\n"
    "product-type = 3\n";

const char kRefusedLine[] =
    "Error 0x800401fa resetting HKEY_CLASSES_ROOT registry permissions: "
    "This application is only valid for another edition of Windows.\n";

TEST(Outcome, UnsupportedSystemWritesOneLineAndExitsWithAll32Bits) {
  const HostRun run = RunHost(kServer2003);
  EXPECT_EQ(kRefusedLine, run.standardError);
  EXPECT_EQ("", run.standardOutput);
  EXPECT_EQ(0x800401FAu, run.exitStatus);
  EXPECT_EQ(0xFA, run.waitStatus);
}

TEST(Outcome, SupportedSystemResetsSilently) {
  const std::string image =
      "[registry]\n"
      "SOFTWARE = O:BAG:SYD:(A;CI;GA;;;BA)\n"
      "SOFTWARE\\Classes = O:BUG:BUD:(A;;KA;;;WD)\n"
      "SOFTWARE\\Classes\\.txt = O:BUG:BUD:P(D;;KA;;;WD)\n";
  const HostRun run = RunHost(image);
  EXPECT_EQ("", run.standardError);
  EXPECT_EQ("", run.standardOutput);
  EXPECT_EQ(0u, run.exitStatus);
  EXPECT_EQ(0, run.waitStatus);
  EXPECT_NE(std::string::npos, run.imageAfter.find("SOFTWARE\\Classes = O:BAG:SYD:PAI("));
  EXPECT_NE(std::string::npos, run.imageAfter.find("SOFTWARE\\Classes\\.txt = O:BAG:SYD:AI(A;ID;KR;;;BU)"));
}

TEST(Outcome, TheDefaultMachineHasNoClassTree) {
  // Without an image the machine is empty: the root cannot be opened.
  const HostRun run = RunHost("");
  EXPECT_EQ("Error 0x80070002 resetting HKEY_CLASSES_ROOT registry permissions: "
            "The system cannot find the file specified.\n",
            run.standardError);
  EXPECT_EQ(0x02, run.waitStatus);
  EXPECT_EQ("", run.standardOutput);
}

TEST(Outcome, AFailureWhoseLowBitsAreZeroIsStillAFailureToLinux) {
  const HostRun run = RunHost("[failures]\nfail = RegOpenKeyExW status=0x100\n");
  EXPECT_EQ(0x80070100u, run.exitStatus);
  EXPECT_EQ(1, run.waitStatus);
}

TEST(Outcome, ArgumentsChangeNothing) {
  const HostRun plain = RunHost(kServer2003);
  const std::vector<std::vector<std::string>> argumentLists = {
      {"/?"}, {"--help"}, {"-h", "/reset"}, {"HKEY_CURRENT_USER\\Software"}, {""}};
  for (const auto& arguments : argumentLists) {
    const HostRun run = RunHost(kServer2003, arguments);
    EXPECT_EQ(plain.standardError, run.standardError) << arguments[0];
    EXPECT_EQ("", run.standardOutput);
    EXPECT_EQ(plain.exitStatus, run.exitStatus);
    EXPECT_EQ(plain.imageAfter, run.imageAfter);
  }
}

TEST(Outcome, AFailedVersionQueryIsRefused) {
  const HostRun run = RunHost("[failures]\nfail = GetVersionExW status=87\n");
  EXPECT_EQ(kRefusedLine, run.standardError);
  EXPECT_EQ(0x800401FAu, run.exitStatus);
}

TEST(Outcome, AMalformedImageIsRefusedAndLeftAsItWas) {
  const struct {
    const char* image;
    const char* line;  // the line named in the message
  } cases[] = {
      {"[version]\nmajor = five\n", ":2: "},
      {"[version]\nmajor 5\n", ":2: "},
      {"# comment\n\n[nonsense]\n", ":3: "},
      {"major = 5\n", ":1: "},
      {"[version]\nproduct-type = 256\n", ":2: "},
      {"[version]\n[version]\n", ":2: "},
      {"[failures]\nfail = RegOpenKeyExW nth=2\n", ":2: "},
      {"[version]\n\xff\xfe = 1\n", ":2: "},
  };
  for (const auto& c : cases) {
    const HostRun run = RunHost(c.image);
    EXPECT_EQ(2, run.waitStatus) << c.image;
    EXPECT_EQ(0u, run.standardError.rfind("tessaroot: /", 0)) << run.standardError;
    EXPECT_NE(std::string::npos, run.standardError.find(std::string("machine.image") + c.line))
        << run.standardError;
    EXPECT_EQ(c.image, run.imageAfter);
    EXPECT_EQ("", run.standardOutput);
  }
}

}  // namespace
