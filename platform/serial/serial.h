// The serial seam: the few port operations the link needs, in the Win32 sense.
// One implementation per platform (serial_posix.cpp, serial_win32.cpp); CMake
// picks the file. Tests install an in-process implementation with UseSerial.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The line settings the link touches; everything else stays as the system has it.
struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;
  uint8_t parity = 0;    // 0 = none, as NOPARITY
  uint8_t stopBits = 0;  // 0 = one, as ONESTOPBIT
};

// The five time-outs, in milliseconds, with their Win32 meaning on every
// platform: a read of n bytes returns when n bytes arrived, when the gap after
// a received byte exceeds readInterval, or when readTotalMultiplier * n +
// readTotalConstant has passed. A time-out is a short count, not an error.
struct Timeouts {
  // As readInterval with no total time-out: a read returns at once with what
  // has already arrived (Win32's MAXDWORD).
  static constexpr uint32_t kReturnAtOnce = 0xFFFFFFFFu;
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

// One open device, held exclusively. Destroying it closes the device.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool GetState(LineSettings& settings) = 0;
  virtual bool SetState(const LineSettings& settings) = 0;
  virtual bool RaiseDtr() = 0;
  virtual bool GetTimeouts(Timeouts& timeouts) = 0;
  virtual bool SetTimeouts(const Timeouts& timeouts) = 0;
  // Reads up to n bytes under the time-outs; got is the count received. Returns
  // false only when the read itself failed (the device is gone).
  virtual bool Read(uint8_t* data, size_t n, size_t& got) = 0;
  // Writes n bytes; false when not all of them could be written.
  virtual bool Write(const uint8_t* data, size_t n, size_t& written) = 0;
};

// Why a port did not open, as far as the system says.
enum class OpenFailure {
  kUnknown,     // the system did not say
  kNoDevice,    // no device of that name
  kPermission,  // the user may not open it
  kBusy,        // another program has it
  kNotSerial,   // it opened, but it is no serial device
  kOther,       // anything else: systemText says what
};

struct OpenError {
  OpenFailure reason = OpenFailure::kUnknown;
  std::string group;       // kPermission: the group that may use the device; empty if none may
  std::string holder;      // kBusy: the program that has it open, when known
  long holderPid = 0;      // and its process id
  std::string systemText;  // kOther: the system's own words
};

// The line that tells the user why and what to do; empty for kUnknown.
std::string OpenFailureText(const OpenError& error);

// One entry of the port list.
struct PortInfo {
  std::string name;         // what the port field takes: "ttyUSB0", "COM3"
  std::string devicePath;   // "/dev/ttyUSB0", "\\.\COM3"
  std::string description;  // what the device says it is (a USB product string); may be empty
  std::string vidPid;       // USB vendor and product id, "0403:6001"; empty when not USB
  bool busy = false;        // another program has it open, as far as can be seen
};

class SerialSystem {
 public:
  virtual ~SerialSystem() = default;
  // Opens the named port exclusively for reading and writing; nullptr is the
  // invalid handle (no such device, in use, empty name), and error then says
  // why.
  virtual std::unique_ptr<SerialPort> Open(const std::string& name, OpenError& error) = 0;
  // True when a serial port of this COM name exists ("COM3").
  virtual bool PortExists(const std::string& name) = 0;
  // The ports that exist, for the port list. Unless a system knows better:
  // COM1 to COM63, those that exist.
  virtual std::vector<PortInfo> ListPorts();
  // Microseconds on the clock the time-outs run on: the monotonic clock, or a
  // test's virtual one, so that bounds the link keeps are measured alike.
  virtual int64_t NowMicros();
  // Waits about ms milliseconds between two writes, on that same clock: the
  // system's precise sleep (SleepMs), or no real time at all in a test.
  virtual void Pause(unsigned ms);
};

// The platform's own serial ports.
SerialSystem& NativeSerial();

// The implementation in use: the native one unless a test installed another.
SerialSystem& Serial();
void UseSerial(SerialSystem* system);  // nullptr restores the native one

}  // namespace platform
