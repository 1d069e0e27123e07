#pragma once

#include <optional>
#include <string>
#include <string_view>

// Names of serial ports in the form the program uses everywhere: "COMn",
// and the device path "\\.\COMn" that opens port n.

inline constexpr int kMaxComPort = 255;

// n of "COMn": "COM" in any case, then n in decimal without leading zeros,
// 0..255. Anything else gives nothing.
std::optional<int> ParseComName(std::string_view name);

// n of a device path "\\.\COMn", with the rules of ParseComName ("COM" in any
// case, as the platform this naming comes from takes it).
std::optional<int> ParseComDevicePath(std::string_view path);

// "\\.\COM" and n in decimal: "\\.\COM7".
std::string ComDevicePath(int n);

// What a user names a port with: "COM9" (any case) becomes "\\.\COM9", which
// reaches port 9 as the window's list does (on Linux through the COM number
// mapping); anything else (a device path) is passed on as given.
std::string DevicePathOf(const std::string& port);

// The name a user gave for a device path: "\\.\COM9" becomes "COM9"
// again; anything else is its own name.
std::string PortNameOf(const std::string& path);
