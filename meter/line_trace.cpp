#include "meter/line_trace.h"

#include <algorithm>
#include <cstdlib>

#include "meter/exchange_diagnosis.h"

std::string TracePathOf(const std::string& path) {
  if (!path.empty()) return path;
  const char* value = std::getenv(kTraceVariable);
  return value != nullptr ? value : "";
}

TracedLine::TracedLine(SerialPort& line, const std::string& path, const std::string& program)
    : m_line(line) {
  if (path.empty()) return;
  m_file = std::make_unique<TraceFile>(path, program);
  if (!m_file->IsOpen()) {
    m_error = m_file->Error();
    m_file.reset();
    return;
  }
  m_traced = std::make_unique<TracingSerialPort>(line, *m_file, [](const TracedRequest& seen) {
    ReceiveResult received;
    received.request = {seen.bytes[0], seen.bytes[1], seen.bytes[2]};
    received.count = std::min<DWORD>(seen.count, kBlockLength);
    std::copy_n(seen.block, received.count, received.block.begin());
    return DescribeExchange(received);
  });
}
