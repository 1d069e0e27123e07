#include "tools/zlm_read/scan_output.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

// One row as a JSON object. The diameter keeps the meter's own digits
// (50.000000, as the table shows it), which a number written by the library
// would shorten, so its text is appended as the last member.
std::string ScanJson(const ScanRow& row) {
  const nlohmann::ordered_json object = {
      {"address", row.address}, {"echo", row.echoSeen}, {"answer", AnswerName(row.answer)}};
  std::string text = object.dump();
  text.pop_back();  // the closing brace
  return text + ",\"nominal_diameter\":" + (row.diameter ? FormatReading(*row.diameter) : "null") +
         "}\n";
}

std::string ScanLine(OutputFormat format, const ScanRow& row) {
  const std::string diameter = row.diameter ? FormatReading(*row.diameter) : "";
  const char* echo = row.echoSeen ? "yes" : "no";
  char line[128];
  switch (format) {
    case OutputFormat::kTable:
    case OutputFormat::kInflux:
      std::snprintf(line, sizeof line, "%7d  %-4s  %-6s  %s%s\n", row.address, echo,
                    AnswerName(row.answer), diameter.c_str(), row.diameter ? " mm" : "");
      return line;
    case OutputFormat::kCsv:
      return std::to_string(row.address) + "," + echo + "," + AnswerName(row.answer) + "," +
             diameter + "\n";
    case OutputFormat::kJson:
      return ScanJson(row);
  }
  return {};
}

}  // namespace

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
  for (const ScanRow& row : rows) out += ScanLine(format, row);
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
