// Showing a file in the program the user's system opens it with (a picture
// in the default browser): xdg-open on Linux, the shell's "open" on Windows.
// One file per platform.
#pragma once

#include <string>

namespace platform {

// Hands path to the system's viewer and returns at once, without waiting for
// the viewer; false when it could not be started.
bool OpenInViewer(const std::string& path);

// Replaces the system's viewer (tests, and front ends with no desktop); an
// empty function restores it.
using ViewerHandler = bool (*)(const std::string& path);
void SetViewerHandler(ViewerHandler handler);

// A folder for files the user looks at and need not keep: the system's
// temporary folder.
std::string ViewerFolder();

}  // namespace platform
