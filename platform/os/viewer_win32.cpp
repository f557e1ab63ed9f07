#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/os/os.h"
#include "platform/os/viewer.h"

namespace platform {

namespace {

ViewerHandler viewerHandler = nullptr;

std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  wide.pop_back();
  return wide;
}

}  // namespace

bool OpenInViewer(const std::string& path) {
  if (viewerHandler != nullptr) return viewerHandler(path);
  const std::wstring file = Wide(path);
  // Above 32 when the shell started the file's program.
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void SetViewerHandler(ViewerHandler handler) {
  viewerHandler = handler;
}

std::string ViewerFolder() {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  return ec ? std::string(".") : Utf8(dir);
}

}  // namespace platform
