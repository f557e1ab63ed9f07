// The desktop's own windows: the backend the window program (kw9, kw9.exe)
// runs on. One file per platform: win32/win32_backend.cpp on Windows.
#pragma once

#include "platform/ui/backend.h"

namespace ui {

// False when the desktop's windows would have nowhere to show: on Linux no X
// or Wayland display is named and no other platform was chosen (offscreen,
// as the tests use). Asked before NativeBackend(), which cannot be made then.
bool NativeDisplayFound();

// Made on the first call, which must come from the thread that will run the
// windows (the user-interface thread).
Backend& NativeBackend();

// Takes the backend down while the program still runs, as main returns: a
// desktop library whose own static objects go before the program's (Qt's
// do) must not be torn down after them. Nothing may use the backend after.
void EndNativeBackend();

}  // namespace ui
