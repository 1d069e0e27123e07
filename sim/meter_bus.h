#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/meter_values.h"
#include "sim/sim_serial_port.h"
#include "sim/zlm_meter.h"

// Faults of the line and of every meter on it.
struct BusFaults {
  bool silent = false;              // requests are heard, answers never sent
  bool late = false;                // answers come lateMs after the checksum
  std::uint32_t lateMs = 30;        // after the reader's read, before its next purge
  std::vector<BYTE> stray{};        // sent just ahead of each address byte's echo
  bool addressEchoMissing = false;  // address bytes are not echoed
  bool invalidBcd = false;          // value digits carry nibbles above 9
  bool positionTooLarge = false;    // decimal position 9
};

// The value digits sent under invalidBcd (decoded as 20 31 42 53).
inline constexpr BYTE kInvalidBcdDigits[4] = {0x1A, 0x2B, 0x3C, 0x4D};

// One meter on the bus and where its readings come from.
struct BusMeter {
  int32_t address = 1;
  FlowProfile profile{};
  bool frozen = false;                // readings stay those of the start
  std::map<int32_t, double> fixed{};  // code -> reading, whatever the profile says
};

// Bytes the bus sends back, and when (microseconds from the bus's start).
struct Transmission {
  std::uint64_t dueUs;
  std::vector<BYTE> bytes;
  NinthBit bit;
  std::string what;  // for the traffic log: echo, stray, answer ...
};

// The meters behind the line and the line's own behaviour: every byte the
// reader sends comes back at once (a two-wire bus hears itself), each meter
// gets every byte with its ninth bit, and the answers go out after it.
//
// A missed ninth bit (a byte sampled after the reader had already switched
// parity) is recovered from the checksum: when a data byte equals the low
// byte of the two bytes before it, neither of which was heard as an address
// byte, and the first of them addresses a meter here, the three are replayed
// to the meters as address, code and checksum.
class MeterBus {
 public:
  MeterBus(const std::vector<BusMeter>& meters, BusFaults faults);

  // A byte taken from the line at nowUs with the ninth bit it was sent with.
  std::vector<Transmission> Receive(BYTE byte, NinthBit bit, std::uint64_t nowUs);

 private:
  struct Station {
    BusMeter config;
    ZlmMeter meter;
  };
  struct Heard {
    BYTE value;
    NinthBit bit;
  };

  // Readings as of nowUs on every meter, faults applied.
  void Refresh(std::uint64_t nowUs);
  bool Addresses(BYTE addressByte) const;
  // The byte to every meter; the answers it completes, one after the other.
  std::vector<BYTE> Offer(BYTE byte, bool ninthBit, std::string& from);

  std::deque<Station> m_stations;
  BusFaults m_faults;
  std::deque<Heard> m_recent;  // the last two bytes heard
};
