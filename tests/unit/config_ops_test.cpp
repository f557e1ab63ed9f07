// Read, Write and Update through the main window against the simulated
// tracker: the commands in their order, what the window shows afterwards, and
// how each exchange stops when a reply does not come or a field is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "config/settings.h"
#include "link/device_link.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

using testing::ElementsAre;
using testing_support::DialogHarness;
using testing_support::FakeDevice;
using testing_support::FakeSerial;
using testing_support::kReadError;
using Ops = std::vector<std::string>;

namespace {

// The option check boxes in the order of their bits; the fourth and fifth are
// never shown.
constexpr int kFlagChecks[8] = {IDC_WRAP_MEMORY, IDC_LOW_VOLTAGE_SHUTDOWN, IDC_ENABLE_DATA_LOGGING,
                                IDC_STORE_HMS,   IDC_G_SWITCH_ENABLE,      IDC_METERS_TO_FEET,
                                IDC_ENABLE_NMEA, IDC_ENABLE_TX_SENTENCE};

const char kRepairNotice[] =
    "Non-volatile memory corruption detected.  Attempting recovery of ID string";
const char kMismatchNotice[] =
    "IDs do not match, you should invoke this program with the -tamsk switch and recheck all "
    "programming parameters";
const char kCommitting[] = "Committing Data\n";

const Ops kReadOps = {"M",    "V",    "R70",  "R71",  "X",    "ATSL", "ATSH", "ATHP", "ATID",
                      "ATMK", "ATDT", "ATRO", "ATRN", "ATRR", "ATCN", "y128", "y129", "y32",
                      "y33",  "y34",  "y18",  "y17",  "y16",  "y0",   "y1",   "y2",   "y3",
                      "y4",   "y5",   "y6",   "y7",   "y8",   "y9",   "y10",  "y11"};
constexpr size_t kFirstDigitRead = 31;  // "y8" in kReadOps

// The host's bytes as commands: "M", "R70", "ATSL" (the text sent after 'x'),
// "y128", "Y32=10". A command whose acknowledgement never came stands bare.
Ops Decode(const std::vector<uint8_t>& b) {
  Ops ops;
  for (size_t i = 0; i < b.size();) {
    std::string op(1, static_cast<char>(b[i++]));
    if ((op == "y" || op == "R") && i < b.size()) {
      op += std::to_string(b[i++]);
    } else if (op == "Y" && i + 1 < b.size()) {
      op += std::to_string(b[i]) + "=" + std::to_string(b[i + 1]);
      i += 2;
    } else if (op == "x" && i < b.size()) {
      op.clear();
      while (i < b.size() && b[i] != '\r') op += static_cast<char>(b[i++]);
      ++i;
    }
    ops.push_back(op);
  }
  return ops;
}

Ops Join(std::initializer_list<Ops> parts) {
  Ops all;
  for (const Ops& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Ops Slice(const Ops& ops, size_t from, size_t to) {
  return Ops(ops.begin() + static_cast<long>(from), ops.begin() + static_cast<long>(to));
}

// The settings writes that put bytes at address on.
Ops Stores(int address, const std::string& bytes) {
  Ops ops;
  for (unsigned char c : bytes) {
    // Appended piece by piece: "Y" + std::string trips GCC 12's -Wrestrict
    // false positive at -O2 and above.
    std::string op = "Y";
    op += std::to_string(address++);
    op += '=';
    op += std::to_string(c);
    ops.push_back(op);
  }
  return ops;
}

// What goes out when the reply to full[done] never comes: the commands before
// it, then only its command byte.
Ops CutAt(const Ops& full, size_t done) {
  Ops ops = Slice(full, 0, done);
  ops.push_back(full[done].rfind("AT", 0) == 0 ? "x" : full[done].substr(0, 1));
  return ops;
}

// Update's settings writes for serial 2417.
const Ops kUpdateStores = Join({{"Y128=9", "Y129=113"}, Stores(0, "KLXTX,ID"), Stores(8, "2417")});

// What the user does; a control that cannot take it fails the test at once.
const auto Press = [](ui::ScriptedWindow& w, int id) { ASSERT_TRUE(w.Click(id)) << id; };
const auto Enter = [](ui::ScriptedWindow& w, int id, const std::string& text) {
  ASSERT_TRUE(w.Type(id, text)) << id;
};
const auto Read = [](ui::ScriptedWindow& w) {
  Enter(w, IDC_COM_PORT, "COM1");
  Press(w, IDC_READ);
};

class ConfigOpsTest : public testing::Test {
 protected:
  // A new tracker on COM1, falling silent as told, and the tool back at start.
  FakeDevice& Fresh(sim::Trigger silent = {}, const char* commandLine = "kw9") {
    harness.reset();  // closes the port, so the device may be replaced
    sim::Config config;
    config.faults.silent = silent;
    FakeDevice& device = serial.AddPort("COM1", config);
    device.tracker.SetRadioParameter("SL", "4052D1F3");
    device.tracker.SetRadioParameter("SH", "13A200");
    harness.emplace(commandLine);
    return device;
  }
  FakeDevice& FreshCalibrating(sim::Trigger silent = {}) { return Fresh(silent, "kw9 -tamsk"); }
  void Run(const std::function<void(ui::ScriptedWindow&)>& script) { harness->Run(script); }

  // Messages so far, without the calibration notice at start.
  Ops Messages() const {
    Ops texts = harness->Messages();
    if (!texts.empty() && texts.front() == "Calibration Mode Enabled\n") texts.erase(texts.begin());
    return texts;
  }
  Ops MessagesSince(size_t n) const { return Slice(Messages(), n, Messages().size()); }

  FakeSerial serial;
  std::optional<DialogHarness> harness;
};

// --- Read -------------------------------------------------------------------

// Catches a command missing or out of order, SH and SL swapped, a reply put in
// the wrong label or edit, and a Read that leaves the port or radio mode on.
TEST_F(ConfigOpsTest, ReadQueriesInOrderAndShowsEveryReply) {
  FakeDevice& device = Fresh();
  device.tracker.SetRadioParameter("DT", "1234");  // unlike MK
  device.tracker.SetRadioParameter("RO", "4");     // unlike HP
  // clang-format off
  const std::pair<int, const char*> shown[] = {
      {IDC_MODEL_LABEL, "Model: KLX-TX3"}, {IDC_VERSION_LABEL, "Version 20"},
      {IDC_BATTERY_LABEL, "battery: 4.02"}, {IDC_HOP_CHANNEL_LABEL, "Hop Chan 3"},
      {IDC_RADIO_SERIAL_LABEL, "Serial Number 13A2004052D1F3"},
      {IDC_VENDOR_ID_LABEL, "Vendor ID 7FFF"}, {IDC_ADDRESS_MASK_LABEL, "Address Mask: FFFF"},
      {IDC_DESTINATION_LABEL, "Dest: 1234"}, {IDC_SERIAL_NUMBER_LABEL, "Serial #: 2417"},
      {IDC_SERIAL_NUMBER, "2417"}, {IDC_STORE_INTERVAL, "10"}, {IDC_TRANSMIT_INTERVAL, "10"},
      {IDC_TRANSMIT_SLOT, "0"}, {IDC_SHUTDOWN_VOLTAGE, "3.30"}, {IDC_STATUS, "Read Complete"},
      {IDC_RADIO_HP, "3"}, {IDC_RADIO_ID, "7FFF"}, {IDC_RADIO_MK, "FFFF"}, {IDC_RADIO_DT, "1234"},
      {IDC_RADIO_RO, "4"}, {IDC_RADIO_RN, "0"}, {IDC_RADIO_RR, "A"}};
  // clang-format on
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    for (auto [control, text] : shown) EXPECT_EQ(w.Text(control), text) << control;
    for (int bit = 0; bit < 8; ++bit)
      EXPECT_EQ(w.Check(kFlagChecks[bit]), (0x07 >> bit) & 1) << bit;
  });
  EXPECT_EQ(Decode(device.Written()), kReadOps);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(DeviceLink.portOpen, 0);
  EXPECT_EQ(DeviceLink.radioCommandMode, 0);
  EXPECT_FALSE(device.tracker.RadioCommandMode());
  EXPECT_TRUE(configRead);
  EXPECT_THAT(RadioParameterCache,
              ElementsAre("4052D1F3", "13A200", "3", "7FFF", "FFFF", "1234", "4", "0", "A"));
}

// Catches a repair that is not made or not complete, a check that stops at the
// first bad byte, serial digits compared without their leading zeros, and a
// byte order or scaling fault that only shows at the extremes.
TEST_F(ConfigOpsTest, ReadRepairsTheIdStringAndComparesTheSerialDigits) {
  using Shown = std::vector<std::pair<int, const char*>>;
  struct Case {
    const char* what;
    std::function<void(std::array<uint8_t, 256>&)> setUp;
    Ops messages;  // on the first Read
    Ops again;     // on a second one
    Shown shown;
    int flags = 0x07;
  };
  const auto serial = [](uint16_t n, const char* digits) {
    return [n, digits](std::array<uint8_t, 256>& m) {
      m[128] = static_cast<uint8_t>(n >> 8);
      m[129] = static_cast<uint8_t>(n & 0xFF);
      std::copy(digits, digits + 4, m.begin() + 8);
    };
  };
  const Case cases[] = {
      {"one damaged ID byte", [](auto& m) { m[3] = 'Q'; }, {kRepairNotice}, {}, {}},
      {"last ID byte damaged", [](auto& m) { m[7] = 'd'; }, {kRepairNotice}, {}, {}},
      // The slot of 255 it shows is refused by the next Read, which goes on.
      {"blank memory",
       [](auto& m) { m.fill(0xFF); },
       {kRepairNotice, kMismatchNotice},
       {"Please enter an integer between 0 and 60.", kMismatchNotice},
       {{IDC_SERIAL_NUMBER_LABEL, "Serial #: 65535"},
        {IDC_SHUTDOWN_VOLTAGE, "422.39"},
        {IDC_STORE_INTERVAL, "255"},
        {IDC_TRANSMIT_INTERVAL, "255"},
        {IDC_TRANSMIT_SLOT, "255"}},
       0xFF},
      {"five-digit serial",
       serial(12345, "1234"),
       {},
       {},
       {{IDC_SERIAL_NUMBER_LABEL, "Serial #: 12345"}}},
      {"serial below 1000", serial(7, "0007"), {}, {}, {{IDC_SERIAL_NUMBER_LABEL, "Serial #: 7"}}},
      {"last digit disagrees", serial(2417, "2416"), {kMismatchNotice}, {kMismatchNotice}, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh();
    c.setUp(device.tracker.SettingsMemory());
    const bool repaired = !c.messages.empty() && c.messages.front() == kRepairNotice;
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      EXPECT_EQ(Messages(), c.messages);
      for (auto [control, text] : c.shown) EXPECT_EQ(w.Text(control), text) << control;
      for (int bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(w.Check(kFlagChecks[bit]), (c.flags >> bit) & 1) << bit;
      }
      const Ops ops = Decode(device.Written());
      if (repaired) {
        EXPECT_EQ(ops, Join({Slice(kReadOps, 0, kFirstDigitRead), Stores(0, "KLXTX,ID"),
                             Slice(kReadOps, kFirstDigitRead, kReadOps.size())}));
      } else {
        EXPECT_EQ(ops, kReadOps);
      }
      const size_t before = Messages().size();
      Read(w);
      EXPECT_EQ(MessagesSince(before), c.again);
      EXPECT_EQ(w.Text(IDC_STATUS), "Read Complete");
    });
    EXPECT_EQ(std::string(device.tracker.SettingsMemory().begin(),
                          device.tracker.SettingsMemory().begin() + 8),
              "KLXTX,ID");
  }
}

// Catches a Read that goes on after a reply did not come: more commands into
// the closed port, a second message, a repair or mismatch notice made from a
// failed byte, values never read shown as read, or a failed Read that still
// unlocks Write.
TEST_F(ConfigOpsTest, ReadStopsAtTheFirstMissingReply) {
  struct Case {
    const char* what;
    sim::Trigger silent;
    size_t done;  // commands of kReadOps answered before it
  };
  const Case cases[] = {
      {"silent from the start", {0, 1}, 0},  {"version", {'V', 1}, 1},
      {"second battery byte", {'R', 2}, 3},  {"entering radio mode", {'X', 1}, 4},
      {"third radio query", {'x', 3}, 7},    {"leaving radio mode", {'x', 10}, 14},
      {"fifth settings byte", {'y', 5}, 19}, {"first ID byte", {'y', 9}, 23},
      {"last serial digit", {'y', 20}, 34}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh(c.silent);
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      // What was read shows; what was not keeps its start-up text.
      EXPECT_EQ(w.Text(IDC_MODEL_LABEL), c.done >= 2 ? "Model: KLX-TX3" : "Model:");
      EXPECT_EQ(w.Text(IDC_STORE_INTERVAL), c.done >= 19 ? "10" : "1");
      EXPECT_EQ(w.Text(IDC_HOP_CHANNEL_LABEL), c.done >= 15 ? "Hop Chan 3" : "Hopping Channel:");
      EXPECT_EQ(w.Text(IDC_STATUS), "Read Failed");
    });
    EXPECT_THAT(Messages(), ElementsAre(kReadError));
    EXPECT_EQ(Decode(device.Written()), CutAt(kReadOps, c.done));
    EXPECT_FALSE(configRead);
    EXPECT_EQ(DeviceLink.portOpen, 0);
  }
}

// Catches an "ERR" reply taken for a value: the Read must end there, with the
// cache holding it, nothing after it queried, and the window saying it failed.
TEST_F(ConfigOpsTest, RadioErrReplyEndsTheReadAsFailed) {
  FakeDevice& device = Fresh();
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    device.tracker.SetRadioParameter("RO", "ERR");
    device.tracker.SetRadioParameter("RN", "5");
    device.tracker.SetRadioParameter("HP", "7");
    device.tracker.BatteryCount() = 700;
    device.writes.clear();
    Read(w);
    EXPECT_EQ(w.Text(IDC_STATUS), "Read Failed");
    EXPECT_EQ(w.Text(IDC_HOP_CHANNEL_LABEL), "Hop Chan 3");  // composed only after the queries
    EXPECT_EQ(w.Text(IDC_RADIO_HP), "7");
    EXPECT_EQ(w.Text(IDC_BATTERY_LABEL), "battery: 4.51");
    EXPECT_EQ(w.Text(IDC_RADIO_RO), "3");
  });
  EXPECT_EQ(Decode(device.Written()), Slice(kReadOps, 0, 12));  // up to ATRO, the mode still on
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(RadioParameterCache[kRO], "ERR");
  EXPECT_EQ(RadioParameterCache[kRN], "0");
  EXPECT_EQ(RadioParameterCache[kRR], "A");
  EXPECT_EQ(DeviceLink.radioCommandMode, 1);
  EXPECT_EQ(DeviceLink.portOpen, 1);
  EXPECT_FALSE(configRead);
}

// Catches a Read that trusts a device that is no tracker: a GPS receiver on
// the wrong port answers with its own sentences. Nothing may be shown as
// read, and nothing (no ID string repair) may be written to it.
TEST_F(ConfigOpsTest, ReadStopsWhenTheVersionIsNoNumber) {
  for (const char* version : {"$GPRMC,123519,A,4807.038,N", "ERROR", "", "- 20"}) {
    SCOPED_TRACE(version);
    FakeDevice& device = Fresh();
    device.Inject(std::string("$GPGGA,123519,4807.038,N\n\r") + version + "\n\r");
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      EXPECT_EQ(w.Text(IDC_MODEL_LABEL), "Model:");
      EXPECT_EQ(w.Text(IDC_VERSION_LABEL), "Version:");
      EXPECT_EQ(w.Text(IDC_STATUS), "Read Failed");
    });
    EXPECT_EQ(Decode(device.Written()), Slice(kReadOps, 0, 2));
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(configRead);
  }
}

// A reply longer than a reply line (a radio value of 70 characters) must not
// throw every later answer out of step: the Read goes on with the right
// values, finds the ID string intact and writes nothing.
TEST_F(ConfigOpsTest, AnOverlongRadioValueKeepsTheRepliesInStep) {
  FakeDevice& device = Fresh();
  device.tracker.SetRadioParameter("RO", std::string(70, 'A'));
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    EXPECT_EQ(w.Text(IDC_RADIO_RO), std::string(63, 'A'));
    EXPECT_EQ(w.Text(IDC_SERIAL_NUMBER_LABEL), "Serial #: 2417");
    EXPECT_EQ(w.Text(IDC_STORE_INTERVAL), "10");
    EXPECT_EQ(w.Text(IDC_SHUTDOWN_VOLTAGE), "3.30");
    EXPECT_EQ(w.Text(IDC_STATUS), "Read Complete");
  });
  EXPECT_EQ(Decode(device.Written()), kReadOps);
  EXPECT_TRUE(Messages().empty());
}

// A tracker that falls silent while its radio is in command mode closes the
// link; the next Read, here on another tracker, must put that radio into
// command mode again, or every query reads "ERROR" and the window shows it as
// a complete Read.
TEST_F(ConfigOpsTest, ReadAfterALostLinkEntersRadioCommandModeAgain) {
  Fresh({'x', 3});
  FakeDevice& other = serial.AddPort("COM2");
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    Enter(w, IDC_COM_PORT, "COM2");
    Press(w, IDC_READ);
  });
  EXPECT_THAT(Messages(), ElementsAre(kReadError));
  EXPECT_EQ(Decode(other.Written()), kReadOps);
  EXPECT_EQ(harness->dialog().hopChannelLabel, "Hop Chan 3");
  EXPECT_EQ(harness->dialog().statusText, "Read Complete");
}

// A port that takes no bytes: the model's "err0" must never reach the window,
// and the next Read, once writes go through, must work on the port left open.
TEST_F(ConfigOpsTest, ReadOnAPortThatRefusesWritesShowsNothing) {
  FakeDevice& device = Fresh();
  device.failWrites = true;
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    EXPECT_EQ(w.Text(IDC_MODEL_LABEL), "Model:");
    EXPECT_EQ(w.Text(IDC_STATUS), "Read Failed");
    EXPECT_TRUE(device.writes.empty());
    device.failWrites = false;
    Read(w);
    EXPECT_EQ(w.Text(IDC_MODEL_LABEL), "Model: KLX-TX3");
    EXPECT_EQ(w.Text(IDC_STATUS), "Read Complete");
  });
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(device.opens, 1);
  EXPECT_EQ(Decode(device.Written()), kReadOps);
}

// --- Write ------------------------------------------------------------------

// Catches a Write or Update that would put values nobody read into a tracker:
// the window's start-up values, or what a Read that failed left half done.
TEST_F(ConfigOpsTest, WriteAndUpdateWithoutACompletedReadAreRefused) {
  struct Case {
    const char* what;
    int reads;             // Reads pressed before the button
    sim::Trigger silent;   // where the last of them fails
    const char* injected;  // ahead of the tracker's replies
    int readErrors;        // messages of the Reads
  };
  const Case cases[] = {{"no Read", 0, {}, "", 0},
                        {"a Read of a silent port", 1, {0, 1}, "", 1},
                        {"a Read cut off at the settings", 1, {'y', 5}, "", 1},
                        {"a Read of a device that is no tracker", 1, {}, "GPS\n\rGPS\n\r", 0},
                        {"a Read that failed after one that completed", 2, {'M', 2}, "", 1}};
  for (int button : {IDC_WRITE, IDC_UPDATE}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (button == IDC_WRITE ? ", Write" : ", Update"));
      FakeDevice& device = FreshCalibrating(c.silent);
      device.Inject(c.injected);
      Run([&](ui::ScriptedWindow& w) {
        Enter(w, IDC_COM_PORT, "COM1");
        for (int i = 0; i < c.reads; ++i) Press(w, IDC_READ);
        device.writes.clear();
        Enter(w, IDC_RADIO_HP, "5");
        Press(w, button);
      });
      EXPECT_EQ(Messages(), Join({Ops(static_cast<size_t>(c.readErrors), kReadError),
                                  {"Please issue a read command before attempting a write"}}));
      EXPECT_TRUE(device.writes.empty());
      EXPECT_EQ(device.opens, c.reads);
    }
  }
}

// Settings are copied from one tracker to another this way: read A, connect
// B, press Write.
TEST_F(ConfigOpsTest, WriteAfterReadingAnotherTrackerWritesItsValues) {
  FakeDevice& a = Fresh();
  a.tracker.SettingsMemory()[33] = 42;
  FakeDevice& b = serial.AddPort("COM2");
  Run([&](ui::ScriptedWindow& w) {
    Read(w);
    Enter(w, IDC_COM_PORT, "COM2");
    Press(w, IDC_WRITE);
    EXPECT_EQ(w.Text(IDC_STATUS), "Write Complete");
  });
  EXPECT_EQ(b.tracker.SettingsMemory()[33], 42);
  EXPECT_TRUE(Messages().empty());
}

// Catches a wrong address or order, a shutdown count split or clamped wrongly,
// flag bits out of place, and a Write that closes the port or skips a byte.
TEST_F(ConfigOpsTest, WriteStoresSixBytesInOrder) {
  struct Case {
    const char* what;
    int held, wanted;  // the flags before the Read and as the user leaves them
    const char* shutdown;
    int high, low;       // stored at 17 and 18
    const char* reread;  // the shutdown voltage a later Read shows
  };
  const Case cases[] = {
      {"as read", 0x07, 0x07, "3.5", 2, 31, "3.50"},
      {"only NMEA", 0x07, 0x40, "3.5", 2, 31, "3.50"},
      {"feet and sentence", 0x00, 0xA0, "3.5", 2, 31, "3.50"},
      {"every flag, the hidden two as read", 0x18, 0xFF, "3.5", 2, 31, "3.50"},
      // Above 6.59 V and below 0 the window refuses (WriteWithARefusedField...).
      {"the top", 0x07, 0x07, "6.59", 3, 254, "6.59"},
      {"blanks around it", 0x07, 0x07, " 6.590 ", 3, 254, "6.59"},
      {"zero", 0x07, 0x07, "0", 0, 0, "0.00"},
      {"an exponent", 0x07, 0x07, "35e-1", 2, 31, "3.50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh();
    device.tracker.SettingsMemory()[16] = static_cast<uint8_t>(c.held);
    const Ops expected = Join({{"Y32=30", "Y33=20", "Y34=5"},
                               Stores(17, {static_cast<char>(c.high), static_cast<char>(c.low)}),
                               Stores(16, {static_cast<char>(c.wanted)})});
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      Enter(w, IDC_STORE_INTERVAL, "20");
      Enter(w, IDC_TRANSMIT_INTERVAL, "30");
      Enter(w, IDC_TRANSMIT_SLOT, "5");
      Enter(w, IDC_SHUTDOWN_VOLTAGE, c.shutdown);
      for (int bit = 0; bit < 8; ++bit) {
        if (w.Check(kFlagChecks[bit]) != ((c.wanted >> bit) & 1)) Press(w, kFlagChecks[bit]);
      }
      device.writes.clear();
      Press(w, IDC_WRITE);
      EXPECT_EQ(Decode(device.Written()), expected);
      EXPECT_EQ(w.Text(IDC_STATUS), "Write Complete");
      EXPECT_EQ(DeviceLink.portOpen, 1);
      Read(w);
      EXPECT_EQ(w.Text(IDC_SHUTDOWN_VOLTAGE), c.reread);
      EXPECT_EQ(w.Text(IDC_STORE_INTERVAL), "20");
    });
    EXPECT_TRUE(Messages().empty());
  }
}

// Catches a refused field that still lets the Write open the port or send,
// and a voltage text the conversion would have turned into another count.
TEST_F(ConfigOpsTest, WriteWithARefusedFieldSendsNothing) {
  const char* const kVoltageRange = "Please enter a voltage between 0.00 and 6.59.";
  struct Case {
    int control;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {IDC_STORE_INTERVAL, "0", "Please enter an integer between 1 and 255."},
      {IDC_STORE_INTERVAL, "abc", "Please enter a positive integer."},
      {IDC_TRANSMIT_INTERVAL, "256", "Please enter an integer between 1 and 255."},
      {IDC_TRANSMIT_SLOT, "61", "Please enter an integer between 0 and 60."},
      // Each of these once stored a count nobody typed: 6.59 V (the tracker
      // switches itself off) or 0 V (the protection off).
      {IDC_SHUTDOWN_VOLTAGE, "6.6", kVoltageRange},
      {IDC_SHUTDOWN_VOLTAGE, "9.99", kVoltageRange},
      {IDC_SHUTDOWN_VOLTAGE, "-1", kVoltageRange},
      {IDC_SHUTDOWN_VOLTAGE, "abc", kVoltageRange},
      {IDC_SHUTDOWN_VOLTAGE, "", kVoltageRange},
      {IDC_SHUTDOWN_VOLTAGE, "3.3V", kVoltageRange}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeDevice& device = Fresh();
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      device.writes.clear();
      Enter(w, c.control, c.text);
      Press(w, IDC_WRITE);
      EXPECT_EQ(w.Focus(), c.control);
      EXPECT_EQ(w.Selection(c.control),
                std::make_pair(0, static_cast<int>(std::string(c.text).size())));
      EXPECT_EQ(w.Text(IDC_STATUS), "Read Complete");
    });
    EXPECT_THAT(Messages(), ElementsAre(c.message));
    EXPECT_TRUE(device.writes.empty());
    EXPECT_EQ(device.opens, 1);  // the Read's
  }
}

// Catches a Write that goes on after a reply did not come.
TEST_F(ConfigOpsTest, WriteStopsAtTheFirstMissingReply) {
  const Ops full = {"Y32=10", "Y33=10", "Y34=0", "Y17=2", "Y18=31", "Y16=7"};
  struct Case {
    sim::Trigger silent;
    size_t done;     // writes answered
    size_t reading;  // read errors in all
  };
  const Case cases[] = {{{'Y', 1}, 0, 1}, {{'Y', 3}, 2, 1}, {{'Y', 6}, 5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.silent.count);
    FakeDevice& device = Fresh(c.silent);
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      Enter(w, IDC_SHUTDOWN_VOLTAGE, "3.5");
      device.writes.clear();
      Press(w, IDC_WRITE);
      EXPECT_NE(w.Text(IDC_STATUS), "Write Complete");
    });
    EXPECT_EQ(Messages(), Ops(c.reading, kReadError));
    EXPECT_EQ(Decode(device.Written()), CutAt(full, c.done));
  }
}

// --- Update -----------------------------------------------------------------

// Catches a radio value sent though unchanged (or not sent though changed),
// edits sent out of order, a commit skipped or made without a change, the
// cache overwritten by Update, and settings bytes out of order.
TEST_F(ConfigOpsTest, UpdateSendsChangedRadioValuesThenTheSerialAndId) {
  const std::string longest(63, '9');
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::string>> edits;  // typed after the Read
    Ops radio;
    std::vector<std::pair<std::string, std::string>> committed;
  };
  const Case cases[] = {
      {"nothing changed", {}, {}, {{"HP", "3"}}},
      {"hop channel", {{IDC_RADIO_HP, "5"}}, {"X", "ATHP5", "ATWR", "ATCN"}, {{"HP", "5"}}},
      {"hop channel emptied", {{IDC_RADIO_HP, ""}}, {"X", "ATHP", "ATWR", "ATCN"}, {{"HP", "3"}}},
      {"three edits",
       {{IDC_RADIO_RR, "B"}, {IDC_RADIO_HP, "6"}, {IDC_RADIO_ID, "1234"}},
       {"X", "ATID1234", "ATHP6", "ATRRB", "ATWR", "ATCN"},
       {{"HP", "6"}, {"ID", "1234"}, {"RR", "B"}, {"MK", "FFFF"}}},
      // The longest value the length check lets through must reach the
      // tracker whole, and reads back whole.
      {"longest value",
       {{IDC_RADIO_RR, longest}},
       {"X", "ATRR" + longest, "ATWR", "ATCN"},
       {{"RR", longest}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = FreshCalibrating();
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      const auto cacheAfterRead = RadioParameterCache;
      for (const auto& [control, text] : c.edits) Enter(w, control, text);
      for (int round = 0; round < 2; ++round) {  // the second without a Read between
        SCOPED_TRACE(round);
        device.writes.clear();
        const size_t before = Messages().size();
        Press(w, IDC_UPDATE);
        EXPECT_EQ(Decode(device.Written()), Join({c.radio, kUpdateStores}));
        EXPECT_EQ(MessagesSince(before), c.radio.empty() ? Ops{} : Ops{kCommitting});
        EXPECT_EQ(DeviceLink.radioCommandMode, 0);
      }
      for (const auto& [control, text] : c.edits) EXPECT_EQ(w.Text(control), text) << control;
      EXPECT_EQ(RadioParameterCache, cacheAfterRead);
    });
    for (auto [name, value] : c.committed) {
      EXPECT_EQ(device.tracker.RadioParameter(name), value) << name;
      EXPECT_EQ(device.tracker.PendingRadioParameter(name), "") << name;
    }
    EXPECT_FALSE(device.tracker.RadioCommandMode());
  }
}

// Catches a refused field, an over-long value or one with control bytes (a CR
// would end the AT command early) that still opens the port or sends, and a
// refusal that does not put the user on the field.
TEST_F(ConfigOpsTest, UpdateWithARefusedFieldSendsNothing) {
  struct Case {
    int control;
    std::string text;
    const char* message;
  };
  std::vector<Case> cases = {
      {IDC_SERIAL_NUMBER, "70000", "Please enter an integer between 0 and 65535."}};
  for (int control : {IDC_RADIO_HP, IDC_RADIO_ID, IDC_RADIO_MK, IDC_RADIO_DT, IDC_RADIO_RO,
                      IDC_RADIO_RN, IDC_RADIO_RR}) {
    cases.push_back({control, std::string(64, '7'), "Please enter no more than 63 characters."});
  }
  for (const char* text : {"5\rG", "5\n", "\t5", "5\x7F", "5\xE9"}) {
    cases.push_back({IDC_RADIO_HP, text, "Please enter printable characters only."});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    FakeDevice& device = FreshCalibrating();
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      device.writes.clear();
      Enter(w, c.control, c.text);
      Press(w, IDC_UPDATE);
      EXPECT_EQ(w.Focus(), c.control);
      EXPECT_EQ(w.Selection(c.control), std::make_pair(0, static_cast<int>(c.text.size())));
    });
    EXPECT_THAT(Messages(), ElementsAre(c.message));
    EXPECT_TRUE(device.writes.empty());
    EXPECT_EQ(device.opens, 1);  // the Read's
  }
}

// Catches an Update that goes on after a reply did not come. The Read before
// it sends one "X" and ten "x" of its own.
TEST_F(ConfigOpsTest, UpdateStopsAtTheFirstMissingReply) {
  const Ops full = Join({{"X", "ATHP5", "ATWR", "ATCN"}, kUpdateStores});
  struct Case {
    sim::Trigger silent;
    size_t done;
  };
  const Case cases[] = {{{'X', 2}, 0}, {{'x', 11}, 1}, {{'x', 12}, 2},  {{'x', 13}, 3},
                        {{'Y', 1}, 4}, {{'Y', 3}, 6},  {{'Y', 11}, 14}, {{'Y', 14}, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.done);
    FakeDevice& device = FreshCalibrating(c.silent);
    Run([&](ui::ScriptedWindow& w) {
      Read(w);
      device.writes.clear();
      Enter(w, IDC_RADIO_HP, "5");
      Press(w, IDC_UPDATE);
    });
    EXPECT_EQ(Decode(device.Written()), CutAt(full, c.done));
    const Ops messages = Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), kReadError);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kReadError), 1);
    EXPECT_EQ(device.tracker.RadioParameter("HP"), c.done > 2 ? "5" : "3");
  }
}

}  // namespace
