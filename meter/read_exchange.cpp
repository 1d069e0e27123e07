#include "meter/read_exchange.h"

DCB& TransactionSettings() {
  static DCB settings{};
  return settings;
}

namespace {

// Each step gives nullptr or the message of its failure.
const char* ApplyMode(SerialPort& port, HANDLE h, const char* mode, const char* parseError,
                      const char* applyError) {
  DCB& settings = TransactionSettings();
  if (!BuildCommDCB(mode, settings)) return parseError;
  if (!port.SetCommState(h, settings)) return applyError;
  return nullptr;
}

// The wait lets the byte leave the line before anything else happens; only
// the written count tells whether it went out.
const char* WriteByte(SerialPort& port, HANDLE h, BYTE value, DWORD waitMs, const char* error) {
  DWORD written = 0;
  port.WriteFile(h, &value, 1, written);
  port.Sleep(waitMs);
  return written == 1 ? nullptr : error;
}

}  // namespace

bool AnswerComplete(const ReceiveResult& received) {
  return received.count >= static_cast<DWORD>(10 - FindEchoShift(received.block, received.request));
}

ReceiveResult SendRequest(SerialPort& port, HANDLE h, int32_t address, int32_t code,
                          DWORD answerWaitMs) {
  ReceiveResult result;
  const MeterRequest request = MakeRequest(address, code);
  result.request = request;

  if ((result.error = ApplyMode(port, h, kMarkMode, kMsgBuildMarkMode, kMsgApplyMarkMode))) {
    return result;
  }
  port.Sleep(kSettleMs);
  port.PurgeComm(h);
  if ((result.error = WriteByte(port, h, request.address, kByteMs, kMsgAddressNotWritten))) {
    return result;
  }
  port.Sleep(kSettleMs);

  if ((result.error = ApplyMode(port, h, kSpaceMode, kMsgBuildSpaceMode, kMsgApplySpaceMode))) {
    return result;
  }
  port.Sleep(kSettleMs);
  if ((result.error = WriteByte(port, h, request.code, kByteMs, kMsgCodeNotWritten)) ||
      (result.error = WriteByte(port, h, request.checksum, kSettleMs, kMsgChecksumNotWritten))) {
    return result;
  }

  port.Sleep(kSettleMs);
  port.ReadFile(h, result.block.data(), kBlockLength, result.count);
  for (DWORD waited = 0; waited < answerWaitMs && !AnswerComplete(result); waited += kByteMs) {
    port.Sleep(kByteMs);
    DWORD more = 0;
    if (!port.ReadFile(h, result.block.data() + result.count, kBlockLength - result.count, more)) {
      break;
    }
    result.count += more;
  }
  port.Sleep(kSettleMs);
  return result;
}

ExchangeResult DecodeAnswer(const ReceiveResult& received) {
  ExchangeResult result;
  if (received.error) {
    result.error = received.error;
    return result;
  }
  // The answer's last value byte sits at 9 - shift.
  if (!AnswerComplete(received)) {
    result.error = kMsgNoAnswer;
    return result;
  }
  const int shift = FindEchoShift(received.block, received.request);
  const DecodedResponse decoded = DecodeResponse(received.block, shift);
  result.positionDecoded = true;
  result.position = decoded.position;
  if (decoded.position > kMaxPosition) {
    result.error = kMsgPositionTooLarge;
    return result;
  }
  result.value = decoded.value;
  return result;
}

ExchangeResult ExchangeParameter(SerialPort& port, HANDLE h, int32_t address, int32_t code) {
  return DecodeAnswer(SendRequest(port, h, address, code));
}
