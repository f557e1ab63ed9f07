// The Windows port list as the device installer's answers make it. The walk
// over those answers (port_list_win32.cpp) only gathers them; turning them
// into the list is plain code, so a test can give answers of its own on any
// system.
#pragma once

#include <string>
#include <vector>

#include "platform/serial/serial.h"

namespace platform {

// What the system says of one device of the Ports class or with the
// COM-port interface.
struct SetupApiPort {
  std::string portName;       // the device key's PortName: "COM3", "LPT1", or empty
  std::string friendlyName;   // as Device Manager shows it: "USB Serial Port (COM3)"
  std::string hardwareId;     // the first hardware id: "USB\VID_0403&PID_6001&REV_0600"
  bool accessDenied = false;  // an open of the port was refused: another program has it
};

// The COM ports among the answers, each once, by number (COM2 before COM10),
// opened as \\.\COMn; described by their friendly names, with VID:PID where
// the hardware id names them.
std::vector<PortInfo> PortsFromSetupApi(const std::vector<SetupApiPort>& answers);

}  // namespace platform
