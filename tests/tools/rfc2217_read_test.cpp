// zlm-read with --port rfc2217://HOST:PORT against Debian's ser2net on
// 127.0.0.1 in front of zlm-meter-sim's pty, all run as programs.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "serial/port_discovery.h"
#include "serial/rfc2217_serial_port.h"
#include "sim/ser2net_front.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Rfc2217ReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> args = {"--log", (m_dir / "traffic.log").string(), "--address", "3"};
    args.insert(args.end(), kFixedValues.begin(), kFixedValues.end());
    SimulatorProcess simulator = StartSimulatorProcess(ZLM_METER_SIM, args, Env());
    ASSERT_TRUE(simulator.error.empty()) << simulator.error;
    m_simulator = std::move(simulator.process);
    m_server = std::make_unique<Ser2netFront>(m_dir.Path().string(), simulator.device, ZLM_SER2NET);
    ASSERT_TRUE(m_server->Start()) << m_server->Output();
  }
  void TearDown() override {
    m_server.reset();
    m_simulator.reset();
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", (m_dir / "config").string()}}; }

  RunResult Read(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {ZLM_READ};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, Env());
  }

  ScratchDir m_dir{"zlm-rfc2217"};
  std::unique_ptr<Subprocess> m_simulator;
  std::unique_ptr<Ser2netFront> m_server;
};

TEST_F(Rfc2217ReadTest, ReadsScansAndTraces) {
  const fs::path trace = m_dir / "trace.txt";
  const RunResult read = Read(
      {"--port", m_server->Url(), "--address", "3", "--format", "json", "--trace", trace.string()});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.out.find("\"port\":\"" + m_server->Url() + "\",\"address\":3,\"status\":\"ok\"," + kFixedJson),
            std::string::npos)
      << read.out;
  EXPECT_NE(ReadAll(trace).find("open " + m_server->Url() + ": handle"), std::string::npos)
      << ReadAll(trace);

  const RunResult scan = Read({"--port", m_server->Url(), "--scan"});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_NE(scan.out.find("meters found: 3"), std::string::npos) << scan.out;
}

// Stopped while zlm-read reads every 0.25 s and started again: the readings
// in between fail (at whichever step the loss is noticed) with the
// connection's fate as their cause, and zlm-read, going on with --interval,
// reads again once the server is back.
TEST_F(Rfc2217ReadTest, ServerStoppedAndBackWhileReadingWithAnInterval) {
  const fs::path trace = m_dir / "trace.txt";
  Subprocess reader({ZLM_READ, "--port", m_server->Url(), "--address", "3", "--interval", "0.25",
                     "--format", "json", "--trace", trace.string()},
                    Env());
  ASSERT_TRUE(reader.Started());
  const std::optional<std::string> first = reader.ReadLine(kProcessLimit);
  ASSERT_TRUE(first.has_value()) << reader.Err();
  EXPECT_NE(first->find(kFixedJson), std::string::npos) << *first;

  m_server->Stop();
  // A reading has failed once the trace shows a refused settings change.
  const auto deadline = std::chrono::steady_clock::now() + kProcessLimit;
  while (ReadAll(trace).find(": failed") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(m_server->Start()) << m_server->Output();
  std::optional<std::string> again;
  do {
    again = reader.ReadLine(kProcessLimit);
  } while (again && again->find(kFixedJson) == std::string::npos);
  EXPECT_TRUE(again.has_value()) << reader.Err();

  reader.Signal(SIGINT);
  EXPECT_EQ(reader.Wait(kProcessLimit), 1) << reader.Err();
  const bool lost = reader.Err().find("cause: the connection to " + m_server->Url() +
                                      " was lost") != std::string::npos;
  const bool refused = reader.Err().find("cause: nothing accepts connections at " +
                                         m_server->Url()) != std::string::npos;
  EXPECT_TRUE(lost || refused) << reader.Err();
}

TEST_F(Rfc2217ReadTest, SecondClientIsRefusedWithTheCause) {
  Rfc2217SerialPort first;
  const HANDLE h = first.CreateFile(m_server->Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << first.LastCause().detail;
  const RunResult read = Read({"--port", m_server->Url(), "--address", "3"});
  EXPECT_EQ(read.exitCode, 4) << read.err;
  EXPECT_NE(read.err.find("No free COM ports\ncause: the server at " + m_server->Url() +
                          " ended the connection at once"),
            std::string::npos)
      << read.err;
  first.CloseHandle(h);
}

// A port where something accepts connections but never says a word: the
// kernel completes the connection from the listen queue, nobody answers.
TEST_F(Rfc2217ReadTest, SilentServerFailsInBoundedTime) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const RunResult read = Read({"--port", url, "--address", "3"});
  ::close(fd);
  EXPECT_EQ(read.exitCode, 4) << read.err;
  EXPECT_NE(read.err.find("cause: " + url + " is no RFC 2217 port"), std::string::npos) << read.err;
}

}  // namespace
