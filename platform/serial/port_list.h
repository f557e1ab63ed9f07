// What the serial I/O asks of the system about its ports: which there are,
// and on POSIX systems (serial_posix.cpp) also what a name stands for and who
// else has one open. One file per system answers (port_list_linux.cpp,
// port_list_win32.cpp); CMake picks it.
#pragma once

#include <string>
#include <vector>

#include "platform/serial/serial.h"

namespace platform {

// The serial devices in COM order (COM1 first), with what the system tells
// of each and whether another process has it open. On Windows, the ports the
// device installer knows; empty where it knows none (Wine).
std::vector<PortInfo> ListSystemPorts();

// The device a port name stands for: a name that starts with "/" is a path
// as it is (so a pseudo-terminal can be typed in), "COMn" (any case) the n-th
// device of ListSystemPorts, another name a device as the port list shows it
// ("ttyUSB0"). Empty when the name stands for none.
std::string SystemDevicePath(const std::string& name);

// True when a COM name ("COM3") stands for a device that exists.
bool ComPortExists(const std::string& name);

struct DeviceHolder {
  long pid = 0;  // 0: nobody seen
  std::string program;
};

// The first process seen holding the device at path open, leaving out our
// own descriptor ownFd (-1: none). Processes the user may not look into stay
// hidden; their locks and exclusive flags still count where the device is
// opened.
DeviceHolder FindDeviceHolder(const std::string& path, int ownFd);

}  // namespace platform
