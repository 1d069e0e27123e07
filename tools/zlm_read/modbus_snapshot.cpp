#include "tools/zlm_read/modbus_snapshot.h"

MeterSnapshot::MeterSnapshot(const std::vector<int>& addresses) {
  for (const int address : addresses) m_meters[address].address = address;
}

void MeterSnapshot::Read(const MeterCycle& cycle, Clock::time_point now) {
  std::array<Reading, kParameters.size()> readings{};
  for (const Reading& reading : cycle.readings) {
    if (const std::optional<std::size_t> row = RowOf(reading.code)) readings[*row] = reading;
  }
  const std::lock_guard lock(m_mutex);
  const auto meter = m_meters.find(cycle.address);
  if (meter == m_meters.end()) return;
  MeterState& state = meter->second;
  state.readings = readings;
  state.lastGood = now;
  state.status = 0;
  state.cause = 0;
  ++state.goodCycles;
}

void MeterSnapshot::Failed(const MeterFailure& failure) {
  const std::uint16_t status = ModbusStatusOf(failure.message);
  const std::lock_guard lock(m_mutex);
  const auto meter = m_meters.find(failure.address);
  if (meter == m_meters.end()) return;
  MeterState& state = meter->second;
  state.status = status;
  state.cause = static_cast<std::uint16_t>(failure.causeCode);
  ++state.failedCycles;
}

std::optional<MeterState> MeterSnapshot::Unit(int unit) const {
  const std::lock_guard lock(m_mutex);
  const auto meter = m_meters.find(unit);
  if (meter == m_meters.end() || !meter->second.readings) return std::nullopt;
  return meter->second;
}
