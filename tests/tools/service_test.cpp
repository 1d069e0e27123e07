// zlm-read as a service, with real neighbours on loopback: Debian's
// Prometheus scrapes its metrics, systemd's notification protocol arrives
// on a socket of the test's own, and a configuration file stands in for
// the command line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sim/ser2net_front.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto* process : {&m_reader, &m_simulator, &m_prometheus}) {
      if (!*process) continue;
      (*process)->Signal(SIGTERM);
      (*process)->Wait(kProcessLimit);
    }
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_dir.Path().string()}}; }

  void StartSimulator(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--log", "/dev/null"};
    args.insert(args.end(), extra.begin(), extra.end());
    SimulatorProcess simulator = StartSimulatorProcess(ZLM_METER_SIM, args, Env());
    m_simulator = std::move(simulator.process);
    m_com = simulator.com;
    ASSERT_EQ(simulator.error, "");
  }

  ScratchDir m_dir{"zlm-service"};
  std::unique_ptr<Subprocess> m_simulator;
  std::unique_ptr<Subprocess> m_reader;
  std::unique_ptr<Subprocess> m_prometheus;
  std::string m_com;
};

// What Prometheus's API answers to an instant query, as promtool prints it
// ("series => value @[time]" a line).
std::string Query(int port, const std::string& expression) {
  return RunProgram(
             {PROMTOOL, "query", "instant", "http://127.0.0.1:" + std::to_string(port), expression},
             {})
      .out;
}

// Asks until the query's answer holds the value, within the limit: the
// answer it last gave.
std::string QueryUntil(int port, const std::string& expression, const std::string& value,
                       std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  std::string answer;
  while (Clock::now() < end) {
    answer = Query(port, expression);
    if (answer.find("=> " + value + " @") != std::string::npos) break;
    // Prometheus scrapes once a second.
    std::this_thread::sleep_for(200ms);
  }
  return answer;
}

// Prometheus scrapes the reader: a silent meter's failures and a lost
// line reach its API with their values, and promtool finds the text well
// formed.
TEST_F(ServiceTest, PrometheusScrapesTheReader) {
  StartSimulator({"--address", "1", "--com", "7"});
  const int metricsPort = FreeLoopbackPort();
  m_reader = std::make_unique<Subprocess>(
      std::vector<std::string>{ZLM_READ, "--port", "COM7", "--address", "1,5", "--interval", "0.5",
                               "--format", "csv", "--metrics",
                               "127.0.0.1:" + std::to_string(metricsPort)},
      Env());
  ASSERT_TRUE(m_reader->ReadLine(kProcessLimit).has_value()) << m_reader->Err();

  const RunResult check =
      RunProgram({"/bin/bash", "-c",
                  "set -o pipefail; " CURL " -sf http://127.0.0.1:" + std::to_string(metricsPort) +
                      "/metrics | " PROMTOOL " check metrics"},
                 {});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  const int prometheusPort = FreeLoopbackPort();
  const std::string config = (m_dir / "prometheus.yml").string();
  std::ofstream(config) << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                           "scrape_configs:\n  - job_name: zlm\n    static_configs:\n"
                           "      - targets: ['127.0.0.1:"
                        << metricsPort << "']\n";
  m_prometheus = std::make_unique<Subprocess>(
      std::vector<std::string>{PROMETHEUS, "--config.file=" + config,
                               "--storage.tsdb.path=" + (m_dir / "data").string(),
                               "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort)},
      EnvChanges{});
  const std::string port = "port=\"COM7\"";
  EXPECT_NE(QueryUntil(prometheusPort, "up{job=\"zlm\"}", "1", 60s).find("=> 1 @"),
            std::string::npos);
  EXPECT_NE(QueryUntil(prometheusPort, "zlm_build_info{version=\"" ZLM_VERSION "\"}", "1", 10s)
                .find("=> 1 @"),
            std::string::npos);
  EXPECT_NE(QueryUntil(prometheusPort,
                       "zlm_meter_cycle_failures_total{address=\"5\",cause=\"No answer from "
                       "ZLM\"} > bool 0",
                       "1", 20s)
                .find("=> 1 @"),
            std::string::npos);
  EXPECT_NE(QueryUntil(prometheusPort, "zlm_meter_up{address=\"1\"}", "1", 10s).find("=> 1 @"),
            std::string::npos);
  EXPECT_NE(QueryUntil(prometheusPort, "zlm_meter_up{address=\"5\"}", "0", 10s).find("=> 0 @"),
            std::string::npos);

  // The line taken away.
  m_simulator->Signal(SIGKILL);
  m_simulator->Wait(kProcessLimit);
  m_simulator.reset();
  for (const auto& [expression, value] : std::vector<std::pair<std::string, std::string>>{
           {"zlm_line_losses_total{" + port + "}", "1"},
           {"zlm_line_up{" + port + "}", "0"},
           {"zlm_meter_up{address=\"1\"}", "0"},
           {"zlm_meter_cycle_failures_total{address=\"1\",cause=\"line lost\"} > bool 0", "1"},
           {"zlm_line_open_failures_total{" + port + "} > bool 0", "1"},
           {"time() - zlm_meter_last_good_timestamp_seconds{address=\"1\"} < bool 120", "1"},
           {"zlm_exchange_duration_seconds_count{address=\"1\"} > bool 6", "1"},
       }) {
    EXPECT_NE(QueryUntil(prometheusPort, expression, value, 20s).find("=> " + value + " @"),
              std::string::npos)
        << expression;
  }
}

// The notification socket of systemd, made by the test.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : m_path(path) {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() { ::close(m_fd); }
  bool ok = false;

  // The next datagram within the limit; nothing at the limit.
  std::optional<std::string> Next(std::chrono::milliseconds limit) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    return n < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, n));
  }
  // Datagrams until one holds text, within the limit; what came, or nothing.
  std::optional<std::string> Until(const std::string& text, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      const std::optional<std::string> message = Next(left);
      if (message && message->find(text) != std::string::npos) return message;
    }
    return std::nullopt;
  }

 private:
  std::string m_path;
  int m_fd = -1;
};

// READY, STATUS and WATCHDOG arrive while the loop runs; a stopped loop
// sends no WATCHDOG; STOPPING at the end.
TEST_F(ServiceTest, TellsSystemdItIsReadyAndAlive) {
  StartSimulator({"--address", "1"});
  NotifySocket notify((m_dir / "notify").string());
  ASSERT_TRUE(notify.ok);
  EnvChanges env = Env();
  env["NOTIFY_SOCKET"] = (m_dir / "notify").string();
  env["WATCHDOG_USEC"] = "1000000";  // WATCHDOG=1 every 0.5 s
  env["WATCHDOG_PID"] = std::nullopt;
  // A long interval: the watchdog is fed while the loop waits.
  m_reader = std::make_unique<Subprocess>(
      std::vector<std::string>{ZLM_READ, "--port", m_com, "--address", "1,5", "--interval", "30"},
      env);
  const std::optional<std::string> ready = notify.Until("READY=1", kProcessLimit);
  ASSERT_TRUE(ready) << m_reader->Err();
  EXPECT_NE(ready->find("STATUS=" + m_com + ": 1 good, 0 failed; last cycle "), std::string::npos)
      << *ready;
  const std::optional<std::string> status =
      notify.Until("1 good, 1 failed (address 5: No answer from ZLM)", kProcessLimit);
  EXPECT_TRUE(status) << m_reader->Err();
  for (int beats = 0; beats < 3; ++beats) {
    ASSERT_TRUE(notify.Until("WATCHDOG=1", 5s)) << beats;
  }

  m_reader->Signal(SIGSTOP);
  while (notify.Next(100ms)) {
  }  // what was sent before it stopped
  EXPECT_FALSE(notify.Next(2500ms)) << "a stopped loop fed the watchdog";
  m_reader->Signal(SIGCONT);
  EXPECT_TRUE(notify.Until("WATCHDOG=1", 5s));

  m_reader->Signal(SIGTERM);
  EXPECT_TRUE(notify.Until("STOPPING=1", kProcessLimit));
  EXPECT_EQ(m_reader->Wait(kProcessLimit), 1) << m_reader->Err();  // meter 5 failed
  m_reader.reset();
}

// A configuration file gives the same readings as the same options on the
// command line (and without NOTIFY_SOCKET the reader runs as it always did).
TEST_F(ServiceTest, ConfigurationFileReadsAsTheCommandLine) {
  std::vector<std::string> simulator = {"--address", "3"};
  simulator.insert(simulator.end(), kFixedValues.begin(), kFixedValues.end());
  StartSimulator(simulator);
  const std::string file = (m_dir / "line.conf").string();
  std::ofstream(file) << "# the same as the command line below\nport = \"" << m_com
                      << "\"\naddress = [3]\nformat = \"json\"\ncount = 1\n";
  const RunResult fromFile = RunProgram({ZLM_READ, "--config", file}, Env());
  const RunResult fromLine = RunProgram(
      {ZLM_READ, "--port", m_com, "--address", "3", "--format", "json", "--count", "1"}, Env());
  const std::regex time("\"time\":\"[^\"]*\"");
  EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_EQ(fromLine.exitCode, 0) << fromLine.err;
  EXPECT_NE(fromFile.out.find(kFixedJson), std::string::npos) << fromFile.out;
  EXPECT_EQ(std::regex_replace(fromFile.out, time, ""), std::regex_replace(fromLine.out, time, ""));

  // The example installed with the tools is read whole: only its port is
  // not there.
  const RunResult example = RunProgram({ZLM_READ, "--config", EXAMPLE_CONF}, Env());
  EXPECT_EQ(example.exitCode, 4) << example.err;
  EXPECT_NE(example.err.find("No free COM ports"), std::string::npos) << example.err;
}

}  // namespace
