// A model of the tracker firmware, byte for byte as it behaves on its serial
// line. It knows nothing of the tool; tests, demos and benchmarks join the two
// through a transport (the in-process fake port or a pseudo-terminal).
//
// Time is the caller's: every call passes "now" in microseconds on the
// caller's clock (a virtual one in unit tests, the monotonic clock on a pty),
// and every byte the tracker sends carries the time at which it is on the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// One line-speed byte at 9600 baud, 8N1: ten bits.
constexpr double kByteMicros = 10.0 * 1000000.0 / 9600.0;

// A fault fires at the count-th (1-based) command byte equal to command, or at
// the count-th command of any kind when command is 0. count < 1: never.
struct Trigger {
  char command = 0;
  int count = 0;
  bool Armed() const { return count >= 1; }
};

// How many bytes of noise the noise faults put before or after a reply.
constexpr int kNoiseBytes = 3;

struct Faults {
  Trigger silent;         // from this command on, nothing more is answered
  Trigger drop;           // the line drops at this command (the transport hangs up)
  Trigger shortBlock;     // this block read and every later one get half their reply
  Trigger garbage;        // this command's reply is replaced by bytes without a line end
  Trigger noiseBefore;    // this command's replies come after a few bytes of noise
  Trigger noiseAfter;     // this command's replies are followed by a few bytes of noise
  Trigger late;           // this command's reply starts lateMs late
  int lateMs = 6000;      // how late the late reply starts
  int byteGapMs = 0;      // every byte sent this long after the one before: slow, but alive
  Trigger ignoreWrite;    // this settings write is acknowledged but the byte is not stored
  bool crlf = false;      // reply lines end CR LF instead of LF CR
  bool overlong = false;  // reply lines carry 70 characters of text
  int eraseMs = 1500;     // how long the erase answer takes in all

  // When set, every "?" is answered with this line instead of "OK": a device
  // that answers, but is no tracker ready to talk.
  std::string pingAnswer;
  // Every command is answered "OK" and nothing else: a device that is no
  // tracker but agrees with everything.
  bool okToEverything = false;
};

struct Config {
  int sizeKbit = 1024;  // 64, 128 or 1024
  std::string model = "KLX-TX3";
  int version = 20;
  // Settings bytes 128 and 129, and the four digits the ID string carries.
  uint16_t serialNumber = 2417;
  bool pace = false;  // hold every byte, both ways, to the line speed
  Faults faults;
  // Log memory contents (sizeKbit * 128 bytes); empty: the built-in track.
  std::vector<uint8_t> image;
};

// What the firmware answers, where the host does not care about the content:
// acknowledgement and confirmation lines are "OK"; "I" answers the two bytes
// "OK"; a 1024-kbit block is followed by a line end (its two extra bytes);
// the erase answer is a '.' every 50 ms of erase time, then the line end; an
// AT command outside command mode, an unknown one, or a value for SL or SH
// answers "ERROR". Bytes that are no command are ignored. After "G" the next
// byte stops the transmitter and is then served as usual.
class Tracker {
 public:
  explicit Tracker(Config config);

  // Bytes from the host, put on the line by the host at nowUs.
  void Receive(const uint8_t* data, size_t n, int64_t nowUs);

  // Moves the bytes the tracker has sent that are on the line by nowUs into
  // out (at most max); returns how many.
  size_t Transmit(int64_t nowUs, uint8_t* out, size_t max);

  // When the next byte the tracker sends is on the line; max when none is due.
  int64_t NextOutputTime() const;

  // Lets time pass with no byte from the host (the erase answer runs on it).
  void Advance(int64_t nowUs);

  // True once the drop fault fired: the transport hangs up the line.
  bool LineDropped() const;

  // Everything the host has sent, in order.
  const std::vector<uint8_t>& Transcript() const;

  // The tracker's memories, for tests to set up and inspect.
  std::array<uint8_t, 256>& SettingsMemory();
  std::vector<uint8_t>& LogMemory();
  uint16_t& BatteryCount();
  // Radio parameters by two-letter name: the committed value, the value set
  // but not yet written with ATWR, whether command mode is on.
  std::string RadioParameter(const std::string& name) const;
  void SetRadioParameter(const std::string& name, const std::string& value);
  // Empty when nothing is waiting for ATWR (a set value is never empty).
  std::string PendingRadioParameter(const std::string& name) const;
  bool RadioCommandMode() const;
  bool Transmitting() const;  // after "G", until the next byte from the host
  int EraseCount() const;     // completed erases

  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

 private:
  struct Impl;
  // Kept by value so a Tracker can live in a global or on the stack freely.
  std::shared_ptr<Impl> impl_;
};

// The built-in log: a realistic track of sizeKbit * 128 bytes, with fixes
// west and south of zero, skipped records and an end marker.
std::vector<uint8_t> RealisticTrack(int sizeKbit);

}  // namespace sim
