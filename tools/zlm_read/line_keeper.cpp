#include "tools/zlm_read/line_keeper.h"

#include <algorithm>

#include "meter/exchange_diagnosis.h"
#include "serial/com_name.h"
#include "serial/port_discovery.h"

LineKeeper::LineKeeper(SerialPort& line, std::string port, ChangeHandler onChange)
    : m_line(line), m_port(std::move(port)), m_onChange(std::move(onChange)) {}

LineKeeper::~LineKeeper() {
  if (IsOpen()) m_line.CloseHandle(m_handle);
}

bool LineKeeper::Open() {
  m_handle = m_line.CreateFile(DevicePathOf(m_port));
  if (!IsOpen()) {
    m_cause = ExplainCause(m_line.LastCause(), m_port);
    m_causeCode = CauseCodeOf(m_line.LastCause().kind);
    ++m_openFailures;
    return false;
  }
  ++m_opens;
  ApplyBaseline(m_line, m_handle);
  m_cause.clear();
  m_causeCode = 0;
  return true;
}

bool LineKeeper::CheckLost(Clock::time_point now) {
  if (!IsOpen() || m_line.LastCause().kind != CauseKind::kLineLost) return false;
  m_cause = ExplainCause(m_line.LastCause(), m_port);
  m_causeCode = CauseCodeOf(m_line.LastCause().kind);
  m_line.CloseHandle(m_handle);
  m_handle = INVALID_HANDLE_VALUE;
  m_retry = kFirstRetry;
  m_nextAttempt = now + m_retry;
  m_lostAt = now;
  ++m_losses;
  m_onChange(false, m_port + " lost; opening it again in 1 s, then less often, up to every " +
                        std::to_string(kLastRetry.count()) + " s (" + m_cause + ")");
  return true;
}

bool LineKeeper::Ready(Clock::time_point now) {
  if (IsOpen()) return true;
  if (now < m_nextAttempt) return false;
  if (!Open()) {
    m_retry = std::min<Clock::duration>(m_retry * 2, kLastRetry);
    m_nextAttempt = now + m_retry;
    return false;
  }
  const auto away = std::chrono::duration_cast<std::chrono::seconds>(now - m_lostAt);
  m_onChange(true, m_port + " open again after " + std::to_string(away.count()) + " s");
  return true;
}
