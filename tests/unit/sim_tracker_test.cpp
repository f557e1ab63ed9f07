// The simulated tracker on its own, driven byte by byte on a virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/tracker.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string Show(const Bytes& b) {
  std::string s;
  char hex[8];
  for (uint8_t c : b) {
    std::snprintf(hex, sizeof hex, "%02X ", c);
    s += hex;
  }
  return s;
}

// Sends bytes at time at and takes everything that is on the line by until.
Bytes Exchange(sim::Tracker& t, const Bytes& send, int64_t at = 0, int64_t until = 0) {
  t.Receive(send.data(), send.size(), at);
  Bytes out(4096);
  out.resize(t.Transmit(std::max(at, until), out.data(), out.size()));
  return out;
}

Bytes Exchange(sim::Tracker& t, const char* send) {
  return Exchange(t, B(send));
}

sim::Config WithSize(int sizeKbit) {
  sim::Config c;
  c.sizeKbit = sizeKbit;
  return c;
}

// Every reply the host reads as a line ends LF CR, also when the value itself
// is a line-end byte or 0.
TEST(SimTracker, RepliesAreFramedLfCr) {
  struct Case {
    const char* what;
    Bytes send;
    Bytes reply;
  };
  const Case cases[] = {
      {"ping", B("?"), B("OK\n\r")},
      {"version", B("V"), B("20\n\r")},
      {"model", B("M"), B("KLX-TX3\n\r")},
      {"settings byte LF", {'y', 32}, B("OK\n\r\n\n\r")},
      {"settings byte CR", {'y', 33}, B("OK\n\r\r\n\r")},
      {"settings byte 0", {'y', 34}, {'O', 'K', '\n', '\r', 0, '\n', '\r'}},
      {"battery high", {'R', 70}, B("OK\n\r\r\n\r")},
      {"battery low", {'R', 71}, B("OK\n\r\n\n\r")},
      {"settings write", {'Y', 40, 7}, B("OK\n\rOK\n\r")},
      {"radio command mode", B("X"), B("OK\n\r")},
      {"radio query", B("xATSH\r"), B("OK\n\r0042C1\n\r")},
      {"flash write", {'I', 0, 5, 14}, B("OK")},
      {"transmit", B("G"), {}},
  };
  sim::Tracker t{sim::Config{}};
  t.SettingsMemory()[32] = '\n';
  t.SettingsMemory()[33] = '\r';
  t.SettingsMemory()[34] = 0;
  t.BatteryCount() = 0x0D0A;
  for (const Case& c : cases) {
    EXPECT_EQ(Show(Exchange(t, c.send)), Show(c.reply)) << c.what;
  }
  EXPECT_EQ(t.SettingsMemory()[40], 7);
  EXPECT_EQ(t.LogMemory()[5], 14);
}

TEST(SimTracker, SizeCodeFollowsMemorySize) {
  const struct {
    int kbit;
    const char* reply;
  } cases[] = {{64, "0\n\r"}, {128, "1\n\r"}, {1024, "2\n\r"}};
  for (const auto& c : cases) {
    sim::Tracker t(WithSize(c.kbit));
    EXPECT_EQ(Exchange(t, "K"), B(c.reply)) << c.kbit;
    EXPECT_EQ(t.LogMemory().size(), static_cast<size_t>(c.kbit) * 128);
  }
}

// The 1024-kbit form takes three address bytes (bit 16 as 0x04 in the first)
// and answers 16 bytes and a line end; the short form takes two and answers
// 8. Addresses wrap at the memory's end.
TEST(SimTracker, FlashBlockFramingAndWrap) {
  struct Case {
    int kbit;
    Bytes request;
    size_t address;
  };
  const Case cases[] = {
      {1024, {'J', 0x00, 0x00, 0x00}, 0},
      {1024, {'J', 0x04, 0xFF, 0xF0}, 0x1FFF0},
      {1024, {'J', 0x04, 0xFF, 0xF8}, 0x1FFF8},  // runs over the end into 0..7
      {1024, {'J', 0xFB, 0x12, 0x34}, 0x01234},  // only bit 2 of the first byte counts
      {128, {'J', 0x3F, 0xF8}, 0x3FF8},
      {128, {'J', 0xFF, 0xF8}, 0x3FF8},
      {64, {'J', 0x20, 0x00}, 0},  // the host reads a 64-kbit memory twice over
      {64, {'J', 0x1F, 0xFC}, 0x1FFC},
  };
  for (const Case& c : cases) {
    sim::Tracker t(WithSize(c.kbit));
    Bytes& log = t.LogMemory();
    // No two nearby addresses, nor two 64K apart, hold the same byte pattern.
    for (size_t i = 0; i < log.size(); ++i) {
      log[i] = static_cast<uint8_t>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
    }
    Bytes expected;
    const size_t n = c.kbit == 1024 ? 16 : 8;
    for (size_t i = 0; i < n; ++i) expected.push_back(log[(c.address + i) % log.size()]);
    if (c.kbit == 1024) expected.insert(expected.end(), {'\n', '\r'});
    EXPECT_EQ(Show(Exchange(t, c.request)), Show(expected)) << c.kbit << " " << Show(c.request);
  }
}

TEST(SimTracker, FlashWriteReachesSixteenBitsWrapped) {
  const struct {
    int kbit;
    uint8_t hi, lo;
    size_t address;
  } cases[] = {{1024, 0x12, 0x34, 0x1234}, {128, 0x40, 0x09, 9}, {64, 0x20, 0x05, 5}};
  for (const auto& c : cases) {
    sim::Tracker t(WithSize(c.kbit));
    EXPECT_EQ(Exchange(t, {'I', c.hi, c.lo, 0xA7}), B("OK"));
    EXPECT_EQ(t.LogMemory()[c.address], 0xA7) << c.kbit;
  }
}

// Paced, a byte is complete one byte-time (3125/3 us) after it started;
// requests queue behind each other and replies start when the request ended.
TEST(SimTracker, PacingArithmetic) {
  struct Send {
    Bytes bytes;
    int64_t at;
  };
  struct Case {
    const char* what;
    bool pace;
    std::vector<Send> sends;
    size_t replyBytes;
    int64_t firstDue, lastDue;
  };
  const double b = sim::kByteMicros;
  auto due = [](double us) { return static_cast<int64_t>(std::ceil(us - 1e-6)); };
  const Case cases[] = {
      {"ping at 1 ms", true, {{B("?"), 1000}}, 4, due(1000 + 2 * b), due(1000 + 5 * b)},
      {"block request in one write", true, {{{'J', 0, 0, 0}, 0}}, 18, due(5 * b), due(22 * b)},
      {"address bytes after a pause",
       true,
       {{B("J"), 0}, {{0, 0, 0}, 10000}},
       18,
       due(10000 + 4 * b),
       due(10000 + 21 * b)},
      {"a byte sent before the previous one ended waits for it",
       true,
       {{B("J"), 0}, {{0, 0, 0}, 500}},
       18,
       due(5 * b),
       due(22 * b)},
      {"unpaced: at once", false, {{{'J', 0, 0, 0}, 7000}}, 18, 7000, 7000},
  };
  for (const Case& c : cases) {
    sim::Config config;
    config.pace = c.pace;
    sim::Tracker t(config);
    for (const Send& s : c.sends) t.Receive(s.bytes.data(), s.bytes.size(), s.at);
    std::vector<int64_t> times;
    uint8_t byte;
    while (t.NextOutputTime() != sim::Tracker::kNever) {
      const int64_t when = t.NextOutputTime();
      ASSERT_EQ(t.Transmit(when - 1, &byte, 1), 0u) << c.what << ": early at " << when - 1;
      ASSERT_EQ(t.Transmit(when, &byte, 1), 1u) << c.what;
      times.push_back(when);
    }
    ASSERT_EQ(times.size(), c.replyBytes) << c.what;
    EXPECT_EQ(times.front(), c.firstDue) << c.what;
    EXPECT_EQ(times.back(), c.lastDue) << c.what;
    if (c.pace) {
      for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(times[i] - times[i - 1]), b, 1.0) << c.what;
      }
    }
  }
}

// The erase answer trickles in over eraseMs and ends LF CR; afterwards the
// memory is blank with an end marker first, so a download shows no track.
TEST(SimTracker, EraseAnswerSpreadOverEraseTime) {
  for (bool pace : {false, true}) {
    sim::Config config;
    config.pace = pace;
    config.faults.eraseMs = 1000;
    sim::Tracker t(config);
    t.Receive(B("Z").data(), 1, 0);
    std::vector<int64_t> times;
    Bytes answer;
    uint8_t byte;
    while (t.NextOutputTime() != sim::Tracker::kNever) {
      const int64_t when = t.NextOutputTime();
      ASSERT_EQ(t.Transmit(when, &byte, 1), 1u);
      if (t.NextOutputTime() != sim::Tracker::kNever) {
        EXPECT_EQ(t.EraseCount(), 0);
      }
      answer.push_back(byte);
      times.push_back(when);
    }
    ASSERT_GE(answer.size(), 3u);
    EXPECT_EQ(Bytes(answer.end() - 2, answer.end()), B("\n\r"));
    for (size_t i = 0; i + 2 < answer.size(); ++i) {
      EXPECT_NE(answer[i], '\n');
      EXPECT_NE(answer[i], '\r');
    }
    EXPECT_GT(times.front(), 0);
    EXPECT_LT(times.front(), 200000) << "the first progress byte comes early";
    EXPECT_GE(times.back(), 1000000);
    EXPECT_LT(times.back(), 1000000 + 3 * sim::kByteMicros);
    EXPECT_EQ(t.EraseCount(), 1);
    const Bytes& log = t.LogMemory();
    EXPECT_EQ(Bytes(log.begin(), log.begin() + 5), Bytes({0x5A, 0x5A, 0x5A, 0x5A, 0xFF}));
    EXPECT_EQ(std::count(log.begin() + 4, log.end(), 0xFF), static_cast<long>(log.size() - 4));
  }
}

// "G" starts transmitting; the next byte stops it and is still served, so
// the host's next command after Go! is not lost.
TEST(SimTracker, TransmitStopsAtNextByteWhichIsServed) {
  sim::Tracker t{sim::Config{}};
  EXPECT_TRUE(Exchange(t, "G").empty());
  EXPECT_TRUE(t.Transmitting());
  EXPECT_EQ(Exchange(t, "?"), B("OK\n\r"));
  EXPECT_FALSE(t.Transmitting());
}

TEST(SimTracker, RadioParametersCommitOnlyWithWrite) {
  sim::Tracker t{sim::Config{}};
  // Without "X" the radio is not listening for AT commands.
  EXPECT_EQ(Exchange(t, "xATHP\r"), B("OK\n\rERROR\n\r"));
  EXPECT_EQ(Exchange(t, "X"), B("OK\n\r"));
  EXPECT_TRUE(t.RadioCommandMode());

  const std::string hp = t.RadioParameter("HP");
  EXPECT_EQ(Exchange(t, "xATHP5\r"), B("OK\n\rOK\n\r"));
  EXPECT_EQ(Exchange(t, "xATHP\r"), B("OK\n\r5\n\r")) << "a query shows the value set";
  EXPECT_EQ(t.RadioParameter("HP"), hp);
  EXPECT_EQ(t.PendingRadioParameter("HP"), "5");
  EXPECT_EQ(Exchange(t, "xATWR\r"), B("OK\n\rOK\n\r"));
  EXPECT_EQ(t.RadioParameter("HP"), "5");
  EXPECT_EQ(t.PendingRadioParameter("HP"), "");

  const std::string sl = t.RadioParameter("SL");
  EXPECT_EQ(Exchange(t, "xATSL1\r"), B("OK\n\rERROR\n\r")) << "the radio's serial is read-only";
  EXPECT_EQ(Exchange(t, "xATQQ\r"), B("OK\n\rERROR\n\r"));
  EXPECT_EQ(Exchange(t, "xATID42\r"), B("OK\n\rOK\n\r"));
  const std::string id = t.RadioParameter("ID");
  EXPECT_EQ(Exchange(t, "xATCN\r"), B("OK\n\rOK\n\r"));
  EXPECT_FALSE(t.RadioCommandMode());
  EXPECT_EQ(t.RadioParameter("ID"), id) << "leaving command mode drops what was not written";
  EXPECT_EQ(t.PendingRadioParameter("ID"), "");
  EXPECT_EQ(t.RadioParameter("SL"), sl);
}

TEST(SimTracker, AllNineRadioParametersAnswer) {
  sim::Tracker t{sim::Config{}};
  Exchange(t, "X");
  for (const char* name : {"SL", "SH", "HP", "ID", "MK", "DT", "RO", "RN", "RR"}) {
    const std::string value = t.RadioParameter(name);
    EXPECT_FALSE(value.empty()) << name;
    EXPECT_EQ(Exchange(t, B(std::string("xAT") + name + "\r")), B("OK\n\r" + value + "\n\r"))
        << name;
  }
  t.SetRadioParameter("DT", "1F");
  EXPECT_EQ(Exchange(t, "xATDT\r"), B("OK\n\r1F\n\r"));
}

struct FaultCase {
  const char* what;
  sim::Faults faults;
  Bytes send;
  Bytes reply;
};

sim::Faults Silent(char c, int n) {
  sim::Faults f;
  f.silent = {c, n};
  return f;
}

TEST(SimTracker, FaultsThatCutTheConversation) {
  sim::Faults drop;
  drop.drop = {'V', 1};
  sim::Faults crlf;
  crlf.crlf = true;
  const FaultCase cases[] = {
      {"silent at the second ping", Silent('?', 2), B("???"), B("OK\n\r")},
      {"silent at the second command of any kind", Silent(0, 2), B("?V?"), B("OK\n\r")},
      // An address byte that happens to equal the command is not a command.
      {"arguments are not commands", Silent('y', 2), B("yy?y!"), B("OK\n\r\xFF\n\rOK\n\r")},
      {"stray bytes are not commands", Silent(0, 3), B("?\r\n?V"), B("OK\n\rOK\n\r")},
      {"drop at the version", drop, B("?V?"), B("OK\n\r")},
      {"crlf", crlf, {'?', 'y', 16}, B("OK\r\nOK\r\n\x07\r\n")},
  };
  for (const FaultCase& c : cases) {
    sim::Config config;
    config.faults = c.faults;
    sim::Tracker t(config);
    EXPECT_EQ(Show(Exchange(t, c.send)), Show(c.reply)) << c.what;
    EXPECT_EQ(t.Transcript(), c.send) << c.what << ": the transcript keeps every byte";
    EXPECT_EQ(t.LineDropped(), c.faults.drop.Armed()) << c.what;
  }
}

TEST(SimTracker, ShortBlocksFromTheTriggerOn) {
  for (int kbit : {1024, 64}) {
    sim::Config config = WithSize(kbit);
    config.faults.shortBlock = {'J', 2};
    sim::Tracker t(config);
    const Bytes request = kbit == 1024 ? Bytes{'J', 0, 0, 16} : Bytes{'J', 0, 16};
    const size_t full = kbit == 1024 ? 18 : 8;
    EXPECT_EQ(Exchange(t, request).size(), full) << kbit;
    const Bytes half = Exchange(t, request);
    EXPECT_EQ(half.size(), full / 2) << kbit;
    EXPECT_EQ(Bytes(half.begin(), half.begin() + 4),
              Bytes(t.LogMemory().begin() + 16, t.LogMemory().begin() + 20));
    EXPECT_EQ(Exchange(t, request).size(), full / 2) << kbit << ": and every later block";
    EXPECT_EQ(Exchange(t, "?"), B("OK\n\r")) << "lines stay whole";
  }
}

TEST(SimTracker, GarbageReplacesOneWholeReplyWithoutLineEnds) {
  const struct {
    sim::Trigger trigger;
    Bytes send;
    size_t length;
  } cases[] = {
      {{'?', 2}, B("?"), 4},          {{0, 2}, B("V"), 4},
      {{'y', 1}, {'y', 16}, 7},  // acknowledgement and value line alike
      {{'J', 1}, {'J', 0, 0, 0}, 18}, {{'Z', 1}, B("Z"), 32},  // an erase that never ends
  };
  for (const auto& c : cases) {
    sim::Config config;
    config.faults.garbage = c.trigger;
    config.faults.eraseMs = 1500;
    sim::Tracker t(config);
    if (c.trigger.count == 2) Exchange(t, c.send);
    const Bytes noise = Exchange(t, c.send, 0, 2000000);
    EXPECT_EQ(noise.size(), c.length) << Show(c.send);
    EXPECT_EQ(std::count(noise.begin(), noise.end(), '\n'), 0) << Show(noise);
    EXPECT_EQ(std::count(noise.begin(), noise.end(), '\r'), 0) << Show(noise);
    EXPECT_EQ(Exchange(t, B("?"), 3000000), B("OK\n\r")) << "only that reply is noise";
  }
}

TEST(SimTracker, LateReplyAndAnotherPingAnswer) {
  sim::Config config;
  config.faults.late = {'?', 2};
  config.faults.lateMs = 500;
  sim::Tracker t(config);
  EXPECT_EQ(Exchange(t, "?"), B("OK\n\r"));
  EXPECT_EQ(Exchange(t, B("?"), 1000000, 1499999), Bytes()) << "not before its time";
  EXPECT_EQ(Exchange(t, B(""), 1500000), B("OK\n\r"));
  EXPECT_EQ(Exchange(t, B("?"), 1600000), B("OK\n\r")) << "only that reply is late";

  config = {};
  config.faults.pingAnswer = "ERROR";
  sim::Tracker other(config);
  EXPECT_EQ(Exchange(other, "?V"), B("ERROR\n\r20\n\r"));
}

// Catches a fault that drops the acknowledgement (the host would see a lost
// line, not a write that did not take) or ignores more than the one write.
TEST(SimTracker, IgnoredWriteIsAcknowledgedButNotStored) {
  sim::Config config;
  config.faults.ignoreWrite = {'Y', 2};
  sim::Tracker t(config);
  for (uint8_t address : {32, 33, 34}) {
    EXPECT_EQ(Exchange(t, {'Y', address, 55}), B("OK\n\rOK\n\r")) << int{address};
  }
  EXPECT_EQ(t.SettingsMemory()[32], 55);
  EXPECT_EQ(t.SettingsMemory()[33], 10) << "the second write keeps the old byte";
  EXPECT_EQ(t.SettingsMemory()[34], 55);
}

// 70 characters of text: a reader that cuts at 65 bytes finds no line end.
TEST(SimTracker, OverlongLinesHaveNoLineEndWithin65Bytes) {
  sim::Config config;
  config.faults.overlong = true;
  sim::Tracker t(config);
  for (const Bytes& send : {B("?"), B("M"), Bytes{'y', 16}}) {
    Bytes reply = Exchange(t, send);
    if (send[0] == 'y') reply.erase(reply.begin(), reply.begin() + 72);  // the acknowledgement
    ASSERT_EQ(reply.size(), 72u) << Show(send);
    EXPECT_EQ(Bytes(reply.end() - 2, reply.end()), B("\n\r"));
    for (size_t i = 0; i + 1 < 65; ++i) {
      EXPECT_FALSE(reply[i] == '\n' && reply[i + 1] == '\r') << Show(send) << " at " << i;
    }
  }
}

// A fresh tracker must pass the host's identity checks whatever serial
// number it was given: the serial digits agree with the serial number (the
// first four of five for the large ones), and the ID string is intact.
TEST(SimTracker, DefaultSettingsAgreeWithEachOther) {
  const struct {
    std::optional<uint16_t> serial;  // none: the default
    int stored;
    const char* digits;
  } rows[] = {
      {std::nullopt, 2417, "2417"}, {4321, 4321, "4321"}, {7, 7, "0007"},
      {65535, 65535, "6553"},       {0, 0, "0000"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored);
    sim::Config config;
    if (row.serial) config.serialNumber = *row.serial;
    sim::Tracker t(config);
    const auto& s = t.SettingsMemory();
    EXPECT_EQ(std::string(s.begin(), s.begin() + 8), "KLXTX,ID");
    EXPECT_EQ(s[128] * 256 + s[129], row.stored);
    EXPECT_EQ(std::string(s.begin() + 8, s.begin() + 12), row.digits);
    EXPECT_GE(s[32], 1);
    EXPECT_GE(s[33], 1);
    EXPECT_LE(s[34], 60);
    EXPECT_LE(s[17], 3);
  }
}

TEST(SimTracker, ImageIsPaddedToTheMemorySize) {
  sim::Config config = WithSize(64);
  config.image = {1, 2, 3};
  sim::Tracker t(config);
  ASSERT_EQ(t.LogMemory().size(), 8192u);
  EXPECT_EQ(Bytes(t.LogMemory().begin(), t.LogMemory().begin() + 4), Bytes({1, 2, 3, 0xFF}));
  EXPECT_EQ(sim::Tracker(WithSize(128)).LogMemory(), sim::RealisticTrack(128));
}

// Decodes the built-in track the way the host does and checks that it
// exercises what a download must handle.
TEST(SimTrack, RealisticTrackProperties) {
  const struct {
    int kbit;
    size_t decodeLimit;
  } cases[] = {{64, 8180}, {128, 16380}, {1024, 131056}};
  for (const auto& c : cases) {
    const Bytes m = sim::RealisticTrack(c.kbit);
    ASSERT_EQ(m.size(), static_cast<size_t>(c.kbit) * 128);
    EXPECT_EQ(m, sim::RealisticTrack(c.kbit)) << "deterministic";
    EXPECT_NE(m[0], 253) << "entry 0 selects the negative-altitude form";
    size_t offset = 0, written = 0, skipped = 0, west = 0, south = 0;
    bool ended = false;
    int lastTime = -1;
    for (; offset < c.decodeLimit; offset += 15) {
      const uint8_t* r = &m[offset];
      auto all = [&](uint8_t v) { return r[0] == v && r[1] == v && r[2] == v && r[3] == v; };
      if (all(0x5A) || all(0xA5) || all(0x00)) {
        ended = all(0x5A);
        break;
      }
      const int time = r[12] * 3600 + r[13] * 60 + r[14];
      EXPECT_GT(time, lastTime) << c.kbit << " at " << offset;
      EXPECT_GE(r[11], 4) << offset;
      EXPECT_LE(r[11], 12) << offset;
      EXPECT_LT(r[13], 60);
      EXPECT_LT(r[14], 60);
      for (int k : {1, 5}) EXPECT_LT(r[k], 60) << offset;
      for (int k : {2, 6}) EXPECT_LT(r[k], 100) << offset;
      for (int k : {3, 7}) EXPECT_LT(r[k] & 0x7F, 100) << offset;
      lastTime = time;
      if (r[0] == 0) {
        ++skipped;
        continue;
      }
      ++written;
      west += (r[3] & 0x80) != 0;
      south += (r[7] & 0x80) != 0;
    }
    EXPECT_TRUE(ended) << c.kbit << ": an end marker before the decode limit";
    EXPECT_GT(offset, m.size() * 3 / 4) << c.kbit << ": the track fills most of the memory";
    EXPECT_GT(skipped, 0u) << c.kbit;
    EXPECT_GT(west, 0u) << c.kbit;
    EXPECT_GT(south, 0u) << c.kbit;
    EXPECT_GT(written, skipped) << c.kbit;
  }
}

}  // namespace
