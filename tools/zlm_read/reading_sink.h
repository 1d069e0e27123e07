#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/zlm_read/reading_output.h"

// How a sink that sends the readings elsewhere (a broker) is doing.
struct DeliveryStats {
  bool connected = false;
  std::size_t queued = 0;     // waiting to be delivered
  std::uint64_t dropped = 0;  // pushed out of the full queue
  std::uint64_t denied = 0;   // refused by the other end
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
  // How delivery goes, for a sink that delivers elsewhere; callable from
  // any thread.
  virtual std::optional<DeliveryStats> Delivery() const { return std::nullopt; }
};
