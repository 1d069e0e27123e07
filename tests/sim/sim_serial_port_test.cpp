#include "sim/sim_serial_port.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

TEST(SimSerialPortTest, OpensAreExclusiveAndRecorded) {
  SimSerialPort sim;
  sim.AddPort(3);
  sim.AddPort(4);
  sim.HoldPort(4, true);
  const std::string com3 = ComDevicePath(3);
  const HANDLE h = sim.CreateFile(com3);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(sim.IsOpen(3));
  EXPECT_EQ(sim.CreateFile(com3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim.CreateFile(ComDevicePath(4)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim.CreateFile(ComDevicePath(5)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim.CreateFile(R"(\\.\COM03)"), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(sim.CloseHandle(h));
  EXPECT_FALSE(sim.IsOpen(3));
  EXPECT_FALSE(sim.CloseHandle(h));
  EXPECT_NE(sim.CreateFile(com3), INVALID_HANDLE_VALUE);
  const std::vector<std::string> expected = {com3,          com3,           R"(\\.\COM4)",
                                             R"(\\.\COM5)", R"(\\.\COM03)", com3};
  EXPECT_EQ(sim.OpenAttempts(), expected);
}

TEST(SimSerialPortTest, RemovedDeviceFailsEverything) {
  SimSerialPort sim;
  sim.AddPort(1);
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  sim.RemovePort(1);
  DCB dcb{};
  DWORD count = 7;
  BYTE byte = 0x11;
  EXPECT_FALSE(sim.SetCommState(INVALID_HANDLE_VALUE, dcb));
  EXPECT_FALSE(sim.GetCommState(h, dcb));
  EXPECT_FALSE(sim.SetCommState(h, dcb));
  EXPECT_FALSE(sim.WriteFile(h, &byte, 1, count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(sim.ReadFile(h, &byte, 1, count));
  EXPECT_FALSE(sim.PurgeComm(h));
  EXPECT_EQ(sim.CreateFile(ComDevicePath(1)), INVALID_HANDLE_VALUE);

  sim.AddPort(1);  // plugged in again: a new device, the old handle stays dead
  const HANDLE fresh = sim.CreateFile(ComDevicePath(1));
  EXPECT_NE(fresh, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(sim.SetCommState(h, dcb));
  EXPECT_TRUE(sim.CloseHandle(h));
  EXPECT_TRUE(sim.IsOpen(1));
}

TEST(SimSerialPortTest, ReadsReturnWhatIsQueued) {
  SimSerialPort sim;
  sim.AddPort(1);
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  std::array<BYTE, 12> buffer;
  buffer.fill(0xAA);
  DWORD count = 99;
  EXPECT_TRUE(sim.ReadFile(h, buffer.data(), 12, count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(buffer[0], 0xAA);

  std::vector<BYTE> fifteen(15);
  for (BYTE i = 0; i < 15; ++i) fifteen[i] = i;
  sim.Deliver(1, fifteen);
  ASSERT_TRUE(sim.ReadFile(h, buffer.data(), 12, count));
  EXPECT_EQ(count, 12u);
  EXPECT_EQ(buffer[11], 11);
  ASSERT_TRUE(sim.ReadFile(h, buffer.data(), 12, count));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(buffer[0], 12);

  sim.Deliver(1, {1, 2});
  EXPECT_TRUE(sim.PurgeComm(h));
  EXPECT_EQ(sim.QueuedBytes(1), 0u);
}

TEST(SimSerialPortTest, NinthBitFollowsParityAndEchoReturns) {
  SimSerialPort sim;
  sim.AddPort(1);
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  const struct {
    BYTE parity, value;
    NinthBit bit;
  } kCases[] = {{MARKPARITY, 0x00, NinthBit::kOne},  {SPACEPARITY, 0xFF, NinthBit::kZero},
                {ODDPARITY, 0x03, NinthBit::kOne},   {EVENPARITY, 0x01, NinthBit::kOne},
                {EVENPARITY, 0x03, NinthBit::kZero}, {NOPARITY, 0x13, NinthBit::kNone}};
  DCB dcb{};
  sim.GetCommState(h, dcb);
  for (const auto& c : kCases) {
    dcb.Parity = c.parity;
    ASSERT_TRUE(sim.SetCommState(h, dcb));
    DWORD written = 0;
    ASSERT_TRUE(sim.WriteFile(h, &c.value, 1, written));
    EXPECT_EQ(sim.Written(1).back().bit, c.bit) << int{c.parity} << "/" << int{c.value};
  }
  EXPECT_EQ(sim.QueuedBytes(1), std::size(kCases));
  sim.SetEcho(1, false);
  DWORD written = 0;
  sim.WriteFile(h, &kCases[0].value, 1, written);
  EXPECT_EQ(sim.QueuedBytes(1), std::size(kCases));
}

}  // namespace
