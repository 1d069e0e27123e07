#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tools/zlm_read/reading_sink.h"

// zlm-read's MQTT options.
struct MqttOptions {
  std::string url;
  std::string cafile;
  std::string passwordFile;
  std::string clientId;  // empty: one made up, unique to this run
  bool haDiscovery = false;
  std::string haPrefix = "homeassistant";
  std::size_t queue = 10000;
};

// The environment variable a broker password may come from.
inline constexpr char kMqttPasswordVariable[] = "ZLM_MQTT_PASSWORD";

// Adds --mqtt, --mqtt-cafile, --mqtt-password-file, --mqtt-client-id,
// --ha-discovery, --ha-prefix and --queue; the URL, the topic prefixes and
// the client id are checked as they are parsed.
void AddMqttOptions(CLI::App& app, MqttOptions& options);

// A sink that publishes each reading and failure of the meters at addresses
// on port, connecting in the background; its end publishes "offline". Or
// nullptr, with the reason in error (an unreadable password file, a password
// without a user, a topic the broker could not take). Notes for the user go
// to log.
// A client id no other reader shares, on this host or a clone of it:
// zlm-read-<host>-<port>-<random>.
std::string MakeClientId(const std::string& portLevel);

std::unique_ptr<ReadingSink> MakeMqttSink(const MqttOptions& options, const std::string& port,
                                          const std::vector<int>& addresses, std::FILE* log,
                                          std::string& error);
