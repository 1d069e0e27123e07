// zlm-read against zlm-meter-sim over a real pseudo-terminal, both run as
// programs, with a scratch configuration directory for the COM links.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;

class EndToEndTest : public ::testing::Test {
 protected:
  void TearDown() override {
    m_simulator.reset();
    // What the simulator heard and sent, to tell a slow line from a wrong reader.
    if (HasFailure() && fs::exists(LogPath())) {
      std::ifstream log(LogPath());
      std::cout << "simulator's traffic log:\n" << log.rdbuf();
    }
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_config.Path().string()}}; }
  fs::path PortDir() const { return m_config / "zlm-reader" / "ports"; }
  fs::path LogPath() const { return m_config / "traffic.log"; }

  // Starts the simulator; its first line names the COM port and the device.
  void StartSimulator(std::vector<std::string> args) {
    args.insert(args.begin(), {"--log", LogPath().string()});
    SimulatorProcess simulator = StartSimulatorProcess(ZLM_METER_SIM, args, Env());
    m_simulator = std::move(simulator.process);
    m_com = simulator.com;
    m_device = simulator.device;
    ASSERT_EQ(simulator.error, "");
    // The link reaches the device through the simulator's own descriptor.
    ASSERT_EQ(fs::read_symlink(PortDir() / m_com).string().rfind("/proc/", 0), 0u);
    ASSERT_EQ(fs::canonical(PortDir() / m_com), m_device);
  }

  // Ends the simulator as Ctrl+C would; it must remove its link.
  void StopSimulator() {
    m_simulator->Signal(SIGINT);
    EXPECT_EQ(m_simulator->Wait(kProcessLimit), 0) << m_simulator->Err();
    EXPECT_FALSE(fs::exists(fs::symlink_status(PortDir() / m_com)));
  }

  RunResult Read(const std::vector<std::string>& args, const EnvChanges& extraEnv = {}) {
    std::vector<std::string> argv = {ZLM_READ};
    argv.insert(argv.end(), args.begin(), args.end());
    EnvChanges env = Env();
    env.insert(extraEnv.begin(), extraEnv.end());
    return RunProgram(argv, env);
  }

  // The tests' reader waits for each answer (ZLM_ANSWER_WAIT from the test's
  // environment); the late answer, 30 ms after the request, is missed only
  // by a reader that reads at 20 ms, as it does without that wait.
  static EnvChanges TimingFor(const std::string& fault) {
    if (fault == "late") return {{"ZLM_ANSWER_WAIT", "0"}};
    return {};
  }

  ScratchDir m_config{"zlm-tools"};
  std::unique_ptr<Subprocess> m_simulator;
  std::string m_com;
  std::string m_device;
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct AddressCase {
  int meter;
  int asked;
};

class ReadsSimulatorValues : public EndToEndTest,
                             public ::testing::WithParamInterface<AddressCase> {};

TEST_P(ReadsSimulatorValues, SevenValuesAndNinthBits) {
  const AddressCase c = GetParam();
  StartSimulator(Concat({"--address", std::to_string(c.meter)}, kFixedValues));
  const RunResult read =
      Read({"--port", m_com, "--address", std::to_string(c.asked), "--format", "json"});
  StopSimulator();

  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.out.find(",\"port\":\"" + m_com + "\",\"address\":" + std::to_string(c.asked) +
                          ",\"status\":\"ok\"," + kFixedJson),
            std::string::npos)
      << read.out;

  // Seven requests: address byte with mark, code and checksum with space.
  const auto heard = HeardBytes(LogPath());
  ASSERT_EQ(heard.size(), 21u);
  for (size_t i = 0; i < heard.size(); i += 3) {
    EXPECT_EQ(heard[i], std::make_pair(c.asked, std::string("mark"))) << "request " << i / 3;
    EXPECT_EQ(heard[i + 1].second, "space");
    EXPECT_EQ(heard[i + 2].second, "space");
    EXPECT_EQ(heard[i + 2].first, (heard[i].first + heard[i + 1].first) & 0xFF);
  }
}

INSTANTIATE_TEST_SUITE_P(Addresses, ReadsSimulatorValues,
                         ::testing::Values(AddressCase{0, 0}, AddressCase{31, 31},
                                           AddressCase{9, 255}),
                         [](const auto& info) {
                           return "meter" + std::to_string(info.param.meter) + "_asked" +
                                  std::to_string(info.param.asked);
                         });

struct FaultCase {
  const char* fault;
  int exitCode;
  const char* out;  // expected in stdout
  const char* err;  // expected in stderr
};

class SimulatorFaults : public EndToEndTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimulatorFaults, ReaderReportsOrCopes) {
  const FaultCase c = GetParam();
  StartSimulator(Concat({"--address", "3", "--fault", c.fault}, kFixedValues));
  const RunResult read =
      Read({"--port", m_com, "--address", "3", "--format", "csv"}, TimingFor(c.fault));
  StopSimulator();
  EXPECT_EQ(read.exitCode, c.exitCode) << read.err;
  EXPECT_NE(read.out.find(c.out), std::string::npos) << read.out;
  EXPECT_NE(read.err.find(c.err), std::string::npos) << read.err;
}

// Stray bytes and a lost address echo are found by the echo alignment;
// nibbles above 9 decode without complaint (20 31 42 53 at position 4).
INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatorFaults,
    ::testing::Values(FaultCase{"silent", 1, "", "No answer from ZLM\n"},
                      FaultCase{"late", 1, "", "No answer from ZLM\n"},
                      FaultCase{"position", 1, "", "Error reading (mnogitel>8)\n"},
                      FaultCase{"stray", 0, ",3,1234.5678,98765432,", ""},
                      FaultCase{"stray2", 0, ",3,1234.5678,98765432,", ""},
                      FaultCase{"no-address-echo", 0, ",3,1234.5678,98765432,", ""},
                      FaultCase{"invalid-bcd", 0, ",3,2031.4253,20314253,", ""}),
    [](const auto& info) {
      std::string name = info.param.fault;
      std::erase(name, '-');
      return name;
    });

struct BadInputCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  const char* err;
};

class BadInput : public EndToEndTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(BadInput, MessageAndExitCode) {
  const RunResult read = Read(GetParam().args);
  EXPECT_EQ(read.exitCode, GetParam().exitCode) << read.err;
  EXPECT_NE(read.err.find(GetParam().err), std::string::npos) << read.err;
  EXPECT_EQ(read.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadInputCase{
            "AddressAbove31", {"--port", "COM1", "--address", "32"}, 3, "Incorrect Adres ZLM\n"},
        BadInputCase{
            "NegativeAddress", {"--port", "COM1", "--address", "-1"}, 3, "Incorrect Adres ZLM\n"},
        BadInputCase{
            "UnmappedCom", {"--port", "COM250", "--address", "255"}, 4, "No free COM ports\n"},
        BadInputCase{"Com0", {"--port", "COM0", "--address", "255"}, 4, "No free COM ports\n"},
        BadInputCase{
            "NotATty", {"--port", "/dev/null", "--address", "1"}, 4, "No free COM ports\n"},
        BadInputCase{"NotAPath", {"--port", "nowhere", "--address", "1"}, 4, "No free COM ports\n"},
        BadInputCase{"UnknownFormat",
                     {"--port", "COM1", "--address", "1", "--format", "xml"},
                     2,
                     "--format"},
        BadInputCase{"NoPort", {"--address", "1"}, 2, "--port"},
        // A leading zero is decimal, not octal: 032 is meter 32 (not 26).
        BadInputCase{"LeadingZeroAddress",
                     {"--port", "COM1", "--address", "032"},
                     3,
                     "Incorrect Adres ZLM\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, SimulatorNeverReplacesAnotherLink) {
  fs::create_directories(PortDir());
  fs::create_symlink("/dev/null", PortDir() / "COM9");
  const RunResult sim = RunProgram({ZLM_METER_SIM, "--com", "9"}, Env());
  EXPECT_NE(sim.exitCode, 0);
  EXPECT_EQ(sim.out, "");
  EXPECT_EQ(fs::read_symlink(PortDir() / "COM9"), "/dev/null");
}

TEST_F(EndToEndTest, SimulatorRefusesABadCommandLineWithTwo) {
  const std::vector<std::vector<std::string>> badLines = {
      {"--address", "40"},         {"--fault", "nonsense"},  {"--com", "x"},
      {"--silent-meter", "4@9-3"}, {"--silent-meter", "40"}, {"--no-such-option"}};
  for (const std::vector<std::string>& args : badLines) {
    const RunResult sim = RunProgram(Concat({ZLM_METER_SIM}, args), Env());
    EXPECT_EQ(sim.exitCode, 2) << args.front() << ": " << sim.err;
    EXPECT_EQ(sim.out, "");
    EXPECT_FALSE(fs::exists(PortDir())) << "nothing is published for a bad command line";
  }
}

// Both programs answer --help and --version alike, before any other check of
// the command line, and publish nothing.
TEST_F(EndToEndTest, HelpAndVersionOfBothPrograms) {
  struct Case {
    std::vector<std::string> argv;
    std::string outStart;
  };
  const Case cases[] = {
      {{ZLM_READ, "--help"}, "Usage: zlm-read [OPTIONS]\n\n"},
      {{ZLM_READ, "--version"}, "zlm-read " ZLM_VERSION "\n"},
      {{ZLM_READ, "--port", "COM1", "--version"}, "zlm-read " ZLM_VERSION "\n"},
      {{ZLM_METER_SIM, "--help"}, "Usage: zlm-meter-sim [OPTIONS]\n\n"},
      {{ZLM_METER_SIM, "--version"}, "zlm-meter-sim " ZLM_VERSION "\n"},
      {{ZLM_METER_SIM, "--com", "7", "--version"}, "zlm-meter-sim " ZLM_VERSION "\n"},
  };
  for (const Case& c : cases) {
    const RunResult run = RunProgram(c.argv, Env());
    SCOPED_TRACE(c.argv.front() + " " + c.argv.back());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind(c.outStart, 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
    if (c.argv.back() == "--help") {
      EXPECT_NE(run.out.find("\nExamples:\n  $ " + fs::path(c.argv.front()).filename().string()),
                std::string::npos)
          << run.out;
    }
  }
  EXPECT_FALSE(fs::exists(PortDir()));
}

TEST_F(EndToEndTest, SimulatorTakesAFreeNumberAndReadsRepeat) {
  fs::create_directories(PortDir());
  for (const char* taken : {"COM1", "COM2", "COM3"}) {
    fs::create_symlink("/dev/null", PortDir() / taken);
  }
  StartSimulator({"--address", "4"});
  EXPECT_GT(std::stoi(m_com.substr(3)), 3);
  // Readings change between cycles: the volume integrates the flow.
  const RunResult read = Read(
      {"--port", m_com, "--address", "4", "--count", "2", "--interval", "0.6", "--format", "csv"});
  StopSimulator();
  EXPECT_EQ(read.exitCode, 0) << read.err;
  std::istringstream lines(read.out);
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(header.rfind("time,port,address,volume_m3,", 0), 0u);
  EXPECT_NE(first.substr(first.find(',')), second.substr(second.find(',')));
}

// After kill -9 the pty's number goes to the next terminal opened (here the
// test's own, standing in for someone's shell); the leftover link must not
// reach it.
TEST_F(EndToEndTest, LinkOfAKilledSimulatorLeadsNowhere) {
  StartSimulator({"--address", "1"});
  m_simulator->Signal(SIGKILL);
  m_simulator->Wait(kProcessLimit);
  ASSERT_TRUE(fs::is_symlink(PortDir() / m_com));
  EXPECT_FALSE(fs::exists(PortDir() / m_com));

  const PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  if (pty.Slave() != m_device) {
    GTEST_SKIP() << "the kernel gave the freed pty number to another process";
  }
  const RunResult read = Read({"--port", m_com, "--address", "1"});
  EXPECT_EQ(read.exitCode, 4) << read.err;
  EXPECT_NE(read.err.find("No free COM ports"), std::string::npos) << read.err;
  int queued = -1;
  EXPECT_EQ(::ioctl(pty.Master(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0) << "bytes reached the new terminal";
}

// Addresses the window's field would not take, and intervals that cannot
// be waited for, are command-line errors with a short message.
TEST_F(EndToEndTest, UnreadableAddressesAndIntervalsAreRejected) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"--address", {"", "0x1F", "7m", "7.0", "99999999999999999999"}},
      {"--interval", {"nan", "inf", "0", "-2", "1e-300", "1e12", "soon", "0x10"}}};
  for (const auto& [option, values] : cases) {
    for (const std::string& value : values) {
      SCOPED_TRACE(option + " '" + value + "'");
      std::vector<std::string> args = {"--port", "COM1", option, value};
      if (option != "--address") args.insert(args.end(), {"--address", "1"});
      const RunResult read = Read(args);
      EXPECT_EQ(read.exitCode, 2) << read.err;
      EXPECT_EQ(read.err.rfind(option + ": ", 0), 0u) << read.err;
      EXPECT_LE(read.err.size(), 160u) << read.err;
    }
  }
}

struct StopCase {
  const char* name;
  int signal;
  const char* interval;
};

class StopsOnSignal : public EndToEndTest, public ::testing::WithParamInterface<StopCase> {};

// The start of a JSON row's cycle ("time":"2026-12-08T10:18:45.985+00:00"),
// on the system clock.
std::chrono::system_clock::time_point RowTime(const std::string& row) {
  const std::size_t at = row.find("\"time\":\"");
  std::tm t{};
  int ms = 0, offsetHours = 0, offsetMinutes = 0;
  char sign = '+';
  if (at == std::string::npos ||
      std::sscanf(row.c_str() + at + 8, "%d-%d-%dT%d:%d:%d.%d%c%d:%d", &t.tm_year, &t.tm_mon,
                  &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &ms, &sign, &offsetHours,
                  &offsetMinutes) != 10) {
    ADD_FAILURE() << "no time in " << row;
    return {};
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const std::chrono::minutes offset((sign == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes));
  return std::chrono::system_clock::from_time_t(::timegm(&t)) + std::chrono::milliseconds(ms) -
         offset;
}

// A signal ends the reader within one cycle whatever the interval, even one
// shorter than a cycle: at most the meter in progress is finished, no cycle
// starts after the signal came; and the port is free again.
TEST_P(StopsOnSignal, WithinOneCycleAndThePortIsReleased) {
  const StopCase& c = GetParam();
  StartSimulator(Concat({"--address", "5"}, kFixedValues));
  std::vector<std::string> argv = {ZLM_READ,   "--port", m_com,        "--address", "5",
                                   "--format", "json",   "--interval", c.interval};
  Subprocess reader(argv, Env());
  ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();
  reader.Signal(c.signal);
  // The signal is pending from here on (rows carry milliseconds).
  const auto sent =
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
  const int exitCode = reader.Wait(kProcessLimit);
  EXPECT_EQ(exitCode, 0) << reader.Err();
  std::istringstream rows(reader.Out());
  int startedAfter = 0;
  for (std::string row; std::getline(rows, row);) startedAfter += RowTime(row) > sent ? 1 : 0;
  // One cycle may have checked for a stop just before the signal and taken
  // its time just after it.
  EXPECT_LE(startedAfter, 1) << reader.Out();

  const RunResult again = Read({"--port", m_com, "--address", "5", "--format", "json"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find(kFixedJson), std::string::npos) << again.out;
  StopSimulator();
}

INSTANTIATE_TEST_SUITE_P(Cases, StopsOnSignal,
                         ::testing::Values(StopCase{"TermShorterThanACycle", SIGTERM, "0.3"},
                                           StopCase{"IntShorterThanACycle", SIGINT, "0.3"},
                                           StopCase{"HupShorterThanACycle", SIGHUP, "0.3"},
                                           StopCase{"TermLongerThanACycle", SIGTERM, "1.5"},
                                           // A year between cycles: no overflow in the schedule.
                                           StopCase{"IntYear", SIGINT, "31536000"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SeveralMetersCase {
  const char* name;
  std::vector<std::string> addressArgs;
  std::vector<int> read;     // meters whose readings are printed, in order, per cycle
  std::vector<int> failing;  // meters reported as failing, per cycle
};

class SeveralMeters : public EndToEndTest,
                      public ::testing::WithParamInterface<SeveralMetersCase> {};

// Each cycle reads the meters in turn; one that does not answer is reported
// for itself and the others are read on; the exit code tells.
TEST_P(SeveralMeters, ReadInTurnFailuresApart) {
  const SeveralMetersCase& c = GetParam();
  StartSimulator(Concat({"--address", "2", "--address", "6"}, kFixedValues));
  std::vector<std::string> args = {"--port",     m_com,  "--count",  "2",
                                   "--interval", "0.01", "--format", "csv"};
  args.insert(args.end(), c.addressArgs.begin(), c.addressArgs.end());
  const RunResult read = Read(args);
  StopSimulator();

  EXPECT_EQ(read.exitCode, c.failing.empty() ? 0 : 1) << read.err;
  std::string expectedOut, expectedErr;
  for (int cycle = 0; cycle < 2; ++cycle) {
    for (const int address : c.read) {
      expectedOut += "," + m_com + "," + std::to_string(address) + ",1234.5678,";
    }
    for (const int address : c.failing) {
      expectedErr += "address " + std::to_string(address) + ": No answer from ZLM\n";
    }
  }
  // Port, address and volume of each row after the header; a failed
  // cycle's row only counted.
  std::string out;
  std::size_t failedRows = 0;
  std::istringstream lines(read.out);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    if (line.find(",failed,") != std::string::npos) {
      ++failedRows;
      continue;
    }
    std::istringstream fields(line);
    std::string time, port, address, volume;
    std::getline(
        std::getline(std::getline(std::getline(fields, time, ','), port, ','), address, ','),
        volume, ',');
    out += "," + port + "," + address + "," + volume + ",";
  }
  EXPECT_EQ(out, expectedOut) << read.out;
  EXPECT_EQ(failedRows, 2 * c.failing.size()) << read.out;
  // Each failure is followed by the line that explains it.
  std::string failures;
  std::size_t explained = 0;
  std::istringstream errLines(read.err);
  for (std::string line; std::getline(errLines, line);) {
    if (line.starts_with("hint: ") || line.starts_with("cause: ")) {
      ++explained;
    } else {
      failures += line + "\n";
    }
  }
  EXPECT_EQ(failures, expectedErr);
  EXPECT_EQ(explained, 2 * c.failing.size()) << read.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeveralMeters,
    ::testing::Values(SeveralMetersCase{"List", {"--address", "6,2"}, {6, 2}, {}},
                      SeveralMetersCase{
                          "Repeated", {"--address", "2", "--address", "6"}, {2, 6}, {}},
                      SeveralMetersCase{"OneAbsent", {"--address", "2,9,6"}, {2, 6}, {9}}),
    [](const auto& info) { return std::string(info.param.name); });

// Lists that cannot be read are command-line errors, before the port opens.
TEST_F(EndToEndTest, AddressListsThatCannotBeRead) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"1,,3"}, "'' is not a decimal whole number"},
      {{"1,x"}, "'x' is not a decimal whole number"},
      {{"3,03"}, "address 3 is given twice"},
      {{"1", "255"}, "255 reaches every meter"},
  };
  for (const auto& [values, message] : cases) {
    std::vector<std::string> args = {"--port", "COM1"};
    for (const std::string& value : values) args.insert(args.end(), {"--address", value});
    const RunResult read = Read(args);
    EXPECT_EQ(read.exitCode, 2) << read.err;
    EXPECT_EQ(read.err.rfind("--address: ", 0), 0u) << read.err;
    EXPECT_NE(read.err.find(message), std::string::npos) << read.err;
  }
}

// Addresses are decimal however they are written, as in the window.
TEST_F(EndToEndTest, AddressWithLeadingZeroIsDecimal) {
  StartSimulator(Concat({"--address", "17"}, kFixedValues));
  const RunResult read = Read({"--port", m_com, "--address", "017", "--format", "json"});
  StopSimulator();
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.out.find("\"address\":17,"), std::string::npos) << read.out;
}

// The simulator names its own slips: an answer it could not send in time
// (it was stopped between the code and the checksum of a request) is
// reported in its log as late, an answer sent at once is not.
TEST_F(EndToEndTest, SimulatorLogsItsOwnLateAnswers) {
  using namespace std::chrono_literals;
  StartSimulator(Concat({"--address", "5"}, kFixedValues));
  const int fd = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  // Sent without stick parity, a request is recognised by its checksum.
  const unsigned char request[] = {5, 1, 6};
  const auto answered = [fd] {
    std::string got;
    for (int i = 0; i < 100 && got.size() < 3 + 8; ++i) {
      std::this_thread::sleep_for(10ms);
      char buffer[64];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got.size();
  };
  ASSERT_EQ(::write(fd, request, 3), 3);
  EXPECT_EQ(answered(), 3u + 8u);

  // Waits, within the limit, until done() holds.
  const auto until = [](const auto& done) {
    const auto end = std::chrono::steady_clock::now() + kProcessLimit;
    while (std::chrono::steady_clock::now() < end) {
      if (done()) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  };
  // The simulator stopped between the second byte (taken: in its log) and
  // the checksum, and held there for 60 ms: it answers that much late.
  // Every thread of the simulator in the given state (/proc's letter): all
  // sleeping means it waits for the line, not between two of its steps.
  const fs::path tasks = "/proc/" + std::to_string(m_simulator->Pid()) + "/task";
  const auto allThreads = [&tasks](char state) {
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
      std::ifstream in(task.path() / "stat");
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::size_t end = text.rfind(')');
      if (end == std::string::npos || end + 2 >= text.size() || text[end + 2] != state)
        return false;
    }
    return !error;
  };
  ASSERT_EQ(::write(fd, request, 2), 2);
  ASSERT_TRUE(until([&] { return HeardBytes(LogPath()).size() == 3u + 2u && allThreads('S'); }));
  m_simulator->Signal(SIGSTOP);
  ASSERT_TRUE(until([&] { return allThreads('T'); }));
  ASSERT_EQ(::write(fd, request + 2, 1), 1);
  std::this_thread::sleep_for(60ms);
  m_simulator->Signal(SIGCONT);
  EXPECT_EQ(answered(), 3u + 8u);
  ::close(fd);
  StopSimulator();

  std::ifstream log(LogPath());
  std::vector<double> lateMs;
  bool schedulingNoted = false;
  for (std::string line; std::getline(log, line);) {
    schedulingNoted = schedulingNoted || line.find(" note answering at ") != std::string::npos ||
                      line.find(" note real-time scheduling not permitted") != std::string::npos;
    const auto at = line.find(" late answer from meter 5");
    if (at != std::string::npos) lateMs.push_back(std::stod(line.substr(line.rfind(": ") + 2)));
  }
  EXPECT_TRUE(schedulingNoted);
  ASSERT_FALSE(lateMs.empty());
  EXPECT_GE(lateMs.back(), 50.0);
}

struct ExplainCase {
  const char* fault;
  const char* err;  // the message and the line after it
};

class ExplainsFailures : public EndToEndTest, public ::testing::WithParamInterface<ExplainCase> {};

// After the failure message comes one line that says why.
TEST_P(ExplainsFailures, CauseAfterTheMessage) {
  StartSimulator(Concat({"--address", "3", "--fault", GetParam().fault}, kFixedValues));
  const RunResult read = Read({"--port", m_com, "--address", "3"}, TimingFor(GetParam().fault));
  StopSimulator();
  EXPECT_EQ(read.exitCode, 1);
  EXPECT_EQ(read.err.rfind(GetParam().err, 0), 0u) << read.err;
  EXPECT_EQ(std::count(read.err.begin(), read.err.end(), '\n'), 2) << read.err;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExplainsFailures,
    ::testing::Values(
        ExplainCase{"silent",
                    "No answer from ZLM\nhint: the request was echoed but no meter answered"},
        ExplainCase{"late", "No answer from ZLM\ncause: the answer came after the read"},
        ExplainCase{"short", "No answer from ZLM\ncause: the answer was too short"},
        ExplainCase{"position", "Error reading (mnogitel>8)\ncause: the answer's decimal"}),
    [](const auto& info) { return std::string(info.param.fault); });

struct ScanCase {
  const char* fault;
  int exitCode;
  const char* found;
  const char* err;
};

class ScansTheBus : public EndToEndTest, public ::testing::WithParamInterface<ScanCase> {};

// Addresses 0..31 asked once each; the rows and the addresses that
// answered, or why none did. (How long a scan takes is counted on the
// simulated line's clock, in the scan's own test.)
TEST_P(ScansTheBus, FindsTheMeters) {
  const ScanCase& c = GetParam();
  std::vector<std::string> args = {"--address", "3", "--address", "7"};
  if (*c.fault) args.insert(args.end(), {"--fault", c.fault});
  StartSimulator(Concat(args, kFixedValues));
  const RunResult scan = Read({"--port", m_com, "--scan"});
  StopSimulator();
  EXPECT_EQ(scan.exitCode, c.exitCode) << scan.err;
  EXPECT_EQ(scan.out.rfind("address  echo  answer  nominal_diameter\n", 0), 0u) << scan.out;
  EXPECT_NE(scan.out.find("\n      0  yes   none    \n"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find(c.found), std::string::npos) << scan.out;
  EXPECT_EQ(scan.err.rfind(c.err, 0), 0u) << scan.err;
  // Each address once: 32 requests of three bytes.
  EXPECT_EQ(HeardBytes(LogPath()).size(), 96u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ScansTheBus,
    ::testing::Values(ScanCase{"", 0,
                               "      3  yes   ok      50.000000 mm\n"
                               "      4  yes   none    \n",
                               ""},
                      ScanCase{"silent", 1, "\nmeters found: none\n",
                               "hint: every request was echoed but no meter answered"}),
    [](const auto& info) { return *info.param.fault ? info.param.fault : "clean"; });

TEST_F(EndToEndTest, ScanFoundLineAndMachineFormats) {
  StartSimulator(Concat({"--address", "3", "--address", "7"}, kFixedValues));
  const RunResult table = Read({"--port", m_com, "--scan"});
  const RunResult json = Read({"--port", m_com, "--scan", "--format", "json"});
  const RunResult both = Read({"--port", m_com, "--scan", "--address", "3"});
  StopSimulator();
  EXPECT_NE(table.out.find("\nmeters found: 3, 7\n"), std::string::npos) << table.out;
  EXPECT_NE(json.out.find("{\"address\":7,\"echo\":true,\"answer\":\"ok\","
                          "\"nominal_diameter\":50.000000}\n"),
            std::string::npos)
      << json.out;
  EXPECT_EQ(json.err, "meters found: 3, 7\n");
  EXPECT_EQ(both.exitCode, 2);
}

// --trace and ZLM_TRACE append the same trace; a trace that cannot be
// written does not stop the read.
TEST_F(EndToEndTest, TraceFromTheOptionAndTheEnvironment) {
  StartSimulator(Concat({"--address", "3"}, kFixedValues));
  const fs::path trace = m_config / "trace";
  const RunResult option = Read({"--port", m_com, "--address", "3", "--trace", trace.string()});
  EnvChanges env = Env();
  env["ZLM_TRACE"] = trace.string();
  const RunResult fromEnv = RunProgram({ZLM_READ, "--port", m_com, "--address", "3"}, env);
  env["ZLM_TRACE"] = (m_config / "no" / "trace").string();
  const RunResult broken = RunProgram({ZLM_READ, "--port", m_com, "--address", "3"}, env);
  StopSimulator();
  EXPECT_EQ(option.exitCode, 0) << option.err;
  EXPECT_EQ(fromEnv.exitCode, 0) << fromEnv.err;
  EXPECT_EQ(broken.exitCode, 0) << broken.err;
  EXPECT_EQ(broken.err.rfind("zlm-read: no trace: cannot open ", 0), 0u) << broken.err;

  std::ifstream in(trace);
  int runs = 0, marks = 0, exchanges = 0;
  for (std::string line; std::getline(in, line);) {
    runs += line.starts_with("# zlm-read trace started ");
    marks += line.find(" write 03 mark: 1 written") != std::string::npos;
    exchanges += line.find(" exchange 03 ") != std::string::npos;
  }
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(marks, 14);
  EXPECT_EQ(exchanges, 14);
}

}  // namespace
