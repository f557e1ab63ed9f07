#include "sim/tracker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

// The model keeps its clock in thirds of a microsecond: a byte at 9600 baud,
// 8N1, is then exactly 3125 ticks, so long paced transfers do not drift.
constexpr int64_t kTicksPerMicro = 3;
constexpr int64_t kByteTicks = 3125;
static_assert(kByteTicks * 9600 == 10 * 1000000 * kTicksPerMicro);

// Far enough from the ends of int64 that tick arithmetic cannot overflow.
constexpr int64_t kMaxMicros = Tracker::kNever / 8;

int64_t ToTicks(int64_t us) {
  return std::clamp(us, -kMaxMicros, kMaxMicros) * kTicksPerMicro;
}

// A byte complete at tick t is on the line from the first whole microsecond
// at or after t.
int64_t CeilMicros(int64_t ticks) {
  int64_t q = ticks / kTicksPerMicro;
  if (ticks % kTicksPerMicro > 0) ++q;
  return q;
}

constexpr const char* kRadioNames[] = {"SL", "SH", "HP", "ID", "MK", "DT", "RO", "RN", "RR"};
constexpr int kRadioCount = 9;
// SL and SH are the halves of the radio's own serial number.
constexpr int kFirstWritableRadio = 2;
constexpr const char* kRadioDefaults[] = {"5B7E19A3", "0042C1", "3", "7FFF", "FFFF",
                                          "FFFF",     "3",      "0", "A"};

int RadioIndex(const std::string& name) {
  for (int i = 0; i < kRadioCount; ++i) {
    if (name == kRadioNames[i]) return i;
  }
  return -1;
}

// Every command byte the firmware knows; anything else (a terminal's line
// ends, stray keys) is ignored and does not count towards a fault trigger.
bool IsCommand(uint8_t c) {
  return std::strchr("?yYRVMXxKZJIG", c) != nullptr && c != 0;
}

constexpr int kEraseProgressMs = 50;  // one progress byte per this much erase time
constexpr int kMaxEraseMs = 3600 * 1000;
constexpr size_t kOverlongText = 70;
constexpr size_t kMaxAtText = 128;
constexpr uint16_t kDefaultBattery = 624;  // 4.02 V

// Settings as a freshly programmed tracker has them: ID string, serial
// number with matching digits, 3.30 V shutdown, 10 s intervals.
std::array<uint8_t, 256> DefaultSettings(uint16_t serialNumber) {
  std::array<uint8_t, 256> s;
  s.fill(0xFF);
  std::memcpy(s.data(), "KLXTX,ID", 8);
  // The first four of "%04d", as the tool compares them.
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", serialNumber);
  std::memcpy(s.data() + 8, digits, 4);
  s[16] = 0x07;  // wrap memory, low-voltage shutdown, data logging
  s[17] = 512 >> 8;
  s[18] = 512 & 0xFF;
  s[32] = 10;  // transmit interval
  s[33] = 10;  // store interval
  s[34] = 0;   // transmit slot
  s[128] = static_cast<uint8_t>(serialNumber >> 8);
  s[129] = static_cast<uint8_t>(serialNumber & 0xFF);
  return s;
}

}  // namespace

struct Tracker::Impl {
  enum class Await {
    kCommand,
    kNvAddress,
    kRegisterAddress,
    kNvWrite,
    kAtText,
    kFlashReadAddress,
    kFlashWrite,
  };
  struct OutByte {
    uint8_t value;
    int64_t ticks;  // when the byte is complete on the line
  };
  struct RadioParam {
    std::string value;
    std::string pending;
  };

  explicit Impl(Config c) : config(std::move(c)) {
    if (config.sizeKbit != 64 && config.sizeKbit != 128) config.sizeKbit = 1024;
    const size_t bytes = static_cast<size_t>(config.sizeKbit) * 128;
    log = config.image.empty() ? RealisticTrack(config.sizeKbit) : config.image;
    log.resize(bytes, 0xFF);
    config.image.clear();
    settings = DefaultSettings(config.serialNumber);
    for (int i = 0; i < kRadioCount; ++i) radio[i].value = kRadioDefaults[i];
  }

  Config config;
  std::array<uint8_t, 256> settings;
  std::vector<uint8_t> log;
  uint16_t battery = kDefaultBattery;
  RadioParam radio[kRadioCount];
  bool commandMode = false;
  bool transmitting = false;
  int eraseCount = 0;
  std::deque<int64_t> eraseEnds;  // ticks at which running erases finish
  std::vector<uint8_t> transcript;

  std::deque<OutByte> out;
  int64_t now = std::numeric_limits<int64_t>::min();
  int64_t inboundFree = std::numeric_limits<int64_t>::min();   // host's line free again
  int64_t outboundFree = std::numeric_limits<int64_t>::min();  // our line free again

  Await await = Await::kCommand;
  std::vector<uint8_t> args;
  size_t argsNeeded = 0;
  std::string atText;

  int counts[256] = {};
  int total = 0;
  bool silent = false;
  bool dropped = false;
  bool shortBlocks = false;
  bool garbage = false;      // the command being served answers noise
  bool noiseBefore = false;  // its replies come after noise
  bool noiseAfter = false;   // its replies are followed by noise
  bool late = false;         // the command being served answers lateMs late
  bool ignoring = false;     // the settings write being served is not stored
  uint32_t noise = 0x2545F491u;

  size_t MemorySize() const { return log.size(); }

  void Touch(int64_t us) {
    now = std::max(now, ToTicks(us));
    while (!eraseEnds.empty() && eraseEnds.front() <= now) {
      eraseEnds.pop_front();
      ++eraseCount;
    }
  }

  uint8_t Noise() {
    for (;;) {
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      const uint8_t b = static_cast<uint8_t>(noise >> 24);
      // Neither line-end byte, so no reader can find a line in it.
      if (b != 0x0A && b != 0x0D) return b;
    }
  }

  // Queues one byte that may start at earliest; bytes never overlap.
  void Send(uint8_t b, int64_t earliest) {
    if (late) earliest += LateTicks();
    const int64_t gap = static_cast<int64_t>(std::clamp(config.faults.byteGapMs, 0, kMaxEraseMs)) *
                        1000 * kTicksPerMicro;
    const int64_t start = std::max(earliest, outboundFree + gap);
    const int64_t done = config.pace ? start + kByteTicks : start;
    out.push_back({garbage ? Noise() : b, done});
    outboundFree = done;
  }

  int64_t LateTicks() const {
    return static_cast<int64_t>(std::clamp(config.faults.lateMs, 0, kMaxEraseMs)) * 1000 *
           kTicksPerMicro;
  }

  void SendLineEnd(int64_t t) {
    Send(config.faults.crlf ? '\r' : '\n', t);
    Send(config.faults.crlf ? '\n' : '\r', t);
  }

  void Line(std::string text, int64_t t) {
    if (config.faults.overlong && text.size() < kOverlongText) {
      text.append(kOverlongText - text.size(), '.');
    }
    if (noiseBefore) SendNoise(t);
    for (char c : text) Send(static_cast<uint8_t>(c), t);
    SendLineEnd(t);
    if (noiseAfter) SendNoise(t);
  }

  void Raw(const uint8_t* bytes, size_t n, int64_t t) {
    for (size_t i = 0; i < n; ++i) Send(bytes[i], t);
  }

  // A reply of fixed length with noise around it, as a disturbed line
  // delivers it.
  void Reply(const uint8_t* bytes, size_t n, int64_t t) {
    if (noiseBefore) SendNoise(t);
    Raw(bytes, n, t);
    if (noiseAfter) SendNoise(t);
  }

  void SendNoise(int64_t t) {
    for (int i = 0; i < kNoiseBytes; ++i) Send(Noise(), t);
  }

  bool Fires(const Trigger& trigger, uint8_t c) const {
    if (!trigger.Armed()) return false;
    if (trigger.command == 0) return total == trigger.count;
    return static_cast<uint8_t>(trigger.command) == c && counts[c] == trigger.count;
  }

  void Take(uint8_t b, int64_t t) {
    if (dropped || silent) return;
    // Any byte stops the transmitter; it is then read as usual, so the
    // host's next command after "G" is not lost.
    transmitting = false;
    switch (await) {
      case Await::kCommand:
        StartCommand(b, t);
        return;
      case Await::kNvAddress:
        await = Await::kCommand;
        Line(std::string(1, static_cast<char>(settings[b])), t);
        return;
      case Await::kRegisterAddress:
        await = Await::kCommand;
        Line(std::string(1, static_cast<char>(Register(b))), t);
        return;
      case Await::kAtText:
        if (b == '\r') {
          await = Await::kCommand;
          AnswerAt(t);
        } else if (b != '\n' && atText.size() < kMaxAtText) {
          atText += static_cast<char>(b);
        }
        return;
      case Await::kNvWrite:
      case Await::kFlashReadAddress:
      case Await::kFlashWrite: {
        args.push_back(b);
        if (args.size() < argsNeeded) return;
        const Await done = await;
        await = Await::kCommand;
        if (done == Await::kNvWrite) {
          if (!ignoring) settings[args[0]] = args[1];
          Line("OK", t);
        } else if (done == Await::kFlashReadAddress) {
          ReadBlock(t);
        } else {
          const size_t address = (static_cast<size_t>(args[0]) << 8) | args[1];
          log[address % MemorySize()] = args[2];
          const uint8_t ack[2] = {'O', 'K'};
          Reply(ack, 2, t);
        }
        return;
      }
    }
  }

  void Expect(Await next, size_t n) {
    await = next;
    args.clear();
    argsNeeded = n;
  }

  void StartCommand(uint8_t c, int64_t t) {
    if (!IsCommand(c)) return;
    ++counts[c];
    ++total;
    const Faults& f = config.faults;
    if (Fires(f.drop, c)) {
      dropped = true;
      // What was on the line before the drop got through; nothing after it.
      while (!out.empty() && out.back().ticks > t) out.pop_back();
      return;
    }
    if (Fires(f.silent, c)) {
      silent = true;
      return;
    }
    if (Fires(f.shortBlock, c)) shortBlocks = true;
    garbage = Fires(f.garbage, c);
    noiseBefore = Fires(f.noiseBefore, c);
    noiseAfter = Fires(f.noiseAfter, c);
    late = Fires(f.late, c);
    ignoring = Fires(f.ignoreWrite, c);
    if (f.okToEverything) {
      Line("OK", t);
      return;
    }
    switch (c) {
      case '?':
        Line(f.pingAnswer.empty() ? "OK" : f.pingAnswer, t);
        break;
      case 'V':
        Line(std::to_string(config.version), t);
        break;
      case 'M':
        Line(config.model, t);
        break;
      case 'K':
        Line(config.sizeKbit == 64 ? "0" : config.sizeKbit == 128 ? "1" : "2", t);
        break;
      case 'y':
        Line("OK", t);
        Expect(Await::kNvAddress, 1);
        break;
      case 'R':
        Line("OK", t);
        Expect(Await::kRegisterAddress, 1);
        break;
      case 'Y':
        Line("OK", t);
        Expect(Await::kNvWrite, 2);
        break;
      case 'X':
        commandMode = true;
        Line("OK", t);
        break;
      case 'x':
        Line("OK", t);
        atText.clear();
        Expect(Await::kAtText, 0);
        break;
      case 'J':
        Expect(Await::kFlashReadAddress, config.sizeKbit == 1024 ? 3 : 2);
        break;
      case 'I':
        Expect(Await::kFlashWrite, 3);
        break;
      case 'Z':
        Erase(t);
        break;
      case 'G':
        transmitting = true;
        break;
    }
  }

  uint8_t Register(uint8_t address) const {
    if (address == 70) return static_cast<uint8_t>(battery >> 8);
    if (address == 71) return static_cast<uint8_t>(battery & 0xFF);
    return 0;
  }

  void ReadBlock(int64_t t) {
    const bool wide = config.sizeKbit == 1024;
    size_t address = wide ? ((static_cast<size_t>(args[0] >> 2) & 1) << 16) |
                                (static_cast<size_t>(args[1]) << 8) | args[2]
                          : (static_cast<size_t>(args[0]) << 8) | args[1];
    // No allocation per block: the benchmark runs thousands of them.
    uint8_t reply[18];
    const size_t data = wide ? 16 : 8;
    for (size_t i = 0; i < data; ++i) reply[i] = log[(address + i) % MemorySize()];
    size_t length = data;
    // The wide block ends like a line; the short one is bare.
    if (wide) {
      reply[length++] = config.faults.crlf ? '\r' : '\n';
      reply[length++] = config.faults.crlf ? '\n' : '\r';
    }
    if (shortBlocks) length /= 2;
    Reply(reply, length, t);
  }

  void Erase(int64_t t) {
    std::fill(log.begin(), log.end(), 0xFF);
    std::fill_n(log.begin(), 4, 0x5A);  // an empty log still has its end marker
    // Progress bytes spread evenly over the erase time, the line end last.
    const int ms = std::clamp(config.faults.eraseMs, 0, kMaxEraseMs);
    const int64_t spanTicks = static_cast<int64_t>(ms) * 1000 * kTicksPerMicro;
    const int progress = ms / kEraseProgressMs;
    const int all = progress + 2;
    for (int i = 0; i < progress; ++i) Send('.', t + spanTicks * (i + 1) / all);
    Send(config.faults.crlf ? '\r' : '\n', t + spanTicks * (all - 1) / all);
    Send(config.faults.crlf ? '\n' : '\r', t + spanTicks);
    eraseEnds.push_back(outboundFree);
  }

  std::string CurrentRadio(int i) const {
    return radio[i].pending.empty() ? radio[i].value : radio[i].pending;
  }

  void AnswerAt(int64_t t) {
    std::string head = atText.substr(0, 4);
    for (char& ch : head) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string rest = atText.size() > 4 ? atText.substr(4) : std::string();
    if (!commandMode || head.compare(0, 2, "AT") != 0) {
      Line("ERROR", t);
      return;
    }
    if (head == "AT") {
      Line("OK", t);
      return;
    }
    const std::string name = head.substr(2);
    if (name == "WR" && rest.empty()) {
      for (RadioParam& p : radio) {
        if (!p.pending.empty()) p.value = p.pending;
        p.pending.clear();
      }
      Line("OK", t);
      return;
    }
    if (name == "CN" && rest.empty()) {
      // Values not written with ATWR do not survive leaving command mode.
      for (RadioParam& p : radio) p.pending.clear();
      commandMode = false;
      Line("OK", t);
      return;
    }
    const int i = RadioIndex(name);
    if (i < 0 || (!rest.empty() && i < kFirstWritableRadio)) {
      Line("ERROR", t);
    } else if (rest.empty()) {
      Line(CurrentRadio(i), t);
    } else {
      radio[i].pending = rest;
      Line("OK", t);
    }
  }
};

Tracker::Tracker(Config config) : impl_(std::make_shared<Impl>(std::move(config))) {}

void Tracker::Receive(const uint8_t* data, size_t n, int64_t nowUs) {
  Impl& m = *impl_;
  m.Touch(nowUs);
  const int64_t sent = ToTicks(nowUs);
  for (size_t i = 0; i < n; ++i) {
    m.transcript.push_back(data[i]);
    // Paced, a byte is complete one byte-time after it started, and it cannot
    // start before the one ahead of it has finished.
    const int64_t done = m.config.pace ? std::max(sent, m.inboundFree) + kByteTicks : sent;
    m.inboundFree = done;
    m.Take(data[i], done);
  }
}

size_t Tracker::Transmit(int64_t nowUs, uint8_t* out, size_t max) {
  Impl& m = *impl_;
  m.Touch(nowUs);
  const int64_t by = ToTicks(nowUs);
  size_t n = 0;
  while (n < max && !m.out.empty() && m.out.front().ticks <= by) {
    out[n++] = m.out.front().value;
    m.out.pop_front();
  }
  return n;
}

int64_t Tracker::NextOutputTime() const {
  return impl_->out.empty() ? kNever : CeilMicros(impl_->out.front().ticks);
}

void Tracker::Advance(int64_t nowUs) {
  impl_->Touch(nowUs);
}
bool Tracker::LineDropped() const {
  return impl_->dropped;
}
const std::vector<uint8_t>& Tracker::Transcript() const {
  return impl_->transcript;
}
std::array<uint8_t, 256>& Tracker::SettingsMemory() {
  return impl_->settings;
}
std::vector<uint8_t>& Tracker::LogMemory() {
  return impl_->log;
}
uint16_t& Tracker::BatteryCount() {
  return impl_->battery;
}

std::string Tracker::RadioParameter(const std::string& name) const {
  const int i = RadioIndex(name);
  return i < 0 ? std::string() : impl_->radio[i].value;
}

void Tracker::SetRadioParameter(const std::string& name, const std::string& value) {
  const int i = RadioIndex(name);
  if (i < 0) return;
  impl_->radio[i].value = value;
  impl_->radio[i].pending.clear();
}

std::string Tracker::PendingRadioParameter(const std::string& name) const {
  const int i = RadioIndex(name);
  return i < 0 ? std::string() : impl_->radio[i].pending;
}

bool Tracker::RadioCommandMode() const {
  return impl_->commandMode;
}
bool Tracker::Transmitting() const {
  return impl_->transmitting;
}
int Tracker::EraseCount() const {
  return impl_->eraseCount;
}

}  // namespace sim
