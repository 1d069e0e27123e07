#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "tools/zlm_read/modbus_map.h"
#include "tools/zlm_read/reading_output.h"

// The meters' states as the bus loop last published them, for the Modbus
// server's thread: each publication and each look-up holds the lock only to
// copy one meter's state.
class MeterSnapshot {
 public:
  using Clock = std::chrono::steady_clock;

  explicit MeterSnapshot(const std::vector<int>& addresses);

  void Read(const MeterCycle& cycle, Clock::time_point now);
  void Failed(const MeterFailure& failure);

  // The state of the meter served as this unit, once it has read; nothing
  // for a unit no meter has, or one that never answered.
  std::optional<MeterState> Unit(int unit) const;

 private:
  mutable std::mutex m_mutex;
  std::map<int, MeterState> m_meters;  // by unit id
};
