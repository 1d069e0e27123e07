#include "tools/zlm_read/print_sink.h"

void PrintSink::Print(const std::string& text) {
  if (m_format == OutputFormat::kCsv && !m_headerDone) std::fputs(CsvHeader().c_str(), m_out);
  m_headerDone = true;
  std::fputs(text.c_str(), m_out);
  std::fflush(m_out);
}

void PrintSink::Read(const MeterCycle& cycle) { Print(FormatCycle(m_format, cycle)); }

void PrintSink::Failed(const MeterFailure& failure) {
  if (const std::string row = FormatFailure(m_format, failure); !row.empty()) Print(row);
  // While the port is away the one line about its loss says it all.
  if (failure.lineDown) return;
  if (m_severalMeters) std::fprintf(m_err, "address %d: ", failure.address);
  std::fprintf(m_err, "%s\n", failure.message.c_str());
  if (!failure.cause.empty()) std::fprintf(m_err, "%s\n", failure.cause.c_str());
  std::fflush(m_err);
}
