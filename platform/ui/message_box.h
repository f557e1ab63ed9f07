// The modal message box every layer reports through. The dialog framework
// installs the real one; tests install a recorder.
#pragma once

#include <functional>
#include <string>

namespace platform {

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Shows text in a modal message box (one OK button) and returns once the user
// dismissed it.
void ShowMessageBox(const std::string& text);

// Installs the handler; an empty one restores the default, which writes the
// text to standard error.
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace platform
