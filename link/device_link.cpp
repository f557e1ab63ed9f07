#include "link/device_link.h"

#include "platform/os/os.h"
#include "platform/ui/message_box.h"

DeviceLinkState DeviceLink;

namespace {
constexpr uint32_t kTimeoutMs = 5000;

// The rest of a cut line is dropped until its line end, until the line has
// been quiet this long, or, against a device that never stops talking, until
// this much time has gone.
constexpr uint32_t kQuietMs = 100;
constexpr int64_t kLongestDropMicros = 2'000'000;

// Reads and drops bytes until LF CR has passed (last and beforeLast carry the
// bytes already taken) or the line has been quiet for quietMs. The link's
// time-outs are put back afterwards.
void DropUntilLineEndOrQuiet(uint8_t last, uint8_t beforeLast, uint32_t quietMs) {
  platform::Timeouts saved;
  if (!DeviceLink.portHandle || !DeviceLink.portHandle->GetTimeouts(saved)) return;
  platform::Timeouts quiet = saved;
  quiet.readInterval = quietMs;
  quiet.readTotalMultiplier = 0;
  quiet.readTotalConstant = quietMs;
  if (!DeviceLink.portHandle->SetTimeouts(quiet)) return;
  const int64_t start = platform::MonotonicMicros();
  while (!(last == 0x0D && beforeLast == 0x0A) &&
         platform::MonotonicMicros() - start < kLongestDropMicros) {
    uint8_t byte = 0;
    if (ReadPort(&byte, 1) != 1) break;
    beforeLast = last;
    last = byte;
  }
  if (DeviceLink.portHandle) DeviceLink.portHandle->SetTimeouts(saved);
}

}  // namespace

int OpenPort(const std::string& name) {
  if (DeviceLink.portOpen) {
    if (name == DeviceLink.portName) return 1;
    // Another port was chosen: keep no command going to the tracker the user
    // did not pick.
    ClosePort();
  }
  platform::OpenError why;
  DeviceLink.portHandle = platform::Serial().Open(name, why);
  if (!DeviceLink.portHandle) {
    // The first line as ever, then why and what to do about it.
    const std::string reason = platform::OpenFailureText(why);
    platform::ShowMessageBox(reason.empty() ? "Error opening com port"
                                            : "Error opening com port\n" + reason);
    DeviceLink.portOpen = 0;
    return 0;
  }
  DeviceLink.portOpen = 1;
  DeviceLink.portName = name;
  // Command mode is a state of the radio behind a link that is no longer
  // there: the tracker on a freshly opened port (or one that fell silent
  // meanwhile) must be put into it again, or every AT query reads "ERROR".
  DeviceLink.radioCommandMode = 0;

  platform::LineSettings settings;
  DeviceLink.portHandle->GetState(settings);  // what it reports is only a base to change
  settings.baudRate = 9600;
  settings.byteSize = 8;
  settings.parity = 0;
  settings.stopBits = 0;
  if (!DeviceLink.portHandle->SetState(settings)) {
    platform::ShowMessageBox("Error configuring port");
    // No command may run with line settings nobody chose.
    ClosePort();
    return 0;
  }
  DeviceLink.portHandle->RaiseDtr();  // a pseudo-terminal has no DTR; not fatal

  platform::Timeouts timeouts;
  if (!DeviceLink.portHandle->GetTimeouts(timeouts)) {
    platform::ShowMessageBox("error getting timeouts");
    ClosePort();
    return 0;
  }
  timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
  if (!DeviceLink.portHandle->SetTimeouts(timeouts)) {
    platform::ShowMessageBox("Error setting timeouts");
    ClosePort();
    return 0;
  }
  return 1;
}

void ClosePort() {
  DeviceLink.portHandle.reset();
  DeviceLink.portOpen = 0;
}

bool WritePort(const uint8_t* data, size_t n) {
  if (!DeviceLink.portOpen || !DeviceLink.portHandle) return false;
  size_t written = 0;
  return DeviceLink.portHandle->Write(data, n, written) && written == n;
}

size_t ReadPort(uint8_t* data, size_t n) {
  if (!DeviceLink.portOpen || !DeviceLink.portHandle) return 0;
  size_t got = 0;
  DeviceLink.portHandle->Read(data, n, got);
  return got;
}

int ReadLine(uint8_t* buffer) {
  uint8_t last = 0;
  uint8_t beforeLast = 0;
  int count = 0;
  while (!(last == 0x0D && beforeLast == 0x0A) && count < kReplyBufferSize) {
    uint8_t byte = 0;
    if (ReadPort(&byte, 1) != 1) {
      platform::ShowMessageBox("Serial Port Error: Read returned 0 chars. Closing com port");
      ClosePort();
      return 0;
    }
    buffer[count++] = byte;
    beforeLast = last;
    last = byte;
  }
  // Over the LF of a whole line; after a cut line, at position 63.
  buffer[count - 2] = 0;
  if (!(last == 0x0D && beforeLast == 0x0A)) {
    // What is left of a cut line would otherwise start the next reply and put
    // every later answer one question behind.
    DropUntilLineEndOrQuiet(last, beforeLast, kQuietMs);
  }
  return 1;
}
