#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/serial_port.h"

// The reading cycle without a window: the seven parameters read one after
// another with the window's exchange, stopping at the first failure.

// What the reader's --port names: "COM9" (any case) becomes "\\.\COM9", which
// reaches a device through the COM number mapping as the window's list does;
// anything else (a device path) is opened as given.
std::string DevicePathOf(const std::string& port);

struct Reading {
  int32_t code;
  int32_t position;  // digits before the decimal point, 0..8
  double raw;        // the eight-digit value N
  double value;      // N scaled by the position
};

struct CycleResult {
  const char* error = nullptr;  // message of the failing step; nullptr on success
  int32_t failedCode = 0;
  std::vector<Reading> readings;  // in reading order; those read before a failure
};

// Every exchange of the cycle on an open port with baseline settings. The
// address must pass IsValidMeterAddress.
CycleResult ReadAllParameters(SerialPort& port, HANDLE h, int32_t address);
