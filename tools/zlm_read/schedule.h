#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// When zlm-read reads: once, a number of cycles, or until stopped, each
// cycle starting on a fixed schedule so that cycles do not drift.

// Intervals the schedule can wait for: a millisecond to a year.
inline constexpr double kShortestIntervalS = 0.001;
inline constexpr double kLongestIntervalS = 365 * 24 * 3600.0;

// Seconds written as the dialogs write numbers (dot, optional exponent),
// within the bounds above; nothing for anything else, nan and inf included.
std::optional<std::chrono::nanoseconds> IntervalOf(std::string_view text);

// Why text is no --interval; empty when it is one.
std::string IntervalError(const std::string& text);

struct Schedule {
  std::chrono::nanoseconds period;
  bool forever = false;  // until a stop request
  long cycles = 1;       // when not forever
};

// The schedule of --interval and --count (0 when not given): once by
// default; --count alone repeats with the window's period; --interval alone
// repeats until stopped.
Schedule MakeSchedule(std::optional<std::chrono::nanoseconds> interval, int count);

// The start of cycle n, counted from start; the clock's end when that lies
// beyond what the clock can hold.
std::chrono::steady_clock::time_point CycleStart(std::chrono::steady_clock::time_point start,
                                                 std::chrono::nanoseconds period, long cycle);

// The first cycle that starts at now or later, and not before earliest:
// after a stall (the process stopped, the machine suspended, a long
// failure) the cycles whose start has passed are skipped, not caught up.
long NextCycle(std::chrono::steady_clock::time_point start, std::chrono::nanoseconds period,
               std::chrono::steady_clock::time_point now, long earliest);
