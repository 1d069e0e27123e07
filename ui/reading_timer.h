#pragma once

// The window's reading timer: one cycle over the seven parameters per tick.
// zlm-read repeats with the same period when it is given no interval.
inline constexpr int POLL_TIMER_ID = 1;
inline constexpr unsigned kPollPeriodMs = 2000;
