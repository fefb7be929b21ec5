// Runs the host tessaroot binary as its own process against a machine image,
// as an administrator would run the real one: image in, run, image out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct HostRun {
  std::string standardOutput;
  std::string standardError;
  int waitStatus = 0;            // the low 8 bits a Linux parent sees
  std::string imageAfter;        // the image file after the run
  std::uint32_t exitStatus = 0;  // all 32 bits, from the image's [result] section
  unsigned openHandles = 0;      // from [result]
  unsigned localBlocks = 0;      // from [result]
};

// Writes `image` to a fresh file, runs the host binary with TESSAROOT_MACHINE
// naming it and with `arguments`, and reads everything back. An empty image
// text runs without TESSAROOT_MACHINE (the default machine).
HostRun RunHost(const std::string& image, const std::vector<std::string>& arguments = {});

// The value of `name` in the [result] section of `image`, or "".
std::string ResultValue(const std::string& image, const std::string& name);

// `image` without its [result] section.
std::string WithoutResult(const std::string& image);

std::string ReadFile(const std::string& path);

}  // namespace testing_support
