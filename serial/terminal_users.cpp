#include "serial/terminal_users.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// What getdents64 returns per entry.
struct LinuxDirent {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

constexpr long kLongestEntry = 40;  // a getdents64 record of a descriptor number

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
  const int procFd = ::dirfd(proc);
  while (const dirent* entry = ::readdir(proc)) {
    const std::optional<long> pid = ParseNumber(entry->d_name);
    if (!pid) continue;
    const std::string name = entry->d_name;
    users.ReadControllingTerminal(procFd, name);
    if (*pid != self) users.ReadDescriptors(procFd, name, static_cast<pid_t>(*pid));
  }
  ::closedir(proc);
  std::sort(users.m_controlling.begin(), users.m_controlling.end());
  return users;
}

// Field 7 of stat, after "pid (comm) state ppid pgrp session"; comm may
// hold spaces and parentheses, so the fields are counted from its last ')'.
void TerminalUsers::ReadControllingTerminal(int procFd, const std::string& pid) {
  const std::string stat = ReadSmallFile(procFd, (pid + "/stat").c_str());
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return;
  unsigned int tty = 0;
  if (std::sscanf(stat.c_str() + end + 1, " %*c %*d %*d %*d %u", &tty) != 1 || tty == 0) return;
  // The kernel's encoding of a device number, which major()/minor() read.
  const dev_t encoded = tty;
  m_controlling.push_back(makedev(major(encoded), minor(encoded)));
}

// Read with getdents64 directly: a walk opens a few hundred of these
// directories, and every system call saved per process counts. Each
// descriptor costs one statx.
void TerminalUsers::ReadDescriptors(int procFd, const std::string& pid, pid_t pidNumber) {
  const int fdDir = ::openat(procFd, (pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fdDir < 0) return;  // another user's process, or one that ended
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fdDir, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const LinuxDirent*>(buffer + at);
      at += entry->d_reclen;
      if (ParseNumber(entry->d_name)) ReadDescriptor(procFd, fdDir, pid, entry->d_name, pidNumber);
    }
    // The directory fills the buffer as far as entries fit (one takes at
    // most 40 bytes); room left over means it has no more.
    if (n + kLongestEntry <= static_cast<long>(sizeof buffer)) break;
  }
  ::close(fdDir);
}

void TerminalUsers::ReadDescriptor(int procFd, int fdDir, const std::string& pid, const char* fd,
                                   pid_t pidNumber) {
  // The type and device number of what the descriptor names, without
  // asking a network file system for fresh attributes.
  struct statx st {};
  if (::statx(fdDir, fd, AT_STATX_DONT_SYNC, STATX_TYPE, &st) != 0 || !S_ISCHR(st.stx_mode)) {
    return;
  }
  const dev_t device = makedev(st.stx_rdev_major, st.stx_rdev_minor);
  if (device != kPtyMultiplexer) {
    m_held.push_back({device, pidNumber});
    return;
  }
  const std::string info = ReadSmallFile(procFd, (pid + "/fdinfo/" + fd).c_str());
  const size_t at = info.find("tty-index:");
  if (at != std::string::npos) {
    m_ptyMasters.emplace_back(pidNumber, std::strtoul(info.c_str() + at + 10, nullptr, 10));
  }
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
