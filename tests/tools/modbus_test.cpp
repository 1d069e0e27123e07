// zlm-read serving two simulated meters over Modbus TCP on loopback, read by
// clients written elsewhere: Debian's mbpoll and pymodbus.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the simulator's meters send for kFixedValues: N and P of each
// reading in the cycle's order, and the value.
struct Expected {
  std::uint32_t digits;
  int position;
  double value;
};
const Expected kExpected[] = {
    {12345678, 4, 1234.5678}, {98765432, 8, 98765432}, {87602500, 4, 8760.25}, {12500000, 2, 12.5},
    {20833333, 3, 208.33333}, {17680000, 2, 17.68},    {50000000, 2, 50}};

class ModbusTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto* process : {m_reader.get(), m_simulator.get()}) {
      if (!process) continue;
      process->Signal(SIGTERM);
      process->Wait(kProcessLimit);
    }
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_dir.Path().string()}}; }

  // Meters 3 and 7 with fixed readings, and zlm-read serving them on a free
  // port; extra: more of the simulator's options, then zlm-read's.
  void Start(const std::vector<std::string>& simulatorExtra,
             const std::vector<std::string>& readerExtra = {}) {
    std::vector<std::string> args = {"--log", "/dev/null", "--address", "3", "--address", "7"};
    args.insert(args.end(), kFixedValues.begin(), kFixedValues.end());
    args.insert(args.end(), simulatorExtra.begin(), simulatorExtra.end());
    SimulatorProcess simulator = StartSimulatorProcess(ZLM_METER_SIM, args, Env());
    m_simulator = std::move(simulator.process);
    ASSERT_EQ(simulator.error, "");
    // stderr joins stdout, where the server says where it listens.
    std::vector<std::string> reader = {"/bin/sh",   "-c",           "exec \"$0\" \"$@\" 2>&1",
                                       ZLM_READ,    "--port",       simulator.com,
                                       "--address", "3,7",          "--interval",
                                       "0.2",       "--modbus-tcp", "0"};
    reader.insert(reader.end(), readerExtra.begin(), readerExtra.end());
    m_reader = std::make_unique<Subprocess>(reader, Env());
    const std::string announce = "serving Modbus TCP on 127.0.0.1:";
    while (const std::optional<std::string> line = m_reader->ReadLine(kProcessLimit)) {
      if (const std::size_t at = line->find(announce); at != std::string::npos) {
        m_port = line->substr(at + announce.size());
        return;
      }
    }
    FAIL() << "zlm-read did not say where it serves: " << m_reader->Err();
  }

  nlohmann::json Client(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {PYTHON3, MODBUS_CLIENT};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult run = RunProgram(argv, {});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return nlohmann::json::parse(run.out, nullptr, false);
  }

  // The unit's map once predicate holds for it, read again and again
  // within the limit.
  template <typename Predicate>
  nlohmann::json MapWhen(int unit, Predicate predicate, const std::string& order = "high") {
    const Clock::time_point end = Clock::now() + kProcessLimit;
    nlohmann::json map;
    while (Clock::now() < end) {
      map = Client({"map", m_port, std::to_string(unit), order});
      if (!map.contains("error") && predicate(map)) return map;
    }
    ADD_FAILURE() << "unit " << unit << " never as expected: " << map.dump();
    return map;
  }

  ScratchDir m_dir{"zlm-modbus"};
  std::unique_ptr<Subprocess> m_simulator;
  std::unique_ptr<Subprocess> m_reader;
  std::string m_port;
};

class WordOrders : public ModbusTest, public ::testing::WithParamInterface<const char*> {};

// Every register of both meters as pymodbus reads them, in either word
// order, and the readings as mbpoll shows them.
TEST_P(WordOrders, MapHoldsTheSimulatorsReadings) {
  const std::string order = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start({}, {"--modbus-word-order", order}));
  for (const int unit : {3, 7}) {
    SCOPED_TRACE(unit);
    const nlohmann::json map = MapWhen(
        unit, [](const nlohmann::json& m) { return m["good"] >= 1; }, order);
    EXPECT_EQ(map["version"], 1);
    EXPECT_EQ(map["status"], 0);
    EXPECT_EQ(map["cause"], 0);
    EXPECT_EQ(map["address"], unit);
    EXPECT_EQ(map["failed"], 0);
    EXPECT_EQ(map["holding_same"], true);
    for (std::size_t row = 0; row < std::size(kExpected); ++row) {
      SCOPED_TRACE(row);
      EXPECT_EQ(map["digits"][row], kExpected[row].digits);
      EXPECT_EQ(map["positions"][row], kExpected[row].position);
      EXPECT_EQ(map["values"][row].get<float>(), static_cast<float>(kExpected[row].value));
    }
  }
  // mbpoll counts registers from 1; -B reads floats high word first.
  std::vector<std::string> argv = {MBPOLL, "-m", "tcp",     "-a", "7",  "-r",   "11",       "-c",
                                   "7",    "-t", "3:float", "-1", "-p", m_port, "127.0.0.1"};
  if (order == std::string("high")) argv.insert(argv.begin() + 1, "-B");
  const RunResult run = RunProgram(argv, {});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  for (std::size_t row = 0; row < std::size(kExpected); ++row) {
    const std::string label = "[" + std::to_string(11 + 2 * row) + "]:";
    const std::size_t at = run.out.find(label);
    ASSERT_NE(at, std::string::npos) << run.out;
    const double shown = std::stod(run.out.substr(at + label.size()));
    EXPECT_NEAR(shown, kExpected[row].value, kExpected[row].value * 1e-5) << label;
  }
}

INSTANTIATE_TEST_SUITE_P(Modbus, WordOrders, ::testing::Values("high", "low"));

// The exceptions, as pymodbus sees them, and mbpoll's words for 0x0B.
TEST_F(ModbusTest, Exceptions) {
  // Meter 7 never answers: its unit is as good as absent.
  ASSERT_NO_FATAL_FAILURE(Start({"--silent-meter", "7"}));
  MapWhen(3, [](const nlohmann::json& m) { return m["good"] >= 1; });
  const struct {
    const char* name;
    std::vector<std::string> request;  // unit, function, address, count
    int exception;
  } kCases[] = {
      {"unknown unit", {"9", "4", "0", "1"}, 0x0B},
      {"never answered", {"7", "3", "0", "1"}, 0x0B},
      {"past the map", {"3", "4", "40", "6"}, 0x02},
      {"write register", {"3", "6", "0", "1"}, 0x01},
      {"write registers", {"3", "16", "0", "2"}, 0x01},
      {"write coil", {"3", "5", "0", "1"}, 0x01},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {"exception", m_port};
    args.insert(args.end(), c.request.begin(), c.request.end());
    EXPECT_EQ(Client(args)["exception"], c.exception) << c.name;
  }
  const RunResult run =
      RunProgram({MBPOLL, "-m", "tcp", "-a", "9", "-r", "1", "-1", "-p", m_port, "127.0.0.1"}, {});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE((run.out + run.err).find("Target device failed to respond"), std::string::npos)
      << run.out << run.err;
}

// A meter that goes silent keeps its last readings, with its status and
// cause, and an age that grows; the other meter reads on.
TEST_F(ModbusTest, SilentMeterShowsStatusAndGrowingAge) {
  ASSERT_NO_FATAL_FAILURE(Start({"--silent-meter", "7@3-3600"}));
  MapWhen(7, [](const nlohmann::json& m) { return m["good"] >= 1; });
  const nlohmann::json failing =
      MapWhen(7, [](const nlohmann::json& m) { return m["status"] == 2 && m["age"] >= 1; });
  EXPECT_EQ(failing["cause"], 4);  // echoed, but no meter answered
  EXPECT_EQ(failing["digits"][0], kExpected[0].digits);
  // Later: older, and failed again (MapWhen gives up after its limit).
  const int age = failing["age"];
  const int failed = failing["failed"];
  const nlohmann::json later = MapWhen(7, [age, failed](const nlohmann::json& m) {
    return m["age"] > age && m["failed"] > failed;
  });
  EXPECT_GT(later["age"], age);
  EXPECT_GT(later["failed"], failed);
  EXPECT_EQ(later["status"], 2);
  const nlohmann::json other = MapWhen(3, [](const nlohmann::json& m) { return m["good"] > 1; });
  EXPECT_EQ(other["status"], 0);
  EXPECT_LE(other["age"], 2);
}

// Sixteen clients polling at 10 Hz are all answered correctly while the
// meters are read (the cadence itself is measured by bench/modbus-load).
TEST_F(ModbusTest, SixteenClientsAtTenHertz) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  MapWhen(7, [](const nlohmann::json& m) { return m["good"] >= 1; });
  const nlohmann::json before = MapWhen(3, [](const nlohmann::json& m) { return m["good"] >= 1; });
  const nlohmann::json load = Client({"load", m_port, "3,7", "16", "10", "4"});
  EXPECT_GE(load["requests"], 16 * 10 * 4 - 16);
  EXPECT_EQ(load["wrong"], 0);
  EXPECT_EQ(load["errors"], 0);
  const nlohmann::json after = MapWhen(3, [](const nlohmann::json&) { return true; });
  EXPECT_GT(after["good"], before["good"]);
  EXPECT_EQ(after["failed"], 0);
}

// Bytes that are no Modbus request, from a raw socket: that connection is
// closed, and the next client is served.
TEST_F(ModbusTest, MalformedFramesFromARawSocket) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  MapWhen(3, [](const nlohmann::json& m) { return m["good"] >= 1; });
  const std::vector<std::vector<std::uint8_t>> kFrames = {
      {'h', 'e', 'l', 'l', 'o', '\r', '\n'},
      {0, 1, 0xAB, 0xCD, 0, 6, 3, 4, 0, 0, 0, 1},
      {0, 1, 0, 0, 0xFF, 0xFF, 3, 4},
      {0, 1, 0, 0, 0, 3, 3, 4, 0},
  };
  for (const auto& frame : kFrames) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(m_port)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(frame.size()));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, static_cast<int>(kProcessLimit.count())), 1);
    std::uint8_t byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);
    ::close(fd);
    EXPECT_EQ(MapWhen(3, [](const nlohmann::json&) { return true; })["address"], 3);
  }
  EXPECT_TRUE(m_reader->Running());
}

}  // namespace
