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
  // The meter was not asked: the port is away (its loss was reported once).
  bool lineDown = false;
};

// Where zlm-read's readings go: the terminal, a broker. Each meter's cycle
// ends in exactly one call.
class ReadingSink {
 public:
  virtual ~ReadingSink() = default;
  virtual void Read(const MeterCycle& cycle) = 0;
  virtual void Failed(const MeterFailure& failure) = 0;
  // The port was lost (open false) or is open again; text says so for a
  // person.
  virtual void LineChanged(bool /*open*/, const std::string& /*text*/) {}
  // Ends the sink's work (a broker hears what is still queued); false when
  // something it was given never reached its destination.
  virtual bool Close() { return true; }
};
