#include "sim/pty_line.h"

#include <gtest/gtest.h>

#include "meter/read_exchange.h"
#include "serial/linux_serial_port.h"
#include "serial/port_discovery.h"

namespace {

TEST(PtyLineTest, NinthBitFromStickParityFlags) {
  const std::pair<tcflag_t, NinthBit> cases[] = {
      {CMSPAR | PARODD, NinthBit::kOne},
      {PARENB | CMSPAR | PARODD, NinthBit::kOne},
      {CMSPAR, NinthBit::kZero},
      {PARENB | CMSPAR, NinthBit::kZero},
      {0, NinthBit::kNone},
      {PARENB | PARODD, NinthBit::kNone},  // odd parity: no fixed ninth bit
  };
  for (const auto& [flags, bit] : cases) {
    termios t{};
    t.c_cflag = CS8 | flags;
    EXPECT_EQ(NinthBitOf(t), bit) << flags;
  }
}

// The reader's own settings, applied to the slave, show on the master: the
// rule holds on a real pty, where PARENB does not stick.
TEST(PtyLineTest, SamplesTheReadersParityAndCarriesBytes) {
  const std::unique_ptr<PtyLine> line = PtyLine::Open();
  ASSERT_NE(line, nullptr);
  LinuxSerialPort port(PortRoots{"", "", "", ""});
  const HANDLE h = port.CreateFile(line->SlavePath());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ApplyBaseline(port, h);
  EXPECT_EQ(line->SampleNinthBit(), NinthBit::kNone);

  DCB dcb{};
  const std::pair<const char*, NinthBit> modes[] = {
      {kMarkMode, NinthBit::kOne}, {kSpaceMode, NinthBit::kZero}, {kMarkMode, NinthBit::kOne}};
  for (const auto& [mode, bit] : modes) {
    ASSERT_TRUE(BuildCommDCB(mode, dcb));
    ASSERT_TRUE(port.SetCommState(h, dcb)) << mode;
    EXPECT_EQ(line->SampleNinthBit(), bit) << mode;
  }

  // Every byte value passes both ways unchanged. Bytes cross a pty
  // asynchronously, so each side collects them for up to two seconds.
  const std::vector<BYTE> sent = {0x00, 0x11, 0x13, 0xFF};
  DWORD written = 0;
  ASSERT_TRUE(port.WriteFile(h, sent.data(), 4, written));
  std::vector<BYTE> got;
  for (int tries = 0; got.size() < sent.size() && tries < 200; ++tries) {
    BYTE b = 0;
    if (line->ReadByte(b)) {
      got.push_back(b);
    } else {
      port.Sleep(10);
    }
  }
  EXPECT_EQ(got, sent);
  ASSERT_TRUE(line->Write(sent));
  std::vector<BYTE> back;
  for (int tries = 0; back.size() < sent.size() && tries < 200; ++tries) {
    BYTE buffer[8] = {};
    DWORD read = 0;
    port.ReadFile(h, buffer, sizeof buffer, read);
    back.insert(back.end(), buffer, buffer + read);
    if (read == 0) port.Sleep(10);
  }
  EXPECT_EQ(back, sent);
  port.CloseHandle(h);
}

}  // namespace
