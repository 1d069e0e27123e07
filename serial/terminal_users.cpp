#include "serial/terminal_users.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "serial/terminal_device.h"

namespace {

const dev_t kPtyMultiplexer = makedev(5, 2);  // /dev/ptmx: every pty master

std::optional<long> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Reads a small /proc file below dir; empty when it cannot be read.
std::string ReadSmallFile(int dir, const char* name) {
  const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char text[1024];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TerminalUsers TerminalUsers::Walk(const std::string& procDir, pid_t self) {
  TerminalUsers users;
  DIR* proc = ::opendir(procDir.c_str());
  if (proc == nullptr) return users;
  while (const dirent* entry = ::readdir(proc)) {
    const std::optional<long> pid = ParseNumber(entry->d_name);
    if (!pid) continue;
    const int pidDir = ::openat(::dirfd(proc), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pidDir < 0) continue;  // ended meanwhile
    users.ReadControllingTerminal(pidDir);
    if (*pid != self) users.ReadDescriptors(pidDir, static_cast<pid_t>(*pid));
    ::close(pidDir);
  }
  ::closedir(proc);
  std::sort(users.m_controlling.begin(), users.m_controlling.end());
  return users;
}

// Field 7 of stat, after "pid (comm) state ppid pgrp session"; comm may
// hold spaces and parentheses, so the fields are counted from its last ')'.
void TerminalUsers::ReadControllingTerminal(int pidDir) {
  const std::string stat = ReadSmallFile(pidDir, "stat");
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return;
  unsigned int tty = 0;
  if (std::sscanf(stat.c_str() + end + 1, " %*c %*d %*d %*d %u", &tty) != 1 || tty == 0) return;
  // The kernel's encoding of a device number, which major()/minor() read.
  const dev_t encoded = tty;
  m_controlling.push_back(makedev(major(encoded), minor(encoded)));
}

// Only descriptors that name something below /dev are looked at further,
// so sockets, pipes and files cost one readlink each.
void TerminalUsers::ReadDescriptors(int pidDir, pid_t pid) {
  const int fdDir = ::openat(pidDir, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fdDir < 0) return;  // another user's process
  DIR* fds = ::fdopendir(fdDir);
  if (fds == nullptr) {
    ::close(fdDir);
    return;
  }
  while (const dirent* entry = ::readdir(fds)) {
    if (!ParseNumber(entry->d_name)) continue;
    char target[16];
    const ssize_t n = ::readlinkat(fdDir, entry->d_name, target, sizeof target);
    if (n < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
    struct stat st {};
    if (::fstatat(fdDir, entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev != kPtyMultiplexer) {
      m_held.push_back({st.st_rdev, pid});
      continue;
    }
    const std::string info =
        ReadSmallFile(pidDir, ("fdinfo/" + std::string(entry->d_name)).c_str());
    const size_t at = info.find("tty-index:");
    if (at != std::string::npos) {
      m_ptyMasters.emplace_back(pid, std::strtoul(info.c_str() + at + 10, nullptr, 10));
    }
  }
  ::closedir(fds);
}

bool TerminalUsers::IsControllingTerminal(dev_t dev) const {
  return std::binary_search(m_controlling.begin(), m_controlling.end(), dev);
}

pid_t TerminalUsers::OtherHolder(dev_t dev) const {
  for (const Held& held : m_held) {
    if (held.device != dev) continue;
    const bool peer =
        IsPseudoTerminalSlave(dev) &&
        std::find(m_ptyMasters.begin(), m_ptyMasters.end(),
                  std::pair<pid_t, unsigned int>{held.pid, minor(dev)}) != m_ptyMasters.end();
    if (!peer) return held.pid;
  }
  return 0;
}
