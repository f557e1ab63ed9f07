// What the window keeps between runs in the user's settings
// (platform/os/user_settings.h): the port of the last Read that completed,
// restored at the next start, and the folder of each file dialog's last
// choice. Only the window program keeps them (TheWindowState.
// keepsUserSettings); kw9cli and the tests run the same window and leave the
// user's settings alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tracklog/download_stamp.h"

class CFileDialog;
class CTrackerDlg;

// At the window's start, before its first exchange: the remembered port.
void RestoreWindowMemory(CTrackerDlg& dialog);

// After a Read that completed on port: Read Flash's suggested name takes the
// serial number, its stamp the tracker, and the port is kept for the next
// start.
void RememberCompletedRead(const std::string& port, const TrackerIdentity& tracker);

// The tracker the last completed Read found on port; nothing when the last
// Read was of another port, or none completed.
std::optional<TrackerIdentity> IdentityOfPort(const std::string& port);

// Runs dialog in the folder where the dialogs of this kind (setting, one per
// file dialog) last chose a file, and keeps the folder of the file chosen.
int DoModalInRememberedFolder(CFileDialog& dialog, const char* setting);

// The name Read Flash offers on port at unixSeconds: track-SERIAL-YYYYMMDD.kml
// after a completed Read of that port, track-YYYYMMDD.kml otherwise (the
// date in UTC).
std::string SuggestedTrackName(const std::string& port, int64_t unixSeconds);
std::string TrackFileName(std::optional<uint32_t> serialNumber, int64_t unixSeconds);
