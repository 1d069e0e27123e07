#pragma once

#include <functional>
#include <string>

#include "ui/framework/win_defs.h"

// Lets a test answer message boxes (errors and data-exchange prompts)
// without a person. While a hook is set, CWnd::MessageBox calls it instead of
// showing a box and returns its result.
struct MessageBoxCall {
  std::string text;
  std::string caption;
  UINT style;
};

using MessageBoxHook = std::function<int(const MessageBoxCall&)>;

// An empty hook restores the real boxes.
void SetMessageBoxHook(MessageBoxHook hook);
const MessageBoxHook& GetMessageBoxHook();
