#include "tools/zlm_read/mqtt_url.h"

#include <charconv>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

std::optional<MqttUrl> ParseMqttUrl(std::string_view text, std::string& error) {
  MqttUrl url;
  constexpr std::string_view kPlain = "mqtt://";
  constexpr std::string_view kTls = "mqtts://";
  if (text.starts_with(kPlain)) {
    text.remove_prefix(kPlain.size());
    url.port = 1883;
  } else if (text.starts_with(kTls)) {
    text.remove_prefix(kTls.size());
    url.tls = true;
    url.port = 8883;
  } else {
    error = "the URL starts with neither mqtt:// nor mqtts://";
    return std::nullopt;
  }

  const std::size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? "" : text.substr(slash + 1);

  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    const std::size_t colon = userInfo.find(':');
    const std::optional<std::string> user = PercentDecoded(userInfo.substr(0, colon));
    std::optional<std::string> password;
    if (colon != std::string_view::npos) password = PercentDecoded(userInfo.substr(colon + 1));
    if (!user || (colon != std::string_view::npos && !password)) {
      error = "a '%' in the user or password is not followed by two hexadecimal digits";
      return std::nullopt;
    }
    if (user->empty()) {
      error = "the URL has an '@' but no user name";
      return std::nullopt;
    }
    url.user = *user;
    url.password = password;
  }

  std::optional<std::string_view> portText;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      error = "an IPv6 address in the URL lacks its ']'";
      return std::nullopt;
    }
    url.host = authority.substr(1, close - 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) {
      error = "unexpected text after the IPv6 address";
      return std::nullopt;
    }
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const std::size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
  }
  if (url.host.empty()) {
    error = "the URL names no host";
    return std::nullopt;
  }
  if (portText) {
    int port = 0;
    const char* last = portText->data() + portText->size();
    const auto [end, ec] = std::from_chars(portText->data(), last, port);
    if (portText->empty() || ec != std::errc() || end != last || port < 1 || port > 65535) {
      error = "the URL's port is not a number from 1 to 65535";
      return std::nullopt;
    }
    url.port = port;
  }

  while (path.ends_with('/')) path.remove_suffix(1);
  url.prefix = path.empty() ? "zlm" : std::string(path);
  if (url.prefix.find_first_of("+#?") != std::string::npos ||
      url.prefix.find('\0') != std::string::npos) {
    error = "the topic prefix may not hold '+', '#' or '?'";
    return std::nullopt;
  }
  return url;
}
