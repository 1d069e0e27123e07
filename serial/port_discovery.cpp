#include "serial/port_discovery.h"

#include <climits>
#include <cstdio>

std::vector<int> ScanFreePorts(SerialPort& port) {
  std::vector<int> ports;
  port.BeginPortScan();
  for (int n = kFirstScannedPort; n <= kLastScannedPort; ++n) {
    const HANDLE h = port.CreateFile(ComDevicePath(n));
    if (h == INVALID_HANDLE_VALUE) continue;
    port.CloseHandle(h);
    ports.push_back(n);
  }
  port.EndPortScan();
  return ports;
}

std::string PortEntryText(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "COM%.0f\n", static_cast<double>(n));
  return text;
}

int PortNumberFromEntry(const std::string& entry) {
  std::string rest;
  for (size_t at = 0; at < entry.size();) {
    if (entry.compare(at, 3, "COM") == 0) {
      at += 3;
    } else {
      rest += entry[at++];
    }
  }

  size_t at = 0;
  while (at < rest.size() && (rest[at] == ' ' || (rest[at] >= '\t' && rest[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < rest.size() && (rest[at] == '+' || rest[at] == '-')) negative = rest[at++] == '-';
  // Accumulated as a negative number, whose range is the larger one.
  long long value = 0;
  for (; at < rest.size() && rest[at] >= '0' && rest[at] <= '9'; ++at) {
    value = value * 10 - (rest[at] - '0');
    if (value < INT_MIN) return negative ? INT_MIN : INT_MAX;
  }
  if (negative) return static_cast<int>(value);
  return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}

void ApplyBaseline(SerialPort& port, HANDLE h) {
  DCB dcb{};
  port.GetCommState(h, dcb);
  port.SetCommTimeouts(h, kPortTimeouts);
  port.SetCommState(h, Baseline8N1(dcb));
}
