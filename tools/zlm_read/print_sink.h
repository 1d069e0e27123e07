#pragma once

#include <cstdio>

#include "tools/zlm_read/reading_sink.h"

// Readings to stdout in one of the output formats (the CSV header before the
// first row); failures to stderr, the message alone when one meter is read,
// after "address N: " when several are, then the line that explains it
// ("cause: ..." or "hint: ...") where there is one.
class PrintSink final : public ReadingSink {
 public:
  PrintSink(OutputFormat format, bool severalMeters, std::FILE* out, std::FILE* err)
      : m_format(format), m_severalMeters(severalMeters), m_out(out), m_err(err) {}

  void Read(const MeterCycle& cycle) override;
  void Failed(const MeterFailure& failure) override;

 private:
  OutputFormat m_format;
  bool m_severalMeters;
  std::FILE* m_out;
  std::FILE* m_err;
  bool m_headerDone = false;
};
