#include "tools/zlm_read/read_loop.h"

#include <gtest/gtest.h>

#include "sim/sim_serial_port.h"
#include "tools/zlm_read/options.h"

namespace {

// What the sinks heard, one word per meter: "3" read, "5!" failed.
class RecordingSink final : public ReadingSink {
 public:
  explicit RecordingSink(std::vector<std::string>& heard) : m_heard(heard) {}
  void Read(const MeterCycle& cycle) override {
    ASSERT_EQ(cycle.readings.size(), kParameters.size());
    m_heard.push_back(std::to_string(cycle.address));
  }
  void Failed(const MeterFailure& failure) override {
    EXPECT_EQ(failure.message, kMsgNoAnswer);
    EXPECT_FALSE(failure.cause.empty());
    m_heard.push_back(std::to_string(failure.address) + "!");
  }

 private:
  std::vector<std::string>& m_heard;
};

TEST(ReadLoop, MetersInTurnOnTheScheduleUntilStopped) {
  using std::chrono::milliseconds;
  struct Case {
    const char* name;
    std::vector<int> addresses;
    long cycles;
    std::size_t stopAfter;  // a stop request once this many meters were heard; 0: none
    std::vector<std::string> heard;
    int exitCode;
  };
  const Case cases[] = {
      {"every meter answers", {3, 7}, 2, 0, {"3", "7", "3", "7"}, kExitOk},
      {"one fails, the others are read on, first from then on",
       {3, 5, 7},
       2,
       0,
       {"3", "5!", "7", "3", "7", "5!"},
       kExitReadFailed},
      {"stop between meters", {3, 7}, 3, 1, {"3"}, kExitOk},
      {"stop between cycles", {3, 7}, 3, 2, {"3", "7"}, kExitOk},
      {"the failure so far stays", {5, 3}, 3, 1, {"5!"}, kExitReadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimSerialPort sim;
    sim.AddPort(1);
    sim.AttachMeter(1, 3);
    sim.AttachMeter(1, 7);
    LineKeeper keeper(sim, "COM1", [](bool, const std::string&) {});
    ASSERT_TRUE(keeper.Open());
    std::vector<std::string> heard;
    std::vector<std::unique_ptr<ReadingSink>> sinks;
    sinks.push_back(std::make_unique<RecordingSink>(heard));
    std::vector<std::chrono::steady_clock::time_point> waits;
    const auto stopped = [&] { return c.stopAfter > 0 && heard.size() >= c.stopAfter; };
    const LoopStop stop{[&](std::chrono::steady_clock::time_point until) {
                          waits.push_back(until);
                          return stopped();
                        },
                        stopped};
    const int exitCode = RunReadLoop(keeper, "COM1", c.addresses,
                                     {milliseconds(250), false, c.cycles}, 3, 0, sinks, stop);
    EXPECT_EQ(heard, c.heard);
    EXPECT_EQ(exitCode, c.exitCode);
    // Each cycle is waited for on the fixed grid.
    ASSERT_FALSE(waits.empty());
    for (std::size_t i = 1; i < waits.size(); ++i)
      EXPECT_EQ(waits[i] - waits[0], i * milliseconds(250));
  }
}

}  // namespace
