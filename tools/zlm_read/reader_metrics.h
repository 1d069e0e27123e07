#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/zlm_read/line_keeper.h"
#include "tools/zlm_read/reading_sink.h"

// A Prometheus histogram: cumulative counts per upper bound, their sum and
// count.
template <std::size_t N>
struct Histogram {
  std::array<double, N> bounds;
  std::array<std::uint64_t, N> counts{};
  double sum = 0;
  std::uint64_t count = 0;

  void Observe(double value) {
    for (std::size_t i = 0; i < N; ++i) {
      if (value <= bounds[i]) ++counts[i];
    }
    sum += value;
    ++count;
  }
};

// What zlm-read tells Prometheus: per meter its cycles good and failed by
// cause, the time of its last good reading and how long its cycles and
// exchanges take; per line its openings, failures to open, losses and
// reconnections; the broker's connection and queue; the version. A sink
// fed by the bus loop; Text may be called from any thread and holds the
// lock only to copy the figures, so a scrape never holds up the loop.
class ReaderMetrics final : public ReadingSink {
 public:
  ReaderMetrics(std::string port, const std::vector<int>& addresses, std::string version);

  void Read(const MeterCycle& cycle) override;
  void Failed(const MeterFailure& failure) override;

  // Where each scrape finds the line's counts and the delivery's state.
  void WatchLine(std::function<LineKeeper::Counts()> counts) { m_lineCounts = std::move(counts); }
  void WatchDelivery(const ReadingSink* sink) { m_delivery = sink; }

  // Everything in the Prometheus text exposition format (version 0.0.4).
  std::string Text() const;

 private:
  // Upper bounds in seconds: a meter's cycle is seven exchanges of a few
  // tens of milliseconds each, a silent meter's exchange waits ~0.5 s.
  using CycleHistogram = Histogram<9>;
  using ExchangeHistogram = Histogram<10>;

  struct Meter {
    std::uint64_t good = 0;
    std::map<std::string, std::uint64_t> failedBy;  // by cause
    double lastGood = 0;                            // Unix time; 0: never
    bool up = false;
    CycleHistogram cycle;
    ExchangeHistogram exchange;
  };

  Meter& MeterAt(int address);  // under the lock
  void Observe(Meter& meter, const CycleTiming& timing);

  const std::string m_port;
  const std::string m_version;
  mutable std::mutex m_mutex;
  std::map<int, Meter> m_meters;
  std::function<LineKeeper::Counts()> m_lineCounts;
  const ReadingSink* m_delivery = nullptr;
};
