#include "platform/ui/message_box.h"

#include <cstdio>

namespace platform {

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

void ShowMessageBox(const std::string& text) {
  if (Handler()) {
    Handler()(text);
  } else {
    std::fprintf(stderr, "kw9: %s\n", text.c_str());
  }
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

}  // namespace platform
