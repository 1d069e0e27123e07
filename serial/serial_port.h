#pragma once

#include <cstdint>
#include <string>

#include "serial/line_cause.h"

// The serial line as the meter protocol sees it. The operations keep the
// names and contracts of the classic serial-communication API the protocol
// was designed around, so each call site can be checked against what it
// relies on: results are plain values. Why an open or a settings change
// failed is an extra fact a caller may ask for afterwards (LastCause); no
// result depends on it.

#ifdef _WIN32
// Windows: the platform's own HANDLE, DWORD, BYTE, DCB, COMMTIMEOUTS and
// codes, so a record passes to the system unchanged.
#include "platform/windows_api.h"

// Every field, as the look-alike's defaulted comparison does.
bool operator==(const DCB& a, const DCB& b);
#else
// Elsewhere: look-alikes with the same names, layouts that suit us and the
// same values. Code that must build for both uses only what both give:
// HANDLE is compared and stored, never computed with; a value-initialised
// DCB{} is all zero; the DCB's flag fields are assigned and read, never bound
// to a reference (on Windows they are bit-fields).
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;

// Identifies one open serial device; INVALID_HANDLE_VALUE is "no port".
using HANDLE = std::intptr_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// Parity codes of DCB::Parity.
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;

// Stop-bit codes of DCB::StopBits.
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

// Codes of DCB::fDtrControl and DCB::fRtsControl.
inline constexpr BYTE DTR_CONTROL_DISABLE = 0;
inline constexpr BYTE DTR_CONTROL_ENABLE = 1;
inline constexpr BYTE DTR_CONTROL_HANDSHAKE = 2;
inline constexpr BYTE RTS_CONTROL_DISABLE = 0;
inline constexpr BYTE RTS_CONTROL_ENABLE = 1;
inline constexpr BYTE RTS_CONTROL_HANDSHAKE = 2;
inline constexpr BYTE RTS_CONTROL_TOGGLE = 3;

// Line settings record. A value-initialised DCB{} is all zero.
struct DCB {
  DWORD BaudRate = 0;
  BYTE ByteSize = 0;
  BYTE Parity = NOPARITY;
  BYTE StopBits = ONESTOPBIT;
  BYTE fDtrControl = DTR_CONTROL_DISABLE;
  BYTE fRtsControl = RTS_CONTROL_DISABLE;
  bool fBinary = false;
  bool fParity = false;          // parity checking on input
  bool fOutxCtsFlow = false;     // CTS handshake on output
  bool fOutxDsrFlow = false;     // DSR handshake on output
  bool fDsrSensitivity = false;  // input ignored while DSR is low
  bool fOutX = false;            // XON/XOFF on output
  bool fInX = false;             // XON/XOFF on input
  bool fNull = false;            // discard received zero bytes
  bool fErrorChar = false;       // replace bytes received with errors
  bool fAbortOnError = false;    // stop reads and writes after a line error

  friend bool operator==(const DCB&, const DCB&) = default;
};

// Timeout set, all values in milliseconds.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout = 0;
  DWORD ReadTotalTimeoutMultiplier = 0;
  DWORD ReadTotalTimeoutConstant = 0;
  DWORD WriteTotalTimeoutMultiplier = 0;
  DWORD WriteTotalTimeoutConstant = 0;

  friend bool operator==(const COMMTIMEOUTS&, const COMMTIMEOUTS&) = default;
};

#endif

// dcb with 9600 baud, 8 data bits, no parity and one stop bit: the line a
// freshly opened port is given before the meter protocol changes its parity.
inline DCB Baseline8N1(DCB dcb) {
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

// Parses device-control text such as "baud=9600 parity=M data=8 stop=1
// rts=on dtr=on" into dcb: the named fields are set, flow control is turned
// off, everything else keeps its value. Touches no device. Returns false
// (leaving dcb unchanged) when the text cannot be taken.
bool BuildCommDCB(const std::string& def, DCB& dcb);

// The only road from the program's logic to a serial line.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Exclusive read/write open of an existing device ("\\.\COMn"); returns
  // INVALID_HANDLE_VALUE when it does not exist or is open anywhere else.
  virtual HANDLE CreateFile(const std::string& path) = 0;
  // Frees the device at once for the next opener, here or elsewhere.
  virtual bool CloseHandle(HANDLE h) = 0;
  virtual bool GetCommState(HANDLE h, DCB& dcb) = 0;
  // True only when the line now runs with these settings.
  virtual bool SetCommState(HANDLE h, const DCB& dcb) = 0;
  virtual bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) = 0;
  // written is always set: the number of bytes the line took.
  virtual bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) = 0;
  // read is always set; with the timeout set in use it returns at once with
  // what has arrived, bytes beyond length stay queued.
  virtual bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) = 0;
  // Discards received bytes that are still queued (receive side only).
  virtual bool PurgeComm(HANDLE h) = 0;
  // Waits at least ms milliseconds while the line goes on sending and receiving.
  virtual void Sleep(DWORD ms) = 0;

  // Bracket a run of test-opens (a port scan), so that what the platform
  // needs to learn about other programs' use of ports is learnt once per
  // run rather than once per port.
  virtual void BeginPortScan() {}
  virtual void EndPortScan() {}

  // Why the last failed CreateFile or SetCommState failed, as far as the
  // line can tell; kNone where it cannot. Any operation that fails because
  // the device went away under the open handle says kLineLost: the handle is
  // of no further use, and the path may open again once the device is back.
  virtual LineCause LastCause() const { return {}; }
};
