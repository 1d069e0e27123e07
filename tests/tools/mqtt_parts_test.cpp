// zlm-read's MQTT parts without a broker: the URL, the topics and messages,
// the bounded queue.

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <nlohmann/json.hpp>
#include <set>

#include "tools/zlm_read/bounded_queue.h"
#include "tools/zlm_read/mqtt_failure.h"
#include "tools/zlm_read/mqtt_messages.h"
#include "tools/zlm_read/mqtt_sink.h"
#include "tools/zlm_read/mqtt_url.h"

namespace {

struct UrlCase {
  const char* text;
  bool tls;
  const char* user;
  const char* password;  // nullptr: none
  const char* host;
  int port;
  const char* prefix;
};

TEST(MqttUrlTest, ReadsEveryPart) {
  const UrlCase cases[] = {
      {"mqtt://broker", false, "", nullptr, "broker", 1883, "zlm"},
      {"mqtt://broker/", false, "", nullptr, "broker", 1883, "zlm"},
      {"mqtts://broker.example:8884/site/zlm/", true, "", nullptr, "broker.example", 8884,
       "site/zlm"},
      {"mqtts://h", true, "", nullptr, "h", 8883, "zlm"},
      {"mqtt://ha@10.0.0.2/p", false, "ha", nullptr, "10.0.0.2", 1883, "p"},
      {"mqtt://u%40x:p%3Aw%2F@[::1]:1884/p", false, "u@x", "p:w/", "::1", 1884, "p"},
      {"mqtt://u:@h/p", false, "u", "", "h", 1883, "p"},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const std::optional<MqttUrl> url = ParseMqttUrl(c.text, error);
    ASSERT_TRUE(url.has_value()) << error;
    EXPECT_EQ(url->tls, c.tls);
    EXPECT_EQ(url->user, c.user);
    EXPECT_EQ(url->password, c.password ? std::optional<std::string>(c.password) : std::nullopt);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->prefix, c.prefix);
  }
}

TEST(MqttUrlTest, RejectsWhatCannotBeReached) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/p", "neither mqtt:// nor mqtts://"},
      {"broker:1883", "neither mqtt:// nor mqtts://"},
      {"mqtt:///p", "no host"},
      {"mqtt://u@/p", "no host"},
      {"mqtt://@h/p", "no user name"},
      {"mqtt://h:0/p", "port"},
      {"mqtt://h:65536/p", "port"},
      {"mqtt://h:/p", "port"},
      {"mqtt://h:18x3/p", "port"},
      {"mqtt://[::1/p", "']'"},
      {"mqtt://[::1]x/p", "after the IPv6 address"},
      {"mqtt://u%4:p@h/p", "'%'"},
      {"mqtt://h/site/+/zlm", "'+'"},
      {"mqtt://h/zlm/#", "'#'"},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_FALSE(ParseMqttUrl(text, error).has_value()) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
  }
}

TEST(MqttTopicsTest, PortIsOneTopicLevel) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM2", "site/zlm/COM2"},
      {"/dev/ttyUSB0", "site/zlm/ttyUSB0"},
      {"/dev/serial/by-id/usb-A+B#C", "site/zlm/usb-A_B_C"},
      {"/dev/", "site/zlm/_"},
  };
  for (const auto& [port, base] : cases) {
    const MqttTopics topics("site/zlm", port);
    EXPECT_EQ(topics.Status(), std::string(base) + "/status");
    EXPECT_EQ(topics.Dropped(), std::string(base) + "/dropped");
    EXPECT_EQ(topics.State(7), std::string(base) + "/7/state");
    EXPECT_EQ(topics.Error(31), std::string(base) + "/31/error");
    EXPECT_EQ(topics.MeterStatus(31), std::string(base) + "/31/status");
  }
}

// Topics the broker could not take are found before anything is sent.
TEST(MqttTopicsTest, ProblemsOfTopics) {
  const std::pair<std::string, const char*> cases[] = {
      {"zlm/COM2/4/state", ""},           {"сайт/zlm/COM2/status", ""},
      {"zlm/\xff/COM2", "UTF-8"},         {std::string("zlm/\x01/COM2"), "UTF-8"},
      {"zlm/+/COM2", "'+' or '#'"},       {"zlm/#", "'+' or '#'"},
      {std::string(70000, 'z'), "65535"},
  };
  for (const auto& [topic, problem] : cases) {
    SCOPED_TRACE(topic.substr(0, 40));
    const std::string found = TopicProblem(topic);
    if (*problem == '\0') {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_NE(found.find(problem), std::string::npos) << found;
    }
  }
}

// Each TLS failure says what failed.
TEST(MqttFailureTest, TlsFailuresAreNamed) {
  const struct {
    long verify;
    const char* opensslError;
    const char* expected;
  } cases[] = {
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, "", "unknown CA"},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "", "unknown CA"},
      {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "", "unknown CA"},
      {X509_V_ERR_HOSTNAME_MISMATCH, "",
       "name mismatch: the broker's certificate is not made "
       "out to broker.example"},
      {X509_V_ERR_CERT_HAS_EXPIRED, "", "has expired"},
      {X509_V_ERR_CERT_REVOKED, "", "certificate was refused: certificate revoked"},
      {X509_V_OK, "OpenSSL Error[0]: error:0A00010B:SSL routines::wrong version number",
       "TLS handshake failed: wrong version number"},
      {X509_V_OK, "", "TLS handshake failed"},
  };
  for (const auto& c : cases) {
    const std::string text = TlsFailureText(c.verify, "broker.example", c.opensslError);
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.verify << ": " << text;
  }
}

TEST(MqttFailureTest, ReasonsKeepTheBrokersWords) {
  EXPECT_EQ(ReasonText(0x87, ""), "Not authorized");
  EXPECT_EQ(ReasonText(0x87, "publishing to x is not allowed"),
            "Not authorized (publishing to x is not allowed)");
  EXPECT_TRUE(RefusesProtocolVersion(0x84));
  EXPECT_TRUE(RefusesProtocolVersion(1));  // a 3.1.1 broker's answer
  EXPECT_FALSE(RefusesProtocolVersion(0x86));
}

// Readers on cloned hosts (same name, same port) must not share an id.
TEST(MqttSessionTest, ClientIdsDifferPerRun) {
  std::set<std::string> ids;
  for (int i = 0; i < 50; ++i) ids.insert(MakeClientId("ttyUSB0"));
  EXPECT_EQ(ids.size(), 50u);
  const std::string id = *ids.begin();
  EXPECT_TRUE(id.starts_with("zlm-read-")) << id;
  EXPECT_NE(id.find("-ttyUSB0-"), std::string::npos) << id;
}

TEST(MqttMessagesTest, FailureIsRetainedWithItsMessage) {
  const MqttTopics topics("zlm", "COM3");
  const MqttMessage bare = ErrorMessage(topics, {{}, "COM3", 4, "No answer from ZLM", ""});
  EXPECT_EQ(bare.topic, "zlm/COM3/4/error");
  EXPECT_TRUE(bare.retain);
  const nlohmann::json error = nlohmann::json::parse(bare.payload);
  EXPECT_EQ(error["message"], "No answer from ZLM");
  EXPECT_EQ(error["address"], 4);
  EXPECT_FALSE(error.contains("cause"));
  const MqttMessage withCause =
      ErrorMessage(topics, {{}, "COM3", 4, "No answer from ZLM", "cause: the meter is silent"});
  EXPECT_EQ(nlohmann::json::parse(withCause.payload)["cause"], "cause: the meter is silent");

  // An empty retained message is what takes a retained one away.
  const MqttMessage cleared = ClearedErrorMessage(topics, 4);
  EXPECT_EQ(cleared.topic, "zlm/COM3/4/error");
  EXPECT_TRUE(cleared.retain);
  EXPECT_EQ(cleared.payload, "");
  EXPECT_EQ(MeterStatusMessage(topics, 4, false).payload, "offline");
  EXPECT_EQ(MeterStatusMessage(topics, 4, true).topic, "zlm/COM3/4/status");
}

// The port's fate, retained under the port: lost, then open again, each with
// its time and the line zlm-read printed (bytes that are no UTF-8 replaced).
TEST(MqttMessagesTest, LineChangesAreRetainedWithTimeAndText) {
  const MqttTopics topics("zlm", "/dev/ttyUSB0");
  const auto time = std::chrono::system_clock::from_time_t(1796709430);
  const struct {
    bool open;
    std::string text;
    const char* shown;
  } cases[] = {
      {false, "ttyUSB0 lost; opening it again in 1 s", "ttyUSB0 lost; opening it again in 1 s"},
      {true, "ttyUSB0 open again after 12 s", "ttyUSB0 open again after 12 s"},
      {false, "COM\xff lost", "COM\xef\xbf\xbd lost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const MqttMessage message = LineMessage(topics, time, c.open, c.text);
    EXPECT_EQ(message.topic, "zlm/ttyUSB0/line");
    EXPECT_TRUE(message.retain);
    const nlohmann::json line = nlohmann::json::parse(message.payload);
    EXPECT_EQ(line["open"], c.open);
    EXPECT_EQ(line["message"], c.shown);
    EXPECT_TRUE(line["time"].get<std::string>().starts_with("2026-12-08T")) << line["time"];
  }
}

TEST(MqttMessagesTest, DiscoveryUnitsAndClasses) {
  const MqttTopics topics("zlm", "/dev/ttyUSB0");
  const std::vector<MqttMessage> messages =
      DiscoveryMessages(topics, "/dev/ttyUSB0", {1, 30}, "homeassistant");
  ASSERT_EQ(messages.size(), 14u);
  // unit, device class (empty: none), state class
  const std::array<std::array<const char*, 3>, 7> kinds = {{
      {"m³", "volume", "total_increasing"},
      {"L", "volume", "total_increasing"},
      {"h", "duration", "total_increasing"},
      {"m³/h", "volume_flow_rate", "measurement"},
      {"L/min", "volume_flow_rate", "measurement"},
      {"%", "", "measurement"},
      {"mm", "distance", "measurement"},
  }};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(messages[i].topic);
    EXPECT_TRUE(messages[i].retain);
    const nlohmann::json config = nlohmann::json::parse(messages[i].payload);
    EXPECT_EQ(config["unit_of_measurement"], kinds[i % 7][0]);
    EXPECT_EQ(config.value("device_class", ""), kinds[i % 7][1]);
    EXPECT_EQ(config["state_class"], kinds[i % 7][2]);
    EXPECT_EQ(config["state_topic"], i < 7 ? "zlm/ttyUSB0/1/state" : "zlm/ttyUSB0/30/state");
    EXPECT_EQ(config["device"]["identifiers"][0], i < 7 ? "zlm_ttyUSB0_1" : "zlm_ttyUSB0_30");
    // Unavailable when the reader or the meter is not online.
    EXPECT_EQ(config["availability_mode"], "all");
    ASSERT_EQ(config["availability"].size(), 2u);
    EXPECT_EQ(config["availability"][0]["topic"], "zlm/ttyUSB0/status");
    EXPECT_EQ(config["availability"][1]["topic"],
              i < 7 ? "zlm/ttyUSB0/1/status" : "zlm/ttyUSB0/30/status");
    EXPECT_EQ(config["availability"][1]["payload_not_available"], "offline");
  }
  EXPECT_EQ(messages[13].topic, "homeassistant/sensor/zlm_ttyUSB0_30/nominal_diameter/config");
}

TEST(BoundedQueueTest, OldestGoFirstAndAreCounted) {
  BoundedQueue<int> queue(3);
  std::vector<std::optional<int>> dropped;
  for (int i = 1; i <= 5; ++i) dropped.push_back(queue.Push(i));
  EXPECT_EQ(dropped, (std::vector<std::optional<int>>{{}, {}, {}, 1, 2}));
  EXPECT_EQ(queue.Dropped(), 2u);
  std::vector<int> left;
  for (; !queue.Empty(); queue.PopFront()) left.push_back(queue.Front());
  EXPECT_EQ(left, (std::vector<int>{3, 4, 5}));

  BoundedQueue<int> single(0);  // never less than one
  single.Push(1);
  EXPECT_EQ(single.Push(2), 1);
  EXPECT_EQ(single.Front(), 2);
}

}  // namespace
