#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "tools/zlm_read/console.h"

const char kPortHelp[] =
    "COMn (through the same COM mapping as the window's port list), a device path such as "
    "/dev/ttyUSB0, or a network serial server (RFC 2217) as rfc2217://HOST:PORT";
const char kStopHelp[] = "Ctrl+C, SIGTERM, SIGHUP or the end of the pipe that takes the output";

namespace {

// SIGHUP ends the reader like SIGTERM (its terminal is gone, or a service
// manager asks). SIGPIPE comes when whatever read stdout has gone (| head
// -1): nothing can take the readings any more, so it ends the reader too,
// between cycles, with the port closed and its lock removed.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kStopSignals) sigaddset(&signals, signal);
  return signals;
}

}  // namespace

// The terminal already speaks the locale's encoding; nothing to switch.
void UseUtf8Output() {}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

// The stop signals are blocked, so they stay pending during a cycle (a pty
// would otherwise stay marked exclusive) and are taken in WaitUntil.
StopRequests::StopRequests() {
  const sigset_t signals = StopSignals();
  sigprocmask(SIG_BLOCK, &signals, nullptr);
}

StopRequests::~StopRequests() = default;

bool StopRequests::WaitUntil(std::chrono::steady_clock::time_point until) {
  const sigset_t signals = StopSignals();
  for (;;) {
    const auto left = std::max(until - std::chrono::steady_clock::now(),
                               std::chrono::steady_clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                           static_cast<long>(ns % 1'000'000'000)};
    if (::sigtimedwait(&signals, nullptr, &timeout) > 0) return true;
    if (ns == 0) return false;
  }
}

bool StopRequests::Pending() const {
  sigset_t pending;
  sigpending(&pending);
  for (const int signal : kStopSignals) {
    if (sigismember(&pending, signal) == 1) return true;
  }
  return false;
}
