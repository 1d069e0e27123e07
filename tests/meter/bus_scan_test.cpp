#include "meter/bus_scan.h"

#include <gtest/gtest.h>

#include "sim/sim_serial_port.h"

namespace {

struct ScanCase {
  const char* name;
  std::vector<int32_t> meters;
  bool echo;
  BusFaults faults;
  std::vector<int32_t> found;
  const char* answerElsewhere;  // the answer of an address without a meter
  const char* explanation;      // start of the line; "" when a meter answered
};

std::vector<ScanRow> Scan(const ScanCase& c, SimSerialPort& sim) {
  sim.AddPort(1);
  sim.SetEcho(1, c.echo);
  for (const int32_t address : c.meters) sim.AttachMeter(1, address).SetValue(119, 50000000, 2);
  sim.SetFaults(1, {.bus = c.faults});
  return ScanBus(sim, sim.CreateFile(ComDevicePath(1)));
}

TEST(ScanBus, FindsTheMetersOrTellsWhyNot) {
  const ScanCase kCases[] = {
      {"two meters", {3, 7}, true, {}, {3, 7}, "none", ""},
      {"silent", {3, 7}, true, {.silent = true}, {}, "none", "hint: every request was echoed"},
      {"no bytes", {}, false, {}, {}, "none", "cause: no bytes came back on COM1"},
      {"slow", {3}, true, {.late = true, .lateMs = 25}, {}, "none", "cause: answers came after"},
      {"short", {3}, true, {.answerCut = 5}, {}, "none", "cause: answers were too short"},
  };
  for (const ScanCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SimSerialPort sim;
    const std::vector<ScanRow> rows = Scan(c, sim);
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(MetersFound(rows), c.found);
    EXPECT_EQ(rows[0].echoSeen, c.echo);
    EXPECT_STREQ(AnswerName(rows[0].answer), c.answerElsewhere);
    EXPECT_EQ(ExplainEmptyScan(rows, "COM1").rfind(c.explanation, 0), 0u)
        << ExplainEmptyScan(rows, "COM1");
    // One request per address, each with its own mark and two spaces.
    EXPECT_EQ(sim.Written(1).size(), 96u);
    // 32 exchanges of 62 ms, and a short wait for late answers where none came.
    EXPECT_LE(sim.NowMs(), 32u * (62 + kScanLateWaitMs));
  }
}

TEST(ScanBus, PrintedForms) {
  SimSerialPort sim;
  std::vector<ScanRow> rows = Scan({"", {3}, true, {}, {}, "", ""}, sim);
  rows.resize(4);
  EXPECT_EQ(FoundLine(rows), "meters found: 3");
  EXPECT_EQ(FormatScan(OutputFormat::kTable, {rows[2], rows[3]}),
            "address  echo  answer  nominal_diameter\n"
            "      2  yes   none    \n"
            "      3  yes   ok      50.000000 mm\n");
  EXPECT_EQ(FormatScan(OutputFormat::kCsv, {rows[3]}),
            "address,echo,answer,nominal_diameter\n3,yes,ok,50.000000\n");
  EXPECT_EQ(FormatScan(OutputFormat::kJson, {rows[2], rows[3]}),
            "{\"address\":2,\"echo\":true,\"answer\":\"none\",\"nominal_diameter\":null}\n"
            "{\"address\":3,\"echo\":true,\"answer\":\"ok\",\"nominal_diameter\":50.000000}\n");
  EXPECT_EQ(FoundLine({}), "meters found: none");
}

TEST(ScanBus, StopsWhenAskedAndWhenTheLineRefuses) {
  SimSerialPort sim;
  sim.AddPort(1);
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  EXPECT_EQ(ScanBus(sim, h, [](int32_t address) { return address < 5; }).size(), 5u);
  sim.SetFaults(1, {.refuseSettings = SettingsRefusal::kMarkParity});
  const std::vector<ScanRow> rows = ScanBus(sim, h);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].sent);
  EXPECT_STREQ(rows[0].error, kMsgApplyMarkMode);
}

}  // namespace
