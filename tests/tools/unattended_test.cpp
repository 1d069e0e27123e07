// zlm-read left alone: whatever takes its output or its trace goes away or
// stalls, it ends cleanly or reads on.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_process.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class UnattendedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (m_simulator) {
      m_simulator->Signal(SIGTERM);
      m_simulator->Wait(kProcessLimit);
    }
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_dir.Path().string()}}; }

  // extra: more of the simulator's options (--com, --silent-meter).
  void StartSimulator(const std::vector<std::string>& addresses,
                      const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--log", "/dev/null"};
    for (const std::string& a : addresses) args.insert(args.end(), {"--address", a});
    args.insert(args.end(), extra.begin(), extra.end());
    SimulatorProcess simulator = StartSimulatorProcess(ZLM_METER_SIM, args, Env());
    m_simulator = std::move(simulator.process);
    m_com = simulator.com;
    m_device = simulator.device;
    ASSERT_EQ(simulator.error, "");
  }

  // The UUCP lock the reader takes for the simulator's device, where the
  // system's lock directory lets it write one; empty otherwise.
  std::string LockFile() const {
    for (const char* dir : {"/run/lock", "/var/lock"}) {
      if (!fs::is_directory(dir)) continue;
      if (::access(dir, W_OK) != 0) return {};
      std::string name = m_device.substr(std::string("/dev/").size());
      for (char& c : name) {
        if (c == '/') c = '_';
      }
      return std::string(dir) + "/LCK.." + name;
    }
    return {};
  }

  ScratchDir m_dir{"zlm-unattended"};
  std::unique_ptr<Subprocess> m_simulator;
  std::string m_com;
  std::string m_device;
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// A CSV row's meter and time (seconds of the day, from its timestamp), and
// whether it holds a reading (rather than a failed cycle).
struct Row {
  int address = -1;
  double seconds = 0;
  bool ok = false;
};

Row RowOf(const std::string& line) {
  Row row;
  int h = 0;
  int m = 0;
  double sec = 0;
  char port[64] = {};
  if (std::sscanf(line.c_str(), "%*4d-%*2d-%*2dT%d:%d:%lf%*6[^,],%63[^,],%d", &h, &m, &sec, port,
                  &row.address) == 5) {
    row.seconds = h * 3600 + m * 60 + sec;
  }
  row.ok = line.ends_with(",ok,0");
  return row;
}

// The next row that holds a reading; nothing at the end or the limit.
std::optional<Row> NextReading(Subprocess& reader) {
  while (const std::optional<std::string> line = reader.ReadLine(kProcessLimit)) {
    if (const Row row = RowOf(*line); row.ok) return row;
  }
  return std::nullopt;
}

// Seconds from one row to the next, across midnight too.
double Gap(const Row& from, const Row& to) {
  const double gap = to.seconds - from.seconds;
  return gap < 0 ? gap + 86400 : gap;
}

// `| head -1`: the reader ends when the pipe closes, with 0, its port
// closed and its lock file removed.
TEST_F(UnattendedTest, ClosedOutputEndsTheReaderAndRemovesItsLock) {
  StartSimulator({"4"});
  const std::string lock = LockFile();
  const std::string command = Quoted(ZLM_READ) + " --port " + m_com +
                              " --address 4 --interval 0.05 --format csv | head -1; "
                              "echo \"exit ${PIPESTATUS[0]}\" >&2";
  const RunResult run = RunProgram({"/bin/bash", "-c", command}, Env());
  EXPECT_EQ(run.out.rfind("time,port,address,", 0), 0u) << run.out;
  EXPECT_NE(run.err.find("exit 0"), std::string::npos) << run.err;
  if (!lock.empty()) {
    EXPECT_FALSE(fs::exists(lock)) << lock;
  }
}

enum class FifoReader { kNone, kStalled, kGoesAway };

struct TraceCase {
  const char* name;
  FifoReader fifoReader;
};

class TraceToFifo : public UnattendedTest, public ::testing::WithParamInterface<TraceCase> {};

// Whatever the FIFO's reader does (none, one that never reads, one that
// goes away), the reader reads on and a stop request ends it at once.
TEST_P(TraceToFifo, NeverHoldsUpReadingOrStopping) {
  const TraceCase& c = GetParam();
  StartSimulator({"4"});
  const std::string fifo = (m_dir / "trace").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int traceReader = -1;
  if (c.fifoReader != FifoReader::kNone) {
    traceReader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(traceReader, 0);
  }
  // Read quickly, so that a stalled pipe fills within the run.
  Subprocess reader({ZLM_READ, "--port", m_com, "--address", "4", "--interval", "0.01", "--format",
                     "csv", "--trace", fifo},
                    Env());
  ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();  // the header
  ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();
  if (c.fifoReader == FifoReader::kGoesAway) {
    char some[64];
    EXPECT_GT(::read(traceReader, some, sizeof some), 0);
    ::close(traceReader);
    traceReader = -1;
  }
  // About 4 kB of trace each: twice what a pipe holds.
  for (int rows = 0; rows < 30; ++rows) {
    ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();
  }
  reader.Signal(SIGTERM);
  // Ended by itself (1 when a reading failed on a loaded machine), not by a
  // signal.
  const int exitCode = reader.Wait(kProcessLimit);
  EXPECT_TRUE(reader.Exited() && (exitCode == 0 || exitCode == 1)) << reader.Err();
  EXPECT_EQ(reader.Err().find("no trace: cannot open") != std::string::npos,
            c.fifoReader == FifoReader::kNone)
      << reader.Err();
  if (traceReader >= 0) ::close(traceReader);
}

INSTANTIATE_TEST_SUITE_P(Readers, TraceToFifo,
                         ::testing::Values(TraceCase{"NoReader", FifoReader::kNone},
                                           TraceCase{"Stalled", FifoReader::kStalled},
                                           TraceCase{"GoesAway", FifoReader::kGoesAway}),
                         [](const auto& info) { return std::string(info.param.name); });

// The simulator killed, and started again on the same COM number while the
// reader waits: reading resumes within two backoff steps, and each change is
// one line on stderr.
TEST_F(UnattendedTest, LineComesBackByItself) {
  StartSimulator({"4"}, {"--com", "7"});
  Subprocess reader(
      {ZLM_READ, "--port", "COM7", "--address", "4", "--interval", "0.5", "--format", "csv"},
      Env());
  for (int rows = 0; rows < 3; ++rows) {
    ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();
  }
  m_simulator->Signal(SIGKILL);
  m_simulator->Wait(kProcessLimit);
  m_simulator.reset();
  // Away for longer than the first backoff step (1 s, then 2 s).
  std::this_thread::sleep_for(2500ms);
  StartSimulator({"4"}, {"--com", "7"});
  ASSERT_EQ(m_com, "COM7");
  const auto back = std::chrono::steady_clock::now();
  const std::optional<Row> next = NextReading(reader);
  const auto took = std::chrono::steady_clock::now() - back;
  ASSERT_TRUE(next.has_value()) << reader.Err();
  EXPECT_EQ(next->address, 4);
  // The next attempt is at most 4 s away, the one after it 8 s.
  EXPECT_LT(took, 4s + 8s);
  reader.Signal(SIGTERM);
  EXPECT_EQ(reader.Wait(kProcessLimit), 1) << reader.Err();  // readings failed meanwhile
  const std::string& err = reader.Err();
  EXPECT_EQ(Occurrences(err, "zlm-read: COM7 lost; opening it again in 1 s"), 1u) << err;
  EXPECT_EQ(Occurrences(err, "zlm-read: COM7 open again after"), 1u) << err;
  EXPECT_NE(err.find("went away"), std::string::npos) << err;
  EXPECT_EQ(err.find("did not keep 9600 baud"), std::string::npos) << err;
}

// A meter silent for 30 s among two good ones: the good ones keep their
// interval within 5 %, the silent one is asked less often, and every cycle
// again once it answers.
TEST_F(UnattendedTest, SilentMeterDoesNotHoldUpTheOthers) {
  StartSimulator({"2", "4", "6"}, {"--silent-meter", "4@2-32"});
  constexpr double kInterval = 2.0;
  Subprocess reader(
      {ZLM_READ, "--port", m_com, "--address", "2,4,6", "--interval", "2", "--format", "csv"},
      Env());
  ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();  // the header
  std::map<int, std::vector<Row>> rows;
  bool silenced = false;
  for (;;) {  // until meter 4 answers after its silence
    const std::optional<std::string> line = reader.ReadLine(kProcessLimit);
    ASSERT_TRUE(line.has_value()) << reader.Err();
    const Row row = RowOf(*line);
    if (!row.ok) {
      silenced = silenced || row.address == 4;
      continue;
    }
    rows[row.address].push_back(row);
    if (row.address == 4 && silenced) break;
    ASSERT_LT(rows[2].size(), 40u) << "meter 4 never came back: " << reader.Err();
  }
  reader.Signal(SIGTERM);
  reader.Wait(kProcessLimit);
  // From the third pass on (the first after 4 failed has them in their new order).
  for (const int good : {2, 6}) {
    SCOPED_TRACE(good);
    const std::vector<Row>& r = rows[good];
    ASSERT_GE(r.size(), 15u);
    // Their cadence within 5 %; no reading held up (one meter's read time
    // shifts the next one's start a little on a loaded machine).
    const std::size_t first = 2;
    const double mean = Gap(r[first], r.back()) / static_cast<double>(r.size() - 1 - first);
    EXPECT_NEAR(mean, kInterval, kInterval * 0.05);
    for (std::size_t i = first + 1; i < r.size(); ++i) {
      EXPECT_NEAR(Gap(r[i - 1], r[i]), kInterval, kInterval * 0.25) << i;
    }
  }
  const std::string& err = reader.Err();
  EXPECT_NE(err.find("address 4 failed 3 times in a row: asked every 2nd cycle"), std::string::npos)
      << err;
  EXPECT_NE(err.find("address 4 answers again: asked every cycle"), std::string::npos) << err;
  // Asked far fewer than the 15 times of its silence.
  EXPECT_LE(Occurrences(err, "address 4: No answer from ZLM"), 8u) << err;
}

// Stopped for several intervals and continued: the cycles it missed are
// skipped, not caught up back to back.
TEST_F(UnattendedTest, MissedCyclesAreSkipped) {
  StartSimulator({"4"});
  Subprocess reader(
      {ZLM_READ, "--port", m_com, "--address", "4", "--interval", "1.5", "--format", "csv"}, Env());
  for (int rows = 0; rows < 3; ++rows) {
    ASSERT_TRUE(reader.ReadLine(kProcessLimit).has_value()) << reader.Err();
  }
  reader.Signal(SIGSTOP);
  std::this_thread::sleep_for(5s);  // the stall: three cycles' starts pass
  reader.Signal(SIGCONT);
  // The first may have been started before the stall, the second taken
  // at the next start on the schedule; a catch-up would follow back to back.
  std::vector<Row> after;
  for (int rows = 0; rows < 5; ++rows) {
    const std::optional<Row> row = NextReading(reader);
    ASSERT_TRUE(row.has_value()) << reader.Err();
    after.push_back(*row);
  }
  reader.Signal(SIGTERM);
  reader.Wait(kProcessLimit);
  for (std::size_t i = 2; i < after.size(); ++i) {
    EXPECT_GT(Gap(after[i - 1], after[i]), 1.0) << i;  // back to back would be 0.44 s
  }
}

}  // namespace
