// The Windows port list: the ports the device installer knows, by the names
// Device Manager shows, found through SetupAPI. This file only gathers the
// system's answers; port_list_setupapi.cpp makes the list of them.
#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <string>
#include <vector>

#include "platform/serial/port_list.h"
#include "platform/serial/port_list_setupapi.h"

namespace platform {

namespace {

// GUID_DEVCLASS_PORTS and GUID_DEVINTERFACE_COMPORT, whose headers are the
// driver kit's.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}

// A text property of the device; of a list (the hardware ids) the first.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[512] = {};
  DWORD type = 0;
  // Two characters short of the buffer, so that a list or a text the system
  // stored without its end still ends.
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text),
                                         sizeof text - 2 * sizeof(wchar_t), nullptr) ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return "";
  }
  return Utf8(text);
}

// The COM name the port's driver was given, from the device's own key.
std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key =
      SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return "";
  wchar_t name[64] = {};
  DWORD type = 0, size = sizeof name - sizeof(wchar_t);
  const LONG result =
      RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_SZ ? Utf8(name) : "";
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                        b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Windows keeps no list of who has a port open: a port another program
// holds refuses every other open as access denied.
bool OpenRefused(const std::string& port) {
  const std::string device = "\\\\.\\" + port;
  const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
  CloseHandle(handle);
  return false;
}

// The present devices of a class (or, with DIGCF_DEVICEINTERFACE, with an
// interface) that have a port name; a port already gathered is skipped.
void Gather(const GUID& guid, DWORD flags, std::vector<SetupApiPort>& answers) {
  const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    SetupApiPort answer;
    answer.portName = PortName(set, device);
    if (answer.portName.empty()) continue;
    bool known = false;
    for (const SetupApiPort& a : answers) known = known || SameName(a.portName, answer.portName);
    if (known) continue;
    answer.friendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
    if (answer.friendlyName.empty()) answer.friendlyName = Property(set, device, SPDRP_DEVICEDESC);
    answer.hardwareId = Property(set, device, SPDRP_HARDWAREID);
    // Printer ports share the class; they are never opened.
    if (SameName(answer.portName.substr(0, 3), "COM")) {
      answer.accessDenied = OpenRefused(answer.portName);
    }
    answers.push_back(answer);
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<PortInfo> ListSystemPorts() {
  std::vector<SetupApiPort> answers;
  // The Ports class holds the serial ports Device Manager shows; modems and
  // virtual ports of other classes show through the COM-port interface.
  Gather(kPortsClass, 0, answers);
  Gather(kComPortInterface, DIGCF_DEVICEINTERFACE, answers);
  return PortsFromSetupApi(answers);
}

}  // namespace platform
