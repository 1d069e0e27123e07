#include "serial/com_name.h"

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

}  // namespace

std::optional<int> ParseComName(std::string_view name) {
  if (name.size() < 4) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    if ((name[i] | 0x20) != "com"[i]) return std::nullopt;
  }
  const std::string_view digits = name.substr(3);
  if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  int n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > kMaxComPort) return std::nullopt;
  return n;
}

std::optional<int> ParseComDevicePath(std::string_view path) {
  if (!path.starts_with(kDevicePrefix)) return std::nullopt;
  return ParseComName(path.substr(kDevicePrefix.size()));
}

std::string ComDevicePath(int n) { return std::string(kDevicePrefix) + "COM" + std::to_string(n); }

std::string DevicePathOf(const std::string& port) {
  return ParseComName(port) ? std::string(kDevicePrefix) + port : port;
}

std::string PortNameOf(const std::string& path) {
  return ParseComDevicePath(path) ? path.substr(kDevicePrefix.size()) : path;
}
