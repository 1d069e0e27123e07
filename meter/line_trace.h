#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"
#include "serial/trace_file.h"
#include "serial/tracing_serial_port.h"

// The environment variable that names a trace file for every program.
inline constexpr char kTraceVariable[] = "ZLM_TRACE";

// path when given, else ZLM_TRACE's value, else empty (no trace).
std::string TracePathOf(const std::string& path);

// A line with an optional trace: every operation, and each exchange decoded
// on a line of its own. Without a path, or when the file cannot be opened,
// Line() is the given line itself and Error() says why there is no trace.
class TracedLine {
 public:
  TracedLine(SerialPort& line, const std::string& path, const std::string& program);

  SerialPort& Line() { return m_traced ? *m_traced : m_line; }
  const std::string& Error() const { return m_error; }

 private:
  SerialPort& m_line;
  std::unique_ptr<TraceFile> m_file;
  std::unique_ptr<TracingSerialPort> m_traced;
  std::string m_error;
};
