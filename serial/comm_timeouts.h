#pragma once

#include <cstdint>

#include "serial/serial_port.h"

// How a timeout set bounds one read of length bytes:
//  - interval MAXDWORD, totals 0: what has arrived, at once (possibly nothing);
//  - interval MAXDWORD, multiplier MAXDWORD, constant c: what has arrived, or
//    else the first bytes to arrive within c ms;
//  - otherwise until length bytes, the total timeout (multiplier * length +
//    constant; 0 means none) or a gap longer than the interval (0: none)
//    after the first byte.
struct ReadBounds {
  bool immediate = false;
  bool firstBytes = false;
  std::uint64_t totalMs = 0;  // 0: no limit
  DWORD intervalMs = 0;       // 0: no limit
};
ReadBounds ReadBoundsOf(const COMMTIMEOUTS& t, DWORD length);

// The total write timeout for length bytes (multiplier * length + constant;
// 0 means none).
std::uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD length);
