#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "serial/com_port_map.h"

// A scratch directory with the roots a ComPortMap reads, removed at the end.
class ScratchRoots {
 public:
  ScratchRoots() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zlm-serial-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_base = pattern;
    for (const char* dir : {"ports", "dev", "sys/class/tty", "lock"}) {
      std::filesystem::create_directories(m_base / dir);
    }
  }
  ~ScratchRoots() {
    std::error_code ignored;
    std::filesystem::remove_all(m_base, ignored);
  }
  ScratchRoots(const ScratchRoots&) = delete;
  ScratchRoots& operator=(const ScratchRoots&) = delete;

  std::filesystem::path Path(const std::string& relative) const { return m_base / relative; }

  PortRoots Roots() const {
    return {Path("ports").string(), Path("dev").string(), Path("sys").string(),
            Path("lock").string()};
  }

  // Publishes target as the override COMn.
  void Override(int n, const std::string& target) const {
    std::filesystem::create_symlink(target, Path("ports/COM" + std::to_string(n)));
  }

 private:
  std::filesystem::path m_base;
};

// A pseudo-terminal pair; the test plays the far end of the line on the
// master side.
class PtyPair {
 public:
  PtyPair() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
      m_slave = ::ptsname(m_master);
    }
  }
  ~PtyPair() {
    if (m_master >= 0) ::close(m_master);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return !m_slave.empty(); }
  int Master() const { return m_master; }
  const std::string& Slave() const { return m_slave; }

 private:
  int m_master = -1;
  std::string m_slave;
};

// Waits until fd has at least count bytes queued for reading; a pty hands
// bytes across asynchronously. Gives up after about two seconds.
inline bool WaitQueued(int fd, int count) {
  for (int i = 0; i < 2000; ++i) {
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) == 0 && queued >= count) return true;
    ::usleep(1000);
  }
  return false;
}
