#pragma once

#include <cstdint>
#include <cstdio>

#include "sim/meter_bus.h"

// One line per byte received and per transmission sent:
//   <seconds since start> rx <byte, hex> <mark|space|none>
//   <seconds since start> tx <bytes, hex ...> <mark|space|none> <what>
// for example
//   0.215034 rx ff mark
//   0.215102 tx ff mark echo
//   0.259874 tx 07 01 04 01 23 45 00 75 space answer from meter 7
// Every line is flushed at once so the log can be followed live.
class TrafficLog {
 public:
  // file stays owned by the caller; nullptr logs nothing.
  explicit TrafficLog(std::FILE* file) : m_file(file) {}

  void Received(std::uint64_t atUs, BYTE byte, NinthBit bit);
  void Sent(std::uint64_t atUs, const Transmission& transmission);

 private:
  std::FILE* m_file;
};

const char* NinthBitName(NinthBit bit);
