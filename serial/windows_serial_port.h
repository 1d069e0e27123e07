#pragma once

#include <set>
#include <string>

#include "serial/serial_port.h"

// SerialPort over the Windows serial driver. A HANDLE is the system's file
// handle; only handles this object opened and has not closed are accepted,
// so the no-port value (which Windows also uses for the current process)
// never reaches a system call.
//
// Open: only "\\.\COMn" (n 0..255), through CreateFileW with read and write
// access, share mode 0 (exclusive: the driver refuses a second opener),
// OPEN_EXISTING and no overlapped I/O; there is no number mapping, COMn is
// the system's own port. A handle that is not a character device the serial
// driver answers for is closed again and refused, so no other kind of file
// is ever written. The handle starts with kPortTimeouts, so no call can
// block the calling thread for good; opening changes no line setting.
//
// SetCommState hands the record to the driver, whose own result is the
// truth: Windows serial drivers refuse a parity they cannot produce. Two
// fields that only matter to the driver's bookkeeping are completed first:
// DCBlength, and XON/XOFF characters that are equal (in an all-zero record),
// which the driver refuses even with XON/XOFF off; the standard DC1/DC3 are
// put in. fBinary is always set: the driver has no other mode.
//
// A failed open or settings change keeps its cause (LastCause), told from
// the system's last error: a COMn the system does not know is no such port,
// access denied or a sharing violation is a port in use, a handle that is
// no serial device is refused as one; a refused mark or space parity was
// not kept. Any call on an open handle whose device went away (a USB adapter
// pulled out) keeps kLineLost, so the caller can close it and open it again.
//
// Sleep keeps the system timer at 1 ms while this object lives (otherwise a
// 1 ms wait lasts a 15.6 ms tick) and never returns early.
// The cause of a failed CreateFileW of a COM port, from its last error.
LineCause CauseOfOpenError(DWORD error);

class WindowsSerialPort : public SerialPort {
 public:
  WindowsSerialPort();
  ~WindowsSerialPort() override;
  WindowsSerialPort(const WindowsSerialPort&) = delete;
  WindowsSerialPort& operator=(const WindowsSerialPort&) = delete;

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override;
  bool GetCommState(HANDLE h, DCB& dcb) override;
  bool SetCommState(HANDLE h, const DCB& dcb) override;
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override;
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override;
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override;
  bool PurgeComm(HANDLE h) override;
  void Sleep(DWORD ms) override;
  LineCause LastCause() const override { return m_cause; }

 private:
  bool Owns(HANDLE h) const { return m_open.contains(h); }
  HANDLE Refuse(LineCause cause);

  std::set<HANDLE> m_open;
  LineCause m_cause;
  bool m_timerPeriodSet = false;
};
