#include "tools/zlm_read/mqtt_messages.h"

#include <array>
#include <cctype>
#include <nlohmann/json.hpp>

#include "meter/reading_cycle.h"

namespace {

// How Home Assistant shows each parameter, by row of kParameters: the
// counters only grow (total_increasing), the flows are measurements.
struct SensorKind {
  const char* name;
  const char* unit;
  const char* deviceClass;  // nullptr: none fits
  const char* stateClass;
};
constexpr std::array<SensorKind, kParameters.size()> kSensorKinds = {{
    {"Volume", "m³", "volume", "total_increasing"},
    {"Volume in litres", "L", "volume", "total_increasing"},
    {"Operating hours", "h", "duration", "total_increasing"},
    {"Flow", "m³/h", "volume_flow_rate", "measurement"},
    {"Flow in l/min", "L/min", "volume_flow_rate", "measurement"},
    {"Flow in per cent of full scale", "%", nullptr, "measurement"},
    {"Nominal diameter", "mm", "distance", "measurement"},
}};

// Node and object ids take letters, digits, '_' and '-' only.
std::string IdPart(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
  }
  return out;
}

}  // namespace

MqttTopics::MqttTopics(const std::string& prefix, const std::string& port) {
  const std::size_t slash = port.find_last_of('/');
  m_portLevel = slash == std::string::npos ? port : port.substr(slash + 1);
  for (char& c : m_portLevel) {
    if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  if (m_portLevel.empty()) m_portLevel = "_";
  m_base = prefix + "/" + m_portLevel;
}

MqttMessage StateMessage(const MqttTopics& topics, const MeterCycle& cycle) {
  return {topics.State(cycle.address), CycleJson(cycle), false};
}

MqttMessage ErrorMessage(const MqttTopics& topics, const MeterFailure& failure) {
  return {topics.Error(failure.address), FailureJson(failure), true};
}

MqttMessage ClearedErrorMessage(const MqttTopics& topics, int address) {
  return {topics.Error(address), "", true};
}

MqttMessage MeterStatusMessage(const MqttTopics& topics, int address, bool online) {
  return {topics.MeterStatus(address), online ? "online" : "offline", true};
}

MqttMessage LineMessage(const MqttTopics& topics, std::chrono::system_clock::time_point time,
                        bool open, const std::string& text) {
  const nlohmann::ordered_json object = {
      {"time", FormatTimestamp(time)}, {"open", open}, {"message", text}};
  return {topics.Line(), object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
          true};
}

std::vector<MqttMessage> DiscoveryMessages(const MqttTopics& topics, const std::string& port,
                                           const std::vector<int>& addresses,
                                           const std::string& discoveryPrefix) {
  std::vector<MqttMessage> messages;
  for (const int address : addresses) {
    const std::string node = "zlm_" + IdPart(topics.PortLevel()) + "_" + std::to_string(address);
    const nlohmann::ordered_json device = {
        {"identifiers", {node}},
        {"name", "ZLM " + std::to_string(address) + " on " + port},
        {"model", "ZLM flow meter"}};
    nlohmann::ordered_json availability = nlohmann::ordered_json::array();
    for (const std::string& topic : {topics.Status(), topics.MeterStatus(address)}) {
      availability.push_back({{"topic", topic},
                              {"payload_available", "online"},
                              {"payload_not_available", "offline"}});
    }
    for (std::size_t row = 0; row < kParameters.size(); ++row) {
      const std::string key = kParameters[row].key;
      const SensorKind& kind = kSensorKinds[row];
      nlohmann::ordered_json config = {{"name", kind.name},
                                       {"unique_id", node + "_" + key},
                                       {"object_id", node + "_" + key},
                                       {"state_topic", topics.State(address)},
                                       {"value_template", "{{ value_json." + key + " }}"},
                                       {"unit_of_measurement", kind.unit},
                                       {"state_class", kind.stateClass},
                                       {"availability", availability},
                                       {"availability_mode", "all"},
                                       {"device", device}};
      if (kind.deviceClass) config["device_class"] = kind.deviceClass;
      if (row == kNominalDiameter) config["entity_category"] = "diagnostic";
      messages.push_back({discoveryPrefix + "/sensor/" + node + "/" + key + "/config",
                          config.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                          true});
    }
  }
  return messages;
}
