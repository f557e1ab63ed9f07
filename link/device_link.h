// The one serial link between the tool and the tracker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/serial/serial.h"

struct DeviceLinkState {
  std::unique_ptr<platform::SerialPort> portHandle;  // null: the invalid handle
  std::string portName;                              // the name portHandle was opened with
  int32_t portOpen = 0;
  int32_t radioCommandMode = 0;
};
extern DeviceLinkState DeviceLink;

// The tracker ends its lines LF CR, the other way round from the usual.
inline bool IsLineEnd(uint8_t beforeLast, uint8_t last) {
  return beforeLast == 0x0A && last == 0x0D;
}

// A reply line's buffer: 63 characters of text, its NUL and the CR behind it.
constexpr int kReplyBufferSize = 65;

// Opens and configures the named port at 9600 8N1 with DTR raised; 1 when the
// link is open, 0 after a failure that has been shown to the user.
int OpenPort(const std::string& name);
void ClosePort();
// The link as a fresh start finds it: closed, no command mode, no model text.
void ResetLink();

// A reply that never came: the user is told once and the link is closed, so
// that nothing that still arrives is taken for the answer to a later command.
void ReplyNeverCame();

// Reads one reply line (ended by LF CR) into buffer, which holds at least
// kReplyBufferSize bytes; 1 on success, 0 after a read that got no byte (the
// user has been told and the link is closed).
int ReadLine(uint8_t* buffer);

// Raw port access for the commands. A closed link sends and reads nothing.
bool WritePort(const uint8_t* data, size_t n);
size_t ReadPort(uint8_t* data, size_t n);

// Reads a reply of n bytes whose first byte must come within firstByteMs: a
// tracker that fell silent, or a cable that was pulled, is known in seconds
// however long the reply. Once bytes come, the read goes on for as long as
// each follows the one before within the usual interval, so a slow but
// living line is never cut. Returns how many bytes arrived.
size_t ReadReplyStartingWithin(uint8_t* data, size_t n, uint32_t firstByteMs);

// Reads and drops what the line holds already, without waiting for more;
// true when it held anything. A reply of fixed length followed by such bytes
// was longer than it should be: they tell what no framing could.
bool DropWaitingBytes();

// Reads and drops what the line still carries until it has been quiet for
// quietMs, or until enough (given each byte dropped) says so, for at most
// longestMs; the link's time-outs are then put back. False when the line did
// not go quiet in that time, or its time-outs could not be set.
bool DiscardUntilQuiet(uint32_t quietMs, uint32_t longestMs,
                       const std::function<bool(uint8_t)>& enough = {});
