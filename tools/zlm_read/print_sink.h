#pragma once

#include <cstdio>
#include <string>

#include "tools/zlm_read/reading_sink.h"

// Readings to stdout in one of the output formats (the CSV header before the
// first row), and there a row for each failed cycle too where the format
// has one; failures to stderr, the message alone when one meter is read,
// after "address N: " when several are, then the line that explains it
// ("cause: ..." or "hint: ...") where there is one; nothing on stderr for
// the cycles of a port that is away (its loss was said once).
class PrintSink final : public ReadingSink {
 public:
  PrintSink(OutputFormat format, bool severalMeters, std::FILE* out, std::FILE* err)
      : m_format(format), m_severalMeters(severalMeters), m_out(out), m_err(err) {}

  void Read(const MeterCycle& cycle) override;
  void Failed(const MeterFailure& failure) override;

 private:
  void Print(const std::string& text);

  OutputFormat m_format;
  bool m_severalMeters;
  std::FILE* m_out;
  std::FILE* m_err;
  bool m_headerDone = false;
};
