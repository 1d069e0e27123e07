#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

// A pseudo-terminal pair made by the test; the test plays the far end of the
// line on the master side.
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
