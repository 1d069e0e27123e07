// Keeps Wine's desktop open for a whole test run. The desktop process ends
// shortly after the last program that uses it, and a program that starts
// while it is ending can wait for it for good; with this program attached
// from the first test to the last, the desktop starts once.
//
// Usage: desktop_keeper READY_FILE
//   Creates READY_FILE once its (hidden) window is on the desktop, then
//   waits for messages until the Wine server ends it.

#include "platform/windows_api.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: desktop_keeper READY_FILE\n");
    return 2;
  }
  // Never shown: it takes no part in activation and lists nowhere.
  if (!CreateWindowExW(0, L"STATIC", L"desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                       GetModuleHandleW(nullptr), nullptr)) {
    std::fprintf(stderr, "desktop_keeper: no window (%lu)\n", GetLastError());
    return 1;
  }
  if (std::FILE* ready = std::fopen(argv[1], "w")) {
    std::fclose(ready);
  } else {
    std::fprintf(stderr, "desktop_keeper: cannot create %s\n", argv[1]);
    return 1;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
