#include "tools/zlm_read/mqtt_sink.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include "tools/zlm_read/mqtt_failure.h"
#include "tools/zlm_read/mqtt_messages.h"
#include "tools/zlm_read/mqtt_publisher.h"
#include "tools/zlm_read/mqtt_url.h"

namespace {

class MqttSink final : public ReadingSink {
 public:
  MqttSink(MqttSession session, MqttTopics topics, std::FILE* log)
      : m_topics(std::move(topics)), m_publisher(std::move(session), log) {}

  void Read(const MeterCycle& cycle) override {
    Meter& meter = m_meters[cycle.address];
    if (meter.online != true) {
      m_publisher.Publish(MeterStatusMessage(m_topics, cycle.address, true));
      meter.online = true;
    }
    m_publisher.Publish(StateMessage(m_topics, cycle));
    // An error retained from before (this run or an earlier one) is cleared once.
    if (meter.errorMayBeRetained) {
      m_publisher.Publish(ClearedErrorMessage(m_topics, cycle.address));
      meter.errorMayBeRetained = false;
    }
  }
  void Failed(const MeterFailure& failure) override {
    Meter& meter = m_meters[failure.address];
    m_publisher.Publish(ErrorMessage(m_topics, failure));
    meter.errorMayBeRetained = true;
    if (meter.online != false) {
      m_publisher.Publish(MeterStatusMessage(m_topics, failure.address, false));
      meter.online = false;
    }
  }
  void LineChanged(bool open, const std::string& text) override {
    m_publisher.Publish(LineMessage(m_topics, std::chrono::system_clock::now(), open, text));
  }
  bool Close() override {
    m_publisher.Stop();
    return m_publisher.Undelivered() == 0;
  }
  std::optional<DeliveryStats> Delivery() const override { return m_publisher.Stats(); }

 private:
  struct Meter {
    std::optional<bool> online;  // as last published
    bool errorMayBeRetained = true;
  };

  MqttTopics m_topics;
  mutable MqttPublisher m_publisher;  // Stats locks it
  std::map<int, Meter> m_meters;
};

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// Checks a topic prefix as an option is parsed.
std::string PrefixProblem(const std::string& prefix) {
  const std::string problem = TopicProblem(prefix);
  return problem.empty() ? problem : "the topic prefix cannot be used: " + problem;
}

}  // namespace

std::string MakeClientId(const std::string& portLevel) {
  std::random_device random;
  char suffix[9];
  std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
  return "zlm-read-" + HostName() + "-" + portLevel + "-" + suffix;
}

void AddMqttOptions(CLI::App& app, MqttOptions& options) {
  CLI::Option* mqtt =
      app.add_option("--mqtt", options.url,
                     "Publish to an MQTT broker: mqtt://[user[:password]@]host[:port]/prefix "
                     "(mqtts:// for TLS). Readings go to <prefix>/<port>/<address>/state as "
                     "JSON, failures to .../error, online/offline to <prefix>/<port>/status. "
                     "The password is best given by --mqtt-password-file or the environment "
                     "variable ZLM_MQTT_PASSWORD")
          ->check(CLI::Validator(
              [](const std::string& text) {
                std::string error;
                const std::optional<MqttUrl> url = ParseMqttUrl(text, error);
                return url ? PrefixProblem(url->prefix) : error;
              },
              ""))
          ->type_name("URL");
  app.add_option("--mqtt-cafile", options.cafile,
                 "mqtts: the CA certificates (PEM) that vouch for the broker; default: the "
                 "system's")
      ->check(CLI::ExistingFile)
      ->needs(mqtt)
      ->type_name("FILE");
  app.add_option("--mqtt-password-file", options.passwordFile,
                 "The broker password: the first line of FILE")
      ->needs(mqtt)
      ->type_name("FILE");
  app.add_option("--mqtt-client-id", options.clientId,
                 "The client id to connect with (default: zlm-read-<host>-<port>-<random>, new "
                 "for each run, so that no two readers share one)")
      ->needs(mqtt)
      ->check(CLI::Validator(
          [](const std::string& id) {
            if (id.empty() || id.size() > 65535 ||
                mosquitto_validate_utf8(id.data(), static_cast<int>(id.size())) !=
                    MOSQ_ERR_SUCCESS) {
              return std::string("a client id is 1 to 65535 bytes of UTF-8 text");
            }
            return std::string();
          },
          ""))
      ->type_name("ID");
  app.add_flag("--ha-discovery", options.haDiscovery,
               "Publish Home Assistant MQTT discovery configs for the seven sensors of each "
               "meter")
      ->needs(mqtt);
  app.add_option("--ha-prefix", options.haPrefix, "Home Assistant's discovery prefix")
      ->needs(mqtt)
      ->check(CLI::Validator(PrefixProblem, ""))
      ->capture_default_str()
      ->type_name("PREFIX");
  app.add_option("--queue", options.queue,
                 "Messages kept while the broker is away; when full, the oldest are dropped and "
                 "counted")
      ->needs(mqtt)
      ->check(CLI::Range(std::size_t{1}, std::size_t{10'000'000}))
      ->capture_default_str()
      ->type_name("N");
}

std::unique_ptr<ReadingSink> MakeMqttSink(const MqttOptions& options, const std::string& port,
                                          const std::vector<int>& addresses, std::FILE* log,
                                          std::string& error) {
  MqttSession session;
  session.url = *ParseMqttUrl(options.url, error);
  session.cafile = options.cafile;
  session.queueLimit = options.queue;
  // The password from the file, else the URL, else the environment.
  if (!options.passwordFile.empty()) {
    std::ifstream in(options.passwordFile);
    std::string line;
    if (!in || !std::getline(in, line)) {
      error = "--mqtt-password-file: cannot read " + options.passwordFile;
      return nullptr;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    session.password = line;
  } else if (session.url.password) {
    session.password = session.url.password;
    std::fprintf(log,
                 "zlm-read: note: a password on the command line can be seen by other users; "
                 "--mqtt-password-file or %s keep it out of sight\n",
                 kMqttPasswordVariable);
  } else if (const char* fromEnvironment = std::getenv(kMqttPasswordVariable)) {
    if (!session.url.user.empty()) session.password = fromEnvironment;
  }
  if (session.password && session.url.user.empty()) {
    error = "--mqtt: a password needs a user name (mqtt://user@host/...)";
    return nullptr;
  }

  MqttTopics topics(session.url.prefix, port);
  session.clientId = options.clientId.empty() ? MakeClientId(topics.PortLevel()) : options.clientId;
  session.statusTopic = topics.Status();
  session.droppedTopic = topics.Dropped();
  if (options.haDiscovery) {
    session.onConnect = DiscoveryMessages(topics, port, addresses, options.haPrefix);
  }
  // Every topic is checked now: one the broker cannot take would never go.
  std::vector<std::string> all = {session.statusTopic, session.droppedTopic};
  for (const int address : addresses) {
    all.insert(all.end(),
               {topics.State(address), topics.Error(address), topics.MeterStatus(address)});
  }
  for (const MqttMessage& message : session.onConnect) all.push_back(message.topic);
  for (const std::string& topic : all) {
    if (std::string problem = TopicProblem(topic); !problem.empty()) {
      error = "--mqtt: " + problem;
      return nullptr;
    }
  }
  return std::make_unique<MqttSink>(std::move(session), std::move(topics), log);
}
