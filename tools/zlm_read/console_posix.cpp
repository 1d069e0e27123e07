#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "tools/zlm_read/console.h"

const char kPortHelp[] =
    "COMn (through the same COM mapping as the window's port list), a device path such as "
    "/dev/ttyUSB0, or a network serial server (RFC 2217) as rfc2217://HOST:PORT";
const char kStopHelp[] = "Ctrl+C or SIGTERM";

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
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
  return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1;
}
