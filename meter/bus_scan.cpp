#include "meter/bus_scan.h"

#include <algorithm>
#include <cstdio>

std::vector<ScanRow> ScanBus(SerialPort& port, HANDLE h,
                             const std::function<bool(int32_t)>& before) {
  std::vector<ScanRow> rows;
  for (int32_t address = 0; address <= kMaxBusAddress; ++address) {
    if (before && !before(address)) break;
    const ReceiveResult received = SendRequest(port, h, address, kScanCode);
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

std::string FormatScan(OutputFormat format, const std::vector<ScanRow>& rows) {
  std::string out;
  // Line protocol is for readings (zlm-read refuses it with a scan): the
  // table stands in.
  switch (format) {
    case OutputFormat::kTable:
    case OutputFormat::kInflux:
      out = "address  echo  answer  nominal_diameter\n";
      break;
    case OutputFormat::kCsv:
      out = "address,echo,answer,nominal_diameter\n";
      break;
    case OutputFormat::kJson:
      break;
  }
  for (const ScanRow& row : rows) {
    const std::string diameter = row.diameter ? FormatReading(*row.diameter) : "";
    char line[128];
    switch (format) {
      case OutputFormat::kTable:
      case OutputFormat::kInflux:
        std::snprintf(line, sizeof line, "%7d  %-4s  %-6s  %s%s\n", row.address,
                      row.echoSeen ? "yes" : "no", AnswerName(row.answer), diameter.c_str(),
                      row.diameter ? " mm" : "");
        break;
      case OutputFormat::kCsv:
        std::snprintf(line, sizeof line, "%d,%s,%s,%s\n", row.address, row.echoSeen ? "yes" : "no",
                      AnswerName(row.answer), diameter.c_str());
        break;
      case OutputFormat::kJson:
        std::snprintf(line, sizeof line,
                      "{\"address\":%d,\"echo\":%s,\"answer\":\"%s\",\"nominal_diameter\":%s}\n",
                      row.address, row.echoSeen ? "true" : "false", AnswerName(row.answer),
                      row.diameter ? diameter.c_str() : "null");
        break;
    }
    out += line;
  }
  return out;
}

std::string FoundLine(const std::vector<ScanRow>& rows) {
  const std::vector<int32_t> found = MetersFound(rows);
  std::string line = "meters found: ";
  if (found.empty()) return line + "none";
  for (std::size_t i = 0; i < found.size(); ++i) {
    line += (i > 0 ? ", " : "") + std::to_string(found[i]);
  }
  return line;
}

std::string ExplainEmptyScan(const std::vector<ScanRow>& rows, const std::string& portName) {
  if (!MetersFound(rows).empty() || rows.empty()) return {};
  const auto any = [&rows](auto test) { return std::any_of(rows.begin(), rows.end(), test); };
  if (any([](const ScanRow& r) { return r.answer == AnswerSeen::kLate; })) {
    return "cause: answers came after the read: the meter is slower than the reader's waits";
  }
  if (any([](const ScanRow& r) { return r.answer == AnswerSeen::kShort; })) {
    return "cause: answers were too short: check the line for noise and loose contacts";
  }
  if (any([](const ScanRow& r) { return r.echoSeen; })) {
    return "hint: every request was echoed but no meter answered: the meters are off, on "
           "another line, or not ZLM meters";
  }
  if (!any([](const ScanRow& r) { return !r.sent; })) {
    return "cause: no bytes came back on " + portName +
           ", not even the echo of the requests: the adapter is not on the bus or the wiring "
           "is broken (A/B, ground), or an adapter without echo and silent meters";
  }
  return {};
}
