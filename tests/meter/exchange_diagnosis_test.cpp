#include "meter/exchange_diagnosis.h"

#include <gtest/gtest.h>

#include <string>

#include "meter/reading_cycle.h"
#include "sim/sim_serial_port.h"

namespace {

// Each fault of the line or meter, read through the cycle as zlm-read reads,
// gives its message and the line that explains it.
TEST(ExplainFailedRead, EachFaultHasItsCause) {
  const struct {
    const char* name;
    SimFaults faults;
    bool echo;
    int32_t meterAddress;  // -1: no meter on the line
    const char* error;
    const char* explanation;  // the start of the line; nullptr: the read succeeds
    int code;
  } kCases[] = {
      {"answer R0..R6 only", {.bus = {.answerCut = 7}}, true, 5, nullptr, nullptr, kCauseNone},
      {"no adapter echo, silent",
       {.bus = {.silent = true}},
       false,
       5,
       kMsgNoAnswer,
       "cause: no bytes came back, not even the echo",
       kCauseNothingBack},
      {"nobody at the address",
       {},
       true,
       9,
       kMsgNoAnswer,
       "hint: the request was echoed but no meter answered: wrong address or the meter is "
       "off; zlm-read --port COM1 --scan",
       kCauseNoMeterAnswer},
      {"silent meter",
       {.bus = {.silent = true}},
       true,
       5,
       kMsgNoAnswer,
       "hint: the request was echoed but no meter answered",
       kCauseNoMeterAnswer},
      {"slow meter",
       {.bus = {.late = true, .lateMs = 60}},
       true,
       5,
       kMsgNoAnswer,
       "cause: the answer came after the read (8 bytes later)",
       kCauseLateAnswer},
      {"short answer",
       {.bus = {.answerCut = 4}},
       true,
       5,
       kMsgNoAnswer,
       "cause: the answer was too short: 4 of the 7 bytes",
       kCauseShortAnswer},
      {"parity dropped",
       {.refuseSettings = SettingsRefusal::kSpaceParity},
       true,
       5,
       kMsgApplySpaceMode,
       "cause: the adapter of COM1 did not keep mark/space parity",
       kLineCauseBase + static_cast<int>(CauseKind::kParityNotKept)},
      {"settings refused",
       {.refuseSettings = SettingsRefusal::kAll},
       true,
       5,
       kMsgApplyMarkMode,
       "cause: COM1 did not keep 9600 baud",
       kLineCauseBase + static_cast<int>(CauseKind::kSettingsNotKept)},
      {"byte not taken",
       {.writeFailsFrom = 2},
       true,
       5,
       kMsgCodeNotWritten,
       "cause: the adapter did not take the byte within 1 s",
       kCauseByteNotTaken},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SimSerialPort sim;
    sim.AddPort(1);
    sim.SetEcho(1, c.echo);
    if (c.meterAddress >= 0) sim.AttachMeter(1, c.meterAddress);
    sim.SetFaults(1, c.faults);
    const HANDLE h = sim.CreateFile(ComDevicePath(1));
    const CycleResult result = ReadAllParameters(sim, h, 5);
    EXPECT_STREQ(result.error, c.error);
    if (!c.error) continue;
    const FailedReadExplanation explained =
        ExplainFailedRead(sim, h, result.failedReceived, result.failedExchange, "COM1");
    EXPECT_EQ(explained.text.rfind(c.explanation, 0), 0u) << explained.text;
    EXPECT_EQ(explained.code, c.code);
  }
}

// The position comes from R2 alone: R0, R1 and the byte after R6 are
// whatever the meter likes.
TEST(ExplainFailedRead, PositionAboveEightNamesR2) {
  SimSerialPort sim;
  sim.AddPort(1);
  sim.AttachMeter(1, 5).SetRawValue(1, {0x09, 0x12, 0x34, 0x56, 0x78});
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  const CycleResult result = ReadAllParameters(sim, h, 5);
  ASSERT_STREQ(result.error, kMsgPositionTooLarge);
  EXPECT_EQ(ExplainFailedRead(sim, h, result.failedReceived, result.failedExchange, "COM1")
                .text.rfind("cause: the answer's decimal position (R2) is 9, above 8", 0),
            0u);
}

TEST(DiagnoseExchange, EchoFoundAtEveryShiftWithoutTheAnswer) {
  const MeterRequest r = MakeRequest(3, 2);
  const struct {
    ReceiveBlock block;
    DWORD count;
    bool echo;
    AnswerSeen answer;
  } kCases[] = {
      {{0x03, 0x02, 0x05}, 3, true, AnswerSeen::kNone},
      {{0x7F, 0x03, 0x02, 0x05}, 4, true, AnswerSeen::kNone},
      {{0x7F, 0x7E, 0x03, 0x02, 0x05, 0x01}, 6, true, AnswerSeen::kShort},
      {{0x02, 0x05}, 2, true, AnswerSeen::kNone},
      {{0x02, 0x05, 0, 0, 0x08, 0, 0, 0, 0x50}, 9, true, AnswerSeen::kComplete},
      {{0x11, 0x22, 0x33, 0x44}, 4, false, AnswerSeen::kShort},
      {{}, 0, false, AnswerSeen::kNone},
  };
  SimSerialPort sim;
  sim.AddPort(1);
  const HANDLE h = sim.CreateFile(ComDevicePath(1));
  for (const auto& c : kCases) {
    const ExchangeDiagnosis d = DiagnoseExchange(sim, h, {nullptr, r, c.block, c.count}, 0);
    EXPECT_EQ(d.echoSeen, c.echo) << c.count;
    EXPECT_EQ(d.answer, c.answer) << c.count;
  }
}

}  // namespace
