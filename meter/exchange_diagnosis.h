#pragma once

#include <string>

#include "meter/read_exchange.h"

// Why an exchange failed, told from what the link format fixes: the echo of
// the request, the number of bytes, and R2..R6. The meter's other answer
// bytes (R0, R1, anything after R6) are not relied on.

// What came back after the echo.
enum class AnswerSeen {
  kComplete,  // at least R0..R6
  kNone,      // nothing after the echo (or nothing at all)
  kShort,     // some of R0..R6
  kLate,      // missing or short at the read, but bytes came after it
};
const char* AnswerName(AnswerSeen answer);  // "ok", "none", "short", "late"

struct ExchangeDiagnosis {
  DWORD count = 0;  // bytes the read brought
  bool echoSeen = false;
  int shift = 0;          // where the echo sits (FindEchoShift)
  DWORD answerBytes = 0;  // bytes after the echo (after position 2 without one)
  AnswerSeen answer = AnswerSeen::kNone;
  DWORD lateBytes = 0;  // bytes that arrived after the read
};

// Whether the block holds the echo of the request where the shift puts it:
// all three bytes, or code and checksum when the address echo is missing.
bool EchoSeen(const ReceiveResult& received, int shift);

// Inspects one exchange whose three bytes went out. When the answer is
// missing or short, reads once more after lateWaitMs to tell a slow meter
// from a silent one; bytes read then are stale and dropped.
ExchangeDiagnosis DiagnoseExchange(SerialPort& port, HANDLE h, const ReceiveResult& received,
                                   DWORD lateWaitMs);

// The exchange on one trace line: the request, the echo and its shift, the
// answer bytes R0..R6 and what followed, then the position and value or the
// failure.
std::string DescribeExchange(const ReceiveResult& received);

// Why a read failed, as a number for machines (the Modbus map's cause
// register): one of these, or kLineCauseBase + the line's CauseKind when the
// line itself explains it; 0 when there is nothing to add.
enum ReadCause : int {
  kCauseNone = 0,
  kCauseLateAnswer = 1,      // the answer came after the read
  kCauseNothingBack = 2,     // not even the echo came back
  kCauseNoEcho = 3,          // bytes, but not the echo of the request
  kCauseNoMeterAnswer = 4,   // the request was echoed, no meter answered
  kCauseShortAnswer = 5,     // part of R0..R6 came back
  kCauseByteNotTaken = 6,    // the adapter did not take a byte
  kCausePositionAbove8 = 7,  // R2 above 8
  kCauseSettingsRefused = 8  // the adapter refused the line settings, no more known
};
inline constexpr int kLineCauseBase = 100;
// kLineCauseBase + kind, or 0 for CauseKind::kNone.
int CauseCodeOf(CauseKind kind);

// The line zlm-read prints after the failure message of a read ("cause: ..."
// or "hint: ...", empty when there is nothing to add) and its code.
struct FailedReadExplanation {
  int code = kCauseNone;
  std::string text;
};
// May read the line once more (see DiagnoseExchange); port is named as the
// user wrote it.
FailedReadExplanation ExplainFailedRead(SerialPort& port, HANDLE h, const ReceiveResult& received,
                                        const ExchangeResult& result, const std::string& portName);

// How long ExplainFailedRead waits for an answer that missed the read.
inline constexpr DWORD kLateAnswerWaitMs = 200;
