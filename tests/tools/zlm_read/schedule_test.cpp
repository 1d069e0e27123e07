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

}  // namespace
