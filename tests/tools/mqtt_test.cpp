// zlm-read publishing to a real mosquitto on 127.0.0.1 (a free port, a
// scratch configuration), reading zlm-meter-sim with two meters over a pty,
// checked with mosquitto_sub.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "sim/ser2net_front.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

constexpr char kUser[] = "reader";
constexpr char kPassword[] = "s3cret pass";

bool Accepting(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// A line of mosquitto_sub -F '%r %t %p': retained flag, topic, payload.
struct Received {
  bool retained = false;
  std::string topic;
  std::string payload;
};

std::optional<Received> Parse(const std::optional<std::string>& line) {
  if (!line) return std::nullopt;
  const std::size_t first = line->find(' ');
  const std::size_t second = line->find(' ', first + 1);
  if (second == std::string::npos) return std::nullopt;
  return Received{line->substr(0, first) == "1", line->substr(first + 1, second - first - 1),
                  line->substr(second + 1)};
}

class MqttTest : public ::testing::Test {
 protected:
  void SetUp() override { m_port = FreeLoopbackPort(); }
  void TearDown() override {
    m_reader.reset();
    m_subscriber.reset();
    if (m_simulator) {
      m_simulator->Signal(SIGTERM);
      m_simulator->Wait(kProcessLimit);
    }
    m_broker.reset();
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_dir.Path().string()}}; }

  // The broker runs as the test's own user (mosquitto started as root would
  // otherwise change to its own user, who cannot read the scratch files).
  // extra: more of the configuration (listeners, an ACL file).
  void WriteBrokerConfig(bool withPassword, const std::string& extra = "") {
    std::ofstream config(m_dir / "mosquitto.conf");
    config << "listener " << m_port << " 127.0.0.1\n"
           << "user " << ::getpwuid(::geteuid())->pw_name << "\n"
           << "persistence true\npersistence_location " << m_dir.Path().string() << "/\n"
           << "log_dest stderr\nlog_type error\nlog_type warning\n"
           << extra;
    if (withPassword) {
      const fs::path passwords = m_dir / "passwords";
      const RunResult made =
          RunProgram({MOSQUITTO_PASSWD, "-b", "-c", passwords.string(), kUser, kPassword}, {});
      ASSERT_EQ(made.exitCode, 0) << made.err;
      config << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
    } else {
      config << "allow_anonymous true\n";
    }
    m_withPassword = withPassword;
  }

  void StartBroker() {
    m_broker = std::make_unique<Subprocess>(
        std::vector<std::string>{MOSQUITTO, "-c", (m_dir / "mosquitto.conf").string()},
        EnvChanges{});
    for (int i = 0; i < 200 && !Accepting(m_port); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_TRUE(Accepting(m_port)) << m_broker->Err();
  }

  void StopBroker() {
    m_broker->Signal(SIGTERM);
    EXPECT_EQ(m_broker->Wait(kProcessLimit), 0) << m_broker->Err();
  }

  std::vector<std::string> Credentials() const {
    if (!m_withPassword) return {};
    return {"-u", kUser, "-P", kPassword};
  }

  // A persistent session (QoS 1, clean session off), so that what is
  // published while the broker restarts still reaches it. Returns once it
  // has heard a probe.
  void StartSubscriber() {
    std::vector<std::string> argv = {MOSQUITTO_SUB,
                                     "-h",
                                     "127.0.0.1",
                                     "-p",
                                     std::to_string(m_port),
                                     "-q",
                                     "1",
                                     "-c",
                                     "-i",
                                     "zlm-test-subscriber",
                                     "-t",
                                     "zlm/#",
                                     "-t",
                                     "homeassistant/#",
                                     "-F",
                                     "%r %t %p"};
    const std::vector<std::string> credentials = Credentials();
    argv.insert(argv.end(), credentials.begin(), credentials.end());
    m_subscriber = std::make_unique<Subprocess>(argv, EnvChanges{});
    std::vector<std::string> probe = {
        MOSQUITTO_PUB, "-h",        "127.0.0.1", "-p",   std::to_string(m_port),
        "-t",          "zlm/probe", "-m",        "probe"};
    probe.insert(probe.end(), credentials.begin(), credentials.end());
    for (int attempt = 0; attempt < 20; ++attempt) {
      ASSERT_EQ(RunProgram(probe, {}).exitCode, 0);
      if (std::optional<Received> got = Parse(m_subscriber->ReadLine(500ms))) {
        if (got->topic == "zlm/probe") return;
      }
    }
    FAIL() << "the subscriber hears nothing: " << m_subscriber->Err();
  }

  // What arrives until the reader's "offline" (or the limit).
  std::vector<Received> ReceiveUntilOffline(std::chrono::milliseconds limit) {
    std::vector<Received> all;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      std::optional<Received> got = Parse(m_subscriber->ReadLine(200ms));
      if (!got) continue;
      all.push_back(*got);
      if (got->topic == StatusTopic() && got->payload == "offline") break;
    }
    return all;
  }

  // The retained message of a topic, as a new subscriber gets it.
  std::optional<Received> Retained(const std::string& topic) {
    std::vector<std::string> argv = {
        MOSQUITTO_SUB, "-h", "127.0.0.1", "-p",      std::to_string(m_port), "-t", topic, "-C", "1",
        "-W",          "5",  "-F",        "%r %t %p"};
    const std::vector<std::string> credentials = Credentials();
    argv.insert(argv.end(), credentials.begin(), credentials.end());
    const RunResult got = RunProgram(argv, {});
    return Parse(got.out.substr(0, got.out.find('\n')));
  }

  void StartSimulator() {
    SimulatorProcess simulator = StartSimulatorProcess(
        ZLM_METER_SIM, {"--log", "/dev/null", "--address", "2", "--address", "6"}, Env());
    m_simulator = std::move(simulator.process);
    m_com = simulator.com;
    m_pty = simulator.device;
    ASSERT_EQ(simulator.error, "");
  }

  void StartReader(std::vector<std::string> args, const EnvChanges& extraEnv = {},
                   const std::string& port = "") {
    std::vector<std::string> argv = {ZLM_READ, "--port", port.empty() ? m_com : port, "--address",
                                     "2,6"};
    argv.insert(argv.end(), args.begin(), args.end());
    EnvChanges env = Env();
    env.insert(extraEnv.begin(), extraEnv.end());
    m_reader = std::make_unique<Subprocess>(argv, env);
  }

  std::string Url(const std::string& user = "") const {
    return "mqtt://" + user + "127.0.0.1:" + std::to_string(m_port) + "/zlm";
  }
  std::string StatusTopic() const { return "zlm/" + m_com + "/status"; }

  ScratchDir m_dir{"zlm-mqtt"};
  int m_port = 0;
  bool m_withPassword = false;
  std::string m_com;
  std::string m_pty;
  std::unique_ptr<Subprocess> m_broker;
  std::unique_ptr<Subprocess> m_subscriber;
  std::unique_ptr<Subprocess> m_simulator;
  std::unique_ptr<Subprocess> m_reader;
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::vector<Received> OnTopic(const std::vector<Received>& all, const std::string& suffix) {
  std::vector<Received> found;
  for (const Received& r : all) {
    if (r.topic.ends_with(suffix)) found.push_back(r);
  }
  return found;
}

struct AccessCase {
  const char* name;
  bool withPassword;
  const char* how;  // "" anonymous; "file", "environment": where the password comes from
};

class PublishesReadings : public MqttTest, public ::testing::WithParamInterface<AccessCase> {};

// Every reading as the JSON of --format json, the retained status and the
// discovery configs, with and without a password.
TEST_P(PublishesReadings, StateStatusAndDiscovery) {
  const AccessCase& c = GetParam();
  WriteBrokerConfig(c.withPassword);
  StartBroker();
  StartSubscriber();
  StartSimulator();
  std::vector<std::string> args = {"--count",  "2",    "--interval",    "0.1",
                                   "--format", "json", "--ha-discovery"};
  EnvChanges env;
  if (std::string(c.how) == "file") {
    std::ofstream(m_dir / "password") << kPassword << "\n";
    args.insert(args.end(), {"--mqtt", Url(std::string(kUser) + "@"), "--mqtt-password-file",
                             (m_dir / "password").string()});
  } else if (std::string(c.how) == "environment") {
    args.insert(args.end(), {"--mqtt", Url(std::string(kUser) + "@")});
    env["ZLM_MQTT_PASSWORD"] = kPassword;
  } else {
    args.insert(args.end(), {"--mqtt", Url()});
  }
  StartReader(args, env);
  const std::vector<Received> all = ReceiveUntilOffline(20s);
  ASSERT_EQ(m_reader->Wait(kProcessLimit), 0) << m_reader->Err();

  // States in reading order, each the line printed.
  std::vector<std::string> printed;
  std::istringstream lines(m_reader->Out());
  for (std::string line; std::getline(lines, line);) printed.push_back(line);
  const std::vector<Received> states = OnTopic(all, "/state");
  ASSERT_EQ(states.size(), 4u) << m_reader->Err();
  ASSERT_EQ(printed.size(), 4u);
  for (std::size_t i = 0; i < states.size(); ++i) {
    const int address = i % 2 == 0 ? 2 : 6;
    EXPECT_EQ(states[i].topic, "zlm/" + m_com + "/" + std::to_string(address) + "/state");
    EXPECT_EQ(states[i].payload, printed[i]);
    const json state = json::parse(states[i].payload);
    EXPECT_EQ(state["address"], address);
    EXPECT_EQ(state["nominal_diameter"], 50.0);
    EXPECT_GT(state["volume_m3"].get<double>(), 1000.0);
  }

  // online first, offline last, retained.
  const std::vector<Received> status = OnTopic(all, StatusTopic());
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status.front().payload, "online");
  EXPECT_EQ(status.back().payload, "offline");
  const std::optional<Received> kept = Retained(StatusTopic());
  ASSERT_TRUE(kept.has_value());
  EXPECT_TRUE(kept->retained);
  EXPECT_EQ(kept->payload, "offline");

  // Seven sensors per meter; counters total_increasing, flows measurements.
  const std::vector<Received> configs = OnTopic(all, "/config");
  ASSERT_EQ(configs.size(), 14u);
  const std::pair<const char*, const char*> kinds[] = {
      {"volume_m3", "total_increasing"},  {"volume_l", "total_increasing"},
      {"hours", "total_increasing"},      {"flow_m3h", "measurement"},
      {"flow_lmin", "measurement"},       {"flow_percent", "measurement"},
      {"nominal_diameter", "measurement"}};
  for (std::size_t i = 0; i < configs.size(); ++i) {
    const int address = i < 7 ? 2 : 6;
    const auto& [key, stateClass] = kinds[i % 7];
    const std::string node = "zlm_" + m_com + "_" + std::to_string(address);
    EXPECT_EQ(configs[i].topic, "homeassistant/sensor/" + node + "/" + key + "/config");
    const json config = json::parse(configs[i].payload);
    EXPECT_EQ(config["state_class"], stateClass);
    EXPECT_EQ(config["state_topic"], "zlm/" + m_com + "/" + std::to_string(address) + "/state");
    EXPECT_EQ(config["value_template"], std::string("{{ value_json.") + key + " }}");
    EXPECT_EQ(config["availability"][0]["topic"], StatusTopic());
    EXPECT_EQ(config["availability"][1]["topic"],
              "zlm/" + m_com + "/" + std::to_string(address) + "/status");
    EXPECT_EQ(config["device"]["identifiers"][0], node);
  }
  StopBroker();
}

INSTANTIATE_TEST_SUITE_P(Access, PublishesReadings,
                         ::testing::Values(AccessCase{"Anonymous", false, ""},
                                           AccessCase{"PasswordFile", true, "file"},
                                           AccessCase{"PasswordEnvironment", true, "environment"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct EndCase {
  const char* name;
  int signal;
};

class StatusAtTheEnd : public MqttTest, public ::testing::WithParamInterface<EndCase> {};

// SIGTERM: the reader says "offline" itself; SIGKILL: the broker does, by
// the last will. Either way it stays retained.
TEST_P(StatusAtTheEnd, OfflineRetained) {
  WriteBrokerConfig(false);
  StartBroker();
  StartSubscriber();
  StartSimulator();
  StartReader({"--interval", "0.5", "--mqtt", Url()});
  bool reading = false;
  for (int i = 0; i < 100 && !reading; ++i) {
    const std::optional<Received> got = Parse(m_subscriber->ReadLine(200ms));
    reading = got && got->topic.ends_with("/state");
  }
  ASSERT_TRUE(reading) << m_reader->Err();
  m_reader->Signal(GetParam().signal);
  const std::vector<Received> rest = ReceiveUntilOffline(10s);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.back().topic, StatusTopic());
  EXPECT_EQ(rest.back().payload, "offline");
  const int exitCode = m_reader->Wait(kProcessLimit);
  if (GetParam().signal == SIGTERM) {
    EXPECT_EQ(exitCode, 0) << m_reader->Err();
  }
  const std::optional<Received> kept = Retained(StatusTopic());
  ASSERT_TRUE(kept.has_value());
  EXPECT_TRUE(kept->retained);
  EXPECT_EQ(kept->payload, "offline");
  StopBroker();
}

INSTANTIATE_TEST_SUITE_P(Signals, StatusAtTheEnd,
                         ::testing::Values(EndCase{"Term", SIGTERM}, EndCase{"Kill", SIGKILL}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AwayCase {
  const char* name;
  const char* queue;
  bool dropsExpected;
};

class BrokerAway : public MqttTest, public ::testing::WithParamInterface<AwayCase> {};

// The broker stops for several intervals and comes back: the readings taken
// meanwhile arrive, in order, none twice; a queue too small for the outage
// drops the oldest, and the count is published and logged.
TEST_P(BrokerAway, ReadingsArriveInOrderOrAreCounted) {
  const AwayCase& c = GetParam();
  WriteBrokerConfig(false);
  StartBroker();
  StartSubscriber();
  StartSimulator();
  StartReader({"--interval", "0.3", "--format", "json", "--queue", c.queue, "--mqtt", Url()});
  std::vector<Received> all;
  for (int i = 0; i < 100 && OnTopic(all, "/state").size() < 2; ++i) {
    if (std::optional<Received> got = Parse(m_subscriber->ReadLine(200ms))) all.push_back(*got);
  }
  ASSERT_GE(OnTopic(all, "/state").size(), 2u) << m_reader->Err();

  // Stopped between two readings (one every 0.44 s): a broker that stops
  // just as it delivers may deliver again after its restart (QoS 1).
  std::this_thread::sleep_for(200ms);
  StopBroker();
  std::this_thread::sleep_for(3s);  // about three cycles of both meters
  StartBroker();
  // Back in at most the reader's retry delay (1 + 2 s at this point) and a
  // reading's time.
  for (int i = 0; i < 60; ++i) {
    if (std::optional<Received> got = Parse(m_subscriber->ReadLine(100ms))) all.push_back(*got);
  }
  m_reader->Signal(SIGTERM);
  const std::vector<Received> rest = ReceiveUntilOffline(15s);
  all.insert(all.end(), rest.begin(), rest.end());
  ASSERT_EQ(m_reader->Wait(kProcessLimit), 0) << m_reader->Err();

  std::vector<std::string> printed;
  std::istringstream lines(m_reader->Out());
  for (std::string line; std::getline(lines, line);) printed.push_back(line);
  std::vector<std::string> received;
  for (const Received& state : OnTopic(all, "/state")) received.push_back(state.payload);

  // What arrived is what was read, in order and once, less what was dropped.
  std::size_t at = 0;
  for (const std::string& payload : received) {
    while (at < printed.size() && printed[at] != payload) ++at;
    ASSERT_LT(at, printed.size()) << "arrived out of order or twice: " << payload << "\n"
                                  << ::testing::PrintToString(received) << m_reader->Err();
    ++at;
  }
  const std::vector<Received> dropped = OnTopic(all, "/dropped");
  if (c.dropsExpected) {
    ASSERT_FALSE(dropped.empty()) << m_reader->Err();
    const std::size_t count = std::stoul(dropped.back().payload);
    EXPECT_GE(count, 1u);
    // Each meter's status and cleared error may be among the dropped.
    EXPECT_GE(received.size() + count, printed.size());
    EXPECT_LE(received.size() + count, printed.size() + 4);
    EXPECT_NE(m_reader->Err().find("dropped from the full queue"), std::string::npos)
        << m_reader->Err();
    const std::optional<Received> kept = Retained("zlm/" + m_com + "/dropped");
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->payload, dropped.back().payload);
  } else {
    EXPECT_TRUE(dropped.empty());
    EXPECT_EQ(received, printed);
  }
  EXPECT_GE(printed.size(), 10u);  // readings were taken while the broker was away
  StopBroker();
}

INSTANTIATE_TEST_SUITE_P(Queues, BrokerAway,
                         ::testing::Values(AwayCase{"DefaultQueue", "10000", false},
                                           AwayCase{"SmallQueue", "2", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A meter's error retained from an earlier run is cleared when it reads,
// and its own status says "online".
TEST_F(MqttTest, StaleErrorIsClearedAndMeterSaysOnline) {
  WriteBrokerConfig(false);
  StartBroker();
  StartSubscriber();
  StartSimulator();
  const std::string errorTopic = "zlm/" + m_com + "/2/error";
  ASSERT_EQ(RunProgram({MOSQUITTO_PUB, "-h", "127.0.0.1", "-p", std::to_string(m_port), "-r", "-q",
                        "1", "-t", errorTopic, "-m", R"({"message":"No answer from ZLM"})"},
                       {})
                .exitCode,
            0);
  StartReader({"--count", "1", "--mqtt", Url()});
  const std::vector<Received> all = ReceiveUntilOffline(20s);
  ASSERT_EQ(m_reader->Wait(kProcessLimit), 0) << m_reader->Err();
  const std::vector<Received> errors = OnTopic(all, "/2/error");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].payload, "");  // the stale one
  EXPECT_EQ(errors[1].payload, "");  // and its clearing
  const std::vector<Received> meterStatus = OnTopic(all, "/2/status");
  ASSERT_EQ(meterStatus.size(), 1u);
  EXPECT_EQ(meterStatus[0].payload, "online");
  const std::optional<Received> kept = Retained("zlm/" + m_com + "/6/status");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->payload, "online");
  StopBroker();
}

struct RefusalCase {
  const char* name;
  const char* user;  // in the URL, with its password
  const char* acl;   // the broker's ACL for the user; empty: none
  const char* logged;
};

class BrokerRefuses : public MqttTest, public ::testing::WithParamInterface<RefusalCase> {};

// A refused login and a publish the broker denies reach the log with the
// broker's reason, once, and fail a run of a given length.
TEST_P(BrokerRefuses, LoggedOnceAndTheRunFails) {
  const RefusalCase& c = GetParam();
  std::string extra;
  if (*c.acl != '\0') {
    std::ofstream(m_dir / "acl") << c.acl;
    extra = "acl_file " + (m_dir / "acl").string() + "\n";
  }
  WriteBrokerConfig(true, extra);
  StartBroker();
  StartSimulator();
  // Long enough for several connection attempts (after 1, 2 s).
  StartReader({"--count", "3", "--interval", "1.5", "--mqtt", Url(c.user)});
  EXPECT_EQ(m_reader->Wait(kProcessLimit), 1) << m_reader->Err();
  const std::string& err = m_reader->Err();
  EXPECT_EQ(Occurrences(err, c.logged), 1u) << err;
  EXPECT_NE(err.find("not delivered"), std::string::npos) << err;
  StopBroker();
}

INSTANTIATE_TEST_SUITE_P(Refusals, BrokerRefuses,
                         ::testing::Values(RefusalCase{"WrongPassword", "reader:wrong@", "",
                                                       "refused the connection: Not authorized"},
                                           RefusalCase{
                                               "PublishDenied", "reader:s3cret%20pass@",
                                               "user reader\ntopic read zlm/#\n",
                                               "the broker refuses messages (the first to zlm/"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two readers whose ports have the same name (as on cloned hosts, each on
// ttyUSB0) keep their own connections.
TEST_F(MqttTest, ReadersWithTheSamePortNameDoNotCollide) {
  WriteBrokerConfig(false);
  StartBroker();
  StartSimulator();
  SimulatorProcess second = StartSimulatorProcess(
      ZLM_METER_SIM, {"--log", "/dev/null", "--address", "2", "--address", "6"}, Env());
  ASSERT_EQ(second.error, "");
  // Both ptys under the same name, in two directories.
  std::vector<std::unique_ptr<Subprocess>> readers;
  const std::string ptys[2] = {m_pty, second.device};
  for (int i = 0; i < 2; ++i) {
    const fs::path dir = m_dir / ("host" + std::to_string(i));
    fs::create_directories(dir);
    fs::create_symlink(ptys[i], dir / "ttyUSB0");
    readers.push_back(std::make_unique<Subprocess>(
        std::vector<std::string>{
            ZLM_READ, "--port", (dir / "ttyUSB0").string(), "--address", "2,6", "--count", "8",
            "--interval", "0.4", "--mqtt",
            "mqtt://127.0.0.1:" + std::to_string(m_port) + "/site" + std::to_string(i)},
        Env()));
  }
  for (auto& reader : readers) {
    reader->Wait(kProcessLimit);
    EXPECT_TRUE(reader->Exited()) << reader->Err();
    EXPECT_EQ(Occurrences(reader->Err(), "connected to"), 1u) << reader->Err();
    EXPECT_EQ(reader->Err().find("lost"), std::string::npos) << reader->Err();
  }
  second.process->Signal(SIGTERM);
  second.process->Wait(kProcessLimit);
  StopBroker();
}

TEST_F(MqttTest, TopicsTheBrokerCannotTakeAreRefusedAtOnce) {
  StartSimulator();
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--mqtt", "mqtt://127.0.0.1/zlm/\xff"}, "UTF-8"},
      {{"--mqtt", "mqtt://127.0.0.1/" + std::string(70000, 'z')}, "65535"},
      {{"--mqtt", "mqtt://127.0.0.1/zlm", "--ha-discovery", "--ha-prefix", "ha/+"}, "'+'"},
      {{"--mqtt", "mqtt://127.0.0.1/zlm", "--mqtt-client-id", ""}, "client id"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {ZLM_READ, "--port", m_com, "--address", "2"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult result = RunProgram(argv, Env());
    EXPECT_EQ(result.exitCode, 2) << c.message << ": " << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err.substr(0, 300);
  }
}

// mqtts with a throwaway CA: a broker whose certificate the CA signed for
// 127.0.0.1 is reached; another CA, or a certificate for another name, is
// refused, and the log says which.
class MqttTlsTest : public MqttTest {
 protected:
  void SetUp() override {
    MqttTest::SetUp();
    m_tlsPort = FreeLoopbackPort();
    m_otherNamePort = FreeLoopbackPort();
    const fs::path& d = m_dir.Path();
    const auto openssl = [](std::vector<std::string> args) {
      args.insert(args.begin(), OPENSSL);
      const RunResult made = RunProgram(args, {});
      ASSERT_EQ(made.exitCode, 0) << made.err;
    };
    const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt",
                                             "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const char* ca : {"ca", "other-ca"}) {
      std::vector<std::string> args = {"req", "-x509"};
      args.insert(args.end(), newKey.begin(), newKey.end());
      args.insert(args.end(), {"-keyout", (d / (std::string(ca) + ".key")).string(), "-out",
                               (d / (std::string(ca) + ".crt")).string(), "-subj",
                               std::string("/CN=zlm test ") + ca, "-days", "2"});
      openssl(args);
    }
    std::vector<std::string> request = {"req"};
    request.insert(request.end(), newKey.begin(), newKey.end());
    request.insert(request.end(), {"-keyout", (d / "server.key").string(), "-out",
                                   (d / "server.csr").string(), "-subj", "/CN=zlm test broker"});
    openssl(request);
    for (const auto& [name, altName] :
         {std::pair{"server", "IP:127.0.0.1"}, std::pair{"other-name", "DNS:broker.invalid"}}) {
      std::ofstream(d / (std::string(name) + ".ext")) << "subjectAltName=" << altName << "\n";
      openssl({"x509", "-req", "-in", (d / "server.csr").string(), "-CA", (d / "ca.crt").string(),
               "-CAkey", (d / "ca.key").string(), "-CAcreateserial", "-days", "2", "-out",
               (d / (std::string(name) + ".crt")).string(), "-extfile",
               (d / (std::string(name) + ".ext")).string()});
    }
    std::ostringstream listeners;
    for (const auto& [port, cert] :
         {std::pair{m_tlsPort, "server.crt"}, std::pair{m_otherNamePort, "other-name.crt"}}) {
      listeners << "listener " << port << " 127.0.0.1\ncertfile " << (d / cert).string()
                << "\nkeyfile " << (d / "server.key").string() << "\n";
    }
    WriteBrokerConfig(false, listeners.str());
    StartBroker();
    for (int i = 0; i < 200 && !(Accepting(m_tlsPort) && Accepting(m_otherNamePort)); ++i) {
      std::this_thread::sleep_for(25ms);
    }
  }

  int m_tlsPort = 0;
  int m_otherNamePort = 0;
};

TEST_F(MqttTlsTest, RightCaConnectsOtherwiseTheFailureIsNamed) {
  StartSubscriber();
  StartSimulator();
  const struct {
    const char* name;
    int port;
    const char* cafile;
    const char* logged;  // nullptr: delivered
  } cases[] = {
      {"right CA", m_tlsPort, "ca.crt", nullptr},
      {"other CA", m_tlsPort, "other-ca.crt", "unknown CA"},
      {"other name", m_otherNamePort, "ca.crt", "name mismatch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartReader({"--count", "1", "--mqtt", "mqtts://127.0.0.1:" + std::to_string(c.port) + "/zlm",
                 "--mqtt-cafile", (m_dir / c.cafile).string()});
    if (c.logged == nullptr) {
      const std::vector<Received> all = ReceiveUntilOffline(20s);
      EXPECT_EQ(OnTopic(all, "/state").size(), 2u);
      EXPECT_EQ(m_reader->Wait(kProcessLimit), 0) << m_reader->Err();
    } else {
      EXPECT_EQ(m_reader->Wait(kProcessLimit), 1) << m_reader->Err();
      EXPECT_NE(m_reader->Err().find(std::string("TLS with 127.0.0.1:") + std::to_string(c.port) +
                                     " failed: " + c.logged),
                std::string::npos)
          << m_reader->Err();
    }
  }
  StopBroker();
}

}  // namespace
