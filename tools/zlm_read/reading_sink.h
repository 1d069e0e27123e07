#pragma once

#include <chrono>
#include <string>

#include "tools/zlm_read/reading_output.h"

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
