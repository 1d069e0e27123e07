#include "serial/trace_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

TraceFile::TraceFile(const std::string& path, const std::string& program)
    : m_start(std::chrono::steady_clock::now()) {
  m_file = std::fopen(path.c_str(), "a");
  if (m_file == nullptr) {
    m_error = "cannot open " + path + ": " + std::strerror(errno);
    return;
  }
  const std::time_t now = std::time(nullptr);
  char when[32] = "?";
  if (const std::tm* utc = std::gmtime(&now)) {
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  std::fprintf(m_file, "# %s trace started %s; seconds on the monotonic clock from here\n",
               program.c_str(), when);
  std::fflush(m_file);
}

TraceFile::~TraceFile() {
  if (m_file != nullptr) std::fclose(m_file);
}

void TraceFile::Line(const std::string& text) {
  if (m_file == nullptr) return;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - m_start)
                      .count();
  // A full disk or a vanished file is not the reader's business: the line is
  // lost and reading goes on.
  std::string fraction = std::to_string(us % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  const std::string line = std::to_string(us / 1000000) + "." + fraction + " " + text + "\n";
  // Each line is flushed at once (not every C library line-buffers files).
  std::fputs(line.c_str(), m_file);
  std::fflush(m_file);
}
