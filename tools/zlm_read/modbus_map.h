#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "meter/reading_cycle.h"

// The registers zlm-read serves for each meter over Modbus TCP: one unit per
// meter (unit id = bus address, 255 for the only meter), the same map as
// input registers (function 04) and holding registers (function 03).
//
//   0        map version (kModbusMapVersion)
//   1        status: 0 good, else the code of the last failure (ModbusStatusOf)
//   2        cause of the last failure (ReadCause, or 100 + the line's cause)
//   3        bus address of the meter
//   4-5      seconds since the last good reading (saturating)      uint32
//   6-7      good cycles (saturating)                              uint32
//   8-9      failed cycles (saturating)                            uint32
//   10-23    the seven readings, in kParameters order              float32
//   24-37    their eight digits N                                  uint32
//   38-44    their decimal positions P (digits before the point)   uint16
//
// 32-bit values take two registers, in the word order chosen; the bytes of
// each register are big-endian, as Modbus has them.

inline constexpr std::uint16_t kModbusMapVersion = 1;

// Where each register starts.
inline constexpr std::size_t kRegVersion = 0;
inline constexpr std::size_t kRegStatus = 1;
inline constexpr std::size_t kRegCause = 2;
inline constexpr std::size_t kRegAddress = 3;
inline constexpr std::size_t kRegAge = 4;
inline constexpr std::size_t kRegGoodCycles = 6;
inline constexpr std::size_t kRegFailedCycles = 8;
inline constexpr std::size_t kRegValues = 10;     // + 2 * row
inline constexpr std::size_t kRegDigits = 24;     // + 2 * row
inline constexpr std::size_t kRegPositions = 38;  // + row
inline constexpr std::size_t kModbusMapSize = 45;

// Which register of a 32-bit value comes first.
enum class WordOrder {
  kHighFirst,  // "ABCD": the usual Modbus order
  kLowFirst    // "CDAB"
};

// The status register for a failure message (the window's texts, and
// "No free COM ports" while the port is away); 99 for any other text.
std::uint16_t ModbusStatusOf(const std::string& message);

// One meter as the bus loop last saw it.
struct MeterState {
  int address = 0;
  // The last good reading, by row of kParameters; nothing until one came.
  std::optional<std::array<Reading, kParameters.size()>> readings;
  std::chrono::steady_clock::time_point lastGood{};
  std::uint16_t status = 0;
  std::uint16_t cause = 0;
  std::uint64_t goodCycles = 0;
  std::uint64_t failedCycles = 0;
};

using ModbusRegisters = std::array<std::uint16_t, kModbusMapSize>;

// The map of a meter that has read at least once, its age as of now.
ModbusRegisters RegistersOf(const MeterState& meter, std::chrono::steady_clock::time_point now,
                            WordOrder order);
