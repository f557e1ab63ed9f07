// Outputs and inputs are files. A KML file written to the tracker's port is
// a stream of commands to it (a "Z" erases its log), and one written to a
// terminal or a pipe goes to whatever listens there; an input that is a
// device or a pipe never ends. Both are refused before anything is opened,
// by the window's file dialogs and kw9cli alike.
#pragma once

#include <cstdint>
#include <string>

// Why path may not be written, or "" when it may: a terminal or serial
// device, a FIFO or socket, or the device of port (the window's port field).
// The null device stays allowed as a discard.
std::string OutputRefusal(const std::string& path, const std::string& port);

// Why no new file can be made at path, or "" when it can: its folder does not
// exist. Asked before a long operation whose result would have nowhere to go.
std::string FolderRefusal(const std::string& path);

// Why path may not be read as an input file, or "" when it may: anything but
// a regular file. A path that does not exist is left to the open to report.
std::string InputRefusal(const std::string& path);

// How much of a file Fix KML reads before it gives up: other programs' KML
// files run to tens of megabytes, and a track Read Flash writes to about 1.1.
constexpr uint64_t kFixKmlInputLimit = uint64_t{256} << 20;
