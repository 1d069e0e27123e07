#pragma once

#include <string>

#include "serial/rfc2217_serial_port.h"
#include "serial/serial_port.h"

// The serial lines a program of this platform reaches: the system's own
// devices, and network serial servers (RFC 2217) beside them.
#ifdef _WIN32
#include "serial/windows_serial_port.h"
using DeviceSerialPort = WindowsSerialPort;
#else
#include "serial/linux_serial_port.h"
using DeviceSerialPort = LinuxSerialPort;
#endif

// Opens "rfc2217://HOST:PORT" on the network line and everything else on the
// device line; on Linux a COM number whose entry in the per-user port
// directory is a file holding such an address reaches that server too (see
// ComPortMap). Every other call goes to the line that opened the handle;
// LastCause tells about the line last used. Waits are the device line's.
class PlatformSerialPort : public SerialPort {
 public:
  PlatformSerialPort() = default;

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override { return Line(h).CloseHandle(h); }
  bool GetCommState(HANDLE h, DCB& dcb) override { return Line(h).GetCommState(h, dcb); }
  bool SetCommState(HANDLE h, const DCB& dcb) override { return Line(h).SetCommState(h, dcb); }
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override {
    return Line(h).SetCommTimeouts(h, timeouts);
  }
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override {
    return Line(h).WriteFile(h, data, length, written);
  }
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override {
    return Line(h).ReadFile(h, buffer, length, read);
  }
  bool PurgeComm(HANDLE h) override { return Line(h).PurgeComm(h); }
  void Sleep(DWORD ms) override { m_device.Sleep(ms); }
  void BeginPortScan() override;
  void EndPortScan() override;
  LineCause LastCause() const override { return m_last->LastCause(); }

 private:
  SerialPort& Line(HANDLE h) {
    m_last = m_network.Owns(h) ? static_cast<SerialPort*>(&m_network) : &m_device;
    return *m_last;
  }

  DeviceSerialPort m_device;
  Rfc2217SerialPort m_network;
  SerialPort* m_last = &m_device;
};
