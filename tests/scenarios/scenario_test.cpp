// Scenarios kept as data: each folder below tests/scenarios holds a machine
// image, the image expected after one run of the host binary, the expected
// standard error and the expected exit status. A new case is a new folder.
//
//   before.image   the machine before the run
//   after.image    the machine expected after it (without its [result] section)
//   stderr.txt     standard error, exactly
//   exit-status    all 32 bits, e.g. 0x800401FA
//   token-changes  (optional) present when the run may leave the token's
//                  privileges changed; otherwise they must be as they were
//
// Every run must also write nothing to standard output and leave no token or
// key handle open and no local block unfreed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/control.h"
#include "support/host_run.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(TESSAROOT_SOURCE_DIR) / "tests" / "scenarios")) {
    if (entry.is_directory() && fs::exists(entry.path() / "before.image")) {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The lines of section [name] in `image`, as text.
std::string SectionOf(const std::string& image, const std::string& name) {
  const std::string header = "[" + name + "]\n";
  const std::size_t start = image.find(header);
  if (start == std::string::npos) return "";
  const std::size_t end = image.find("\n[", start + header.size());
  return image.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

class Scenario : public ::testing::TestWithParam<std::string> {
 protected:
  fs::path Folder() const { return fs::path(TESSAROOT_SOURCE_DIR) / "tests" / "scenarios" / GetParam(); }
  std::string File(const char* name) const { return ReadFile((Folder() / name).string()); }
};

TEST_P(Scenario, RunsAsExpected) {
  const std::string before = File("before.image");
  ASSERT_FALSE(before.empty());
  const testing_support::HostRun run = testing_support::RunHost(before);

  EXPECT_EQ(File("stderr.txt"), run.standardError);
  EXPECT_EQ("", run.standardOutput);
  const std::uint32_t expectedStatus = static_cast<std::uint32_t>(std::stoul(File("exit-status"), nullptr, 16));
  EXPECT_EQ(expectedStatus, run.exitStatus) << std::hex << run.exitStatus;
  EXPECT_EQ(0u, run.openHandles);
  EXPECT_EQ(0u, run.localBlocks);
  EXPECT_EQ(Trimmed(File("after.image")), Trimmed(testing_support::WithoutResult(run.imageAfter)));

  if (!fs::exists(Folder() / "token-changes")) {
    const std::string normalised = sim::FormatImage(sim::ParseImage(before));
    for (const char* section : {"token", "thread-token"}) {
      EXPECT_EQ(Trimmed(SectionOf(normalised, section)), Trimmed(SectionOf(run.imageAfter, section)))
          << "the run left the " << section << "'s privileges changed";
    }
  }
}

// A wrong source path would otherwise pass with no scenario run at all.
TEST(Scenarios, AreFound) { EXPECT_GE(ScenarioNames().size(), 30u); }

INSTANTIATE_TEST_SUITE_P(Folders, Scenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                           return name;
                         });

}  // namespace
