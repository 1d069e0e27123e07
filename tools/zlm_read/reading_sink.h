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
  // Why the step failed, where the serial layer knows it (the system's own
  // error text); empty where it does not.
  std::string cause;
};

// Where zlm-read's readings go: the terminal, a broker. Each meter's cycle
// ends in exactly one call.
class ReadingSink {
 public:
  virtual ~ReadingSink() = default;
  virtual void Read(const MeterCycle& cycle) = 0;
  virtual void Failed(const MeterFailure& failure) = 0;
};
