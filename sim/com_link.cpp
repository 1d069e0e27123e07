#include "sim/com_link.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

int FirstFreeComNumber(ComPortMap& map) {
  std::array<bool, kMaxComPort + 1> taken{};
  for (const ComPortEntry& entry : map.List()) taken[entry.number] = true;
  for (int n = 1; n <= kMaxComPort; ++n) {
    if (!taken[n]) return n;
  }
  return 0;
}

namespace {

// A link to /proc/<pid>/fd/<fd> of a process that no longer runs.
bool LeftByDeadSimulator(const std::string& path) {
  std::error_code error;
  const std::string target = std::filesystem::read_symlink(path, error).string();
  if (error) return false;
  int pid = 0;
  int fd = 0;
  char end = 0;
  if (std::sscanf(target.c_str(), "/proc/%d/fd/%d%c", &pid, &fd, &end) != 2 || pid <= 0) {
    return false;
  }
  return !std::filesystem::exists("/proc/" + std::to_string(pid), error) && !error;
}

}  // namespace

std::string ProcessFdPath(int fd) {
  return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
}

std::string ComLinkPath(const std::string& portDir, int n) {
  return (std::filesystem::path(portDir) / ("COM" + std::to_string(n))).string();
}

PublishResult PublishComLink(const std::string& portDir, int n, const std::string& target) {
  std::error_code error;
  std::filesystem::create_directories(portDir, error);
  if (error) return PublishResult::kFailed;
  // symlink() fails on any existing name, dangling links included, so two
  // simulators racing for one number cannot both win.
  const std::string path = ComLinkPath(portDir, n);
  if (::symlink(target.c_str(), path.c_str()) == 0) return PublishResult::kPublished;
  if (errno != EEXIST) return PublishResult::kFailed;
  // A link a killed simulator left leads nowhere; it is ours to replace,
  // so a simulator started again takes the same number.
  if (!LeftByDeadSimulator(path) || ::unlink(path.c_str()) != 0) return PublishResult::kTaken;
  if (::symlink(target.c_str(), path.c_str()) == 0) return PublishResult::kPublished;
  return errno == EEXIST ? PublishResult::kTaken : PublishResult::kFailed;
}

bool RemoveComLink(const std::string& portDir, int n, const std::string& target) {
  const std::string path = ComLinkPath(portDir, n);
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error) ||
      std::filesystem::read_symlink(path, error) != target || error) {
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}
