// The serial link and the tracker commands against the simulated tracker on
// the in-process port: exact bytes, write boundaries, framing, failure values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "link/commands.h"
#include "link/device_link.h"
#include "link/messages.h"
#include "tests/support/fake_serial.h"
#include "tracklog/flash_image.h"

using testing::ElementsAre;
using testing_support::FakeDevice;
using testing_support::FakeSerial;
using testing_support::kReadError;
using testing_support::MessageRecorder;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

sim::Config Silent() {
  sim::Config config;
  config.faults.silent = {0, 1};
  return config;
}

class LinkTest : public testing::Test {
 protected:
  void SetUp() override { testing_support::ResetLinkState(); }
  void TearDown() override { testing_support::ResetLinkState(); }

  // Opens COM1 on a tracker with this configuration; records start after the open.
  FakeDevice& Open(sim::Config config = {}) {
    FakeDevice& device = serial.AddPort("COM1", std::move(config));
    EXPECT_EQ(OpenPort("COM1"), 1);
    return device;
  }

  FakeSerial serial;
  MessageRecorder messages;
};

// --- OpenPort ---------------------------------------------------------------

TEST_F(LinkTest, OpenAppliesLineSettingsDtrAndTimeouts) {
  FakeDevice& device = Open();
  EXPECT_EQ(DeviceLink.portOpen, 1);
  EXPECT_EQ(device.state.baudRate, 9600u);
  EXPECT_EQ(device.state.byteSize, 8);
  EXPECT_EQ(device.state.parity, 0);
  EXPECT_EQ(device.state.stopBits, 0);
  EXPECT_TRUE(device.dtr);
  const platform::Timeouts& t = device.timeouts;
  EXPECT_EQ(t.readInterval, 5000u);
  EXPECT_EQ(t.readTotalMultiplier, 5000u);
  EXPECT_EQ(t.readTotalConstant, 5000u);
  EXPECT_EQ(t.writeTotalMultiplier, 5000u);
  EXPECT_EQ(t.writeTotalConstant, 5000u);
  EXPECT_TRUE(messages.texts.empty());
}

TEST_F(LinkTest, OpenFailuresShowTheirMessageAndLeaveTheLinkClosed) {
  struct Case {
    const char* what;
    bool FakeDevice::*knob;
    const char* message;
  };
  const Case cases[] = {
      {"line settings refused", &FakeDevice::failSetState, "Error configuring port"},
      {"time-outs not readable", &FakeDevice::failGetTimeouts, "error getting timeouts"},
      {"time-outs refused", &FakeDevice::failSetTimeouts, "Error setting timeouts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = serial.AddPort("COM1");
    device.*c.knob = true;
    messages.texts.clear();
    EXPECT_EQ(OpenPort("COM1"), 0);
    EXPECT_THAT(messages.texts, ElementsAre(c.message));
    EXPECT_EQ(DeviceLink.portOpen, 0);
    EXPECT_FALSE(device.open) << "the device must be released";
    // The next open really opens again instead of reusing a half-set port.
    device.*c.knob = false;
    EXPECT_EQ(OpenPort("COM1"), 1);
    EXPECT_EQ(device.opens, 2);
    ClosePort();
  }
}

TEST_F(LinkTest, OpenOfAnUnknownEmptyOrBusyNameFails) {
  serial.AddPort("COM1");
  for (const char* name : {"", "COM9", "COM70"}) {
    SCOPED_TRACE(name);
    messages.texts.clear();
    EXPECT_EQ(OpenPort(name), 0);
    EXPECT_THAT(messages.texts, ElementsAre("Error opening com port"));
    EXPECT_EQ(DeviceLink.portOpen, 0);
  }
  // Held by another program: the exclusive open is refused.
  platform::OpenError why;
  auto other = serial.Open("COM1", why);
  ASSERT_TRUE(other);
  messages.texts.clear();
  EXPECT_EQ(OpenPort("COM1"), 0);
  EXPECT_THAT(messages.texts, ElementsAre("Error opening com port"));
}

TEST_F(LinkTest, OpenWithTheSameNameReusesThePort) {
  FakeDevice& device = Open();
  device.state.baudRate = 300;  // anything a reconfiguration would overwrite
  EXPECT_EQ(OpenPort("COM1"), 1);
  EXPECT_EQ(device.opens, 1);
  EXPECT_EQ(device.state.baudRate, 300u);
}

// Settings must never land in a tracker the user did not pick.
TEST_F(LinkTest, OpenWithAnotherNameSwitchesPorts) {
  FakeDevice& first = Open();
  FakeDevice& second = serial.AddPort("COM4");
  EXPECT_EQ(OpenPort("COM4"), 1);
  EXPECT_FALSE(first.open);
  EXPECT_TRUE(second.open);
  EXPECT_EQ(second.state.baudRate, 9600u);
  EXPECT_EQ(WriteNvByte(33, 7), 1);
  EXPECT_TRUE(first.writes.empty());
  EXPECT_EQ(second.tracker.SettingsMemory()[33], 7);
  // A name that does not open leaves no port open at all.
  EXPECT_EQ(OpenPort("COM5"), 0);
  EXPECT_FALSE(second.open);
  EXPECT_EQ(DeviceLink.portOpen, 0);
}

TEST_F(LinkTest, ClosedLinkSendsAndReadsNothing) {
  FakeDevice& device = Open();
  ClosePort();
  EXPECT_FALSE(device.open);
  const uint8_t byte = '?';
  EXPECT_FALSE(WritePort(&byte, 1));
  uint8_t buffer[kReplyBufferSize];
  EXPECT_EQ(ReadLine(buffer), 0);
  EXPECT_THAT(messages.texts, ElementsAre(kReadError));
  EXPECT_TRUE(device.writes.empty());
}

// --- ReadLine framing -------------------------------------------------------

TEST_F(LinkTest, ReadLineFraming) {
  struct Case {
    const char* what;
    std::string line;
    int result;
    std::string text;  // what the buffer holds up to its NUL
    size_t consumed;   // bytes taken from the line
  };
  const std::string seventy(70, 'A');
  const Case cases[] = {
      {"a plain reply", std::string("OK\n\r"), 1, "OK", 4},
      {"an empty reply", std::string("\n\r"), 1, "", 2},
      {"lone LF, CR and NUL are text", std::string("a\nb\rc\0d\r\n\n\r", 11), 1, "a\nb\rc", 11},
      {"an over-long reply is cut, its rest dropped", seventy, 1, std::string(63, 'A'), 70},
      {"the terminator needs LF first", std::string("OK\r\n"), 0, "", 4},
      {"a reply cut short", std::string("OK\n"), 0, "", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ResetLinkState();
    messages.texts.clear();
    FakeDevice& device = Open(Silent());
    device.Inject(c.line);
    const int64_t before = serial.now;
    uint8_t buffer[kReplyBufferSize + 8];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(ReadLine(buffer), c.result);
    EXPECT_EQ(device.injected.size(), c.line.size() - c.consumed);
    EXPECT_EQ(buffer[kReplyBufferSize], 0xEE) << "wrote past the reply buffer";
    if (c.result == 1) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), c.text);
      EXPECT_TRUE(messages.texts.empty());
      EXPECT_EQ(DeviceLink.portOpen, 1);
    } else {
      // A line ended the usual way round is named: that tracker is not silent.
      const bool crlf = c.line.size() >= 2 && c.line.substr(c.line.size() - 2) == "\r\n";
      EXPECT_THAT(messages.texts, ElementsAre(crlf ? msg::Text(msg::Id::kRepliesEndCrLf)
                                                   : std::string(kReadError)));
      EXPECT_EQ(DeviceLink.portOpen, 0);
      // One byte-read time-out: 5000 ms per byte plus 5000 ms.
      EXPECT_EQ(serial.now - before, 10'000'000);
    }
    ClosePort();
  }
}

// Catches the rest of a cut line read as the next reply, which puts every
// later answer one question behind, a drop that eats into the next reply, and
// time-outs left short after it.
TEST_F(LinkTest, AfterACutLineTheNextReplyStartsInStep) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string next;     // the next reply's text
    int64_t quietWaitUs;  // virtual time the drop waited for silence
  };
  const Case cases[] = {
      {"rest ended by its line end", std::string(65, 'A') + "BCDEF\n\rOK\n\r", "OK", 0},
      {"line end straddling the cut", std::string(64, 'A') + "\n\rOK\n\r", "OK", 0},
      {"rest without a line end", std::string(68, 'A'), "KLX-TX3", 100'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ResetLinkState();
    FakeDevice& device = Open();
    device.Inject(c.bytes);
    uint8_t buffer[kReplyBufferSize];
    const int64_t before = serial.now;
    ASSERT_EQ(ReadLine(buffer), 1);
    EXPECT_EQ(serial.now - before, c.quietWaitUs);
    EXPECT_EQ(device.timeouts.readInterval, 5000u);
    EXPECT_EQ(device.timeouts.readTotalConstant, 5000u);
    if (c.next == "KLX-TX3") {
      const uint8_t model = 'M';
      WritePort(&model, 1);
    }
    ASSERT_EQ(ReadLine(buffer), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), c.next);
    EXPECT_TRUE(messages.texts.empty());
  }
}

// --- commands: bytes on the wire and results ------------------------------

TEST_F(LinkTest, PingSendsQuestionMarksUntilALineStartsWithOk) {
  FakeDevice& device = Open(Silent());
  device.Inject("NO\n\rOKAY and more\n\r");
  EXPECT_EQ(Ping(), 1);
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("?"), B("?")}));
  EXPECT_TRUE(device.injected.empty());

  // A tracker that never says OK: only the failed read ends it.
  device.Inject("NO\n\rNO\n\r");
  device.writes.clear();
  EXPECT_EQ(Ping(), 0);
  EXPECT_EQ(device.writes.size(), 3u);
  EXPECT_THAT(messages.texts, ElementsAre(kReadError));
}

TEST_F(LinkTest, SettingsAndRegisterBytes) {
  FakeDevice& device = Open();
  device.tracker.SettingsMemory()[16] = 0x0A;  // a line-end byte as the value
  device.tracker.SettingsMemory()[200] = 0x0D;
  device.tracker.BatteryCount() = 0x0321;
  EXPECT_EQ(ReadNvByte(16), 0x0A);
  EXPECT_EQ(ReadNvByte(200), 0x0D);
  EXPECT_EQ(ReadRegisterByte(70), 0x03);
  EXPECT_EQ(ReadRegisterByte(71), 0x21);
  EXPECT_EQ(device.writes,
            (std::vector<Bytes>{B("y"), {16}, B("y"), {200}, B("R"), {70}, B("R"), {71}}));

  device.writes.clear();
  EXPECT_EQ(WriteNvByte(32, 5), 1);
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("Y"), {0x20, 0x05}}));
  EXPECT_EQ(device.tracker.SettingsMemory()[32], 5);
  EXPECT_TRUE(messages.texts.empty());
}

TEST_F(LinkTest, SettingsCommandsOnASilentTracker) {
  FakeDevice& device = Open(Silent());
  EXPECT_EQ(ReadNvByte(16), 0);
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("y")})) << "no address after a failed ack";
  EXPECT_EQ(WriteNvByte(16, 1), 0);
  EXPECT_EQ(messages.texts.size(), 2u);
}

TEST_F(LinkTest, ReadNvByteWhoseValueLineFailsReturnsWhatArrived) {
  FakeDevice& device = Open(Silent());
  device.Inject("A\n\rZ");  // the value line breaks off after its first byte
  EXPECT_EQ(ReadNvByte(3), 'Z');
  ASSERT_EQ(OpenPort("COM1"), 1);
  device.Inject("Q\n\r");  // nothing of the value line arrives
  EXPECT_EQ(ReadNvByte(3), 'Q');
}

TEST_F(LinkTest, GetVersionReadsTheLeadingNumber) {
  struct Case {
    std::string reply;
    int version;
  };
  const Case cases[] = {
      {"20\n\r", 20},    {"12a\n\r", 12}, {"a12\n\r", 0},
      {"  -7x\n\r", -7}, {"\n\r", 0},     {"99999999999999\n\r", 2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    testing_support::ResetLinkState();
    FakeDevice& device = Open(Silent());
    device.Inject(c.reply);
    EXPECT_EQ(GetVersion(), c.version);
    EXPECT_EQ(device.writes, (std::vector<Bytes>{B("V")}));
    ClosePort();
  }
}

TEST_F(LinkTest, GetVersionAndGetModelFailureValues) {
  FakeDevice& device = Open(Silent());
  modelString = "before";
  EXPECT_EQ(GetVersion(), 999);
  ASSERT_EQ(OpenPort("COM1"), 1);  // the failed read closed the link
  EXPECT_EQ(GetModel(), "err");
  EXPECT_EQ(modelString, "before");
  // On the closed link the write fails: no read, no further message.
  messages.texts.clear();
  const int64_t before = serial.now;
  EXPECT_EQ(GetVersion(), 999);
  EXPECT_EQ(GetModel(), "err0");
  EXPECT_EQ(modelString, "err0");
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_EQ(serial.now, before);
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("V"), B("M")}));
}

TEST_F(LinkTest, GetModelStoresTheModelText) {
  sim::Config config;
  config.model = "NXVLDQ";
  FakeDevice& device = Open(config);
  EXPECT_EQ(GetModel(), "NXVLDQ");
  EXPECT_EQ(modelString, "NXVLDQ");
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("M")}));
}

TEST_F(LinkTest, RadioAtCommandEntersCommandModeOnce) {
  FakeDevice& device = Open();
  const std::string sl = device.tracker.RadioParameter("SL");
  EXPECT_EQ(RadioAtCommand("ATSL"), sl);
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("X"), B("x"), B("ATSL"), B("\r")}));
  EXPECT_EQ(DeviceLink.radioCommandMode, 1);
  device.writes.clear();
  EXPECT_EQ(RadioAtCommand("ATHP"), device.tracker.RadioParameter("HP"));
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("x"), B("ATHP"), B("\r")}));
}

TEST_F(LinkTest, RadioAtCommandOnASilentTracker) {
  FakeDevice& device = Open(Silent());
  EXPECT_EQ(RadioAtCommand("ATSL"), "ERR");
  EXPECT_EQ(DeviceLink.radioCommandMode, 0);
  // Entering the mode failed and closed the link: nothing more is sent and
  // the user hears of it once.
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("X")}));
  EXPECT_THAT(messages.texts, ElementsAre(kReadError));
}

TEST_F(LinkTest, MemorySizeCodes) {
  const std::pair<int, char> cases[] = {{64, '0'}, {128, '1'}, {1024, '2'}};
  for (auto [size, code] : cases) {
    SCOPED_TRACE(size);
    testing_support::ResetLinkState();
    sim::Config config;
    config.sizeKbit = size;
    FakeDevice& device = Open(config);
    EXPECT_EQ(GetMemorySize(), code);
    EXPECT_EQ(device.writes, (std::vector<Bytes>{B("K")}));
    ClosePort();
  }
  testing_support::ResetLinkState();
  Open(Silent());
  EXPECT_EQ(GetMemorySize(), std::nullopt);
}

TEST_F(LinkTest, ReadFlashBlockFramings) {
  struct Case {
    int sizeKbit;
    int address;
    Bytes addressBytes;
    int entries;
  };
  const Case cases[] = {
      {1024, 0x1FFF0, {0x04, 0xFF, 0xF0}, 16}, {1024, 0x0FFF0, {0x00, 0xFF, 0xF0}, 16},
      {1024, 0x3FFF0, {0x04, 0xFF, 0xF0}, 16},  // bits above 16 are not sent
      {128, 0x3FF8, {0x3F, 0xF8}, 8},          {64, 0x13FF8, {0x3F, 0xF8}, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    testing_support::ResetLinkState();
    sim::Config config;
    config.sizeKbit = c.sizeKbit;
    FakeDevice& device = Open(config);
    LogMemoryGeometry.sizeCode = c.sizeKbit;
    std::vector<uint8_t>& memory = device.tracker.LogMemory();
    for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i * 7 + 3);
    int32_t block[16];
    std::fill(std::begin(block), std::end(block), -1);
    EXPECT_TRUE(ReadFlashBlock(c.address, block));
    EXPECT_EQ(device.writes, (std::vector<Bytes>{B("J"), c.addressBytes}));
    const size_t wire = c.sizeKbit == 1024 ? (c.address & 0x1FFFF) : (c.address & 0xFFFF);
    for (int i = 0; i < 16; ++i) {
      if (i < c.entries) {
        EXPECT_EQ(block[i], memory[(wire + i) % memory.size()]) << i;
      } else {
        EXPECT_EQ(block[i], -1) << "short form must leave entry " << i;
      }
    }
    ClosePort();
  }
}

TEST_F(LinkTest, ShortBlockReplyLeavesMissingEntriesUntouched) {
  sim::Config config;
  config.faults.shortBlock = {'J', 1};
  FakeDevice& device = Open(config);
  LogMemoryGeometry.sizeCode = 1024;
  int32_t block[16];
  std::fill(std::begin(block), std::end(block), -1);
  const int64_t before = serial.now;
  EXPECT_FALSE(ReadFlashBlock(0, block));
  // The 1 ms pause before the address; half the reply came: nine bytes,
  // then no more within the first two seconds and one interval after them.
  EXPECT_EQ(serial.now - before, 1'000 + 7'000'000);
  for (int i = 0; i < 16; ++i) {
    if (i < 9) {
      EXPECT_EQ(block[i], device.tracker.LogMemory()[i]) << i;
    } else {
      EXPECT_EQ(block[i], -1) << "entry " << i << " was filled from the request";
    }
  }
}

// Catches noise in a wide block taken for data, and a block read out of step
// (its trailer falls elsewhere) delivered as if whole.
TEST_F(LinkTest, WideBlockWithoutItsLineEndDeliversNothing) {
  const struct {
    const char* what;
    sim::Trigger garbage;
    bool crlf;
  } cases[] = {{"noise", {'J', 1}, false}, {"CR LF", {}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ResetLinkState();
    sim::Config config;
    config.faults.garbage = c.garbage;
    config.faults.crlf = c.crlf;
    Open(config);
    LogMemoryGeometry.sizeCode = 1024;
    int32_t block[16];
    std::fill(std::begin(block), std::end(block), -1);
    int entries = -1;
    EXPECT_FALSE(ReadFlashBlock(0, block, &entries));
    EXPECT_EQ(entries, 0);
    EXPECT_EQ(std::count(std::begin(block), std::end(block), -1), 16);
  }
}

// Catches a dead line that takes minutes to notice (a block read used to
// wait 5 s a byte requested), and a slow but living line cut short.
TEST_F(LinkTest, ABlockWhoseFirstByteNeverComesIsLateInTwoSeconds) {
  const struct {
    int sizeKbit;
    bool silent;
    int byteGapMs;
    bool whole;
    int64_t elapsedMs;  // at most
  } cases[] = {
      {64, true, 0, false, 2000},
      {1024, true, 0, false, 2000},
      {64, false, 1500, true, 13000},  // each byte 1.5 s after the one before
      {1024, false, 1900, true, 35000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizeKbit);
    testing_support::ResetLinkState();
    sim::Config config = c.silent ? Silent() : sim::Config();
    config.sizeKbit = c.sizeKbit;
    config.faults.byteGapMs = c.byteGapMs;
    serial.AddPort("COM1", config);
    ASSERT_EQ(OpenPort("COM1"), 1);
    LogMemoryGeometry.sizeCode = c.sizeKbit;
    int32_t block[16] = {};
    const int64_t before = serial.now + 1'000;  // after the pause before the address
    EXPECT_EQ(ReadFlashBlock(0, block), c.whole);
    EXPECT_LE(serial.now - before, c.elapsedMs * 1000);
    if (c.silent) {
      EXPECT_GE(serial.now - before, 2000 * 1000);
    }
    ClosePort();
  }
}

TEST_F(LinkTest, WriteFlashByteSendsFourSingleBytesAndReadsTwo) {
  FakeDevice& device = Open();
  EXPECT_TRUE(WriteFlashByte(5, 14));
  EXPECT_TRUE(WriteFlashByte(0x1234, 0xAB));
  EXPECT_EQ(device.writes,
            (std::vector<Bytes>{B("I"), {0x00}, {0x05}, {0x0E}, B("I"), {0x12}, {0x34}, {0xAB}}));
  EXPECT_EQ(device.tracker.LogMemory()[5], 14);
  EXPECT_EQ(device.tracker.LogMemory()[0x1234], 0xAB);
  EXPECT_TRUE(messages.texts.empty());
}

// Catches an acknowledgement that never came passed over in silence (a silent
// tracker then costs ten seconds a byte, and the test goes on regardless),
// and a second ten seconds spent on its other half.
TEST_F(LinkTest, WriteFlashByteWithoutItsAcknowledgementClosesTheLink) {
  for (const char* arrived : {"", "O"}) {
    SCOPED_TRACE(arrived);
    testing_support::ResetLinkState();
    messages.texts.clear();
    FakeDevice& device = Open(Silent());
    device.Inject(arrived);
    const int64_t before = serial.now;
    EXPECT_FALSE(WriteFlashByte(5, 14));
    EXPECT_EQ(serial.now - before, 10'000'000);
    EXPECT_THAT(messages.texts, ElementsAre(kReadError));
    EXPECT_EQ(DeviceLink.portOpen, 0);
  }
}

TEST_F(LinkTest, StartTransmitAndEraseSendOneByteAndReadNothing) {
  FakeDevice& device = Open();
  const int64_t before = serial.now;
  StartTransmit();
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("G")}));
  EXPECT_TRUE(device.tracker.Transmitting());
  EraseFlash();
  EXPECT_EQ(device.writes, (std::vector<Bytes>{B("G"), B("Z")}));
  EXPECT_EQ(serial.now, before);
}

}  // namespace
