#include "link/device_link.h"

#include "link/commands.h"
#include "link/messages.h"

DeviceLinkState DeviceLink;

namespace {
constexpr uint32_t kTimeoutMs = 5000;

// The rest of a cut line is dropped until its line end, until the line has
// been quiet this long, or, against a device that never stops talking, until
// this much time has gone.
constexpr uint32_t kQuietMs = 100;
constexpr uint32_t kLongestDropMs = 2000;

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
    const char* first = msg::Text(msg::Id::kErrorOpeningComPort);
    msg::Tell(msg::Id::kErrorOpeningComPort,
              reason.empty() ? std::string(first) : first + ("\n" + reason));
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
    msg::Tell(msg::Id::kErrorConfiguringPort);
    // No command may run with line settings nobody chose.
    ClosePort();
    return 0;
  }
  DeviceLink.portHandle->RaiseDtr();  // a pseudo-terminal has no DTR; not fatal

  platform::Timeouts timeouts;
  if (!DeviceLink.portHandle->GetTimeouts(timeouts)) {
    msg::Tell(msg::Id::kErrorGettingTimeouts);
    ClosePort();
    return 0;
  }
  timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
  if (!DeviceLink.portHandle->SetTimeouts(timeouts)) {
    msg::Tell(msg::Id::kErrorSettingTimeouts);
    ClosePort();
    return 0;
  }
  return 1;
}

void ClosePort() {
  DeviceLink.portHandle.reset();
  DeviceLink.portOpen = 0;
}

void ResetLink() {
  ClosePort();
  DeviceLink = {};
  modelString.clear();
}

void ReplyNeverCame() {
  msg::Tell(msg::Id::kReadReturnedNothing);
  ClosePort();
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
  while (!IsLineEnd(beforeLast, last) && count < kReplyBufferSize) {
    uint8_t byte = 0;
    if (ReadPort(&byte, 1) != 1) {
      if (count >= 2 && beforeLast == 0x0D && last == 0x0A) {
        // A line ended the usual way round: no tracker, or one whose lines
        // were changed for a terminal program. Waiting longer would not help.
        msg::Tell(msg::Id::kRepliesEndCrLf);
        ClosePort();
      } else {
        ReplyNeverCame();
      }
      return 0;
    }
    buffer[count++] = byte;
    beforeLast = last;
    last = byte;
  }
  // Over the LF of a whole line; after a cut line, at position 63.
  buffer[count - 2] = 0;
  if (!IsLineEnd(beforeLast, last)) {
    // What is left of a cut line would otherwise start the next reply and put
    // every later answer one question behind.
    DiscardUntilQuiet(kQuietMs, kLongestDropMs, [&](uint8_t byte) {
      beforeLast = last;
      last = byte;
      return IsLineEnd(beforeLast, last);
    });
  }
  return 1;
}

size_t ReadReplyStartingWithin(uint8_t* data, size_t n, uint32_t firstByteMs) {
  if (!DeviceLink.portOpen || !DeviceLink.portHandle) return 0;
  platform::SerialPort& port = *DeviceLink.portHandle;
  platform::Timeouts usual;
  if (!port.GetTimeouts(usual)) return ReadPort(data, n);
  platform::Timeouts first = usual;
  first.readTotalMultiplier = 0;
  first.readTotalConstant = firstByteMs;
  if (!port.SetTimeouts(first)) return ReadPort(data, n);
  size_t got = ReadPort(data, n);
  // Bytes came, but not all of them in that time: a slow line, which gets on
  // for as long as each byte follows the last within the usual interval.
  platform::Timeouts gap = usual;
  gap.readTotalMultiplier = 0;
  gap.readTotalConstant = usual.readInterval;
  bool more =
      got > 0 && got < n && DeviceLink.portHandle && DeviceLink.portHandle->SetTimeouts(gap);
  while (more) {
    const size_t k = ReadPort(data + got, n - got);
    got += k;
    more = k > 0 && got < n;
  }
  // A link that went meanwhile has no time-outs to put back.
  if (DeviceLink.portHandle) DeviceLink.portHandle->SetTimeouts(usual);
  return got;
}

bool DropWaitingBytes() {
  if (!DeviceLink.portOpen || !DeviceLink.portHandle) return false;
  platform::SerialPort& port = *DeviceLink.portHandle;
  platform::Timeouts usual;
  if (!port.GetTimeouts(usual)) return false;
  platform::Timeouts atOnce = usual;
  atOnce.readInterval = platform::Timeouts::kReturnAtOnce;
  atOnce.readTotalMultiplier = 0;
  atOnce.readTotalConstant = 0;
  if (!port.SetTimeouts(atOnce)) return false;
  uint8_t bytes[32];
  const size_t got = ReadPort(bytes, sizeof bytes);
  // A link that went meanwhile has no time-outs to put back.
  if (DeviceLink.portHandle) DeviceLink.portHandle->SetTimeouts(usual);
  return got > 0;
}

bool DiscardUntilQuiet(uint32_t quietMs, uint32_t longestMs,
                       const std::function<bool(uint8_t)>& enough) {
  if (!DeviceLink.portOpen || !DeviceLink.portHandle) return false;
  platform::SerialPort& port = *DeviceLink.portHandle;
  platform::Timeouts usual;
  if (!port.GetTimeouts(usual)) return false;
  platform::Timeouts brief = usual;
  brief.readInterval = quietMs;
  brief.readTotalMultiplier = 0;
  brief.readTotalConstant = quietMs;
  if (!port.SetTimeouts(brief)) return false;
  const int64_t end = platform::Serial().NowMicros() + int64_t{longestMs} * 1000;
  bool stopped = false;
  while (!stopped && platform::Serial().NowMicros() < end) {
    uint8_t byte = 0;
    if (ReadPort(&byte, 1) != 1) {
      stopped = true;  // quiet, or the link is gone
    } else if (enough && enough(byte)) {
      stopped = true;
    }
  }
  // A link that went meanwhile has no time-outs to put back.
  const bool restored = DeviceLink.portHandle && DeviceLink.portHandle->SetTimeouts(usual);
  return restored && stopped;
}
