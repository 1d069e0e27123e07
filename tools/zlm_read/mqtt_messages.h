#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tools/zlm_read/reading_sink.h"

// One MQTT message as zlm-read publishes it (always QoS 1).
struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// The topics of one port under a prefix:
//   <prefix>/<port>/status              online/offline, retained
//   <prefix>/<port>/dropped             readings dropped from a full queue, retained
//   <prefix>/<port>/line                whether the port is open, once it was lost, retained
//   <prefix>/<port>/<address>/state     each reading, the JSON of --format json
//   <prefix>/<port>/<address>/error     the meter's last failure, retained;
//                                       emptied (cleared) once it reads again
//   <prefix>/<port>/<address>/status    online while the meter answers, retained
// <port> is one topic level: the last component of the port's path (COM2,
// ttyUSB0), with the characters topics reserve ('+', '#') and controls as '_'.
class MqttTopics {
 public:
  MqttTopics(const std::string& prefix, const std::string& port);

  const std::string& PortLevel() const { return m_portLevel; }
  std::string Status() const { return m_base + "/status"; }
  std::string Dropped() const { return m_base + "/dropped"; }
  std::string Line() const { return m_base + "/line"; }
  std::string State(int address) const { return m_base + "/" + std::to_string(address) + "/state"; }
  std::string Error(int address) const { return m_base + "/" + std::to_string(address) + "/error"; }
  std::string MeterStatus(int address) const {
    return m_base + "/" + std::to_string(address) + "/status";
  }

 private:
  std::string m_portLevel;
  std::string m_base;
};

MqttMessage StateMessage(const MqttTopics& topics, const MeterCycle& cycle);
MqttMessage ErrorMessage(const MqttTopics& topics, const MeterFailure& failure);
// The empty retained message that takes a meter's error away.
MqttMessage ClearedErrorMessage(const MqttTopics& topics, int address);
MqttMessage MeterStatusMessage(const MqttTopics& topics, int address, bool online);
// {"time":..., "open":false, "message":"COM7 lost; ..."}
MqttMessage LineMessage(const MqttTopics& topics, std::chrono::system_clock::time_point time,
                        bool open, const std::string& text);

// Home Assistant MQTT discovery: one retained sensor config per parameter of
// each meter, under <discoveryPrefix>/sensor/<node>/<key>/config, where node
// is zlm_<port>_<address>. A sensor is available while both the reader and
// its meter say "online".
std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics, const std::string& port,
                                           const std::vector<int>& addresses,
                                           const std::string& discoveryPrefix);
