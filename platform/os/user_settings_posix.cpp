// The user's settings as lines NAME=TEXT in $XDG_CONFIG_HOME/kw9/settings
// (~/.config/kw9/settings without it). The file is replaced whole, so a run
// that ends half-way never leaves half a file; a line that is not NAME=TEXT
// is skipped, and dropped at the next save.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/os/text_file.h"
#include "platform/os/user_settings.h"

namespace platform {

namespace {

// More than a few folders and a port: no settings file of ours.
constexpr size_t kLargestFile = 64 * 1024;

std::mutex settingsLock;
std::string testFolder;  // under settingsLock

std::filesystem::path SettingsFile() {
  std::string folder = testFolder;
  if (folder.empty()) {
    // The XDG rule: a relative $XDG_CONFIG_HOME is to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/') {
      folder = config;
    } else if (home != nullptr && home[0] == '/') {
      folder = std::string(home) + "/.config";
    } else {
      return {};
    }
  }
  return std::filesystem::path(folder) / "kw9" / "settings";
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries ReadEntries(const std::filesystem::path& file) {
  Entries entries;
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec)) return entries;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return entries;
  std::string text(kLargestFile + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), in));
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed || text.size() > kLargestFile) return entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // edited on Windows
    const size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos) continue;
    if (line.find('\0') != std::string::npos) continue;
    entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  return entries;
}

}  // namespace

std::optional<std::string> LoadUserSetting(const std::string& name) {
  std::lock_guard<std::mutex> lock(settingsLock);
  std::optional<std::string> found;
  for (const auto& [key, text] : ReadEntries(SettingsFile())) {
    if (key == name) found = text;  // the last one counts
  }
  return found;
}

bool SaveUserSetting(const std::string& name, const std::string& text) {
  if (name.empty() || name.find_first_of("=\n\r") != std::string::npos) return false;
  if (text.find_first_of("\n\r") != std::string::npos || text.find('\0') != std::string::npos) {
    return false;
  }
  std::lock_guard<std::mutex> lock(settingsLock);
  const std::filesystem::path file = SettingsFile();
  if (file.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::string content;
  bool written = false;
  for (const auto& [key, value] : ReadEntries(file)) {
    if (key == name) {
      if (written) continue;
      written = true;
      content += key + "=" + text + "\n";
    } else {
      content += key + "=" + value + "\n";
    }
  }
  if (!written) content += name + "=" + text + "\n";
  TextOutFile out;
  if (!out.OpenReplacing(file.string())) return false;
  out.WriteBytes(content.data(), content.size());
  return out.Close();
}

void SetUserSettingsFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(settingsLock);
  testFolder = folder;
}

}  // namespace platform
