#include "serial/windows_serial_port.h"

#include <mmsystem.h>

#include <chrono>
#include <optional>
#include <string>

#include "serial/port_discovery.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kTimerPeriodMs = 1;
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

std::string SystemError(DWORD error) { return "system error " + std::to_string(error); }

// Errors of a device that is no longer there: a USB adapter pulled out
// answers an open handle with one of these, depending on its driver.
bool DeviceGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

// The call that just failed: false, with the loss kept as the cause when
// the device went away.
bool Failed(LineCause& cause) {
  const DWORD error = ::GetLastError();
  if (DeviceGone(error)) cause = {.kind = CauseKind::kLineLost, .detail = SystemError(error)};
  return false;
}

}  // namespace

LineCause CauseOfOpenError(DWORD error) {
  const std::string detail = SystemError(error);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {.kind = CauseKind::kUnmapped, .detail = detail};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return {.kind = CauseKind::kBusy, .detail = detail};
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
      return {.kind = CauseKind::kNoDevice, .detail = detail};
    default:
      return {.kind = CauseKind::kNotSerial, .detail = detail};
  }
}

WindowsSerialPort::WindowsSerialPort()
    : m_timerPeriodSet(::timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR) {}

WindowsSerialPort::~WindowsSerialPort() {
  while (!m_open.empty()) CloseHandle(*m_open.begin());
  if (m_timerPeriodSet) ::timeEndPeriod(kTimerPeriodMs);
}

HANDLE WindowsSerialPort::Refuse(LineCause cause) {
  m_cause = std::move(cause);
  return INVALID_HANDLE_VALUE;
}

HANDLE WindowsSerialPort::CreateFile(const std::string& path) {
  m_cause = {};
  const std::optional<int> number = ParseComDevicePath(path);
  if (!number) return Refuse({.kind = CauseKind::kNotSerial, .detail = "not a COM port name"});
  // Formed again from the number, so only a COM port's name reaches the system.
  const std::string path8 = ComDevicePath(*number);
  const std::wstring device(path8.begin(), path8.end());
  const HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return Refuse(CauseOfOpenError(::GetLastError()));
  }

  DCB probe{};
  probe.DCBlength = sizeof probe;
  COMMTIMEOUTS timeouts = kPortTimeouts;
  if (::GetFileType(h) != FILE_TYPE_CHAR || !::GetCommState(h, &probe) ||
      !::SetCommTimeouts(h, &timeouts)) {
    ::CloseHandle(h);
    return Refuse({.kind = CauseKind::kNotSerial, .detail = "no serial driver answers for it"});
  }
  m_open.insert(h);
  return h;
}

bool WindowsSerialPort::CloseHandle(HANDLE h) {
  if (m_open.erase(h) == 0) return false;
  return ::CloseHandle(h) != 0;
}

bool WindowsSerialPort::GetCommState(HANDLE h, DCB& dcb) {
  if (!Owns(h)) return false;
  DCB line{};
  line.DCBlength = sizeof line;
  if (!::GetCommState(h, &line)) return false;
  dcb = line;
  return true;
}

bool WindowsSerialPort::SetCommState(HANDLE h, const DCB& dcb) {
  m_cause = {};
  if (!Owns(h)) return false;
  DCB applied = dcb;
  applied.DCBlength = sizeof applied;
  applied.fBinary = TRUE;
  if (applied.XonChar == applied.XoffChar) {
    applied.XonChar = kXon;
    applied.XoffChar = kXoff;
  }
  if (::SetCommState(h, &applied)) return true;
  const DWORD error = ::GetLastError();
  const bool ninthBit = dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY;
  CauseKind kind = ninthBit ? CauseKind::kParityNotKept : CauseKind::kSettingsNotKept;
  if (DeviceGone(error)) kind = CauseKind::kLineLost;
  m_cause = {.kind = kind, .detail = SystemError(error)};
  return false;
}

bool WindowsSerialPort::SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
  if (!Owns(h)) return false;
  COMMTIMEOUTS copy = timeouts;
  return ::SetCommTimeouts(h, &copy) != 0;
}

bool WindowsSerialPort::WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) {
  written = 0;
  if (!Owns(h) || (data == nullptr && length > 0)) return false;
  return ::WriteFile(h, data, length, &written, nullptr) != 0 || Failed(m_cause);
}

bool WindowsSerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  read = 0;
  if (!Owns(h) || (buffer == nullptr && length > 0)) return false;
  return ::ReadFile(h, buffer, length, &read, nullptr) != 0 || Failed(m_cause);
}

bool WindowsSerialPort::PurgeComm(HANDLE h) {
  if (!Owns(h)) return false;
  return ::PurgeComm(h, PURGE_RXCLEAR) != 0 || Failed(m_cause);
}

void WindowsSerialPort::Sleep(DWORD ms) {
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
  ::Sleep(ms);
  // A sleep can end up to a timer tick early; the rest is slept off.
  while (Clock::now() < until) ::Sleep(1);
}
