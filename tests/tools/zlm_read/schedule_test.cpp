#include "tools/zlm_read/schedule.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(Schedule, IntervalsWithinAMillisecondAndAYear) {
  const std::pair<const char*, long long> kValid[] = {
      {"2", 2000}, {"0.001", 1}, {" 1.5e0 ", 1500}, {"31536000", 31'536'000'000}};
  for (const auto& [text, ms] : kValid) {
    EXPECT_EQ(IntervalOf(text), milliseconds(ms)) << text;
    EXPECT_EQ(IntervalError(text), "") << text;
  }
  for (const char* text : {"0.0009", "31536000.5", "0", "-1", "1,5", "nan", "inf", ""}) {
    EXPECT_FALSE(IntervalOf(text).has_value()) << text;
    EXPECT_NE(IntervalError(text), "") << text;
  }
  EXPECT_EQ(IntervalError("x"), "'x' is not a number of seconds from 0.001 to 31536000 (a year)");
}

TEST(Schedule, OnceByDefaultCountedOrForever) {
  struct Case {
    std::optional<nanoseconds> interval;
    int count;
    nanoseconds period;
    bool forever;
    long cycles;
  };
  const Case cases[] = {
      {std::nullopt, 0, milliseconds(2000), false, 1},
      {std::nullopt, 3, milliseconds(2000), false, 3},  // the window's period
      {milliseconds(5), 0, milliseconds(5), true, 1},
      {milliseconds(5), 4, milliseconds(5), false, 4},
  };
  for (const Case& c : cases) {
    const Schedule schedule = MakeSchedule(c.interval, c.count);
    EXPECT_EQ(schedule.period, c.period);
    EXPECT_EQ(schedule.forever, c.forever);
    if (!c.forever) {
      EXPECT_EQ(schedule.cycles, c.cycles);
    }
  }
}

TEST(Schedule, CyclesStartOnAFixedGridUpToTheClocksEnd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start{milliseconds(1000)};
  EXPECT_EQ(CycleStart(start, milliseconds(250), 0), start);
  EXPECT_EQ(CycleStart(start, milliseconds(250), 7), start + milliseconds(1750));
  // A year's period far into a run that never stops: no overflow.
  const nanoseconds year = std::chrono::hours(24 * 365);
  EXPECT_EQ(CycleStart(start, year, std::numeric_limits<long>::max()), Clock::time_point::max());
  EXPECT_LT(CycleStart(start, year, 100), Clock::time_point::max());
}

// After a stall the next cycle is the first whose start is still ahead;
// never one already taken.
TEST(Schedule, MissedCyclesAreSkipped) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start{milliseconds(1000)};
  const struct {
    long nowMs;  // since start
    long earliest;
    long next;
  } cases[] = {
      {0, 1, 1},        // a cycle that took no time
      {440, 1, 1},      // within its period
      {1000, 1, 1},     // exactly at the next start
      {1001, 1, 2},     // just after it: that one is missed
      {10500, 1, 11},   // stopped for ten periods
      {10500, 12, 12},  // never back to one already taken
      {-5, 3, 3},       // a clock before the start
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextCycle(start, milliseconds(1000), start + milliseconds(c.nowMs), c.earliest),
              c.next)
        << c.nowMs << " ms";
  }
}

}  // namespace
