#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

NinthBit NinthBitOf(const termios& settings) {
  if ((settings.c_cflag & CMSPAR) == 0) return NinthBit::kNone;
  return (settings.c_cflag & PARODD) ? NinthBit::kOne : NinthBit::kZero;
}

std::unique_ptr<PtyLine> PtyLine::Open() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return nullptr;
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    ::close(master);
    return nullptr;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (slave < 0 || ::tcgetattr(slave, &t) != 0) {
    if (slave >= 0) ::close(slave);
    ::close(master);
    return nullptr;
  }
  // Raw from the start: a reader that opens the device and reads its
  // settings finds no echo, no line editing and no byte translation.
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  ::tcsetattr(slave, TCSANOW, &t);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<PtyLine>(new PtyLine(master, slave, name));
}

PtyLine::PtyLine(int master, int slave, std::string slavePath)
    : m_master(master), m_slave(slave), m_slavePath(std::move(slavePath)) {}

PtyLine::~PtyLine() {
  ::close(m_slave);
  ::close(m_master);
}

NinthBit PtyLine::SampleNinthBit() const {
  termios t{};
  if (::tcgetattr(m_master, &t) != 0) return NinthBit::kNone;
  return NinthBitOf(t);
}

bool PtyLine::ReadByte(BYTE& byte) {
  for (;;) {
    const ssize_t n = ::read(m_master, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool PtyLine::Write(const std::vector<BYTE>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // The reader's input queue is full: wait briefly for it to drain.
    pollfd pfd{m_master, POLLOUT, 0};
    if (n < 0 && errno == EAGAIN && ::poll(&pfd, 1, 100) > 0) continue;
    return false;
  }
  return true;
}
