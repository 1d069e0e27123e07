#pragma once

#include <optional>
#include <string>
#include <string_view>

// A broker and where on it zlm-read publishes:
// mqtt://[user[:password]@]host[:port][/topic-prefix], or mqtts:// for TLS.
struct MqttUrl {
  bool tls = false;
  std::string user;                     // empty: none
  std::optional<std::string> password;  // as given in the URL
  std::string host;                     // a name or an address; IPv6 without brackets
  int port = 0;                         // 1883, or 8883 for mqtts, unless given
  std::string prefix;                   // topic levels before <port>/<address>; default "zlm"
};

// The URL, or nothing with the reason in error. User and password may be
// percent-encoded (%40 for '@').
std::optional<MqttUrl> ParseMqttUrl(std::string_view text, std::string& error);
