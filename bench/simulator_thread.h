#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/meter_server.h"

// The pty simulator served from a thread of the benchmark itself, with its
// COM link in a scratch port directory: the measured reader and the meter
// run side by side in one process.
class SimulatorThread {
 public:
  // One meter at address 1 with fixed readings, published as COMn (the first
  // number free in the mapping of portDir and the real /dev).
  explicit SimulatorThread(const std::string& portDir);
  ~SimulatorThread();
  SimulatorThread(const SimulatorThread&) = delete;
  SimulatorThread& operator=(const SimulatorThread&) = delete;

  // 0 when the pty or the link could not be made.
  int ComNumber() const { return m_com; }
  const std::string& Device() const { return m_line->SlavePath(); }

 private:
  std::string m_portDir;
  std::unique_ptr<PtyLine> m_line;
  std::unique_ptr<MeterBus> m_bus;
  TrafficLog m_log{nullptr};
  std::unique_ptr<MeterServer> m_server;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  int m_com = 0;
};
