#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "rfc2217://HOST:PORT": a host name, an IPv4 address or an IPv6 address in
// brackets, and a TCP port 1..65535.
struct NetworkAddress {
  std::string host;
  std::uint16_t port = 0;

  friend bool operator==(const NetworkAddress&, const NetworkAddress&) = default;
};
inline constexpr char kRfc2217Scheme[] = "rfc2217://";
bool IsRfc2217Url(const std::string& path);
std::optional<NetworkAddress> ParseRfc2217Url(const std::string& url);
