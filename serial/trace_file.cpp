#include "serial/trace_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

TraceFile::TraceFile(const std::string& path, const std::string& program)
    : m_start(std::chrono::steady_clock::now()) {
#ifdef _WIN32
  m_file = std::fopen(path.c_str(), "a");
  m_open = m_file != nullptr;
#else
  // Without O_NONBLOCK, opening a FIFO waits for a reader, for ever.
  m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  m_open = m_fd >= 0;
#endif
  if (!m_open) {
    m_error = "cannot open " + path + ": " +
              (errno == ENXIO ? std::string("a FIFO without a reader") : std::strerror(errno));
    return;
  }
  const std::time_t now = std::time(nullptr);
  char when[32] = "?";
  if (const std::tm* utc = std::gmtime(&now)) {
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  Write("# " + program + " trace started " + when + "; seconds on the monotonic clock from here\n");
}

TraceFile::~TraceFile() {
#ifdef _WIN32
  if (m_file != nullptr) std::fclose(m_file);
#else
  if (m_fd >= 0) ::close(m_fd);
#endif
}

bool TraceFile::Write(const std::string& text) {
#ifdef _WIN32
  // Each line is flushed at once (not every C library line-buffers files).
  const bool written = std::fputs(text.c_str(), m_file) >= 0;
  return std::fflush(m_file) == 0 && written;
#else
  // A pipe whose reader has gone raises SIGPIPE, which would end the
  // program or count as a stop request: it is held back here and taken away.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipe, &before);
  sigset_t pending;
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t n = ::write(m_fd, text.data(), text.size());
  const int error = errno;
  if (n < 0 && error == EPIPE && !pendingBefore) {
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  // A line of a pipe's size or less goes into a pipe whole or not at all;
  // a longer one cut short is still a lost line.
  return n == static_cast<ssize_t>(text.size());
#endif
}

void TraceFile::Line(const std::string& text) {
  if (!m_open) return;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - m_start)
                      .count();
  std::string fraction = std::to_string(us % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  const std::string stamp = std::to_string(us / 1000000) + "." + fraction + " ";
  // A full disk, a full pipe or a vanished file is not the reader's
  // business: the line is lost, counted, and reading goes on.
  if (m_lost > 0) {
    if (!Write(stamp + "# " + std::to_string(m_lost) + " trace lines lost\n")) {
      ++m_lost;
      return;
    }
    m_lost = 0;
  }
  if (!Write(stamp + text + "\n")) ++m_lost;
}
