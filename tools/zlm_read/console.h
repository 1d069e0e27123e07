#pragma once

#include <chrono>

// What zlm-read needs from the console it runs in; one implementation per
// platform.

// How --port is described in --help, and what ends a repeating read.
extern const char kPortHelp[];
extern const char kStopHelp[];

// Text written to the console arrives as UTF-8.
void UseUtf8Output();

// Whether stderr is a terminal (progress is shown only there).
bool StderrIsTerminal();

// A stop request (Ctrl+C, and SIGTERM where there are signals) is held while
// a cycle runs and taken only between cycles, so the port is always closed
// properly. Created before the port is opened; one per process.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Waits until the time or a stop request; true when one came. A request
  // made during the cycle before is taken even when the time has passed, so
  // cycles that follow one another without a pause still stop.
  bool WaitUntil(std::chrono::steady_clock::time_point until);
  // Whether a stop request waits, without taking it (WaitUntil still will).
  bool Pending() const;
};
