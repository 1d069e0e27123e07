// A window test whose case never ends: a message box that nobody answers.
// window_watch_test.sh runs it and expects the watch to end it, naming the
// case and the box's texts.

#include <gtest/gtest.h>
#include "platform/windows_api.h"

TEST(WindowWatchProbe, BoxNobodyAnswers) {
  MessageBoxW(nullptr, L"Порты заняты", L"Error", MB_ICONERROR);
}
