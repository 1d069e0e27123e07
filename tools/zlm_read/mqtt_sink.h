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
  bool haDiscovery = false;
  std::string haPrefix = "homeassistant";
  std::size_t queue = 10000;
};

// The environment variable a broker password may come from.
inline constexpr char kMqttPasswordVariable[] = "ZLM_MQTT_PASSWORD";

// Adds --mqtt, --mqtt-cafile, --mqtt-password-file, --ha-discovery,
// --ha-prefix and --queue; the URL is checked as it is parsed.
void AddMqttOptions(CLI::App& app, MqttOptions& options);

// A sink that publishes each reading and failure of the meters at addresses
// on port, connecting in the background; its end publishes "offline". Or
// nullptr, with the reason in error (an unreadable password file, a password
// without a user). Notes for the user go to log.
std::unique_ptr<ReadingSink> MakeMqttSink(const MqttOptions& options, const std::string& port,
                                          const std::vector<int>& addresses, std::FILE* log,
                                          std::string& error);
