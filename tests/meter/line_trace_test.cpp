#include "meter/line_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "meter/reading_cycle.h"
#include "serial/port_discovery.h"
#include "sim/sim_serial_port.h"

namespace {

namespace fs = std::filesystem;

class LineTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("zlm-trace-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(m_dir));
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

// A refused open names the port as the user wrote it, in the cause too.
TEST_F(LineTraceTest, ARefusedOpenNamesThePort) {
  {
    TracedLine traced(m_sim, (m_dir / "trace").string(), "test");
    EXPECT_EQ(traced.Line().CreateFile(ComDevicePath(9)), INVALID_HANDLE_VALUE);
  }
  const std::string trace = Trace();
  EXPECT_NE(trace.find(" open \\\\.\\COM9: failed (cause: no serial device has the number COM9;"),
            std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("the port"), std::string::npos) << trace;
}

// A trace that cannot be opened or written leaves reading as it was.
TEST_F(LineTraceTest, AFailingTraceNeverDisturbsReading) {
  std::vector<std::string> paths = {(m_dir / "missing" / "trace").string()};
#ifndef _WIN32
  paths.push_back("/dev/full");  // opens, but every write fails
#endif
  for (const std::string& path : paths) {
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
  const auto set = [](const char* value) {
#ifdef _WIN32
    ::_putenv_s(kTraceVariable, value);
#else
    ::setenv(kTraceVariable, value, 1);
#endif
  };
  set("from-env");
  EXPECT_EQ(TracePathOf("given"), "given");
  EXPECT_EQ(TracePathOf(""), "from-env");
  set("");
  EXPECT_EQ(TracePathOf(""), "");
  TracedLine none(m_sim, "", "test");
  EXPECT_EQ(&none.Line(), &m_sim);
}

}  // namespace
