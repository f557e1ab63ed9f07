// What the Linux port list reads of the system, under roots a test can point
// at a tree of its own. The portable serial I/O sees only port_list.h, which
// port_list_linux.cpp answers under the real roots.
#pragma once

#include <string>
#include <vector>

#include "platform/serial/serial.h"

namespace platform {

struct SystemRoots {
  std::string sys = "/sys";    // class/tty/NAME and the devices behind it
  std::string dev = "/dev";    // the device nodes
  std::string proc = "/proc";  // PID/fd/N and PID/comm, for who holds a device
};

// The serial devices in COM order (COM1 first): the ttyS ports with a UART
// behind them, then ttyUSB, then ttyACM, each by number; with what sysfs
// tells of each and whether another process has it open.
std::vector<PortInfo> ListPortsUnder(const SystemRoots& roots);

// The device a port name stands for under roots: a path as it is, a short
// name in the dev root, COMn the n-th device of ListPortsUnder. Empty when
// the name stands for none.
std::string DevicePathUnder(const SystemRoots& roots, const std::string& name);

}  // namespace platform
