#include "serial/network_address.h"

#include <cctype>
#include <string_view>

bool IsRfc2217Url(const std::string& path) {
  constexpr std::string_view scheme = kRfc2217Scheme;
  if (path.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) != scheme[i]) return false;
  }
  return true;
}

std::optional<NetworkAddress> ParseRfc2217Url(const std::string& url) {
  if (!IsRfc2217Url(url)) return std::nullopt;
  const std::string rest = url.substr(std::string_view(kRfc2217Scheme).size());
  NetworkAddress address;
  std::size_t colon = 0;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return std::nullopt;
    }
    address.host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos) return std::nullopt;
  }
  if (address.host.empty()) return std::nullopt;
  for (const char ch : address.host) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (!std::isalnum(u) && ch != '.' && ch != '-' && ch != '_' && ch != ':' && ch != '%') {
      return std::nullopt;
    }
  }
  const std::string digits = rest.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits[0] == '0') return std::nullopt;
  unsigned port = 0;
  for (const char ch : digits) {
    if (ch < '0' || ch > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(ch - '0');
  }
  if (port > 65535) return std::nullopt;
  address.port = static_cast<std::uint16_t>(port);
  return address;
}
