// The parts that keep zlm-read reading alone: the port opened again after
// its device went away, and failing meters asked less often.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/com_name.h"
#include "sim/sim_serial_port.h"
#include "tools/zlm_read/line_keeper.h"
#include "tools/zlm_read/meter_pacing.h"

namespace {

using namespace std::chrono_literals;
using Clock = LineKeeper::Clock;

struct Change {
  bool open;
  std::string text;
};

class LineKeeperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_sim.AddPort(7);
    ASSERT_TRUE(m_keeper.Open());
  }

  // An operation that fails because the device is gone, as a read would.
  void FailOnce() {
    DWORD written = 0;
    const BYTE byte = 0;
    EXPECT_FALSE(m_sim.WriteFile(m_keeper.Handle(), &byte, 1, written));
  }

  SimSerialPort m_sim;
  std::vector<Change> m_changes;
  LineKeeper m_keeper{m_sim, "COM7", [this](bool open, const std::string& text) {
                        m_changes.push_back({open, text});
                      }};
  const Clock::time_point m_t0 = Clock::now();
};

// Attempts at 1, 3, 7, 15, 31, 63, 123, 183 s after the loss (1 s doubling
// to 60 s); the port opens at the first attempt after the device is back.
TEST_F(LineKeeperTest, ReopensWithBackoffWhenTheDeviceIsBack) {
  m_sim.RemovePort(7);
  FailOnce();
  ASSERT_TRUE(m_keeper.CheckLost(m_t0));
  EXPECT_FALSE(m_keeper.IsOpen());
  EXPECT_FALSE(m_sim.IsOpen(7));
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_FALSE(m_changes[0].open);
  EXPECT_NE(m_changes[0].text.find("COM7 lost"), std::string::npos) << m_changes[0].text;
  EXPECT_NE(m_changes[0].text.find("went away"), std::string::npos) << m_changes[0].text;

  const std::vector<std::chrono::seconds> attempts = {1s, 3s, 7s, 15s, 31s, 63s, 123s, 183s};
  std::size_t opens = 0;
  for (auto t = 0s; t <= 200s; t += 1s) {
    if (t == 150s) m_sim.AddPort(7);
    const std::size_t before = m_sim.OpenAttempts().size();
    const bool ready = m_keeper.Ready(m_t0 + t);
    const bool attempted = m_sim.OpenAttempts().size() > before;
    const bool expected =
        std::find(attempts.begin(), attempts.end(), t) != attempts.end() && opens == 0;
    EXPECT_EQ(attempted, expected) << t.count() << " s";
    if (ready && opens++ == 0) {
      EXPECT_EQ(t, 183s);
    }
  }
  EXPECT_TRUE(m_keeper.IsOpen());
  EXPECT_EQ(m_sim.OpenAttempts().back(), ComDevicePath(7));
  ASSERT_EQ(m_changes.size(), 2u);  // lost, open again; nothing for the failed attempts
  EXPECT_TRUE(m_changes[1].open);
  EXPECT_EQ(m_changes[1].text, "COM7 open again after 183 s");
  EXPECT_EQ(m_sim.DcbOf(7).BaudRate, 9600u);  // back at the baseline
}

// A failure of another kind leaves the port open; a loss after a recovery
// starts the backoff from 1 s again.
TEST_F(LineKeeperTest, OnlyALostDeviceClosesThePort) {
  m_sim.SetFaults(7, {.refuseSettings = SettingsRefusal::kAll});
  EXPECT_FALSE(m_sim.SetCommState(m_keeper.Handle(), DCB{}));
  EXPECT_FALSE(m_keeper.CheckLost(m_t0));
  EXPECT_TRUE(m_keeper.IsOpen());
  m_sim.SetFaults(7, {});

  for (int round = 0; round < 2; ++round) {
    m_sim.RemovePort(7);
    FailOnce();
    const auto lost = m_t0 + std::chrono::seconds(100 * round);
    ASSERT_TRUE(m_keeper.CheckLost(lost));
    m_sim.AddPort(7);
    EXPECT_FALSE(m_keeper.Ready(lost + 999ms));
    EXPECT_TRUE(m_keeper.Ready(lost + 1s));
  }
  EXPECT_EQ(m_changes.size(), 4u);
}

TEST(MeterPacingTest, FailingMeterIsAskedLessOftenAndLast) {
  MeterPacing pacing({2, 4, 6}, 3);
  // Meter 4 fails from pass 0 to 40 and answers from then on.
  std::vector<long> askedPasses;
  std::vector<std::string> notes;
  for (long pass = 0; pass < 50; ++pass) {
    const std::vector<int> order = pacing.Pass(pass);
    // The answering meters always, in their order; the failing one last.
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], 2);
    const bool failing = pass >= 1 && pass <= 48;
    EXPECT_EQ(order[1], failing || order.size() == 2 ? 6 : 4) << pass;
    for (const int address : order) {
      std::string note;
      if (address == 4) {
        askedPasses.push_back(pass);
        note = pass <= 40 ? pacing.Failed(4, pass) : pacing.Answered(4, pass);
      } else {
        note = pacing.Answered(address, pass);
      }
      if (!note.empty()) notes.push_back(note);
    }
  }
  // Three failures every pass, then every 2nd, 4th, 8th, 16th, 16th ...
  // pass; every pass once it answers (pass 46 is the first ask after 40).
  const std::vector<long> expected = {0, 1, 2, 4, 8, 16, 32, 48, 49};
  EXPECT_EQ(askedPasses, expected);
  const std::vector<std::string> expectedNotes = {
      "address 4 failed 3 times in a row: asked every 2nd cycle until it answers",
      "address 4 failed 4 times in a row: asked every 4th cycle until it answers",
      "address 4 failed 5 times in a row: asked every 8th cycle until it answers",
      "address 4 failed 6 times in a row: asked every 16th cycle until it answers",
      "address 4 answers again: asked every cycle",
  };
  EXPECT_EQ(notes, expectedNotes);
}

TEST(MeterPacingTest, ZeroNeverSlowsAMeter) {
  MeterPacing pacing({1, 3}, 0);
  for (long pass = 0; pass < 20; ++pass) {
    EXPECT_EQ(pacing.Pass(pass).size(), 2u);
    EXPECT_EQ(pacing.Failed(1, pass), "");
    pacing.Answered(3, pass);
  }
  EXPECT_EQ(pacing.Every(1), 1);
  // A failing meter still goes after the answering ones.
  EXPECT_EQ(pacing.Pass(20), (std::vector<int>{3, 1}));
}

}  // namespace
