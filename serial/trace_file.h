#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// A trace of line operations that a user can send to whoever supports them.
// The file is appended to and written a line at a time, so it survives a
// crash and several runs can share it. A trace that cannot be written stays
// silent: it never disturbs the work it watches.
class TraceFile {
 public:
  // Opens path for appending and writes a first line naming the program and
  // the wall-clock time. Error() says why when it could not be opened.
  TraceFile(const std::string& path, const std::string& program);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool IsOpen() const { return m_file != nullptr; }
  const std::string& Error() const { return m_error; }

  // text on one line, after the seconds on the monotonic clock since the
  // first line (microseconds): "0.021345 write ff mark: 1".
  void Line(const std::string& text);

 private:
  std::FILE* m_file = nullptr;
  std::string m_error;
  std::chrono::steady_clock::time_point m_start;
};
