#include "meter/bus_scan.h"

std::vector<ScanRow> ScanBus(SerialPort& port, HANDLE h, const std::function<bool(int32_t)>& before,
                             DWORD answerWaitMs) {
  std::vector<ScanRow> rows;
  for (int32_t address = 0; address <= kMaxBusAddress; ++address) {
    if (before && !before(address)) break;
    const ReceiveResult received = SendRequest(port, h, address, kScanCode, answerWaitMs);
    const ExchangeResult result = DecodeAnswer(received);
    ScanRow row;
    row.address = address;
    row.error = result.error;
    row.sent = received.error == nullptr;
    if (!row.sent) {
      rows.push_back(row);
      break;
    }
    const ExchangeDiagnosis d = DiagnoseExchange(port, h, received, kScanLateWaitMs);
    row.echoSeen = d.echoSeen;
    row.answer = d.answer;
    if (!result.error) {
      row.diameter = Reading{kScanCode, result.position, static_cast<double>(result.value),
                             ScaleValue(result.value, result.position)};
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<int32_t> MetersFound(const std::vector<ScanRow>& rows) {
  std::vector<int32_t> found;
  for (const ScanRow& row : rows) {
    if (row.answer == AnswerSeen::kComplete) found.push_back(row.address);
  }
  return found;
}
