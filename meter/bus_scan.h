#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "meter/exchange_diagnosis.h"
#include "meter/reading_cycle.h"

// Finding the meters on a line: every bus address asked once for the
// nominal diameter.

inline constexpr int32_t kScanCode = 119;
// A scan waits this long for an answer that missed the read, so a slow
// meter shows as late without stretching the scan much.
inline constexpr DWORD kScanLateWaitMs = 10;

struct ScanRow {
  int32_t address = 0;
  bool echoSeen = false;
  AnswerSeen answer = AnswerSeen::kNone;
  std::optional<Reading> diameter;  // a complete answer that decoded
  const char* error = nullptr;      // the exchange's failure, if any
  bool sent = true;                 // all three request bytes went out
};

// Asks addresses 0..31 in order on an open port with baseline settings.
// before(address) runs ahead of each address; false stops the scan there.
// A request that could not be sent (settings refused, a byte not taken)
// ends the scan with its row: the line itself is at fault. answerWaitMs as
// for SendRequest.
std::vector<ScanRow> ScanBus(SerialPort& port, HANDLE h,
                             const std::function<bool(int32_t)>& before = {},
                             DWORD answerWaitMs = 0);

// Addresses whose meter answered in full.
std::vector<int32_t> MetersFound(const std::vector<ScanRow>& rows);
