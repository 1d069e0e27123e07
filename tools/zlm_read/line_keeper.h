#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/serial_port.h"

// The port zlm-read reads from, kept open across failures of the device:
// when an operation fails because the device went away (unplugged, hung up,
// the other end of a network line or a COM link gone), the port is closed
// and opened again by the same name (COMn, a by-id path, a URL), first after
// 1 s, then after twice as long each time it still cannot be opened, up to
// 60 s. Time is given by the caller, so the schedule can be tested.
class LineKeeper {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::chrono::seconds kFirstRetry{1};
  static constexpr std::chrono::seconds kLastRetry{60};

  // Told of each change of state: whether the port is open now, and one
  // line for a person ("COM7 lost; ...", "COM7 open again after 12 s").
  using ChangeHandler = std::function<void(bool open, const std::string& text)>;

  // port as the user named it; nothing is opened yet.
  LineKeeper(SerialPort& line, std::string port, ChangeHandler onChange);
  ~LineKeeper();
  LineKeeper(const LineKeeper&) = delete;
  LineKeeper& operator=(const LineKeeper&) = delete;

  // The first opening, with the line set to its baseline; false when the
  // port cannot be opened (the line's LastCause says why).
  bool Open();

  SerialPort& Line() const { return m_line; }
  bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return m_handle; }

  // After a failed operation: whether the device went away. If so the port
  // is closed, the next attempt set one backoff step ahead, and the change
  // handler told.
  bool CheckLost(Clock::time_point now);

  // Before using the line: while it is closed and the next attempt is due,
  // opens it again (the line set to its baseline). Whether it is open.
  bool Ready(Clock::time_point now);

  // When the next attempt is due (while closed).
  Clock::time_point NextAttempt() const { return m_nextAttempt; }

  // The explanation of the last failure to open or of the loss ("cause:
  // ..."), while closed.
  const std::string& Cause() const { return m_cause; }
  // Its code (CauseCodeOf the line's cause).
  int CauseCode() const { return m_causeCode; }

  // How often the port was opened, could not be opened, and was lost since
  // the start; safe to read from any thread.
  struct Counts {
    std::uint64_t opens = 0;
    std::uint64_t openFailures = 0;
    std::uint64_t losses = 0;
  };
  Counts CountsSoFar() const { return {m_opens.load(), m_openFailures.load(), m_losses.load()}; }

 private:
  SerialPort& m_line;
  const std::string m_port;
  HANDLE m_handle = INVALID_HANDLE_VALUE;
  Clock::duration m_retry = kFirstRetry;
  Clock::time_point m_nextAttempt{};
  Clock::time_point m_lostAt{};
  std::string m_cause;
  int m_causeCode = 0;
  ChangeHandler m_onChange;
  std::atomic<std::uint64_t> m_opens{0};
  std::atomic<std::uint64_t> m_openFailures{0};
  std::atomic<std::uint64_t> m_losses{0};
};
