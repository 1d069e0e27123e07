// zlm-read left alone: whatever takes its output or its trace goes away or
// stalls, it ends cleanly or reads on.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zlm-unattended-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    if (m_simulator) {
      m_simulator->Signal(SIGTERM);
      m_simulator->Wait(kProcessLimit);
    }
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  EnvChanges Env() const { return {{"XDG_CONFIG_HOME", m_dir.string()}}; }

  void StartSimulator(const std::vector<std::string>& addresses) {
    std::vector<std::string> argv = {ZLM_METER_SIM, "--log", "/dev/null"};
    for (const std::string& a : addresses) argv.insert(argv.end(), {"--address", a});
    m_simulator = std::make_unique<Subprocess>(argv, Env());
    const std::optional<std::string> first = m_simulator->ReadLine(kProcessLimit);
    ASSERT_TRUE(first.has_value()) << m_simulator->Err();
    m_com = first->substr(0, first->find(' '));
    m_device = first->substr(first->find(' ') + 1);
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

  fs::path m_dir;
  std::unique_ptr<Subprocess> m_simulator;
  std::string m_com;
  std::string m_device;
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

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

}  // namespace
