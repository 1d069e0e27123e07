#include "ui/framework/message_box_hook.h"

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

const MessageBoxHook& GetMessageBoxHook() { return Hook(); }
