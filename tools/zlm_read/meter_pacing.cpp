#include "tools/zlm_read/meter_pacing.h"

#include <algorithm>

namespace {

// "every 2nd cycle", "every 4th cycle"
std::string EveryText(int every) {
  if (every == 1) return "every cycle";
  const int lastTwo = every % 100;
  const char* suffix = "th";
  if (lastTwo < 11 || lastTwo > 13) {
    suffix = every % 10 == 1 ? "st" : every % 10 == 2 ? "nd" : every % 10 == 3 ? "rd" : "th";
  }
  return "every " + std::to_string(every) + suffix + " cycle";
}

}  // namespace

MeterPacing::MeterPacing(const std::vector<int>& addresses, int failuresBeforeSlowing)
    : m_order(addresses), m_failuresBeforeSlowing(failuresBeforeSlowing) {
  for (const int address : addresses) m_meters[address] = {};
}

std::vector<int> MeterPacing::Pass(long pass) const {
  std::vector<int> due;
  for (const bool answering : {true, false}) {
    for (const int address : m_order) {
      const Meter& meter = m_meters.at(address);
      if ((meter.failures == 0) == answering && pass >= meter.nextPass) due.push_back(address);
    }
  }
  return due;
}

std::string MeterPacing::Answered(int address, long pass) {
  Meter& meter = m_meters.at(address);
  const bool wasSlowed = meter.every > 1;
  meter = {0, 1, pass + 1};
  if (!wasSlowed) return {};
  return "address " + std::to_string(address) + " answers again: asked every cycle";
}

std::string MeterPacing::Failed(int address, long pass) {
  Meter& meter = m_meters.at(address);
  ++meter.failures;
  const int before = meter.every;
  if (m_failuresBeforeSlowing > 0 && meter.failures >= m_failuresBeforeSlowing) {
    meter.every = std::min(before * 2, kSlowestEvery);
  }
  meter.nextPass = pass + meter.every;
  if (meter.every == before) return {};
  return "address " + std::to_string(address) + " failed " + std::to_string(meter.failures) +
         " times in a row: asked " + EveryText(meter.every) + " until it answers";
}
