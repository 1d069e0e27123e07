#include <gtest/gtest.h>

#include <string>

#include "serial/serial_port.h"

namespace {

DCB WithAllFlowControl() {
  DCB dcb{};
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = dcb.fOutX = dcb.fInX = true;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fBinary = dcb.fParity = dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = true;
  return dcb;
}

TEST(BuildCommDcbTest, MarkThenSpaceModeFromZero) {
  DCB dcb{};
  ASSERT_TRUE(BuildCommDCB("baud=9600 parity=M data=8 stop=1 rts=on dtr=on", dcb));
  DCB mark{};
  mark.BaudRate = 9600;
  mark.Parity = MARKPARITY;
  mark.ByteSize = 8;
  mark.StopBits = ONESTOPBIT;
  mark.fRtsControl = RTS_CONTROL_ENABLE;
  mark.fDtrControl = DTR_CONTROL_ENABLE;
  EXPECT_EQ(dcb, mark);

  ASSERT_TRUE(BuildCommDCB("baud=9600 parity=S data=8 stop=1", dcb));
  DCB space = mark;
  space.Parity = SPACEPARITY;
  EXPECT_EQ(dcb, space);  // RTS and DTR stay asserted
}

TEST(BuildCommDcbTest, FlowControlOffOtherFieldsKept) {
  DCB dcb = WithAllFlowControl();
  ASSERT_TRUE(BuildCommDCB("baud=9600 parity=S data=8 stop=1", dcb));
  DCB expected = WithAllFlowControl();
  expected.BaudRate = 9600;
  expected.Parity = SPACEPARITY;
  expected.ByteSize = 8;
  expected.fOutxCtsFlow = expected.fOutxDsrFlow = expected.fDsrSensitivity = false;
  expected.fOutX = expected.fInX = false;
  expected.fRtsControl = RTS_CONTROL_ENABLE;
  expected.fDtrControl = DTR_CONTROL_ENABLE;
  EXPECT_EQ(dcb, expected);
}

TEST(BuildCommDcbTest, GeneralForm) {
  DCB dcb{};
  ASSERT_TRUE(
      BuildCommDCB("  BAUD=115200\tParity=e data=7 stop=1.5 rts=hs dtr=off xon=on octs=on "
                   "odsr=on idsr=on",
                   dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_TRUE(dcb.fInX && dcb.fOutX && dcb.fOutxCtsFlow && dcb.fOutxDsrFlow && dcb.fDsrSensitivity);

  const struct {
    const char* text;
    BYTE parity;
    BYTE stopBits;
  } kCases[] = {{"parity=n stop=2", NOPARITY, TWOSTOPBITS},
                {"parity=O stop=1", ODDPARITY, ONESTOPBIT}};
  for (const auto& c : kCases) {
    ASSERT_TRUE(BuildCommDCB(c.text, dcb)) << c.text;
    EXPECT_EQ(dcb.Parity, c.parity) << c.text;
    EXPECT_EQ(dcb.StopBits, c.stopBits) << c.text;
  }
}

TEST(BuildCommDcbTest, RejectsLeaveRecordUnchanged) {
  const char* kRejected[] = {
      "",
      "   ",
      "baud",
      "baud=",
      "baud=0",
      "baud=96OO",
      "baud=4294967296",
      "baud=-9600",
      "parity=X",
      "parity=MM",
      "data=4",
      "data=9",
      "stop=0",
      "stop=1.0",
      "rts=yes",
      "dtr=tg",
      "xon=1",
      "to=on",
      "speed=9600",
      "=9600",
      "baud=9600 baud=9600",
      "baud=9600,parity=M",
      "baud=9600 parity=M data=8 stop=1 rts=on dtr=on x",
  };
  for (const char* text : kRejected) {
    DCB dcb = WithAllFlowControl();
    EXPECT_FALSE(BuildCommDCB(text, dcb)) << '"' << text << '"';
    EXPECT_EQ(dcb, WithAllFlowControl()) << '"' << text << '"';
  }
}

}  // namespace
