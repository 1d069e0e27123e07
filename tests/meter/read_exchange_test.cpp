#include "meter/read_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_serial_port.h"

namespace {

class ReadExchangeTest : public ::testing::Test {
 protected:
  ReadExchangeTest() {
    m_sim.AddPort(1);
    m_h = m_sim.CreateFile(ComDevicePath(1));
  }

  ExchangeResult Exchange(int32_t address, int32_t code) {
    return ExchangeParameter(m_sim, m_h, address, code);
  }

  SimSerialPort m_sim;
  HANDLE m_h = INVALID_HANDLE_VALUE;
};

// The simulated line, with every wait of the exchange noted.
class WaitRecordingPort : public SimSerialPort {
 public:
  void Sleep(DWORD ms) override {
    waits.push_back(ms);
    SimSerialPort::Sleep(ms);
  }
  std::vector<DWORD> waits;
};

TEST(ExchangeWaits, ASuccessfulExchangeWaitsExactlyThePublishedSequence) {
  WaitRecordingPort line;
  line.AddPort(1);
  line.AttachMeter(1, 4);
  ASSERT_EQ(ExchangeParameter(line, line.CreateFile(ComDevicePath(1)), 4, 1).error, nullptr);
  EXPECT_EQ(line.waits, std::vector<DWORD>(kExchangeWaitsMs.begin(), kExchangeWaitsMs.end()));
  EXPECT_EQ(kExchangeWaitMs, 62u);
}

// A longer answer wait reads again every millisecond until the answer is
// whole, and only then: a meter that answers in time sees the same exchange.
TEST(ExchangeWaits, AnswerWaitReadsOnUntilTheAnswerIsWholeOrTheWaitIsOver) {
  const struct {
    const char* name;
    BusFaults faults;
    DWORD answerWaitMs;
    bool answered;
    std::size_t extraWaits;  // 1 ms waits after the first read
  } kCases[] = {
      {"in time, no wait", {}, 0, true, 0},
      {"in time, long wait", {}, 1000, true, 0},
      {"30 ms late, no wait", {.late = true}, 0, false, 0},
      {"30 ms late, long wait", {.late = true}, 1000, true, 10},
      {"30 ms late, wait too short", {.late = true}, 5, false, 5},
      {"silent, long wait", {.silent = true}, 40, false, 40},
      {"half an answer", {.answerCut = 6}, 40, false, 40},
  };
  for (const auto& c : kCases) {
    WaitRecordingPort line;
    line.AddPort(1);
    line.AttachMeter(1, 4).SetValue(1, 1234, 4);
    line.SetFaults(1, {.bus = c.faults});
    const HANDLE h = line.CreateFile(ComDevicePath(1));
    const ExchangeResult result = DecodeAnswer(SendRequest(line, h, 4, 1, c.answerWaitMs));
    EXPECT_EQ(result.error == nullptr, c.answered) << c.name;
    if (c.answered) {
      EXPECT_EQ(result.value, 1234) << c.name;
    }

    std::vector<DWORD> expected(kExchangeWaitsMs.begin(), kExchangeWaitsMs.end() - 1);
    expected.insert(expected.end(), c.extraWaits, kByteMs);
    expected.push_back(kExchangeWaitsMs.back());
    EXPECT_EQ(line.waits, expected) << c.name;
  }
}

TEST_F(ReadExchangeTest, RequestBytesNinthBitsWaitsAndValue) {
  const struct {
    int32_t meterAddress, address;
    BYTE a, k;
  } kCases[] = {{0, 0, 0x00, 0x77}, {31, 31, 0x1F, 0x96}, {7, 255, 0xFF, 0x76}};
  for (const auto& c : kCases) {
    SimSerialPort sim;
    sim.AddPort(1);
    const HANDLE h = sim.CreateFile(ComDevicePath(1));
    ASSERT_TRUE(sim.AttachMeter(1, c.meterAddress).SetValue(119, 50, 3));

    const ExchangeResult result = ExchangeParameter(sim, h, c.address, 119);
    EXPECT_EQ(result.error, nullptr) << c.address;
    EXPECT_EQ(result.position, 3);
    EXPECT_EQ(result.value, 50);
    EXPECT_GE(sim.NowMs(), 62u);

    const std::vector<WrittenByte>& written = sim.Written(1);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].value, c.a);
    EXPECT_EQ(written[0].bit, NinthBit::kOne);
    EXPECT_EQ(written[1].value, 0x77);
    EXPECT_EQ(written[1].bit, NinthBit::kZero);
    EXPECT_EQ(written[2].value, c.k);
    EXPECT_EQ(written[2].bit, NinthBit::kZero);
    // Each byte has had time to leave before the parity changes.
    EXPECT_GE(written[1].timeMs - written[0].timeMs, 21u);

    const DCB line = sim.DcbOf(1);
    EXPECT_EQ(line.Parity, SPACEPARITY);
    EXPECT_EQ(line.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(line.fDtrControl, DTR_CONTROL_ENABLE);
  }
}

TEST_F(ReadExchangeTest, FailingStepMessages) {
  ZlmMeter& meter = m_sim.AttachMeter(1, 5);
  meter.SetRawValue(2, {0x09, 0, 0, 0, 0x01});
  meter.SetRawValue(3, {0x10, 0, 0, 0, 0x01});
  meter.SetValue(7, 1, 8);
  const struct {
    const char* name;
    SimFaults faults;
    int32_t code;
    const char* error;
    std::size_t bytesWritten;
    int32_t position;  // -1: nothing decoded
  } kCases[] = {
      {"mark", {.refuseSettings = SettingsRefusal::kMarkParity}, 1, kMsgApplyMarkMode, 0, -1},
      {"address byte", {.writeFailsFrom = 1}, 1, kMsgAddressNotWritten, 0, -1},
      {"space", {.refuseSettings = SettingsRefusal::kSpaceParity}, 1, kMsgApplySpaceMode, 1, -1},
      {"code byte", {.writeFailsFrom = 2}, 1, kMsgCodeNotWritten, 1, -1},
      {"checksum byte", {.writeFailsFrom = 3}, 1, kMsgChecksumNotWritten, 2, -1},
      {"position 9", {}, 2, kMsgPositionTooLarge, 3, 9},
      {"position 0x10", {}, 3, kMsgPositionTooLarge, 3, 10},
      {"silent meter", {.bus = {.silent = true}}, 1, kMsgNoAnswer, 3, -1},
      {"late answer", {.bus = {.late = true}}, 1, kMsgNoAnswer, 3, -1},
      {"unknown code", {}, 0x55, kMsgNoAnswer, 3, -1},
  };
  for (const auto& c : kCases) {
    const std::size_t before = m_sim.Written(1).size();
    m_sim.SetFaults(1, c.faults);
    const ExchangeResult result = Exchange(5, c.code);
    EXPECT_STREQ(result.error, c.error) << c.name;
    EXPECT_EQ(m_sim.Written(1).size() - before, c.bytesWritten) << c.name;
    EXPECT_EQ(result.positionDecoded, c.position >= 0) << c.name;
    if (c.position >= 0) {
      EXPECT_EQ(result.position, c.position) << c.name;
    }
    EXPECT_EQ(result.value, 0) << c.name;
  }
}

TEST_F(ReadExchangeTest, NoUsablePort) {
  m_sim.CloseHandle(m_h);
  EXPECT_STREQ(Exchange(5, 1).error, kMsgApplyMarkMode);
  EXPECT_STREQ(ExchangeParameter(m_sim, INVALID_HANDLE_VALUE, 5, 1).error, kMsgApplyMarkMode);
  m_h = m_sim.CreateFile(ComDevicePath(1));
  m_sim.RemovePort(1);
  EXPECT_STREQ(Exchange(5, 1).error, kMsgApplyMarkMode);
}

TEST_F(ReadExchangeTest, EchoVariantsDecode) {
  m_sim.AttachMeter(1, 3).SetValue(2, 123456, 4);
  const struct {
    const char* name;
    SimFaults faults;
  } kCases[] = {
      {"clean echo", {}},
      {"one stray byte", {.bus = {.stray = {0x7F}}}},
      {"two stray bytes", {.bus = {.stray = {0x7F, 0x00}}}},
      {"address echo missing", {.bus = {.addressEchoMissing = true}}},
  };
  // Twice each: with two strays the answer's last byte is left queued.
  for (const auto& c : kCases) {
    for (int round = 0; round < 2; ++round) {
      m_sim.SetFaults(1, c.faults);
      const ExchangeResult result = Exchange(3, 2);
      EXPECT_EQ(result.error, nullptr) << c.name;
      EXPECT_EQ(result.value, 123456) << c.name;
      EXPECT_EQ(result.position, 4) << c.name;
    }
  }
}

TEST_F(ReadExchangeTest, StaleInputIsDiscardedBeforeTheRequest) {
  ZlmMeter& meter = m_sim.AttachMeter(1, 4);
  meter.SetValue(1, 11, 8);
  meter.SetValue(2, 22, 8);
  m_sim.SetFaults(1, {.bus = {.late = true}});
  EXPECT_STREQ(Exchange(4, 1).error, kMsgNoAnswer);
  ASSERT_GT(m_sim.QueuedBytes(1), 0u);  // the late answer to code 1

  m_sim.SetFaults(1, {});
  const ExchangeResult result = Exchange(4, 2);
  EXPECT_EQ(result.error, nullptr);
  EXPECT_EQ(result.value, 22);
}

TEST_F(ReadExchangeTest, SettingsRecordCarriesOverToAnotherPort) {
  m_sim.AttachMeter(1, 1);
  ASSERT_EQ(Exchange(1, 1).error, nullptr);
  const DCB first = m_sim.DcbOf(1);
  m_sim.CloseHandle(m_h);
  m_sim.AddPort(2);
  m_sim.AttachMeter(2, 1);
  ASSERT_EQ(ExchangeParameter(m_sim, m_sim.CreateFile(ComDevicePath(2)), 1, 1).error, nullptr);
  EXPECT_EQ(m_sim.DcbOf(2), first);
  EXPECT_EQ(TransactionSettings(), first);
}

}  // namespace
