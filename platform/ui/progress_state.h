// The progress bar as the native control keeps it: every backend's bar
// follows these rules, so a download's wrapped position is the same on each.
#pragma once

#include <cstdint>

namespace ui {

struct ProgressState {
  int lower = 0, upper = 100, step = 10, position = 0;
};

// Applies one progress bar message (backend.h's ProgressMessage) and gives
// its result: the old range, position or step, or the position.
intptr_t ApplyProgressMessage(ProgressState& p, unsigned message, uintptr_t wParam,
                              intptr_t lParam);

}  // namespace ui
