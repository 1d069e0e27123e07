#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "meter/read_exchange.h"
#include "serial/serial_port.h"

// The seven parameters read every poll period, in reading order (the order
// of the fields on screen: flow in l/min comes before flow in per cent).
struct ParameterInfo {
  int32_t code;
  const char* key;  // name of the quantity in machine-readable output
  const char* unit;
};

inline constexpr std::array<ParameterInfo, 7> kParameters = {{
    {1, "volume_m3", "m3"},
    {2, "volume_l", "l"},
    {3, "hours", "h"},
    {4, "flow_m3h", "m3/h"},
    {6, "flow_lmin", "l/min"},
    {5, "flow_percent", "%"},
    {119, "nominal_diameter", "mm"},
}};

// The row of each quantity in kParameters.
enum ParameterRow : std::size_t {
  kVolumeM3,
  kVolumeL,
  kHours,
  kFlowM3h,
  kFlowLmin,
  kFlowPercent,
  kNominalDiameter,
};

// One value per row of kParameters.
using ParameterValues = std::array<double, kParameters.size()>;

// The row of a code of the cycle; nothing for any other code.
std::optional<std::size_t> RowOf(int32_t code);

struct Reading {
  int32_t code;
  int32_t position;  // digits before the decimal point, 0..8
  double raw;        // the eight-digit value N
  double value;      // N scaled by the position
};

// The reading with exactly the decimals the meter sent (8 - position), so
// the digits are those on the line: N 12345670 at position 5 is "12345.670".
std::string FormatReading(const Reading& reading);

struct CycleResult {
  const char* error = nullptr;  // message of the failing step; nullptr on success
  int32_t failedCode = 0;
  std::vector<Reading> readings;  // in reading order; those read before a failure
  // The failing exchange as it went, for telling why it failed.
  ReceiveResult failedReceived;
  ExchangeResult failedExchange;
  // How long each exchange took, in seconds, the failing one included.
  std::vector<double> exchangeSeconds;
};

// One cycle without a window: every parameter in order with the exchange,
// each scaled, stopping at the first failure, which the result alone
// reports. The port is open with baseline settings and the address passes
// IsValidMeterAddress. answerWaitMs as for SendRequest.
CycleResult ReadAllParameters(SerialPort& port, HANDLE h, int32_t address, DWORD answerWaitMs = 0);
