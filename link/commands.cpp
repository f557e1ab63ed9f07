#include "link/commands.h"

#include <algorithm>
#include <climits>

#include "link/device_link.h"
#include "link/messages.h"
#include "platform/serial/serial.h"
#include "tracklog/flash_image.h"

std::string modelString;

namespace {

bool WriteByte(uint8_t byte) {
  return WritePort(&byte, 1);
}

std::string LineText(const uint8_t* buffer) {
  return reinterpret_cast<const char*>(buffer);
}

uint8_t ReadByteCommand(uint8_t command, uint8_t address) {
  uint8_t reply[kReplyBufferSize] = {};
  WriteByte(command);
  if (!ReadLine(reply)) return 0;
  WriteByte(address);
  // The byte comes raw as the line's first character; a failed read leaves
  // whatever arrived first in the buffer.
  ReadLine(reply);
  return reply[0];
}

// Leading blanks, one sign, then digits up to the first non-digit, as atoi
// reads it, but saturating instead of overflowing on a long run of digits.
// hasDigits tells whether there was a number at all.
int LeadingNumber(const uint8_t* text, bool& hasDigits) {
  const uint8_t* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  hasDigits = *p >= '0' && *p <= '9';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value < INT_MAX) value = value * 10 + (*p - '0');
  }
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

int Ping() {
  // A device that answers, but never with "OK" (a GPS receiver on the wrong
  // port, a modem saying ERROR), would otherwise be asked for ever.
  constexpr int64_t kGiveUpMicros = 10'000'000;
  const int64_t start = platform::Serial().NowMicros();
  uint8_t reply[kReplyBufferSize];
  for (;;) {
    WriteByte('?');
    if (!ReadLine(reply)) return 0;
    if (reply[0] == 'O' && reply[1] == 'K') return 1;
    if (platform::Serial().NowMicros() - start >= kGiveUpMicros) {
      ClosePort();
      msg::Tell(msg::Id::kTrackerNotResponding);
      return 0;
    }
  }
}

uint8_t ReadNvByte(uint8_t address) {
  return ReadByteCommand('y', address);
}

uint8_t ReadRegisterByte(uint8_t address) {
  return ReadByteCommand('R', address);
}

int WriteNvByte(uint8_t address, uint8_t value) {
  uint8_t reply[kReplyBufferSize];
  WriteByte('Y');
  if (!ReadLine(reply)) return 0;
  const uint8_t bytes[2] = {address, value};
  WritePort(bytes, 2);
  return ReadLine(reply);
}

int GetVersion(bool* replyIsNumber) {
  uint8_t reply[kReplyBufferSize];
  if (replyIsNumber != nullptr) *replyIsNumber = false;
  if (!WriteByte('V')) return 999;
  if (!ReadLine(reply)) return 999;
  bool hasDigits = false;
  const int version = LeadingNumber(reply, hasDigits);
  if (replyIsNumber != nullptr) *replyIsNumber = hasDigits;
  return version;
}

std::string GetModel() {
  uint8_t reply[kReplyBufferSize];
  if (!WriteByte('M')) {
    modelString = "err0";
    return modelString;
  }
  if (!ReadLine(reply)) return "err";
  modelString = LineText(reply);
  return modelString;
}

int EnterRadioCommandMode() {
  uint8_t reply[kReplyBufferSize];
  WriteByte('X');
  if (!ReadLine(reply)) return 0;
  DeviceLink.radioCommandMode = 1;
  return 1;
}

std::string RadioAtCommand(const std::string& text) {
  uint8_t reply[kReplyBufferSize];
  // A failed mode entry has closed the link; going on would only show the
  // user the read error a second time.
  if (!DeviceLink.radioCommandMode && !EnterRadioCommandMode()) return "ERR";
  WriteByte('x');
  if (!ReadLine(reply)) return "ERR";
  WritePort(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  WriteByte(0x0D);
  if (!ReadLine(reply)) return "ERR";
  return LineText(reply);
}

std::optional<char> GetMemorySize() {
  uint8_t reply[kReplyBufferSize];
  WriteByte('K');
  if (!ReadLine(reply)) return std::nullopt;
  return static_cast<char>(reply[0]);
}

void EraseFlash() {
  WriteByte('Z');
}

bool ReadFlashBlock(int address, int32_t block[16], int* entriesArrived, bool* lineWasBusy) {
  const bool wide = WideBlockForm(LogMemoryGeometry.sizeCode);
  uint8_t buffer[18];
  size_t requestLength;
  buffer[0] = 'J';
  if (wide) {
    buffer[1] = static_cast<uint8_t>(((address >> 16) & 1) << 2);
    buffer[2] = static_cast<uint8_t>((address >> 8) & 0xFF);
    buffer[3] = static_cast<uint8_t>(address & 0xFF);
    requestLength = 4;
  } else {
    buffer[1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    buffer[2] = static_cast<uint8_t>(address & 0xFF);
    requestLength = 3;
  }
  const size_t replyLength = wide ? 18 : 8;
  const size_t entries = wide ? 16 : 8;
  WritePort(buffer, 1);
  // The tracker needs a moment between the command and its address.
  platform::Serial().Pause(1);
  // It answers nothing before it has the address, so what the line holds now
  // came behind the last reply. Looked at here, the protocol's own pause
  // gives such a byte (1.04 ms on the line) the time to show, at no cost.
  const bool busy = DropWaitingBytes();
  if (lineWasBusy != nullptr) *lineWasBusy = busy;
  WritePort(buffer + 1, requestLength - 1);
  // A block takes 8.3 or 18.8 ms on the line: two seconds without its first
  // byte is a tracker that is gone, not a slow one.
  constexpr uint32_t kBlockFirstByteMs = 2000;
  const size_t got = ReadReplyStartingWithin(buffer, replyLength, kBlockFirstByteMs);
  // The wide block ends like a reply line; either form is followed by
  // nothing. Anything else means noise or a reply out of step, and then none
  // of its bytes is data. Bytes that arrived with the reply are here already;
  // those that follow a little later are found as the next block is asked for.
  const bool trailerWrong = wide && got == replyLength && !IsLineEnd(buffer[16], buffer[17]);
  const bool overran = got == replyLength && DropWaitingBytes();
  const bool spoilt = busy || trailerWrong || overran;
  // Only bytes that really arrived reach the block: the rest of the buffer
  // still holds the request.
  const size_t delivered = spoilt ? 0 : std::min(entries, got);
  for (size_t i = 0; i < delivered; ++i) block[i] = buffer[i];
  if (entriesArrived != nullptr) *entriesArrived = static_cast<int>(delivered);
  return got == replyLength && !spoilt;
}

bool WriteFlashByte(int address, uint8_t value) {
  WriteByte('I');
  WriteByte(static_cast<uint8_t>((address >> 8) & 0xFF));
  WriteByte(static_cast<uint8_t>(address & 0xFF));
  WriteByte(value);
  // What the acknowledgement says does not matter, but its absence does: a
  // tracker that has stopped answering must not cost ten seconds a byte.
  uint8_t ack;
  if (ReadPort(&ack, 1) != 1 || ReadPort(&ack, 1) != 1) {
    ReplyNeverCame();
    return false;
  }
  return true;
}

void StartTransmit() {
  WriteByte('G');
}
