#include "support/host_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace

std::string ResultValue(const std::string& image, const std::string& name) {
  const std::size_t section = image.find("[result]");
  if (section == std::string::npos) return "";
  std::istringstream lines(image.substr(section));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(name + " = ", 0) == 0) return line.substr(name.size() + 3);
  }
  return "";
}

std::string WithoutResult(const std::string& image) {
  const std::size_t section = image.find("\n[result]");
  return section == std::string::npos ? image : image.substr(0, section + 1);
}

HostRun RunHost(const std::string& image, const std::vector<std::string>& arguments) {
  char directory[] = "/tmp/tessaroot-run-XXXXXX";
  if (mkdtemp(directory) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string base = directory;
  const std::string imagePath = base + "/machine.image";
  const std::string outPath = base + "/stdout";
  const std::string errPath = base + "/stderr";

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("TESSAROOT_MACHINE=", 0) != 0) environment.emplace_back(*entry);
  }
  if (!image.empty()) {
    WriteFile(imagePath, image);
    environment.push_back("TESSAROOT_MACHINE=" + imagePath);
  }

  std::vector<std::string> argv = {TESSAROOT_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argvPointers;
  for (std::string& s : argv) argvPointers.push_back(s.data());
  argvPointers.push_back(nullptr);
  std::vector<char*> envPointers;
  for (std::string& s : environment) envPointers.push_back(s.data());
  envPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  waitpid(pid, &status, 0);

  HostRun run;
  run.standardOutput = ReadFile(outPath);
  run.standardError = ReadFile(errPath);
  run.waitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!image.empty()) {
    run.imageAfter = ReadFile(imagePath);
    const std::string exit = ResultValue(run.imageAfter, "exit-status");
    run.exitStatus = exit.empty() ? 0xDEADBEEFu : static_cast<std::uint32_t>(std::stoul(exit, nullptr, 16));
    const std::string handles = ResultValue(run.imageAfter, "open-handles");
    run.openHandles = handles.empty() ? 0xDEADBEEFu : static_cast<unsigned>(std::stoul(handles));
    const std::string blocks = ResultValue(run.imageAfter, "local-blocks");
    run.localBlocks = blocks.empty() ? 0xDEADBEEFu : static_cast<unsigned>(std::stoul(blocks));
  }
  std::remove(imagePath.c_str());
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  rmdir(directory);
  return run;
}

}  // namespace testing_support
