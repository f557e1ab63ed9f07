// The user's settings as string values of HKEY_CURRENT_USER\Software\kw9.
// The texts go through the same code page as the file dialogs' names, so a
// folder kept is the folder the dialog gave.
#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/os/user_settings.h"

namespace platform {

namespace {

std::mutex settingsLock;
std::string testFolder;  // under settingsLock

// The key, opened (and made when write); nullptr when it cannot be.
HKEY OpenSettingsKey(bool write) {
  std::string path = "Software\\kw9";
  DWORD options = REG_OPTION_NON_VOLATILE;
  if (!testFolder.empty()) {
    // A key of the test's own beside the user's, gone at log-off whatever
    // the test does; the folder's name keeps tests apart.
    std::string name = testFolder;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    path = "Software\\kw9 test " + name;
    options = REG_OPTION_VOLATILE;
  }
  HKEY key = nullptr;
  const LSTATUS status =
      write ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr)
            : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

std::optional<std::string> LoadUserSetting(const std::string& name) {
  std::lock_guard<std::mutex> lock(settingsLock);
  HKEY key = OpenSettingsKey(false);
  if (key == nullptr) return std::nullopt;
  std::optional<std::string> found;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ && size <= 64 * 1024) {
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      found = std::string(data.data());  // up to the first NUL, stored or not
    }
  }
  RegCloseKey(key);
  return found;
}

bool SaveUserSetting(const std::string& name, const std::string& text) {
  if (name.empty() || text.find_first_of(std::string("\n\r\0", 3)) != std::string::npos) {
    return false;
  }
  std::lock_guard<std::mutex> lock(settingsLock);
  HKEY key = OpenSettingsKey(true);
  if (key == nullptr) return false;
  const LSTATUS status =
      RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void SetUserSettingsFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(settingsLock);
  testFolder = folder;
}

}  // namespace platform
