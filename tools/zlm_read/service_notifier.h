#pragma once

#include <chrono>
#include <map>
#include <string>

#include "tools/zlm_read/reading_sink.h"

// Tells systemd how the reader is, for a unit of Type=notify: READY=1 with
// the first cycle's result, WATCHDOG=1 whenever the bus loop shows it is
// alive (a loop that hangs stops them, and systemd restarts it), and a
// one-line STATUS= (meters good and failed, the last cycle's time). Without
// NOTIFY_SOCKET in the environment it sends nothing.
class ServiceNotifier final : public ReadingSink {
 public:
  explicit ServiceNotifier(std::string port);

  // How often systemd wants to hear WATCHDOG=1, half its WatchdogSec=; zero
  // when it watches nothing.
  std::chrono::microseconds AliveEvery() const { return m_aliveEvery; }
  // WATCHDOG=1, when watched.
  void Alive();

  void Read(const MeterCycle& cycle) override;
  void Failed(const MeterFailure& failure) override;
  void LineChanged(bool open, const std::string& text) override;
  bool Close() override;

 private:
  void Tell(bool good, int address, std::chrono::system_clock::time_point time,
            const std::string& failure);
  void Send(const std::string& state);

  const std::string m_port;
  std::chrono::microseconds m_aliveEvery{0};
  bool m_ready = false;
  std::map<int, std::string> m_failures;  // each meter's last failure; empty when good
  std::string m_lineLost;                 // while the line is away
  std::string m_lastCycle;
};
