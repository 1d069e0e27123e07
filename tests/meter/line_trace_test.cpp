#include "meter/line_trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "meter/reading_cycle.h"
#include "serial/port_discovery.h"
#include "sim/sim_serial_port.h"

namespace {

namespace fs = std::filesystem;

class LineTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zlm-trace-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_sim.AddPort(3);
    m_sim.AttachMeter(3, 7).SetValue(119, 50, 2);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // One exchange of code 119 with stale bytes waiting, through a trace.
  void ReadThrough(const std::string& path) {
    TracedLine traced(m_sim, path, "test");
    SerialPort& line = traced.Line();
    const HANDLE h = line.CreateFile(ComDevicePath(3));
    ApplyBaseline(line, h);
    m_sim.Deliver(3, {0xAA, 0xBB});
    EXPECT_EQ(ExchangeParameter(line, h, 7, 119).value, 50);
    line.CloseHandle(h);
  }

  std::string Trace() const {
    std::ifstream in(m_dir / "trace");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path m_dir;
  SimSerialPort m_sim;
};

TEST_F(LineTraceTest, EveryOperationAndTheDecodedExchange) {
  ReadThrough((m_dir / "trace").string());
  ReadThrough((m_dir / "trace").string());
  const std::string trace = Trace();
  // Appended: two runs, each with its first line.
  EXPECT_EQ(trace.rfind("# test trace started ", 0), 0u) << trace;
  EXPECT_NE(trace.find("\n# test trace started "), std::string::npos);
  for (const char* expected : {
           " open \\\\.\\COM3: handle ",
           " get settings: 9600 8N1 dtr rts\n",
           " set timeouts read 4294967295/0/0 write 0/1000: ok\n",
           " set settings 9600 8M1 dtr rts: ok\n",
           " purge: ok, discarded 2 aa bb\n",
           " write 07 mark: 1 written\n",
           " wait 10 ms\n",
           " set settings 9600 8S1 dtr rts: ok\n",
           " write 77 space: 1 written\n",
           " write 7e space: 1 written\n",
           " read 12: 11 07 77 7e 07 77 02 00 00 00 50 ",
           " exchange 07 77 7e: echo at shift 0; R0..R6 07 77 02 00 00 00 50, then ",
           "; position 2; value 50 = 0.000050\n",
           " close handle ",
       }) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace;
  }
}

// A trace that cannot be opened or written leaves reading as it was.
TEST_F(LineTraceTest, AFailingTraceNeverDisturbsReading) {
  for (const std::string& path :
       {(m_dir / "missing" / "trace").string(), std::string("/dev/full")}) {
    SCOPED_TRACE(path);
    TracedLine traced(m_sim, path, "test");
    EXPECT_EQ(traced.Error().empty(), path == "/dev/full") << traced.Error();
    SerialPort& line = traced.Line();
    const HANDLE h = line.CreateFile(ComDevicePath(3));
    ApplyBaseline(line, h);
    EXPECT_EQ(ReadAllParameters(line, h, 7).error, nullptr);
    EXPECT_EQ(ExchangeParameter(line, h, 7, 119).value, 50);
    line.CloseHandle(h);
  }
}

TEST_F(LineTraceTest, PathFromTheOptionOrTheEnvironment) {
  ::setenv(kTraceVariable, "/tmp/from-env", 1);
  EXPECT_EQ(TracePathOf("given"), "given");
  EXPECT_EQ(TracePathOf(""), "/tmp/from-env");
  ::unsetenv(kTraceVariable);
  EXPECT_EQ(TracePathOf(""), "");
  TracedLine none(m_sim, "", "test");
  EXPECT_EQ(&none.Line(), &m_sim);
}

}  // namespace
