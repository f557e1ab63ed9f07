#include "app/window_memory.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/tracker_dlg.h"
#include "platform/os/user_settings.h"

namespace {

constexpr char kLastPortSetting[] = "lastPort";

}  // namespace

void RestoreWindowMemory(CTrackerDlg& dialog) {
  if (!TheWindowState.keepsUserSettings) return;
  if (const std::optional<std::string> port = platform::LoadUserSetting(kLastPortSetting)) {
    dialog.portName = *port;
  }
}

void RememberCompletedRead(const std::string& port, const TrackerIdentity& tracker) {
  TheWindowState.lastReadPort = port;
  TheWindowState.lastReadIdentity = tracker;
  if (TheWindowState.keepsUserSettings) platform::SaveUserSetting(kLastPortSetting, port);
}

int DoModalInRememberedFolder(CFileDialog& dialog, const char* setting) {
  const bool keeps = TheWindowState.keepsUserSettings;
  std::error_code ec;
  if (keeps) {
    // A folder since removed (or a damaged setting) leaves the dialog where
    // it would start anyway.
    const std::optional<std::string> folder = platform::LoadUserSetting(setting);
    if (folder && std::filesystem::is_directory(*folder, ec)) dialog.SetFolder(*folder);
  }
  const int result = dialog.DoModal();
  if (result == IDOK && keeps) {
    const std::filesystem::path chosen = std::filesystem::absolute(dialog.GetPathName(), ec);
    if (!ec && chosen.has_parent_path()) {
      platform::SaveUserSetting(setting, chosen.parent_path().string());
    }
  }
  return result;
}

std::string TrackFileName(std::optional<uint32_t> serialNumber, int64_t unixSeconds) {
  using namespace std::chrono;
  const sys_days day{floor<days>(sys_seconds{seconds{unixSeconds}})};
  const year_month_day date{day};
  char name[64];
  const int y = static_cast<int>(date.year());
  const unsigned m = static_cast<unsigned>(date.month()), d = static_cast<unsigned>(date.day());
  if (serialNumber) {
    std::snprintf(name, sizeof name, "track-%u-%04d%02u%02u.kml", *serialNumber, y, m, d);
  } else {
    std::snprintf(name, sizeof name, "track-%04d%02u%02u.kml", y, m, d);
  }
  return name;
}

std::optional<TrackerIdentity> IdentityOfPort(const std::string& port) {
  // The tracker last read on this port; on another port it would name the
  // wrong tracker's log.
  if (TheWindowState.lastReadPort.empty() || port != TheWindowState.lastReadPort) {
    return std::nullopt;
  }
  return TheWindowState.lastReadIdentity;
}

std::string SuggestedTrackName(const std::string& port, int64_t unixSeconds) {
  const std::optional<TrackerIdentity> tracker = IdentityOfPort(port);
  return TrackFileName(tracker ? tracker->serialNumber : std::nullopt, unixSeconds);
}
