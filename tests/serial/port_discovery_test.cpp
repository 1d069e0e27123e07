#include "serial/port_discovery.h"

#include <gtest/gtest.h>

#include <climits>

#include "serial/linux_serial_port.h"
#include "serial_test_support.h"

namespace {

TEST(PortDiscoveryTest, NamesPortsAndEntries) {
  EXPECT_EQ(ComDevicePath(7), R"(\\.\COM7)");
  EXPECT_EQ(ComDevicePath(255), R"(\\.\COM255)");
  EXPECT_EQ(ComDevicePath(0), R"(\\.\COM0)");
  EXPECT_EQ(PortEntryText(7), "COM7\n");
  EXPECT_EQ(PortEntryText(10), "COM10\n");
  EXPECT_EQ(PortEntryText(255), "COM255\n");
  EXPECT_STREQ(
      kPortsBusyEntry,
      "\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82\xD1\x8B \xD0\xB7\xD0\xB0\xD0\xBD\xD1\x8F\xD1\x82\xD1\x8B");
}

TEST(PortDiscoveryTest, ReadsPortNumbersFromEntriesAsAtoiDoes) {
  const struct {
    std::string entry;
    int number;
  } cases[] = {
      {"COM7\n", 7},
      {"COM255\n", 255},
      {kPortsBusyEntry, 0},
      {"", 0},
      {"COM", 0},
      {" \t\n\v\f\r42", 42},
      {"COM -12x", -12},
      {"+COM8", 8},
      {"COMCOM9", 9},
      {"CCOMOM7", 0},  // one pass: what the removal leaves is not removed again
      {"com7", 0},
      {"CO M7", 0},
      {"COM1COM2", 12},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999999999", INT_MIN},
      {std::string(5000, '9'), INT_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortNumberFromEntry(c.entry), c.number) << '"' << c.entry.substr(0, 40) << '"';
  }
  for (int n : {1, 3, 10, 255}) EXPECT_EQ(PortNumberFromEntry(PortEntryText(n)), n);
}

TEST(PortDiscoveryTest, ScanListsThePortsThatOpenAndLeavesThemClosed) {
  ScratchRoots scratch;
  PtyPair com3;
  PtyPair com10;
  PtyPair held;
  ASSERT_TRUE(com3.Ok() && com10.Ok() && held.Ok());
  scratch.Override(3, com3.Slave());
  scratch.Override(10, com10.Slave());
  scratch.Override(200, held.Slave());
  scratch.Override(255, "/dev/serial/by-id/unplugged");
  LinuxSerialPort holder(scratch.Roots());
  ASSERT_NE(holder.CreateFile(R"(\\.\COM200)"), INVALID_HANDLE_VALUE);

  LinuxSerialPort port(scratch.Roots());
  EXPECT_EQ(ScanFreePorts(port), (std::vector<int>{3, 10}));
  EXPECT_EQ(ScanFreePorts(port), (std::vector<int>{3, 10})) << "the first scan left a port open";
}

TEST(PortDiscoveryTest, BaselineGivesNineSixHundredEightNoneOne) {
  ScratchRoots scratch;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  scratch.Override(1, pty.Slave());
  LinuxSerialPort port(scratch.Roots());
  const HANDLE h = port.CreateFile(ComDevicePath(1));
  DCB before{};
  before.BaudRate = 2400;
  before.ByteSize = 7;
  before.Parity = EVENPARITY;
  before.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(port.SetCommState(h, before));

  ApplyBaseline(port, h);
  DCB after{};
  ASSERT_TRUE(port.GetCommState(h, after));
  EXPECT_EQ(after.BaudRate, 9600u);
  EXPECT_EQ(after.ByteSize, 8);
  EXPECT_EQ(after.Parity, NOPARITY);
  EXPECT_EQ(after.StopBits, ONESTOPBIT);
  port.CloseHandle(h);
}

}  // namespace
