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
  std::setvbuf(m_file, nullptr, _IOLBF, 1024);
  const std::time_t now = std::time(nullptr);
  char when[32] = "?";
  if (const std::tm* utc = std::gmtime(&now)) {
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  std::fprintf(m_file, "# %s trace started %s; seconds on the monotonic clock from here\n",
               program.c_str(), when);
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
  std::fprintf(m_file, "%lld.%06lld %s\n", static_cast<long long>(us / 1000000),
               static_cast<long long>(us % 1000000), text.c_str());
}
