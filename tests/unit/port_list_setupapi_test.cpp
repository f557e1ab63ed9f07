// The Windows port list as it is made of the device installer's answers;
// the answers are given here, so every kind of device can be.
#include "platform/serial/port_list_setupapi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/control_ids.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

namespace {

using testing::ElementsAre;

// An FTDI adapter under its own bus, a CH340 above COM9, a board's UART, a
// printer port, a CDC device seen twice (class and interface), a Bluetooth
// port (whose ids are no USB ids), a port another program holds, and a
// device without a COM name.
const std::vector<platform::SetupApiPort> kAnswers = {
    {"COM12", "USB-SERIAL CH340 (COM12)", "USB\\VID_1A86&PID_7523&REV_0264", false},
    {"COM3", "USB Serial Port (COM3)", "FTDIBUS\\COMPORT&VID_0403&PID_6001", false},
    {"LPT1", "Printer Port (LPT1)", "ACPI\\PNP0400", false},
    {"COM1", "Communications Port (COM1)", "ACPI\\PNP0501", false},
    {"com5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043&MI_00", true},
    {"COM5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043&MI_00", false},
    {"COM4", "Standard Serial over Bluetooth link (COM4)",
     "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_VID&0001000f_PID&0000", false},
    {"", "Modem", "USB\\VID_0572&PID_1329", false},
    {"COM2x", "Virtual", "", false},
};

// Catches the list in text order (COM12 before COM3), a printer port or a
// nameless device listed, a port listed twice, ids taken from a Bluetooth
// id or left in upper case, COM10 and up not opened in the device space, and
// a held port not told.
TEST(SetupApiPortList, FromTheInstallersAnswers) {
  std::vector<std::string> rows;
  for (const platform::PortInfo& p : platform::PortsFromSetupApi(kAnswers)) {
    rows.push_back(p.name + "|" + p.devicePath + "|" + p.description + "|" + p.vidPid +
                   (p.busy ? "|busy" : ""));
  }
  EXPECT_THAT(rows, ElementsAre("COM1|\\\\.\\COM1|Communications Port (COM1)|",
                                "COM3|\\\\.\\COM3|USB Serial Port (COM3)|0403:6001",
                                "COM4|\\\\.\\COM4|Standard Serial over Bluetooth link (COM4)|",
                                "COM5|\\\\.\\COM5|USB Serial Device (COM5)|2341:0043|busy",
                                "COM12|\\\\.\\COM12|USB-SERIAL CH340 (COM12)|1a86:7523"));
  EXPECT_TRUE(platform::PortsFromSetupApi({}).empty());
}

// Catches a friendly name lost on the way to the drop-down, or put into the
// field with the name when an item is picked.
TEST(SetupApiPortList, DropDownShowsTheDeviceManagerNames) {
  testing_support::FakeSerial serial;
  serial.listed = platform::PortsFromSetupApi(kAnswers);
  testing_support::DialogHarness harness;
  harness.Run([](ui::ScriptedWindow& w) {
    ASSERT_TRUE(w.DropDown(IDC_COM_PORT));
    EXPECT_THAT(w.Items(IDC_COM_PORT), ElementsAre("COM1", "COM12", "COM3", "COM4", "COM5"));
    EXPECT_EQ(w.ItemDescriptions(IDC_COM_PORT)[2], "USB Serial Port (COM3) (0403:6001)");
    ASSERT_TRUE(w.Pick(IDC_COM_PORT, 1));
    EXPECT_EQ(w.Text(IDC_COM_PORT), "COM12");
  });
}

}  // namespace
