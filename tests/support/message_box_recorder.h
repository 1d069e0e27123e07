#pragma once

#include <functional>
#include <vector>

#include "ui/framework/message_box_hook.h"

// While it lives, every message box is answered OK without being shown, and
// kept in boxes in the order they came; onBox, when set, sees each one as it
// comes (while the window that showed it still waits for it).
class MessageBoxRecorder {
 public:
  MessageBoxRecorder() {
    SetMessageBoxHook([this](const MessageBoxCall& call) {
      boxes.push_back(call);
      if (onBox) onBox(call);
      return IDOK;
    });
  }
  ~MessageBoxRecorder() { SetMessageBoxHook({}); }
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  std::vector<MessageBoxCall> boxes;
  std::function<void(const MessageBoxCall&)> onBox;
};
