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
  const char* answerAtThree;  // address 0 never has a meter and answers "none"
};

std::vector<ScanRow> Scan(const ScanCase& c, SimSerialPort& sim) {
  sim.AddPort(1);
  sim.SetEcho(1, c.echo);
  for (const int32_t address : c.meters) sim.AttachMeter(1, address).SetValue(119, 50000000, 2);
  sim.SetFaults(1, {.bus = c.faults});
  return ScanBus(sim, sim.CreateFile(ComDevicePath(1)));
}

TEST(ScanBus, FindsTheMetersAndWhatTheLineShowed) {
  const ScanCase kCases[] = {
      {"two meters", {3, 7}, true, {}, {3, 7}, "ok"},
      {"silent", {3, 7}, true, {.silent = true}, {}, "none"},
      {"no bytes", {}, false, {}, {}, "none"},
      {"slow", {3}, true, {.late = true, .lateMs = 25}, {}, "late"},
      {"short", {3}, true, {.answerCut = 5}, {}, "short"},
  };
  for (const ScanCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SimSerialPort sim;
    const std::vector<ScanRow> rows = Scan(c, sim);
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(MetersFound(rows), c.found);
    EXPECT_EQ(rows[0].echoSeen, c.echo);
    EXPECT_STREQ(AnswerName(rows[0].answer), "none");
    EXPECT_STREQ(AnswerName(rows[3].answer), c.answerAtThree);
    // One request per address, each with its own mark and two spaces.
    EXPECT_EQ(sim.Written(1).size(), 96u);
    // 32 exchanges of 62 ms, and a short wait for late answers where none came.
    EXPECT_LE(sim.NowMs(), 32u * (62 + kScanLateWaitMs));
  }
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
