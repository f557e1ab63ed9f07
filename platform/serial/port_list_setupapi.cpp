#include "platform/serial/port_list_setupapi.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace platform {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "COM12" -> 12; 0 for anything else (a printer port, a name with a suffix).
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 8 || Upper(name.substr(0, 3)) != "COM") return 0;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// The four hex digits after key ("VID_"), lower case as sysfs shows them;
// empty when they are not there.
std::string HexAfter(const std::string& upperId, const std::string& key) {
  const size_t at = upperId.find(key);
  if (at == std::string::npos || upperId.size() < at + key.size() + 4) return "";
  std::string hex = upperId.substr(at + key.size(), 4);
  for (char& c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return hex;
}

// USB adapters say "USB\VID_0403&PID_6001&REV_0600"; some drivers enumerate
// the port on a bus of their own ("FTDIBUS\COMPORT&VID_0403&PID_6001"), with
// the same ids. Others (Bluetooth, PCI, the board's own UARTs) have none.
std::string VidPid(const std::string& hardwareId) {
  const std::string id = Upper(hardwareId);
  const std::string vid = HexAfter(id, "VID_"), pid = HexAfter(id, "&PID_");
  return vid.empty() || pid.empty() ? "" : vid + ":" + pid;
}

}  // namespace

std::vector<PortInfo> PortsFromSetupApi(const std::vector<SetupApiPort>& answers) {
  std::vector<std::pair<int, PortInfo>> numbered;
  for (const SetupApiPort& answer : answers) {
    const int n = ComNumber(answer.portName);
    if (n < 1) continue;
    // A port both as a device of its class and by its interface is listed once.
    const auto same = [n](const auto& listed) { return listed.first == n; };
    if (std::any_of(numbered.begin(), numbered.end(), same)) continue;
    PortInfo port;
    port.name = "COM" + std::to_string(n);
    // COM10 and up open only in the device space; the rest open there too.
    port.devicePath = "\\\\.\\" + port.name;
    port.description = answer.friendlyName;
    port.vidPid = VidPid(answer.hardwareId);
    port.busy = answer.accessDenied;
    numbered.emplace_back(n, port);
  }
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PortInfo> ports;
  for (auto& entry : numbered) ports.push_back(std::move(entry.second));
  return ports;
}

}  // namespace platform
