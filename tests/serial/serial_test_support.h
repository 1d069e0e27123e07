#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "serial/com_port_map.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"

// A scratch directory with the roots a ComPortMap reads, removed at the end.
class ScratchRoots {
 public:
  ScratchRoots() {
    for (const char* dir : {"ports", "dev", "sys/class/tty", "lock"}) {
      std::filesystem::create_directories(m_base / dir);
    }
  }

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
  ScratchDir m_base{"zlm-serial"};
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

// A second process (forked from the test) that runs act, tells the test
// whether it succeeded, and then waits until it is killed with SIGKILL, the
// way a crash or kill -9 ends a program. It inherits the test's descriptors.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<bool()>& act) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) std::abort();
    m_pid = ::fork();
    if (m_pid == 0) {
      ::close(ready[0]);
      const char result = act() ? '1' : '0';
      if (::write(ready[1], &result, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char result = '0';
    m_ok = m_pid > 0 && ::read(ready[0], &result, 1) == 1 && result == '1';
    ::close(ready[0]);
  }
  ~OtherProcess() { Kill(); }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  bool Ok() const { return m_ok; }
  pid_t Pid() const { return m_pid; }
  void Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
  bool m_ok = false;
};
