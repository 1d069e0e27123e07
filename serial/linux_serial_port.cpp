#include "serial/linux_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "serial/comm_timeouts.h"
#include "serial/open_cause.h"
#include "serial/port_discovery.h"
#include "serial/terminal_device.h"
#include "serial/uucp_lock.h"

namespace {

using Clock = std::chrono::steady_clock;

struct BaudRate {
  DWORD rate;
  speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedOf(DWORD rate) {
  for (const BaudRate& b : kBaudRates) {
    if (b.rate == rate) return b.speed;
  }
  return std::nullopt;
}

DWORD RateOf(speed_t speed) {
  for (const BaudRate& b : kBaudRates) {
    if (b.speed == speed) return b.rate;
  }
  return 0;
}

// Turns t into the raw line the DCB asks for; false when the DCB names a
// rate, size, parity or stop-bit code this line cannot run.
bool MakeRawLine(const DCB& dcb, termios& t) {
  const std::optional<speed_t> speed = SpeedOf(dcb.BaudRate);
  if (!speed) return false;

  tcflag_t size = 0;
  switch (dcb.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }

  tcflag_t parity = 0;
  switch (dcb.Parity) {
    case NOPARITY:
      parity = 0;
      break;
    case ODDPARITY:
      parity = PARENB | PARODD;
      break;
    case EVENPARITY:
      parity = PARENB;
      break;
    case MARKPARITY:
      parity = PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      parity = PARENB | CMSPAR;
      break;
    default:
      return false;
  }

  tcflag_t stop = 0;
  if (dcb.StopBits == TWOSTOPBITS || (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize == 5)) {
    stop = CSTOPB;
  } else if (dcb.StopBits != ONESTOPBIT) {
    return false;
  }

  // Breaks are ignored rather than read as a 0x00 that was never sent.
  t.c_iflag = IGNBRK;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= size | parity | stop | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetospeed(&t, *speed);
  cfsetispeed(&t, *speed);
  return true;
}

// Whether the line runs with what was asked. A pseudo-terminal always reads
// back CS8 without PARENB, whatever was set; it keeps CMSPAR and PARODD.
bool LineTookSettings(const termios& want, const termios& got, bool pty) {
  tcflag_t cflagMask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | CREAD;
  if (pty) cflagMask &= ~(CSIZE | PARENB);
  return ((want.c_cflag ^ got.c_cflag) & cflagMask) == 0 && want.c_iflag == got.c_iflag &&
         want.c_oflag == got.c_oflag && want.c_lflag == got.c_lflag &&
         want.c_cc[VMIN] == got.c_cc[VMIN] && want.c_cc[VTIME] == got.c_cc[VTIME] &&
         cfgetospeed(&want) == cfgetospeed(&got);
}

// Raises or drops DTR and RTS. Lines a device does not have (a pty answers
// ENOTTY or EINVAL) are not an error.
bool SetModemLines(int fd, const DCB& dcb) {
  int raise = 0;
  int drop = 0;
  (dcb.fDtrControl == DTR_CONTROL_DISABLE ? drop : raise) |= TIOCM_DTR;
  (dcb.fRtsControl == RTS_CONTROL_DISABLE ? drop : raise) |= TIOCM_RTS;
  for (const auto& [request, lines] : {std::pair{TIOCMBIS, raise}, std::pair{TIOCMBIC, drop}}) {
    if (lines != 0 && ::ioctl(fd, request, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
      return false;
    }
  }
  return true;
}

// Milliseconds until deadline, rounded up so a poll never wakes early.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

// Total timeouts are capped far beyond any real wait so the deadline
// arithmetic cannot overflow.
constexpr std::uint64_t kLongestWaitMs = std::uint64_t{1} << 40;

Clock::time_point DeadlineAfter(std::uint64_t ms) {
  return Clock::now() + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

// Waits until fd is ready for events or timeoutMs passes (-1: no limit).
// False when the device reports an error or a hang-up: a hung-up tty polls
// readable forever while reads give nothing, so waiting on would spin.
// Whether the device is ready; a device hung up or in error is lost.
bool WaitReady(int fd, short events, int timeoutMs, bool& lost) {
  pollfd pfd{fd, events, 0};
  const int n = ::poll(&pfd, 1, timeoutMs);
  if (n < 0) return errno == EINTR;
  lost = (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  return !lost;
}

// Errors of a device that is no longer there: unplugged (ENODEV, ENXIO),
// hung up or failing (EIO).
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

LineCause Lost(int error) {
  return {.kind = CauseKind::kLineLost, .detail = std::strerror(error)};
}

}  // namespace

int TermiosOps::GetAttr(int fd, termios& t) { return ::tcgetattr(fd, &t); }

int TermiosOps::SetAttr(int fd, int when, const termios& t) { return ::tcsetattr(fd, when, &t); }

bool TermiosOps::IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && ::IsPseudoTerminal(st.st_rdev);
}

LinuxSerialPort::LinuxSerialPort() : LinuxSerialPort(DefaultPortRoots()) {}

LinuxSerialPort::LinuxSerialPort(PortRoots roots, TermiosOps* ops)
    : m_map(std::move(roots)), m_ops(ops != nullptr ? ops : &m_defaultOps) {}

LinuxSerialPort::~LinuxSerialPort() {
  while (!m_open.empty()) CloseHandle(m_open.begin()->first);
}

LinuxSerialPort::OpenPort* LinuxSerialPort::Find(HANDLE h) {
  if (h < 0 || h > INT_MAX) return nullptr;
  const auto it = m_open.find(static_cast<int>(h));
  return it == m_open.end() ? nullptr : &it->second;
}

HANDLE LinuxSerialPort::CreateFile(const std::string& path) {
  m_cause = {};
  if (const std::optional<int> number = ParseComDevicePath(path)) {
    const std::optional<std::string> device = m_map.Resolve(*number);
    return device ? OpenDevice(*device)
                  : Refuse(path + ": no such port", {.kind = CauseKind::kUnmapped});
  }
  if (path.starts_with('/')) return OpenDevice(path);
  return Refuse(path + ": neither a COM port nor a device path",
                {.kind = CauseKind::kNoDevice, .device = path});
}

void LinuxSerialPort::BeginPortScan() {
  m_scanning = true;
  m_users.reset();
}

void LinuxSerialPort::EndPortScan() {
  m_scanning = false;
  m_users.reset();
}

namespace {

// Where a chain of symbolic links ends when it leads nowhere: an override
// whose adapter is unplugged is named by the device that is missing, not by
// the link. A path that is no link is its own end.
std::string WhereLinksEnd(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path at = path;
  std::error_code error;
  // As many hops as the kernel follows (MAXSYMLINKS), so a loop ends too.
  for (int hops = 0; hops < 40 && fs::is_symlink(at, error); ++hops) {
    const fs::path target = fs::read_symlink(at, error);
    if (error) break;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return at.lexically_normal().string();
}

}  // namespace

HANDLE LinuxSerialPort::Refuse(std::string text, LineCause cause) {
  cause.detail = std::move(text);
  // Named by the device itself, not by a COM link or by-id name leading to it.
  if (char* real = cause.device.empty() ? nullptr : ::realpath(cause.device.c_str(), nullptr)) {
    cause.device = real;
    std::free(real);
  } else if (!cause.device.empty()) {
    cause.device = WhereLinksEnd(cause.device);
  }
  m_cause = std::move(cause);
  return INVALID_HANDLE_VALUE;
}

const TerminalUsers& LinuxSerialPort::Users() {
  if (!m_scanning || !m_users) m_users = TerminalUsers::Walk("/proc", ::getpid());
  return *m_users;
}

// Everything that can be decided without opening the device is decided
// first: opening a tty can already raise DTR and RTS, and opening anything
// else can have any effect at all (a watchdog arms itself).
HANDLE LinuxSerialPort::OpenDevice(const std::string& device) {
  struct stat st {};
  const LineCause notSerial{.kind = CauseKind::kNotSerial, .device = device};
  if (::stat(device.c_str(), &st) != 0) {
    const int error = errno;
    return Refuse(device + ": " + std::strerror(error),
                  error == ENOENT || error == ENOTDIR
                      ? LineCause{.kind = CauseKind::kNoDevice, .device = device}
                      : notSerial);
  }
  if (!S_ISCHR(st.st_mode) || !IsSerialTerminal(m_map.Roots().sysDir, st.st_rdev)) {
    return Refuse(device + ": not a serial device", notSerial);
  }
  const TerminalUsers& users = Users();
  if (users.IsControllingTerminal(st.st_rdev)) {
    return Refuse(device + ": the terminal of a login or shell session",
                  {.kind = CauseKind::kBusy, .device = device, .program = "a login or shell"});
  }
  if (const pid_t holder = users.OtherHolder(st.st_rdev)) {
    return Refuse(device + ": open in process " + std::to_string(holder),
                  BusyCause(device, holder));
  }

  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    LineCause cause{.kind = CauseKind::kNoDevice, .device = device};
    if (error == EACCES || error == EPERM) cause = PermissionCause(device, st);
    if (error == EBUSY) cause = BusyCause(device, 0);
    return Refuse(device + ": " + std::strerror(error), cause);
  }
  // The path may have been pointed elsewhere between the checks and the open.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_rdev != st.st_rdev || !::isatty(fd)) {
    ::close(fd);
    return Refuse(device + ": changed while it was being opened",
                  {.kind = CauseKind::kNoDevice, .device = device});
  }
  // TIOCGEXCL: another opener set TIOCEXCL, which root would pass unasked.
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    ::close(fd);
    return Refuse(device + ": held exclusively by another program", BusyCause(device, 0));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Refuse(device + ": in use by another copy of this program",
                  BusyCause(device, FlockHolder(st)));
  }
  std::string lockFile;
  std::string cause;
  if (!TakeUucpLock(m_map.Roots().lockDir, device, lockFile, cause)) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return Refuse(cause, BusyCause(device, UucpLockHolder(m_map.Roots().lockDir, device)));
  }
  // TIOCEXCL belongs to the tty, not to this descriptor: on a pseudo-terminal,
  // whose peer keeps the tty alive, a reader killed before it could clear the
  // flag would leave the port refused for good. There the flock and the lock
  // file, which both end with their process, guard it alone.
  if (!m_ops->IsPseudoTerminal(fd)) ::ioctl(fd, TIOCEXCL);
  m_open[fd] = OpenPort{kPortTimeouts, lockFile};
  return fd;
}

bool LinuxSerialPort::CloseHandle(HANDLE h) {
  const OpenPort* port = Find(h);
  if (port == nullptr) return false;
  const int fd = static_cast<int>(h);
  ReleaseUucpLock(port->lockFile);
  // Left set, TIOCEXCL would keep the device refused while anyone else still
  // has it open.
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  m_open.erase(fd);
  return ::close(fd) == 0 || errno == EINTR;
}

bool LinuxSerialPort::GetCommState(HANDLE h, DCB& dcb) {
  if (Find(h) == nullptr) return false;
  const int fd = static_cast<int>(h);
  termios t{};
  if (m_ops->GetAttr(fd, t) != 0) return false;

  DCB d;
  d.BaudRate = RateOf(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      d.ByteSize = 5;
      break;
    case CS6:
      d.ByteSize = 6;
      break;
    case CS7:
      d.ByteSize = 7;
      break;
    default:
      d.ByteSize = 8;
      break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    d.Parity = NOPARITY;
  } else if (t.c_cflag & CMSPAR) {
    d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  if (t.c_cflag & CSTOPB) {
    d.StopBits = d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  }
  int lines = 0;
  const bool haveLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
  d.fDtrControl = haveLines && (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  if (d.fOutxCtsFlow) {
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    d.fRtsControl = haveLines && (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
  d.fBinary = true;
  d.fParity = (t.c_iflag & INPCK) != 0;
  d.fOutX = (t.c_iflag & IXON) != 0;
  d.fInX = (t.c_iflag & IXOFF) != 0;
  dcb = d;
  return true;
}

bool LinuxSerialPort::SetCommState(HANDLE h, const DCB& dcb) {
  if (Find(h) == nullptr) return false;
  const int fd = static_cast<int>(h);
  const LineCause notKept{.kind = CauseKind::kSettingsNotKept};
  termios want{};
  if (m_ops->GetAttr(fd, want) != 0) {
    m_cause = DeviceGone(errno) ? Lost(errno) : notKept;
    return false;
  }
  if (!MakeRawLine(dcb, want)) {
    m_cause = notKept;
    return false;
  }
  // The result is not trusted either way; what reads back decides.
  while (m_ops->SetAttr(fd, TCSADRAIN, want) != 0 && errno == EINTR) {
  }
  termios got{};
  const bool pty = m_ops->IsPseudoTerminal(fd);
  if (m_ops->GetAttr(fd, got) != 0) {
    m_cause = DeviceGone(errno) ? Lost(errno) : notKept;
    return false;
  }
  if (!LineTookSettings(want, got, pty)) {
    // Parity alone lost: an adapter whose driver has no mark/space.
    constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
    termios parityKept = got;
    parityKept.c_cflag = (got.c_cflag & ~kParityBits) | (want.c_cflag & kParityBits);
    m_cause = LineTookSettings(want, parityKept, pty) ? LineCause{.kind = CauseKind::kParityNotKept}
                                                      : notKept;
    return false;
  }
  if (!SetModemLines(fd, dcb)) {
    m_cause = notKept;
    return false;
  }
  return true;
}

bool LinuxSerialPort::SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
  OpenPort* port = Find(h);
  if (port == nullptr) return false;
  port->timeouts = timeouts;
  return true;
}

// Writes until every byte is taken or the total write timeout
// (multiplier * length + constant; 0 means none) runs out.
bool LinuxSerialPort::WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) {
  written = 0;
  const OpenPort* port = Find(h);
  if (port == nullptr || (data == nullptr && length > 0)) return false;
  const int fd = static_cast<int>(h);
  const std::uint64_t totalMs = WriteTotalMs(port->timeouts, length);
  const Clock::time_point deadline = DeadlineAfter(totalMs);

  while (written < length) {
    const ssize_t n = ::write(fd, data + written, length - written);
    if (n > 0) {
      written += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (DeviceGone(errno)) m_cause = Lost(errno);
      return false;
    }
    const int waitMs = totalMs == 0 ? -1 : MillisecondsUntil(deadline);
    bool lost = false;
    if (waitMs == 0) return false;
    if (!WaitReady(fd, POLLOUT, waitMs, lost)) {
      if (lost) m_cause = Lost(EIO);
      return false;
    }
  }
  return true;
}

// Reads as the timeout set says (ReadBoundsOf). Bytes beyond length stay
// queued; a timeout is no failure.
bool LinuxSerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  read = 0;
  const OpenPort* port = Find(h);
  if (port == nullptr || (buffer == nullptr && length > 0)) return false;
  const int fd = static_cast<int>(h);
  const auto [immediate, firstBytes, totalMs, intervalMs] = ReadBoundsOf(port->timeouts, length);
  const Clock::time_point deadline = DeadlineAfter(totalMs);
  Clock::time_point lastByte{};

  while (read < length) {
    const ssize_t n = ::read(fd, buffer + read, length - read);
    if (n > 0) {
      read += static_cast<DWORD>(n);
      lastByte = Clock::now();
      if (immediate || firstBytes) return true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (DeviceGone(errno)) m_cause = Lost(errno);
      return false;
    }
    // Nothing queued now (a raw line reads 0 bytes, a line not yet set up
    // answers EAGAIN).
    if (immediate) return true;
    int waitMs = totalMs == 0 ? -1 : MillisecondsUntil(deadline);
    if (intervalMs != 0 && read > 0) {
      const int gapMs = MillisecondsUntil(lastByte + std::chrono::milliseconds(intervalMs));
      waitMs = waitMs < 0 ? gapMs : std::min(waitMs, gapMs);
    }
    if (waitMs == 0) return true;
    bool lost = false;
    if (!WaitReady(fd, POLLIN, waitMs, lost)) {
      if (lost) m_cause = Lost(EIO);
      return false;
    }
  }
  return true;
}

bool LinuxSerialPort::PurgeComm(HANDLE h) {
  if (Find(h) == nullptr) return false;
  if (::tcflush(static_cast<int>(h), TCIFLUSH) == 0) return true;
  if (DeviceGone(errno)) m_cause = Lost(errno);
  return false;
}

void LinuxSerialPort::Sleep(DWORD ms) {
  // The default timer slack (50 us) lets each of an exchange's short waits
  // overrun; with 56 waits per reading cycle that adds up. One nanosecond of
  // slack keeps the waits at what the protocol asks for.
  static thread_local const bool tightSlack = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
  (void)tightSlack;
  timespec until{};
  ::clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(ms / 1000);
  until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}
