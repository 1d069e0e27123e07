// The network line through Debian's ser2net in front of zlm-meter-sim's
// pseudo-terminal, all on loopback: what the meter heard, and the outcomes
// of the simulator's faults, of a server that goes away and comes back, of a
// second client, and of a COM number that names the server.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>

#include "meter/exchange_diagnosis.h"
#include "meter/reading_cycle.h"
#include "serial/platform_serial_port.h"
#include "serial/port_discovery.h"
#include "serial/rfc2217_serial_port.h"
#include "serial_test_support.h"
#include "sim/ser2net_front.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;

class Ser2netTest : public ::testing::Test {
 protected:
  void TearDown() override {
    m_server.reset();
    m_simulator.reset();
  }

  // The simulator with these arguments, then ser2net in front of its pty.
  void StartMeters(const std::vector<std::string>& simulatorArgs) {
    std::vector<std::string> args = {"--log", LogPath().string(), "--address", "3"};
    args.insert(args.end(), simulatorArgs.begin(), simulatorArgs.end());
    SimulatorProcess simulator = StartSimulatorProcess(
        ZLM_METER_SIM, args, {{"XDG_CONFIG_HOME", m_scratch.Path("config").string()}});
    ASSERT_TRUE(simulator.error.empty()) << simulator.error;
    m_simulator = std::move(simulator.process);
    m_device = simulator.device;
    m_server = std::make_unique<Ser2netFront>(m_scratch.Path("").string(), m_device, ZLM_SER2NET);
    ASSERT_TRUE(m_server->Start()) << m_server->Output();
  }

  // Ends the simulator so that its whole log is written.
  void StopSimulator() {
    m_simulator->Signal(SIGINT);
    EXPECT_EQ(m_simulator->Wait(kProcessLimit), 0) << m_simulator->Err();
  }

  fs::path LogPath() const { return m_scratch.Path("traffic.log"); }
  std::string Log() const {
    std::ifstream in(LogPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // One reading cycle of meter 3 through the server, then the simulator
  // ended (its log complete); nothing when the line did not open. The
  // answers pass through two more processes; see ZLM_TEST_ANSWER_WAIT_MS.
  std::optional<CycleResult> ReadMeter3(DWORD answerWaitMs = ZLM_TEST_ANSWER_WAIT_MS) {
    Rfc2217SerialPort line;
    const HANDLE h = OpenLine(line, m_server->Url());
    if (h == INVALID_HANDLE_VALUE) {
      ADD_FAILURE() << ExplainCause(line.LastCause(), m_server->Url());
      return std::nullopt;
    }
    CycleResult result = ReadAllParameters(line, h, 3, answerWaitMs);
    line.CloseHandle(h);
    StopSimulator();
    return result;
  }

  static HANDLE OpenLine(SerialPort& line, const std::string& path) {
    const HANDLE h = line.CreateFile(path);
    if (h != INVALID_HANDLE_VALUE) ApplyBaseline(line, h);
    return h;
  }

  ScratchRoots m_scratch;
  std::unique_ptr<Subprocess> m_simulator;
  std::unique_ptr<Ser2netFront> m_server;
  std::string m_device;
};

TEST_F(Ser2netTest, SevenValuesAndTheNinthBitOfEveryRequestByte) {
  StartMeters(kFixedValues);
  const std::optional<CycleResult> read = ReadMeter3();
  ASSERT_TRUE(read.has_value());
  const CycleResult& result = *read;

  ASSERT_EQ(result.error, nullptr) << DescribeExchange(result.failedReceived);
  const std::vector<double> expected = {1234.5678, 98765432, 8760.25, 12.5, 208.33333, 17.68, 50};
  ASSERT_EQ(result.readings.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(result.readings[i].code, kParameters[i].code);
    EXPECT_DOUBLE_EQ(result.readings[i].value, expected[i]) << kParameters[i].key;
  }
  const auto heard = HeardBytes(LogPath());
  ASSERT_EQ(heard.size(), 3 * kParameters.size());
  for (std::size_t i = 0; i < kParameters.size(); ++i) {
    const MeterRequest request = MakeRequest(3, kParameters[i].code);
    const std::vector<std::pair<int, std::string>> want = {
        {request.address, "mark"}, {request.code, "space"}, {request.checksum, "space"}};
    for (std::size_t b = 0; b < 3; ++b) {
      EXPECT_EQ(heard[3 * i + b], want[b]) << "request " << i << " byte " << b << "\n" << Log();
    }
  }
}

// What each fault gives on a local line (the pty end-to-end test of zlm-read
// pins the same): the failure message, or the first value read.
struct FaultCase {
  const char* fault;
  const char* error;
  double volume;  // volume_m3 read, where the cycle succeeds
};

class Ser2netFaults : public Ser2netTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Ser2netFaults, SameOutcomeAsOnALocalLine) {
  const FaultCase c = GetParam();
  std::vector<std::string> args = {"--fault", c.fault};
  args.insert(args.end(), kFixedValues.begin(), kFixedValues.end());
  StartMeters(args);
  // Only a read at 20 ms, without the wait, misses the late answer.
  const std::optional<CycleResult> read =
      ReadMeter3(std::string_view(c.fault) == "late" ? 0 : ZLM_TEST_ANSWER_WAIT_MS);
  ASSERT_TRUE(read.has_value());
  const CycleResult& result = *read;

  EXPECT_STREQ(result.error, c.error) << DescribeExchange(result.failedReceived) << "\n" << Log();
  if (c.error == nullptr) {
    ASSERT_EQ(result.readings.size(), kParameters.size());
    EXPECT_DOUBLE_EQ(result.readings[0].value, c.volume);
  } else {
    EXPECT_EQ(result.failedCode, kParameters[0].code);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, Ser2netFaults,
                         ::testing::Values(FaultCase{"silent", kMsgNoAnswer, 0},
                                           FaultCase{"late", kMsgNoAnswer, 0},
                                           FaultCase{"short", kMsgNoAnswer, 0},
                                           FaultCase{"position", kMsgPositionTooLarge, 0},
                                           FaultCase{"stray", nullptr, 1234.5678},
                                           FaultCase{"stray2", nullptr, 1234.5678},
                                           FaultCase{"no-address-echo", nullptr, 1234.5678},
                                           FaultCase{"invalid-bcd", nullptr, 2031.4253}),
                         [](const auto& info) {
                           std::string name = info.param.fault;
                           std::erase(name, '-');
                           return name;
                         });

// The server goes away between two readings and comes back on its port: the
// reading in between fails with the lost connection or the refused one as
// its cause, and the same handle reads again afterwards.
TEST_F(Ser2netTest, ServerStoppedThenBack) {
  StartMeters({"--fixed"});
  Rfc2217SerialPort line;
  const HANDLE h = OpenLine(line, m_server->Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << ExplainCause(line.LastCause(), m_server->Url());
  const CycleResult before = ReadAllParameters(line, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
  ASSERT_EQ(before.error, nullptr) << DescribeExchange(before.failedReceived);

  m_server->Stop();
  const CycleResult lost = ReadAllParameters(line, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
  EXPECT_STREQ(lost.error, kMsgApplyMarkMode);
  EXPECT_EQ(line.LastCause().kind, CauseKind::kConnectionLost)
      << ExplainCause(line.LastCause(), "P");
  const CycleResult refused = ReadAllParameters(line, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
  EXPECT_STREQ(refused.error, kMsgApplyMarkMode);
  EXPECT_EQ(line.LastCause().kind, CauseKind::kRefused) << ExplainCause(line.LastCause(), "P");

  ASSERT_TRUE(m_server->Start()) << m_server->Output();
  const CycleResult again = ReadAllParameters(line, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
  EXPECT_EQ(again.error, nullptr) << DescribeExchange(again.failedReceived);
  EXPECT_EQ(again.readings.size(), kParameters.size());
  line.CloseHandle(h);
}

TEST_F(Ser2netTest, SecondClientIsTurnedAwayWithTheServersWords) {
  StartMeters({"--fixed"});
  Rfc2217SerialPort first;
  const HANDLE h = OpenLine(first, m_server->Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << ExplainCause(first.LastCause(), m_server->Url());

  Rfc2217SerialPort second;
  EXPECT_EQ(second.CreateFile(m_server->Url()), INVALID_HANDLE_VALUE);
  // ser2net says "Port already in use" and closes; whether its words are
  // still there to read depends on whether it closed before it read the
  // client's negotiation (a reset drops them).
  EXPECT_EQ(second.LastCause().kind, CauseKind::kServerClosed) << second.LastCause().detail;
  EXPECT_NE(ExplainCause(second.LastCause(), "P").find("another client holds its line"),
            std::string::npos);
  // The first keeps its line.
  const CycleResult kept = ReadAllParameters(first, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
  EXPECT_EQ(kept.error, nullptr) << DescribeExchange(kept.failedReceived);
  first.CloseHandle(h);
}

// The program's line reaches the server through a COM number whose file in
// the per-user port directory holds its address, and the port scan lists
// that number only while the server takes connections. The machine's own
// devices stay out of reach: the system root is the scratch directory.
TEST_F(Ser2netTest, ComNumberFileReachesTheServer) {
  StartMeters({"--fixed"});
  // Apart from the simulator's own configuration, where it publishes its pty.
  const fs::path config = m_scratch.Path("reader");
  fs::create_directories(config / "zlm-reader/ports");
  std::ofstream(config / "zlm-reader/ports/COM12") << m_server->Url() << "\n";
  std::ofstream(config / "zlm-reader/ports/COM13")
      << "rfc2217://127.0.0.1:" << FreeLoopbackPort() << "\n";
  const std::string oldConfig =
      std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("ZLM_SYSTEM_ROOT", m_scratch.Path("").c_str(), 1);
  {
    PlatformSerialPort line;
    EXPECT_EQ(ScanFreePorts(line), std::vector<int>{12});

    const HANDLE h = OpenLine(line, ComDevicePath(12));
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << ExplainCause(line.LastCause(), "COM12");
    const CycleResult result = ReadAllParameters(line, h, 3, ZLM_TEST_ANSWER_WAIT_MS);
    EXPECT_EQ(result.error, nullptr) << DescribeExchange(result.failedReceived);
    EXPECT_TRUE(line.CloseHandle(h));

    EXPECT_EQ(line.CreateFile(ComDevicePath(13)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(line.LastCause().kind, CauseKind::kRefused);
    EXPECT_NE(ExplainCause(line.LastCause(), "COM13").find("COM13 (rfc2217://127.0.0.1:"),
              std::string::npos)
        << ExplainCause(line.LastCause(), "COM13");

    m_server->Stop();
    EXPECT_EQ(ScanFreePorts(line), std::vector<int>{});
  }
  ::unsetenv("ZLM_SYSTEM_ROOT");
  if (oldConfig.empty()) {
    ::unsetenv("XDG_CONFIG_HOME");
  } else {
    ::setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
  }
}

}  // namespace
