#pragma once

#include <termios.h>

#include <map>
#include <optional>
#include <string>

#include "serial/com_port_map.h"
#include "serial/serial_port.h"
#include "serial/terminal_users.h"

// The terminal calls whose results LinuxSerialPort judges. Behind this seam
// a test can stand in for a driver that quietly drops settings.
class TermiosOps {
 public:
  virtual ~TermiosOps() = default;
  virtual int GetAttr(int fd, termios& t);
  virtual int SetAttr(int fd, int when, const termios& t);
  // Pseudo-terminals take every setting but always read back 8 data bits
  // without PARENB; that is no fault of the line.
  virtual bool IsPseudoTerminal(int fd);
};

// SerialPort over a Linux tty (termios). A HANDLE is the file descriptor;
// only handles this object opened and has not closed are accepted.
//
// Open: "\\.\COMn" through ComPortMap, or an absolute device path. Before
// anything is opened the device must be a serial terminal (IsSerialTerminal),
// not the controlling terminal of a session, and not held open by another
// process as far as /proc shows (the peer serving a pseudo-terminal's other
// end excepted). It is then opened with O_RDWR | O_NOCTTY | O_NONBLOCK |
// O_CLOEXEC (never O_CREAT) and kept only when it can be held exclusively:
// flock(LOCK_EX | LOCK_NB), which binds root as well, and the device's UUCP
// lock file (TakeUucpLock); then TIOCEXCL against programs that use
// neither, except on a pseudo-terminal. A device another opener holds with
// TIOCEXCL (TIOCGEXCL) counts as taken, also for root, whom the kernel would
// let in. Opening changes no setting of the line. LastCause() says why an
// open gave INVALID_HANDLE_VALUE.
//
// Close: the UUCP lock, TIOCEXCL and the flock are released before the
// descriptor is closed, so the device is free at once even when another
// process keeps it open.
//
// Settings always make a raw line: no flow control of any kind, no input
// parity checking, marking or stripping, no byte dropped, added or replaced,
// breaks ignored, CLOCAL | CREAD, reads that never block (VMIN = VTIME = 0).
// The DCB's flow-control, fParity, fNull, fErrorChar and fAbortOnError flags
// are therefore not honoured. Mark parity is PARENB | CMSPAR | PARODD, space
// PARENB | CMSPAR. Settings are applied with TCSADRAIN and judged by what
// reads back, not by tcsetattr's result: some USB adapter drivers drop
// mark/space and report success, and glibc can report EINVAL on a pty for a
// setting the kernel did apply. 1.5 stop bits exist only with 5 data bits
// (CSTOPB then gives 1.5 on the UART); otherwise they are refused.
// DTR and RTS follow fDtrControl / fRtsControl: DISABLE drops the line, every
// other code asserts it (there is no hardware handshake); a device without
// modem lines is not an error.
//
// GetCommState reports what the line runs; on a pty, which drops PARENB,
// that is no parity even after mark or space was applied.
//
// Timeouts are kept per handle. Until SetCommTimeouts a handle uses
// kPortTimeouts (reads return at once, writes give up after 1000 ms), so no
// call can block the calling thread for good. Not thread-safe.
class LinuxSerialPort : public SerialPort {
 public:
  LinuxSerialPort();
  explicit LinuxSerialPort(PortRoots roots, TermiosOps* ops = nullptr);
  ~LinuxSerialPort() override;
  LinuxSerialPort(const LinuxSerialPort&) = delete;
  LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override;
  bool GetCommState(HANDLE h, DCB& dcb) override;
  bool SetCommState(HANDLE h, const DCB& dcb) override;
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override;
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override;
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override;
  bool PurgeComm(HANDLE h) override;
  void Sleep(DWORD ms) override;

  // One walk of /proc serves every open between these two.
  void BeginPortScan() override;
  void EndPortScan() override;

  // Why the last failed CreateFile or SetCommState failed: unmapped, no
  // device, not a serial device, permission (with the device's group),
  // busy (with the holder's pid and program where /proc, the flock or the
  // lock file shows it), mark/space parity or other settings not kept.
  LineCause LastCause() const override { return m_cause; }

 private:
  struct OpenPort {
    COMMTIMEOUTS timeouts;
    std::string lockFile;  // UUCP lock file we wrote; empty when none
  };

  OpenPort* Find(HANDLE h);
  HANDLE OpenDevice(const std::string& device);
  HANDLE Refuse(std::string text, LineCause cause);
  const TerminalUsers& Users();

  ComPortMap m_map;
  TermiosOps m_defaultOps;
  TermiosOps* m_ops;
  std::map<int, OpenPort> m_open;
  bool m_scanning = false;
  std::optional<TerminalUsers> m_users;
  LineCause m_cause;
};
