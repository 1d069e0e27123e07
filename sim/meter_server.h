#pragma once

#include <signal.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "sim/meter_bus.h"
#include "sim/pty_line.h"
#include "sim/traffic_log.h"

// Runs the bus on the master side of a pty: takes each byte as it arrives
// with its sampled ninth bit, hands it to the bus, and sends what the bus
// answers when it is due. A sampled bit can be missed, so the bus recovers
// missed address bits. The thread that runs it does nothing else (the
// log is written by a thread of its own), waits in ppoll between events,
// and takes real-time scheduling where the system permits it. A wake-up
// the system delayed during an exchange counts against the bytes it brings,
// and whatever then goes out late is logged as late.
class MeterServer {
 public:
  MeterServer(PtyLine& line, MeterBus& bus, TrafficLog& log);

  // Serves until stop() is true; stop is asked after every event and at
  // least every 100 ms. waitMask is the signal mask in force while waiting
  // (ppoll), so signals blocked elsewhere can end the wait at once; nullptr
  // leaves the mask as it is.
  void Run(const std::function<bool()>& stop, const sigset_t* waitMask);

 private:
  std::uint64_t NowUs() const;
  void SendDue(std::uint64_t nowUs);

  PtyLine& m_line;
  MeterBus& m_bus;
  TrafficLog& m_log;
  std::chrono::steady_clock::time_point m_start;
  std::vector<Transmission> m_pending;  // by due time, in the order queued
};
