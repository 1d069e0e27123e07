#include <io.h>

#include <algorithm>
#include <cstdio>

#include "platform/windows_api.h"
#include "tools/zlm_read/console.h"

const char kPortHelp[] = "COMn, the system's own port number (COM1..COM255)";
const char kStopHelp[] = "Ctrl+C or Ctrl+Break";

namespace {

// Set by the console's control handler, which runs on a thread of its own.
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  ::SetEvent(g_stopEvent);
  return TRUE;
}

}  // namespace

void UseUtf8Output() { ::SetConsoleOutputCP(CP_UTF8); }

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

StopRequests::StopRequests() {
  g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  ::CloseHandle(g_stopEvent);
  g_stopEvent = nullptr;
}

bool StopRequests::WaitUntil(std::chrono::steady_clock::time_point until) {
  for (;;) {
    const auto left = std::max(until - std::chrono::steady_clock::now(),
                               std::chrono::steady_clock::duration::zero());
    // Rounded up, so the wait never ends before the time.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    const DWORD waitMs = static_cast<DWORD>(std::min<decltype(ms)>(ms, INFINITE - 1));
    if (::WaitForSingleObject(g_stopEvent, waitMs) == WAIT_OBJECT_0) return true;
    if (ms == 0) return false;
  }
}

// The event is reset by nobody: a request stays seen.
bool StopRequests::Pending() const {
  return ::WaitForSingleObject(g_stopEvent, 0) == WAIT_OBJECT_0;
}
