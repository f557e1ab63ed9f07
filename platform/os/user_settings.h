// The user's own settings: a few named texts the window keeps between runs.
// On Windows they are the values of the registry key
// HKEY_CURRENT_USER\Software\kw9; elsewhere the lines NAME=TEXT of the file
// kw9/settings in the XDG config folder ($XDG_CONFIG_HOME, else ~/.config).
// One file per platform.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The text kept under name, or nullopt when there is none (or the store
// cannot be read: a missing or damaged file is no settings at all).
std::optional<std::string> LoadUserSetting(const std::string& name);

// Keeps text under name; false when it could not be kept. A text with a
// line end is not kept.
bool SaveUserSetting(const std::string& name, const std::string& text);

// For tests, which must never touch the user's settings: keeps the settings
// in folder instead (the file folder/kw9/settings; on Windows a volatile
// registry key named after folder, which is gone at log-off). An empty
// folder is the user's own settings again.
void SetUserSettingsFolder(const std::string& folder);

}  // namespace platform
