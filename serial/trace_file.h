#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// A trace of line operations that a user can send to whoever supports them.
// The file is appended to and written a line at a time, so it survives a
// crash and several runs can share it. A trace never disturbs the work it
// watches: it is opened and written without waiting (a FIFO without a reader
// is not opened; a line that does not fit into a full pipe is dropped and
// counted, as is every line while the pipe's reader is gone), and a trace
// that cannot be written stays silent.
class TraceFile {
 public:
  // Opens path for appending and writes a first line naming the program and
  // the wall-clock time. Error() says why when it could not be opened.
  TraceFile(const std::string& path, const std::string& program);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool IsOpen() const { return m_open; }
  const std::string& Error() const { return m_error; }

  // text on one line, after the seconds on the monotonic clock since the
  // first line (microseconds): "0.021345 write ff mark: 1". After lines were
  // lost, a line first says how many.
  void Line(const std::string& text);

 private:
  // Writes the whole of text at once, or nothing; false when it could not.
  bool Write(const std::string& text);

#ifdef _WIN32
  std::FILE* m_file = nullptr;
#else
  int m_fd = -1;
#endif
  bool m_open = false;
  std::string m_error;
  std::chrono::steady_clock::time_point m_start;
  std::uint64_t m_lost = 0;  // lines dropped since the last one written
};
