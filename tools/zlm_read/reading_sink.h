#pragma once

#include <chrono>
#include <string>

#include "meter/reading_output.h"

// A failed cycle of one meter.
struct MeterFailure {
  std::chrono::system_clock::time_point time;
  std::string port;
  int address = 0;
  std::string message;  // the failing step's message, as the window shows it
  // The line that explains it, "cause: ..." or "hint: ...", as zlm-read
  // prints it after the message; empty when there is nothing to add.
  std::string cause;
};

// Where zlm-read's readings go: the terminal, a broker. Each meter's cycle
// ends in exactly one call.
class ReadingSink {
 public:
  virtual ~ReadingSink() = default;
  virtual void Read(const MeterCycle& cycle) = 0;
  virtual void Failed(const MeterFailure& failure) = 0;
  // Ends the sink's work (a broker hears what is still queued); false when
  // something it was given never reached its destination.
  virtual bool Close() { return true; }
};
