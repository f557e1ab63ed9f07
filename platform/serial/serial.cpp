#include "platform/serial/serial.h"

#include "platform/os/os.h"

namespace platform {

namespace {
SerialSystem* installed = nullptr;
}

std::string OpenFailureText(const OpenError& error) {
  switch (error.reason) {
    case OpenFailure::kUnknown:
      return {};
    case OpenFailure::kNoDevice:
      return "No such device: check the port name and that the device is plugged in.";
    case OpenFailure::kPermission:
      // Joining a group helps only when the group may use the device.
      if (error.group.empty()) {
        return "Permission denied: the device's group may not use it either; ask your "
               "administrator for access.";
      }
      return "Permission denied: the device belongs to the group " + error.group +
             "; add your user to that group and log in again.";
    case OpenFailure::kBusy:
      if (error.holder.empty()) {
        return "The port is busy: another program has it open; close that program and try again.";
      }
      return "The port is busy: another program (" + error.holder + ", process " +
             std::to_string(error.holderPid) + ") has it open; close that program and try again.";
    case OpenFailure::kNotSerial:
      return "Not a serial device: choose a serial port from the list.";
    case OpenFailure::kOther:
      break;
  }
  return "The system says: " + error.systemText + ".";
}

std::vector<PortInfo> SerialSystem::ListPorts() {
  std::vector<PortInfo> ports;
  for (int n = 1; n <= 63; ++n) {
    const std::string name = "COM" + std::to_string(n);
    if (PortExists(name)) ports.push_back({name, "\\\\.\\" + name, "", "", false});
  }
  return ports;
}

int64_t SerialSystem::NowMicros() {
  return MonotonicMicros();
}

void SerialSystem::Pause(unsigned ms) {
  SleepMs(ms);
}

SerialSystem& Serial() {
  return installed != nullptr ? *installed : NativeSerial();
}

void UseSerial(SerialSystem* system) {
  installed = system;
}

}  // namespace platform
