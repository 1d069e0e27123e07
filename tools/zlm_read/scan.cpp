#include "tools/zlm_read/scan.h"

#include <cstdio>

#include "tools/zlm_read/console.h"
#include "tools/zlm_read/scan_output.h"

void PrintExplanation(const std::string& line) {
  if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
}

int RunScan(SerialPort& line, HANDLE h, const std::string& portName, OutputFormat format,
            DWORD answerWaitMs, const std::function<bool()>& stop) {
  const bool progress = StderrIsTerminal();
  int shown = 0;  // length of the progress text on the terminal
  const std::vector<ScanRow> rows = ScanBus(
      line, h,
      [&](int32_t address) {
        if (progress) {
          shown = std::fprintf(stderr, "\rscanning %s: address %d of 0..%d", portName.c_str(),
                               address, kMaxBusAddress);
        }
        return !stop();
      },
      answerWaitMs);
  if (progress) std::fprintf(stderr, "\r%*s\r", shown, "");

  if (!rows.empty() && !rows.back().sent) {
    // The line refused a setting or a byte: nothing was asked at all.
    std::fprintf(stderr, "%s\n", rows.back().error);
    PrintExplanation(ExplainFailedRead(line, h, {}, {.error = rows.back().error}, portName).text);
    return 1;
  }
  std::fputs(FormatScan(format, rows).c_str(), stdout);
  // The summary stays out of machine-readable output.
  std::FILE* summary = format == OutputFormat::kTable ? stdout : stderr;
  std::fprintf(summary, "%s\n", FoundLine(rows).c_str());
  std::fflush(stdout);
  PrintExplanation(ExplainEmptyScan(rows, portName));
  return MetersFound(rows).empty() ? 1 : 0;
}
