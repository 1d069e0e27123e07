#pragma once

#include <array>
#include <cstdint>
#include <numeric>

#include "meter/link_format.h"
#include "serial/serial_port.h"

// One request/response exchange with the meter for one parameter code on an
// open port. The exchange shows nothing: it reports the failing step's
// message in its result and leaves any status, timers and message boxes to
// its caller. Callers check the address with IsValidMeterAddress first.

// Address byte with the ninth bit 1, code and checksum with it 0.
inline constexpr char kMarkMode[] = "baud=9600 parity=M data=8 stop=1 rts=on dtr=on";
inline constexpr char kSpaceMode[] = "baud=9600 parity=S data=8 stop=1";

// The one settings record every exchange parses its two mode strings into
// and applies whole. All zero at start and never reset, so each mode is
// applied on top of what the previous one left (RTS and DTR stay asserted in
// space mode because mark mode asserted them).
DCB& TransactionSettings();

// The failing step's message, as the window shows it, in the order of the
// steps.
inline constexpr char kMsgIncorrectAddress[] = "Incorrect Adres ZLM";
inline constexpr char kMsgBuildMarkMode[] = "BuildCommDCB M1 error";
inline constexpr char kMsgApplyMarkMode[] = "SetCommState M1 error";
inline constexpr char kMsgAddressNotWritten[] = "Adres error1";
inline constexpr char kMsgBuildSpaceMode[] = "BuildCommDCB S1 error";
inline constexpr char kMsgApplySpaceMode[] = "SetCommState S1 error";
inline constexpr char kMsgCodeNotWritten[] = "Data=1 error1";
inline constexpr char kMsgChecksumNotWritten[] = "Kont sum error";
inline constexpr char kMsgPositionTooLarge[] = "Error reading (mnogitel>8)";
inline constexpr char kMsgNoAnswer[] = "No answer from ZLM";

// What came back for one request. error is one of the messages above, or
// nullptr when all three bytes went out and the block was read.
struct ReceiveResult {
  const char* error = nullptr;
  MeterRequest request{};
  ReceiveBlock block{};
  DWORD count = 0;
};

// The waits between the steps of an exchange: one lets the line finish a
// byte (about 1.15 ms at 9600 baud), the other lets it settle after a change
// of settings or a read.
inline constexpr DWORD kSettleMs = 10;
inline constexpr DWORD kByteMs = 1;
// Every wait of a successful exchange, in order: after mark mode, the
// address byte, then before space mode, after it, the code byte, the
// checksum byte, before the read and after it.
inline constexpr std::array<DWORD, 8> kExchangeWaitsMs = {
    kSettleMs, kByteMs, kSettleMs, kSettleMs, kByteMs, kSettleMs, kSettleMs, kSettleMs};
inline constexpr DWORD kExchangeWaitMs =
    std::accumulate(kExchangeWaitsMs.begin(), kExchangeWaitsMs.end(), DWORD{0});

// Mark mode, address byte, space mode, code and checksum bytes, then one read
// of up to 12 bytes, with the waits of kExchangeWaitsMs between them. Input
// still queued from an earlier exchange is discarded right before the
// address byte, so a late answer is never taken for this one. Only the
// written counts decide whether a byte went out.
//
// answerWaitMs above 0 lets a line that delivers late finish the answer: when
// the one read finds it incomplete, the exchange reads again every kByteMs
// until the answer is whole or it has waited that long in all. The exchange
// of a meter that answers in time is the same either way.
ReceiveResult SendRequest(SerialPort& port, HANDLE h, int32_t address, int32_t code,
                          DWORD answerWaitMs = 0);

// Whether the block holds the whole answer behind the echo: as many bytes as
// DecodeAnswer needs at the echo position found.
bool AnswerComplete(const ReceiveResult& received);

// error is nullptr on success, with position and value set. A position above
// 8 fails but is still reported (positionDecoded). A block too short to hold
// the answer at the found echo position fails with kMsgNoAnswer and decodes
// nothing, so a silent meter never reads as zeros.
struct ExchangeResult {
  const char* error = nullptr;
  bool positionDecoded = false;
  int32_t position = 0;
  int32_t value = 0;
};
ExchangeResult DecodeAnswer(const ReceiveResult& received);

// SendRequest followed by DecodeAnswer, for callers that refresh nothing in
// between.
ExchangeResult ExchangeParameter(SerialPort& port, HANDLE h, int32_t address, int32_t code);
