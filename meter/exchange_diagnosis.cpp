#include "meter/exchange_diagnosis.h"

#include <algorithm>
#include <cstring>

#include "meter/reading_cycle.h"
#include "serial/tracing_serial_port.h"

namespace {

// The block position right after the echo.
DWORD EchoEnd(int shift) { return static_cast<DWORD>(3 - shift); }
// The bytes a complete answer needs: the echo, then R0..R6.
DWORD AnswerEnd(int shift) { return static_cast<DWORD>(10 - shift); }

bool Is(const char* error, const char* message) {
  return error != nullptr && std::strcmp(error, message) == 0;
}

}  // namespace

const char* AnswerName(AnswerSeen answer) {
  switch (answer) {
    case AnswerSeen::kComplete:
      return "ok";
    case AnswerSeen::kNone:
      return "none";
    case AnswerSeen::kShort:
      return "short";
    case AnswerSeen::kLate:
      return "late";
  }
  return "?";
}

bool EchoSeen(const ReceiveResult& received, int shift) {
  const ReceiveBlock& b = received.block;
  const MeterRequest& r = received.request;
  if (received.count < EchoEnd(shift)) return false;
  if (shift == 1) return b[0] == r.code && b[1] == r.checksum;
  const std::size_t at = static_cast<std::size_t>(-shift);
  return b[at] == r.address && b[at + 1] == r.code && b[at + 2] == r.checksum;
}

ExchangeDiagnosis DiagnoseExchange(SerialPort& port, HANDLE h, const ReceiveResult& received,
                                   DWORD lateWaitMs) {
  ExchangeDiagnosis d;
  d.count = received.count;
  d.shift = FindEchoShift(received.block, received.request);
  d.echoSeen = EchoSeen(received, d.shift);
  const DWORD echoEnd = EchoEnd(d.shift);
  d.answerBytes = d.count > echoEnd ? d.count - echoEnd : 0;
  if (d.count >= AnswerEnd(d.shift)) {
    d.answer = AnswerSeen::kComplete;
    return d;
  }
  d.answer = d.answerBytes == 0 ? AnswerSeen::kNone : AnswerSeen::kShort;

  BYTE late[64];
  DWORD n = 0;
  port.ReadFile(h, late, sizeof late, n);
  if (n == 0 && lateWaitMs > 0) {
    port.Sleep(lateWaitMs);
    port.ReadFile(h, late, sizeof late, n);
  }
  d.lateBytes = n;
  if (n > 0) d.answer = AnswerSeen::kLate;
  return d;
}

std::string DescribeExchange(const ReceiveResult& received) {
  const MeterRequest& r = received.request;
  const BYTE request[] = {r.address, r.code, r.checksum};
  std::string text = "exchange " + HexBytes(request, 3) + ": ";
  const int shift = FindEchoShift(received.block, r);
  if (EchoSeen(received, shift)) {
    text += "echo at shift " + std::to_string(shift);
  } else {
    text += "no echo";
  }
  const DWORD start = EchoEnd(shift);
  const DWORD end = AnswerEnd(shift);
  const DWORD count = std::min<DWORD>(received.count, kBlockLength);
  if (count > start) {
    const DWORD answered = std::min(count, end) - start;
    text += "; R0..R6 " + HexBytes(received.block.data() + start, answered);
    if (count > end) text += ", then " + HexBytes(received.block.data() + end, count - end);
  }
  const ExchangeResult result = DecodeAnswer(received);
  if (result.positionDecoded) text += "; position " + std::to_string(result.position);
  if (result.error) return text + "; " + result.error;
  const Reading reading{0, result.position, static_cast<double>(result.value),
                        ScaleValue(result.value, result.position)};
  return text + "; value " + std::to_string(result.value) + " = " + FormatReading(reading);
}

int CauseCodeOf(CauseKind kind) {
  return kind == CauseKind::kNone ? kCauseNone : kLineCauseBase + static_cast<int>(kind);
}

FailedReadExplanation ExplainFailedRead(SerialPort& port, HANDLE h, const ReceiveResult& received,
                                        const ExchangeResult& result, const std::string& portName) {
  const char* error = result.error;
  const LineCause& line = port.LastCause();
  // Whatever step failed, a device that went away is the reason; so is a
  // network line's connection lost during the exchange.
  if (line.kind == CauseKind::kLineLost ||
      (error != nullptr && line.kind == CauseKind::kConnectionLost)) {
    return {CauseCodeOf(line.kind), ExplainCause(line, portName)};
  }
  if (Is(error, kMsgApplyMarkMode) || Is(error, kMsgApplySpaceMode)) {
    const std::string cause = ExplainCause(line, portName);
    if (cause.empty())
      return {kCauseSettingsRefused, "hint: the adapter refused the line settings"};
    return {CauseCodeOf(line.kind), cause};
  }
  if (Is(error, kMsgAddressNotWritten) || Is(error, kMsgCodeNotWritten) ||
      Is(error, kMsgChecksumNotWritten)) {
    return {kCauseByteNotTaken,
            "cause: the adapter did not take the byte within 1 s: it was unplugged or is stalled"};
  }
  if (Is(error, kMsgPositionTooLarge)) {
    return {kCausePositionAbove8,
            "cause: the answer's decimal position (R2) is " + std::to_string(result.position) +
                ", above 8, so its value cannot be scaled; check that only one device answers at "
                "this address"};
  }
  if (!Is(error, kMsgNoAnswer)) return {};

  const ExchangeDiagnosis d = DiagnoseExchange(port, h, received, kLateAnswerWaitMs);
  if (d.answer == AnswerSeen::kLate) {
    return {kCauseLateAnswer,
            "cause: the answer came after the read (" + std::to_string(d.lateBytes) +
                " bytes later): the meter is slower than the reader's waits; those stale bytes "
                "were discarded"};
  }
  if (d.count == 0) {
    return {kCauseNothingBack,
            "cause: no bytes came back, not even the echo of the request: the adapter is not "
            "on the bus or the wiring is broken (A/B, ground), or an adapter without echo "
            "and a silent meter"};
  }
  if (!d.echoSeen) {
    return {kCauseNoEcho, "cause: " + std::to_string(d.count) +
                              " bytes came back but not the echo of the request: check the line "
                              "speed (9600) and the wiring (A/B swapped)"};
  }
  if (d.answer == AnswerSeen::kNone) {
    return {kCauseNoMeterAnswer,
            "hint: the request was echoed but no meter answered: wrong address or the meter is "
            "off; zlm-read --port " +
                portName + " --scan lists the meters on the line"};
  }
  return {kCauseShortAnswer, "cause: the answer was too short: " + std::to_string(d.answerBytes) +
                                 " of the 7 bytes up to the value came back; check the line for "
                                 "noise and loose contacts"};
}
