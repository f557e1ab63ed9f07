// The serial seam on Windows: a thin layer over the Win32 communications calls.
// The port is opened for synchronous I/O, so ReadFile itself applies the
// time-out rules the link relies on.
#include <windows.h>

#include <limits>
#include <new>
#include <string>

#include "platform/serial/port_list.h"
#include "platform/serial/serial.h"

namespace platform {

namespace {

// The tool always passes these sizes; Windows checks them against its own.
static_assert(sizeof(DCB) == 28, "DCB must be the 28-byte structure");
constexpr DWORD kCommConfigSize = 52;
static_assert(sizeof(COMMCONFIG) == kCommConfigSize, "COMMCONFIG must be 52 bytes");

// ReadFile and WriteFile take a DWORD count; the link never asks for more,
// but a huge size_t must not wrap around to a small request.
DWORD ClampCount(size_t n) {
  return n > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max()
                                               : static_cast<DWORD>(n);
}

class Win32Port final : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override { CloseHandle(handle_); }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  bool GetState(LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &dcb)) return false;
    settings.baudRate = dcb.BaudRate;
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    return true;
  }

  bool SetState(const LineSettings& settings) override {
    // Flow control, special characters and the rest stay as the driver
    // reports them, so start from the current block. Should that fetch fail,
    // the apply still goes ahead and its own answer decides.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &dcb)) {
      dcb = DCB{};
      dcb.DCBlength = sizeof(DCB);
      dcb.fBinary = TRUE;  // Windows supports nothing else
    }
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    return SetCommState(handle_, &dcb) != FALSE;
  }

  bool RaiseDtr() override { return EscapeCommFunction(handle_, SETDTR) != FALSE; }

  bool GetTimeouts(Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return false;
    timeouts.readInterval = t.ReadIntervalTimeout;
    timeouts.readTotalMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstant = t.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstant = t.WriteTotalTimeoutConstant;
    return true;
  }

  bool SetTimeouts(const Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return SetCommTimeouts(handle_, &t) != FALSE;
  }

  bool Read(uint8_t* data, size_t n, size_t& got) override {
    DWORD count = 0;
    const BOOL ok = ReadFile(handle_, data, ClampCount(n), &count, nullptr);
    got = count;
    return ok != FALSE;
  }

  bool Write(const uint8_t* data, size_t n, size_t& written) override {
    DWORD count = 0;
    const BOOL ok = WriteFile(handle_, data, ClampCount(n), &count, nullptr);
    written = count;
    return ok != FALSE && written == n;
  }

 private:
  HANDLE handle_;
};

// Why CreateFileA failed, from its last error.
OpenError FromLastError(DWORD code) {
  OpenError error;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
      error.reason = OpenFailure::kNoDevice;
      break;
    case ERROR_ACCESS_DENIED:  // a port another program holds answers this
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      error.reason = OpenFailure::kBusy;
      break;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      error.reason = OpenFailure::kNotSerial;
      break;
    default: {
      error.reason = OpenFailure::kOther;
      char text[256] = {};
      const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, sizeof text, nullptr);
      error.systemText = std::string(text, n);
      while (!error.systemText.empty() &&
             (error.systemText.back() == '\n' || error.systemText.back() == '\r' ||
              error.systemText.back() == ' ' || error.systemText.back() == '.')) {
        error.systemText.pop_back();
      }
      if (error.systemText.empty()) error.systemText = "error " + std::to_string(code);
      break;
    }
  }
  return error;
}

// The console's names: opened as a port they fail with no reason that fits
// ("invalid handle"), and reading it would take the user's keys.
bool IsConsole(const std::string& name) {
  for (const char* console : {"CON", "CONIN$", "CONOUT$"}) {
    if (lstrcmpiA(name.c_str(), console) == 0) return true;
  }
  return false;
}

class Win32Serial final : public SerialSystem {
 public:
  std::unique_ptr<SerialPort> Open(const std::string& name, OpenError& error) override {
    error = {};
    if (IsConsole(name)) {
      error.reason = OpenFailure::kNotSerial;
      return nullptr;
    }
    // A port as the list shows its device (\\.\COM12) is taken as it is;
    // COM10 and up open only there, the others there too.
    const std::string device = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = FromLastError(GetLastError());
      return nullptr;
    }
    // NUL, a printer or a file opens too; only a communications driver
    // answers for its properties.
    COMMPROP properties{};
    if (!GetCommProperties(handle, &properties)) {
      CloseHandle(handle);
      error.reason = OpenFailure::kNotSerial;
      return nullptr;
    }
    // Whatever an earlier program left in the buffers (an erase's progress
    // bytes, say) must not pass for the first reply.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    std::unique_ptr<SerialPort> port(new (std::nothrow) Win32Port(handle));
    if (!port) CloseHandle(handle);
    return port;
  }

  bool PortExists(const std::string& name) override {
    COMMCONFIG config{};
    DWORD size = kCommConfigSize;  // the call may shrink or grow it: set it every time
    return GetDefaultCommConfigA(name.c_str(), &config, &size) != FALSE;
  }

  std::vector<PortInfo> ListPorts() override {
    // Where the device installer knows no port (Wine, an empty machine),
    // the COM names that answer.
    std::vector<PortInfo> ports = ListSystemPorts();
    return ports.empty() ? SerialSystem::ListPorts() : ports;
  }
};

}  // namespace

SerialSystem& NativeSerial() {
  static Win32Serial system;
  return system;
}

}  // namespace platform
