#include "tools/zlm_read/schedule.h"

#include <algorithm>
#include <cmath>

#include "platform/number_text.h"
#include "ui/reading_timer.h"

std::optional<std::chrono::nanoseconds> IntervalOf(std::string_view text) {
  const std::optional<double> seconds = ParseDouble(text);
  if (!seconds || *seconds < kShortestIntervalS || *seconds > kLongestIntervalS) {
    return std::nullopt;
  }
  return std::chrono::nanoseconds(std::llround(*seconds * 1e9));
}

std::string IntervalError(const std::string& text) {
  if (IntervalOf(text)) return {};
  return "'" + text + "' is not a number of seconds from 0.001 to 31536000 (a year)";
}

Schedule MakeSchedule(std::optional<std::chrono::nanoseconds> interval, int count) {
  Schedule schedule;
  schedule.period = interval ? *interval : std::chrono::milliseconds(kPollPeriodMs);
  schedule.forever = interval && count == 0;
  schedule.cycles = count == 0 ? 1 : count;
  return schedule;
}

std::chrono::steady_clock::time_point CycleStart(std::chrono::steady_clock::time_point start,
                                                 std::chrono::nanoseconds period, long cycle) {
  using Clock = std::chrono::steady_clock;
  const auto fitting = (Clock::time_point::max() - start) / period;
  if (cycle > fitting) return Clock::time_point::max();
  return start + period * cycle;
}

long NextCycle(std::chrono::steady_clock::time_point start, std::chrono::nanoseconds period,
               std::chrono::steady_clock::time_point now, long earliest) {
  if (now <= start) return earliest;
  const auto passed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start);
  const long due = static_cast<long>((passed + period - std::chrono::nanoseconds(1)) / period);
  return std::max(earliest, due);
}
