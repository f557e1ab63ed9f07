// The main window and kw9cli against the trackersim program over a real
// pseudo-terminal, the way a user meets them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/trackersim_process.h"

using testing::HasSubstr;
using testing_support::CliRun;
using testing_support::DialogHarness;
using testing_support::Slurp;
using testing_support::TrackersimProcess;

namespace {

// What a user does in calibration mode: read, change settings, write, update.
void Session(ui::ScriptedWindow& w, const std::string& port) {
  w.Type(IDC_COM_PORT, port);
  w.Click(IDC_READ);
  w.Type(IDC_STORE_INTERVAL, "42");
  w.Type(IDC_SHUTDOWN_VOLTAGE, "3.51");
  w.Click(IDC_ENABLE_NMEA);
  w.Click(IDC_WRITE);
  w.Type(IDC_RADIO_HP, "5");
  w.Type(IDC_SERIAL_NUMBER, "12345");
  w.Click(IDC_UPDATE);
  w.Click(IDC_READ);
}

// The bytes that reach the tracker over a real pseudo-terminal are exactly
// those the in-process port records for the same clicks: the fake port hides
// nothing of the real line (write boundaries apart, which the fake checks).
TEST(WindowOverPty, SessionSendsTheSameBytesAsOverTheFakePort) {
  std::vector<uint8_t> fakeBytes;
  {
    testing_support::FakeSerial serial;
    testing_support::FakeDevice& device = serial.AddPort("COM1");
    DialogHarness harness("kw9 -tamsk");
    harness.Run([](ui::ScriptedWindow& w) { Session(w, "COM1"); });
    fakeBytes = device.Written();
  }
  const std::string transcript =
      testing::TempDir() + "window_session." + std::to_string(getpid()) + ".bin";
  std::vector<std::string> messages;
  {
    TrackersimProcess sim({"--transcript", transcript});
    ASSERT_TRUE(sim.Running());
    DialogHarness harness("kw9 -tamsk");
    CTrackerDlg& dlg = harness.Run([&](ui::ScriptedWindow& w) { Session(w, sim.Device()); });
    messages = harness.Messages();
    EXPECT_EQ(dlg.storeInterval, 42u);
    EXPECT_EQ(dlg.shutdownVoltage, "3.51");  // stores 544, which reads back the same
    EXPECT_EQ(dlg.enableNmea, 1);
    EXPECT_EQ(dlg.serialNumber, 12345u);
    EXPECT_EQ(dlg.hopChannelLabel, "Hop Chan 5");
    EXPECT_EQ(dlg.statusText, "Read Complete");
    EXPECT_EQ(sim.Stop(), 0);
  }
  EXPECT_THAT(messages, testing::ElementsAre("Calibration Mode Enabled\n", "Committing Data\n"));
  const std::string real = Slurp(transcript);
  EXPECT_EQ(std::vector<uint8_t>(real.begin(), real.end()), fakeBytes);
}

CliRun Kw9cli(const std::string& arguments) {
  const testing_support::ScratchDir dir;
  return testing_support::Kw9cli(dir, arguments);
}

// A script or a support engineer reads the exit status and the two streams:
// each case states what it must find there.
TEST(Kw9cliProcess, CommandsAgainstTrackersim) {
  TrackersimProcess sim({});
  ASSERT_TRUE(sim.Running());
  const std::string port = " --port " + sim.Device();
  struct Case {
    std::string arguments;
    int status;
    std::vector<std::string> out;  // lines that must appear
    std::string err;               // exact
  };
  const Case cases[] = {
      {"read" + port,
       0,
       {"portName=" + sim.Device(), "modelLabel=Model: KLX-TX3", "statusText=Read Complete",
        "storeInterval=10", "radioDT=FFFF"},
       ""},
      {"write" + port + " --store-interval 42 --enable-nmea 1 --wrap-memory 0",
       0,
       {"statusText=Write Complete"},
       ""},
      {"read" + port, 0, {"storeInterval=42", "enableNmea=1", "wrapMemory=0"}, ""},
      {"update" + port + " --serial-number 4321 --radio-id 1234",
       0,
       {"serialNumber=4321", "radioID=1234"},
       "kw9: Calibration Mode Enabled\nkw9: Committing Data\n"},
      // The identity written by Update reads back whole: no digit mismatch.
      {"read" + port, 0, {"serialNumberLabel=Serial #: 4321", "vendorIdLabel=Vendor ID 1234"}, ""},
      {"write" + port + " --store-interval 0",
       1,
       {"statusText=Read Complete"},
       "kw9: storeInterval: Please enter an integer between 1 and 255.\n"},
      {"read --port /dev/kw9-no-such-port",
       3,
       {"statusText=Read Failed"},
       "kw9: Error opening com port\nkw9: No such device: check the port name and that the "
       "device is plugged in.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CliRun run = Kw9cli(c.arguments);
    EXPECT_EQ(run.status, c.status);
    for (const std::string& line : c.out) EXPECT_THAT(run.out, HasSubstr(line + "\n"));
    EXPECT_EQ(run.err, c.err);
  }
  // One line per value of the window, nothing else.
  const CliRun read = Kw9cli("read" + port);
  EXPECT_EQ(std::count(read.out.begin(), read.out.end(), '\n'), 33);
  // The window keeps the label it read until the next Read: printed after
  // Update, it would contradict the value beside it.
  const CliRun update = Kw9cli("update" + port + " --radio-hp 4");
  EXPECT_THAT(update.out, HasSubstr("radioHP=4\n"));
  EXPECT_THAT(update.out, testing::Not(HasSubstr("hopChannelLabel=")));
  EXPECT_THAT(update.out, HasSubstr("vendorIdLabel=Vendor ID 1234\n"));
}

TEST(Kw9cliProcess, UsageErrorsExitWithTwoAndTouchNothing) {
  TrackersimProcess sim({});
  ASSERT_TRUE(sim.Running());
  const std::string port = " --port " + sim.Device();
  const std::string usages[] = {
      "",
      "frobnicate" + port,
      "read",
      "ports" + port,
      "read" + port + " --store-interval 5",
      "write" + port + " --enable-nmea 2",
      "write" + port + " --store-interval",
      "write" + port + " --bogus 1",
      // Hidden in normal mode: a user could not type there either.
      "write" + port + " --serial-number 5",
      "write" + port + " --radio-hp 5",
  };
  for (const std::string& arguments : usages) {
    SCOPED_TRACE(arguments);
    const CliRun run = Kw9cli(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("kw9cli: "));
  }
  const CliRun help = Kw9cli("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word :
       {"ports", "read", "write", "update", "--shutdown-voltage", "--radio-rr", "Exit status"}) {
    EXPECT_THAT(help.out, HasSubstr(word));
  }
  // Nothing of the usage errors reached the tracker: a Write would have.
  const CliRun read = Kw9cli("read" + port);
  EXPECT_THAT(read.out, HasSubstr("storeInterval=10\n"));
  EXPECT_THAT(read.out, HasSubstr("serialNumber=2417\n"));
}

// A tracker that stops answering: one read error, then nothing more, and the
// exit status of a tracker that does not answer (the real 10-second reply
// time-out runs out here).
TEST(Kw9cliProcess, SilentTrackerFailsOnceAndExitsWithFour) {
  TrackersimProcess sim({"--silent-after", "y:3"});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli("read --json --port " + sim.Device());
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err, "kw9: Serial Port Error: Read returned 0 chars. Closing com port\n");
  // The members hold what came before the silence (the serial number is the
  // second memory read); the rest was never read. Plain output shows only
  // the status line of them.
  const nlohmann::json window = nlohmann::json::parse(run.out)["window"];
  EXPECT_EQ(window["modelLabel"], "Model: KLX-TX3");
  EXPECT_EQ(window["serialNumberLabel"], "Serial #: 2417");
  EXPECT_EQ(window["transmitInterval"], 1);
  EXPECT_EQ(window["statusText"], "Read Failed");
}

}  // namespace
