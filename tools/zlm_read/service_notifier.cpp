#include "tools/zlm_read/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <ctime>

ServiceNotifier::ServiceNotifier(std::string port) : m_port(std::move(port)) {
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) m_aliveEvery = std::chrono::microseconds(usec / 2);
}

void ServiceNotifier::Send(const std::string& state) { sd_notify(0, state.c_str()); }

void ServiceNotifier::Alive() {
  if (m_aliveEvery.count() > 0) Send("WATCHDOG=1");
}

void ServiceNotifier::Tell(bool good, int address, std::chrono::system_clock::time_point time,
                           const std::string& failure) {
  m_failures[address] = good ? std::string() : failure;
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  ::localtime_r(&t, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  m_lastCycle = clock;

  int failed = 0;
  std::string firstFailure;
  for (const auto& [meter, text] : m_failures) {
    if (text.empty()) continue;
    if (++failed == 1) firstFailure = "address " + std::to_string(meter) + ": " + text;
  }
  const int total = static_cast<int>(m_failures.size());
  std::string status = m_port + ": " + std::to_string(total - failed) + " good, " +
                       std::to_string(failed) + " failed";
  if (failed > 0) status += " (" + firstFailure + (failed > 1 ? ", ..." : "") + ")";
  if (!m_lineLost.empty()) status += "; " + m_lineLost;
  status += "; last cycle " + m_lastCycle;
  std::string state = "STATUS=" + status;
  if (!m_ready) {
    state = "READY=1\n" + state;
    m_ready = true;
  }
  if (m_aliveEvery.count() > 0) state += "\nWATCHDOG=1";
  Send(state);
}

void ServiceNotifier::Read(const MeterCycle& cycle) { Tell(true, cycle.address, cycle.time, {}); }

void ServiceNotifier::Failed(const MeterFailure& failure) {
  Tell(false, failure.address, failure.time, failure.lineDown ? "line lost" : failure.message);
}

void ServiceNotifier::LineChanged(bool open, const std::string& text) {
  m_lineLost = open ? std::string() : text.substr(0, text.find(';'));
}

bool ServiceNotifier::Close() {
  Send("STOPPING=1");
  return true;
}
