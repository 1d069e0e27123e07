#pragma once

#include <string>
#include <vector>

#include "serial/com_name.h"
#include "serial/serial_port.h"

// Finding, naming and preparing serial ports for the port list, over any
// SerialPort.

// What the window and zlm-read show when the chosen port does not open.
inline constexpr char kMsgNoFreePort[] = "No free COM ports";

// The list's entry when no port could be opened ("the ports are taken").
inline constexpr char kPortsBusyEntry[] = "Порты заняты";

inline constexpr int kFirstScannedPort = 1;
inline constexpr int kLastScannedPort = 255;

// The timeout set of every opened port: reads return at once with what has
// arrived, a write gives up after 1000 ms in all.
inline constexpr COMMTIMEOUTS kPortTimeouts{0xFFFFFFFF, 0, 0, 0, 1000};

// Test-opens ports 1..255 in order, closing each one that opens at once;
// returns the numbers that opened.
std::vector<int> ScanFreePorts(SerialPort& port);

// The list entry of port n: "COM", n, newline ("COM7\n").
std::string PortEntryText(int n);

// The port number of a list entry: every "COM" (exact case) removed in one
// left-to-right pass, then the rest read as C's atoi does (leading white
// space, an optional sign, decimal digits up to the first other character;
// 0 without digits). A digit run beyond the range of int saturates at
// INT_MAX / INT_MIN instead of overflowing.
int PortNumberFromEntry(const std::string& entry);

// Baseline of a freshly opened port: the current settings read into a fresh
// record, kPortTimeouts applied, then 9600 baud, 8 data bits, no parity and
// one stop bit applied over the rest. No result is checked: a port that
// refuses is found out by the first settings change of a read.
void ApplyBaseline(SerialPort& port, HANDLE h);
