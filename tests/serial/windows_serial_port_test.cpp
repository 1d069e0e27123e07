#include "serial/windows_serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "meter/read_exchange.h"
#include "serial/port_discovery.h"

namespace {

// The record a line reports after the baseline: what GetCommState gives for
// a port at 9600 8N1 (Wine's values for a serial device).
DCB BaselineRecord() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 9600;
  dcb.fBinary = TRUE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonLim = dcb.XoffLim = 10;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = '\xFF';
  dcb.EofChar = 0x04;
  return dcb;
}

// Our parser and the system's, from the same record through the same texts,
// give the same record at every step. DCBlength is left out: the system's
// parser fills it in, ours leaves it to WindowsSerialPort.
TEST(WindowsBuildCommDcbTest, SameRecordAsTheSystemsParser) {
  const struct {
    const char* name;
    DCB start;
  } kStarts[] = {{"zero", DCB{}}, {"baseline", BaselineRecord()}};
  const std::vector<const char*> kTexts[] = {
      {kMarkMode},
      {kSpaceMode},
      {kMarkMode, kSpaceMode, kMarkMode, kSpaceMode},
      {"baud=9600 parity=N data=8 stop=1"},
  };
  for (const auto& start : kStarts) {
    for (const auto& texts : kTexts) {
      DCB ours = start.start;
      DCB system = start.start;
      for (const char* text : texts) {
        ASSERT_TRUE(BuildCommDCB(text, ours)) << text;
        ASSERT_TRUE(::BuildCommDCBA(text, &system)) << text;
        ours.DCBlength = system.DCBlength = sizeof(DCB);
        EXPECT_TRUE(ours == system) << start.name << ": " << text;
      }
    }
  }
}

TEST(WindowsSerialPortTest, OpensOnlyComDevicePaths) {
  WindowsSerialPort port;
  // None of these may reach CreateFileW as a file: an existing file, a
  // device that is not a COM port, malformed and out-of-range COM names.
  const char* kRefused[] = {
      R"(C:\windows\win.ini)",
      R"(\\.\NUL)",
      R"(\\.\COM01)",
      R"(\\.\COM256)",
      R"(\\.\COM-1)",
      R"(\\.\COM1x)",
      "COM1",
      R"(\\?\COM1)",
      R"(\\.\COM)",
      R"(\\.\LPT1)",
      R"(\\.\C:)",
      "",
      R"(\\.\COM0)",  // no such port; the window's fallback entry names it
  };
  for (const char* path : kRefused) {
    EXPECT_EQ(port.CreateFile(path), INVALID_HANDLE_VALUE) << path;
  }
}

TEST(WindowsSerialPortTest, NoPortValueAndForeignHandlesAreRefused) {
  WindowsSerialPort port;
  // INVALID_HANDLE_VALUE is also the current process's pseudo-handle; a
  // handle this object did not open must never reach the system.
  for (const HANDLE h :
       {INVALID_HANDLE_VALUE, ::GetCurrentProcess(), ::GetStdHandle(STD_OUTPUT_HANDLE)}) {
    DCB dcb{};
    ASSERT_TRUE(BuildCommDCB(kMarkMode, dcb));
    EXPECT_FALSE(port.SetCommState(h, dcb));
    EXPECT_FALSE(port.GetCommState(h, dcb));
    EXPECT_FALSE(port.SetCommTimeouts(h, kPortTimeouts));
    const BYTE byte = 0x55;
    DWORD written = 7;
    EXPECT_FALSE(port.WriteFile(h, &byte, 1, written));
    EXPECT_EQ(written, 0u);
    BYTE buffer[12] = {};
    DWORD read = 7;
    EXPECT_FALSE(port.ReadFile(h, buffer, sizeof buffer, read));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(port.PurgeComm(h));
    EXPECT_FALSE(port.CloseHandle(h));
  }
  // The exchange on the no-port value stops at the first settings change.
  EXPECT_STREQ(ExchangeParameter(port, INVALID_HANDLE_VALUE, 255, 1).error, kMsgApplyMarkMode);
}

// The system's reason for a failed open, as a person reads it.
TEST(WindowsSerialPortTest, OpenErrorsBecomeCauses) {
  struct Case {
    DWORD error;
    CauseKind kind;
    const char* explanation;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, CauseKind::kUnmapped,
       "cause: no serial device has the number COM7; pick"},
      {ERROR_PATH_NOT_FOUND, CauseKind::kUnmapped, "cause: no serial device has the number COM7"},
      {ERROR_ACCESS_DENIED, CauseKind::kBusy, "cause: COM7 is in use by another program; end it"},
      {ERROR_SHARING_VIOLATION, CauseKind::kBusy, "cause: COM7 is in use by another program"},
      {ERROR_GEN_FAILURE, CauseKind::kNoDevice, "cause: COM7 does not exist; check that the"},
      {ERROR_INVALID_NAME, CauseKind::kNotSerial, "cause: COM7 is not a serial device"},
  };
  for (const Case& c : cases) {
    const LineCause cause = CauseOfOpenError(c.error);
    EXPECT_EQ(cause.kind, c.kind) << c.error;
    EXPECT_EQ(cause.detail, "system error " + std::to_string(c.error));
    const std::string line = ExplainCause(cause, "COM7");
    EXPECT_EQ(line.rfind(c.explanation, 0), 0u) << line;
    EXPECT_EQ(line.find("/dev/"), std::string::npos) << line;
  }
}

// COM numbers no device has, under Wine: the open fails with its cause, and a
// later successful call clears it.
TEST(WindowsSerialPortTest, AFailedOpenKeepsItsCause) {
  WindowsSerialPort port;
  EXPECT_EQ(port.LastCause().kind, CauseKind::kNone);
  for (const int n : {0, 255}) {
    EXPECT_EQ(port.CreateFile(ComDevicePath(n)), INVALID_HANDLE_VALUE);
    EXPECT_NE(port.LastCause().kind, CauseKind::kNone) << n;
  }
  EXPECT_EQ(port.CreateFile(R"(C:\windows\win.ini)"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(port.LastCause().kind, CauseKind::kNotSerial);
}

TEST(WindowsSerialPortTest, SleepNeverEndsEarly) {
  WindowsSerialPort port;
  for (const DWORD ms : {1u, 10u, 1u, 10u}) {
    const auto start = std::chrono::steady_clock::now();
    port.Sleep(ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms)) << ms;
  }
}

}  // namespace
