// The main window through the scripted backend: what it shows at start, which
// controls each mode shows, its system menu, icons, OK and Cancel, the data
// exchange over the real binding table, the port list and the busy guard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/control_ids.h"
#include "app/log_download.h"
#include "config/settings.h"
#include "kw9_version.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::DialogHarness;
using testing_support::FakeSerial;
using ui::ScriptedWindow;

namespace {

const char kCalibrationMessage[] = "Calibration Mode Enabled\n";

// Written out here rather than taken from the window's own list, so a control
// dropped from that list is caught.
const int kCalibrationOnly[] = {
    IDC_SERIAL_NUMBER, IDC_RADIO_HP,     IDC_RADIO_MK,     IDC_RADIO_DT,     IDC_RADIO_ID,
    IDC_RADIO_RN,      IDC_RADIO_RR,     IDC_RADIO_RO,     IDC_UPDATE,       IDC_SERIAL_NUMBER_TAG,
    IDC_RADIO_HP_TAG,  IDC_RADIO_MK_TAG, IDC_RADIO_DT_TAG, IDC_RADIO_ID_TAG, IDC_RADIO_RO_TAG,
    IDC_RADIO_RN_TAG,  IDC_RADIO_RR_TAG};
const int kNeverShown[] = {IDC_G_SWITCH_ENABLE, IDC_STORE_HMS};
const int kAlwaysShown[] = {IDC_READ, IDC_WRITE,      IDC_READ_FLASH, IDC_CLEAR_FLASH,
                            IDC_GO,   IDC_FLASH_TEST, IDC_FIX_KML};

CTrackerDlg& Of(ScriptedWindow& w) {
  return static_cast<CTrackerDlg&>(w.Dialog());
}

// Catches a bound label left at its template text, a member initialised wrong,
// or a progress bar not set up before the first worker uses it.
TEST(TrackerDlg, StartShowsEveryMembersInitialValue) {
  DialogHarness harness;
  harness.Run([](ScriptedWindow& w) {
    std::vector<std::string> shown;
    for (int id : {IDC_MODEL_LABEL, IDC_VERSION_LABEL, IDC_BATTERY_LABEL, IDC_RADIO_SERIAL_LABEL,
                   IDC_HOP_CHANNEL_LABEL, IDC_VENDOR_ID_LABEL, IDC_ADDRESS_MASK_LABEL,
                   IDC_SERIAL_NUMBER_LABEL, IDC_DESTINATION_LABEL, IDC_PERCENT_LABEL,
                   IDC_PROGRAM_VERSION_LABEL, IDC_STATUS, IDC_STORE_INTERVAL, IDC_TRANSMIT_INTERVAL,
                   IDC_TRANSMIT_SLOT, IDC_SERIAL_NUMBER, IDC_COM_PORT}) {
      shown.push_back(w.Text(id));
    }
    EXPECT_THAT(shown, ElementsAre("Model:", "Version:", "vBattery",
                                   "Serial No:", "Hopping Channel:", "Vendor ID", "Address Mask",
                                   "serial #", "Dest:", "", "Version 020 8/09/2013", "Ready", "1",
                                   "1", "0", "0", ""));
    for (int id :
         {IDC_WRAP_MEMORY, IDC_G_SWITCH_ENABLE, IDC_ENABLE_NMEA, IDC_ENABLE_TX_SENTENCE,
          IDC_LOW_VOLTAGE_SHUTDOWN, IDC_ENABLE_DATA_LOGGING, IDC_METERS_TO_FEET, IDC_STORE_HMS})
      EXPECT_EQ(w.Check(id), 0) << id;
    EXPECT_THAT(w.Items(IDC_COM_PORT), IsEmpty());
    const ui::ProgressState p = w.Progress(IDC_PROGRESS);
    EXPECT_EQ(std::tie(p.lower, p.upper, p.step, p.position), std::make_tuple(0, 100, 10, 0));
    EXPECT_EQ(w.Focus(), IDC_READ);
  });
  EXPECT_THAT(harness.Messages(), IsEmpty());
}

// Catches a switch matched anywhere, by prefix or without case, a long word
// split or cut short, a mode that shows the wrong controls, the never-shown
// boxes shown, and a missing or repeated notice.
TEST(TrackerDlg, CalibrationModeOnlyWithTheSwitchAsSecondWord) {
  const struct {
    std::string line;
    bool calibration;
  } cases[] = {
      {"kw9 -tamsk", true},
      {"kw9\t-tamsk", true},
      {"kw9 -tamsk extra", true},
      {"  kw9   -tamsk  ", true},
      {"kw9 -TAMSK", false},
      {"kw9 -tamskx", false},
      {"kw9 x -tamsk", false},
      {"-tamsk", false},
      {"\"C:\\Program Files\\kw9.exe\" -tamsk", false},  // quotes do not join words
      {"kw9", false},
      {"", false},
      {std::string(294, 'a') + "-tamsk", false},  // a long first word is one word
      {std::string(300, 'a') + " -tamsk", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(HasCalibrationSwitch(c.line), c.calibration);
    DialogHarness harness(c.line);
    harness.Run([&](ScriptedWindow& w) {
      for (int id : kCalibrationOnly) EXPECT_EQ(w.Visible(id), c.calibration) << id;
      for (int id : kNeverShown) EXPECT_FALSE(w.Visible(id)) << id;
      for (int id : kAlwaysShown) EXPECT_TRUE(w.Visible(id)) << id;
    });
    EXPECT_EQ(calibrationMode, c.calibration ? 1 : 0);
    EXPECT_EQ(harness.Messages(), std::vector<std::string>(c.calibration, kCalibrationMessage));
  }
}

// Catches a missing About item, an About box that does not open for the
// command with its low bits set or opens for others, one that cannot be
// closed, and one whose closing takes the main window with it.
TEST(TrackerDlg, SystemMenuRunsTheAboutBox) {
  const struct {
    unsigned command;
    std::function<void(ScriptedWindow&)> close;  // empty: no About box opens
    int result;
  } cases[] = {
      {16, &ScriptedWindow::PressEnter, IDOK},
      {16 | 0x3, &ScriptedWindow::PressEscape, IDCANCEL},
      {16, &ScriptedWindow::CloseBox, IDCANCEL},
      {32, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    DialogHarness harness;
    bool aboutEnded = false;
    harness.backend().SetScript(IDD_ABOUTBOX, [&](ScriptedWindow& about) {
      EXPECT_THAT(about.Texts(), testing::Contains("kw9 Version " KW9_VERSION));
      c.close(about);
      aboutEnded = about.Ended();
      EXPECT_EQ(about.Result(), c.result);
    });
    harness.Run([&](ScriptedWindow& w) {
      const auto& menu = w.SystemMenu();
      ASSERT_GE(menu.size(), 2u);
      EXPECT_EQ(menu[menu.size() - 2], std::make_pair(0u, std::string()));
      EXPECT_EQ(menu.back(), std::make_pair(16u, std::string("&About kw9...")));
      w.SystemCommand(c.command);
      EXPECT_FALSE(w.Ended());
    });
    EXPECT_EQ(aboutEnded, c.close != nullptr);
    std::vector<int> run = {IDD_TRACKER_DIALOG};
    if (c.close) run.push_back(IDD_ABOUTBOX);
    EXPECT_EQ(harness.backend().DialogsRun(), run);
    EXPECT_THAT(harness.Messages(), IsEmpty());
  }
}

// Catches a wrong or missing icon, the icon painted when not minimised, no
// painting at all then, and the icon off centre when minimised.
TEST(TrackerDlg, IconsAndMinimisedPainting) {
  DialogHarness harness;
  harness.Run([](ScriptedWindow& w) {
    const ui::Icon icon = Of(w).appIcon;
    EXPECT_EQ(icon, IDR_MAINFRAME);
    EXPECT_EQ(w.BigIcon(), icon);
    EXPECT_EQ(w.SmallIcon(), icon);
    EXPECT_EQ(w.QueryDragIcon(), icon);
    w.PaintNow();
    EXPECT_THAT(w.Paints(), IsEmpty());
    EXPECT_EQ(w.DefaultPaints(), 1);  // a window left unpainted is asked to paint forever
    w.SetIconic(true);
    w.PaintNow();
    EXPECT_EQ(w.DefaultPaints(), 1);
    ASSERT_EQ(w.Paints().size(), 1u);
    EXPECT_EQ(w.Paints()[0].x, (284 * 6 / 4 - 32 + 1) / 2);
    EXPECT_EQ(w.Paints()[0].y, (256 * 13 / 8 - 32 + 1) / 2);
    EXPECT_EQ(w.Paints()[0].icon, icon);
  });
}

// Catches Enter closing past a rejected field, a failed field without focus
// or selection, and Enter not pressing the focused button.
TEST(TrackerDlg, EnterSavesOrPressesTheFocusedButton) {
  const struct {
    int focus;  // 0: type the store interval
    const char* storeInterval;
    bool ends;
    std::vector<std::string> messages;
  } cases[] = {
      {0, "7", true, {}},
      {0, "0", false, {"Please enter an integer between 1 and 255."}},
      {0, "256", false, {"Please enter an integer between 1 and 255."}},
      {0, "abc", false, {"Please enter a positive integer."}},
      {IDC_READ, "1", false, {"Error opening com port"}},
      {IDC_WRITE, "1", false, {"Please issue a read command before attempting a write"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storeInterval);
    SCOPED_TRACE(c.focus);
    FakeSerial serial;
    DialogHarness harness;
    harness.Run([&](ScriptedWindow& w) {
      w.Type(IDC_STORE_INTERVAL, c.storeInterval);
      if (c.focus != 0) w.SetFocus(c.focus);
      w.PressEnter();
      EXPECT_EQ(w.Ended(), c.ends);
      EXPECT_EQ(w.Result(), c.ends ? IDOK : 0);
      if (c.focus == 0 && !c.ends) {
        EXPECT_EQ(w.Focus(), IDC_STORE_INTERVAL);
        EXPECT_EQ(w.Selection(IDC_STORE_INTERVAL),
                  std::make_pair(0, static_cast<int>(w.Text(IDC_STORE_INTERVAL).size())));
      }
    });
    EXPECT_EQ(harness.Messages(), c.messages);
  }
}

// Catches Cancel that validates first, and Close routed anywhere but Cancel.
TEST(TrackerDlg, EscapeCloseBoxAndCloseCancelWithoutChecking) {
  const std::function<void(ScriptedWindow&)> closers[] = {
      &ScriptedWindow::PressEscape, &ScriptedWindow::CloseBox,
      [](ScriptedWindow& w) { w.SystemCommand(SC_CLOSE); }};
  for (const auto& close : closers) {
    DialogHarness harness;
    harness.Run([&](ScriptedWindow& w) {
      w.Type(IDC_STORE_INTERVAL, "0");
      w.Type(IDC_TRANSMIT_SLOT, "99");
      close(w);
      EXPECT_TRUE(w.Ended());
      EXPECT_EQ(w.Result(), IDCANCEL);
    });
    EXPECT_THAT(harness.Messages(), IsEmpty());
  }
}

// Catches a range that lets a stored value wrap, a parse that does not
// saturate, blanks not allowed round a number, and the failing control not
// focused.
TEST(TrackerDlg, NumberFieldsSaveOrRejectWithTheirRange) {
  const struct {
    int id;
    const char* typed;
    uint32_t CTrackerDlg::*member;
    uint32_t value;
    const char* message;  // nullptr: saves, and a load shows the value
  } cases[] = {
      {IDC_SERIAL_NUMBER, "65535", &CTrackerDlg::serialNumber, 65535, nullptr},
      {IDC_SERIAL_NUMBER, "70000", &CTrackerDlg::serialNumber, 70000,
       "Please enter an integer between 0 and 65535."},
      {IDC_SERIAL_NUMBER, "9999999999", &CTrackerDlg::serialNumber, 4294967295u,
       "Please enter an integer between 0 and 65535."},
      {IDC_TRANSMIT_SLOT, "60", &CTrackerDlg::transmitSlot, 60, nullptr},
      {IDC_TRANSMIT_SLOT, "61", &CTrackerDlg::transmitSlot, 61,
       "Please enter an integer between 0 and 60."},
      {IDC_STORE_INTERVAL, " 12 ", &CTrackerDlg::storeInterval, 12, nullptr},
      {IDC_TRANSMIT_INTERVAL, "255", &CTrackerDlg::transmitInterval, 255, nullptr},
      {IDC_TRANSMIT_INTERVAL, "256", &CTrackerDlg::transmitInterval, 256,
       "Please enter an integer between 1 and 255."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    DialogHarness harness("kw9 -tamsk");  // the serial number field needs it
    harness.Run([&](ScriptedWindow& w) {
      ASSERT_TRUE(w.Type(c.id, c.typed));
      EXPECT_EQ(w.Dialog().UpdateData(true), c.message == nullptr);
      EXPECT_EQ(Of(w).*c.member, c.value);
      if (c.message != nullptr) {
        EXPECT_EQ(w.Focus(), c.id);
        return;
      }
      w.Dialog().UpdateData(false);
      EXPECT_EQ(w.Text(c.id), std::to_string(c.value));
    });
    std::vector<std::string> expected = {kCalibrationMessage};
    if (c.message != nullptr) expected.push_back(c.message);
    EXPECT_EQ(harness.Messages(), expected);
  }
}

// Catches a save that goes on past a failed field: a second message, or
// later members taken from controls the user was never made to fix.
TEST(TrackerDlg, SaveStopsAtTheFirstBadField) {
  DialogHarness harness;
  CTrackerDlg& dlg = harness.Run([](ScriptedWindow& w) {
    w.Type(IDC_STORE_INTERVAL, "abc");
    w.Type(IDC_TRANSMIT_SLOT, "99");
    w.Type(IDC_SHUTDOWN_VOLTAGE, "3.30");
    EXPECT_FALSE(w.Dialog().UpdateData(true));
    EXPECT_EQ(w.Focus(), IDC_STORE_INTERVAL);
  });
  EXPECT_THAT(harness.Messages(), ElementsAre("Please enter a positive integer."));
  EXPECT_EQ(dlg.shutdownVoltage, "");
  EXPECT_EQ(dlg.transmitSlot, 0u);
}

// Catches hidden boxes cleared by a save, a check state out of range shown
// or kept, and a status member not taken back from its control.
TEST(TrackerDlg, CheckAndStatusMembersRoundTrip) {
  DialogHarness harness;
  harness.Run([](ScriptedWindow& w) {
    CTrackerDlg& dlg = Of(w);
    for (int* flag : dlg.OptionFlagMembers()) *flag = 5;
    w.Dialog().UpdateData(false);
    for (int* flag : dlg.OptionFlagMembers()) EXPECT_EQ(*flag, 0);
    dlg.gSwitchEnable = 1;
    dlg.storeHms = 1;
    w.Dialog().UpdateData(false);
    dlg.statusText = "Busy";
    EXPECT_TRUE(w.Dialog().UpdateData(true));
    EXPECT_EQ(dlg.gSwitchEnable, 1);
    EXPECT_EQ(dlg.storeHms, 1);
    EXPECT_EQ(dlg.statusText, "Ready");
  });
}

// Catches ports listed unsorted, twice, past COM63, or from an empty system;
// a loaded port name not selecting its item; a typed port outside the list
// refused.
TEST(TrackerDlg, PortListAndPortChoice) {
  const struct {
    std::vector<std::string> ports;
    std::vector<std::string> listed;
  } cases[] = {
      {{"COM2", "COM10", "COM1", "COM63", "COM64"}, {"COM1", "COM10", "COM2", "COM63"}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ports.size());
    FakeSerial serial;
    for (const std::string& port : c.ports) serial.AddPort(port);
    DialogHarness harness;
    harness.Run([&](ScriptedWindow& w) {
      EXPECT_TRUE(w.DropDown(IDC_COM_PORT));
      EXPECT_TRUE(w.DropDown(IDC_COM_PORT));
      EXPECT_EQ(w.Items(IDC_COM_PORT), c.listed);
    });
  }

  FakeSerial serial;
  serial.AddPort("COM1");
  serial.AddPort("COM3");
  testing_support::FakeDevice& far = serial.AddPort("COM70");
  DialogHarness harness;
  CTrackerDlg& dlg = harness.Run([](ScriptedWindow& w) {
    w.DropDown(IDC_COM_PORT);
    Of(w).portName = "COM3";
    w.Dialog().UpdateData(false);
    EXPECT_EQ(w.CurrentSelection(IDC_COM_PORT), 1);
    EXPECT_EQ(w.Text(IDC_COM_PORT), "COM3");
    w.Type(IDC_COM_PORT, "COM70");
    w.Click(IDC_READ);
  });
  EXPECT_EQ(far.opens, 1);
  EXPECT_EQ(dlg.statusText, "Read Complete");
}

// Catches a button that talks to the tracker while a worker owns the link.
TEST(TrackerDlg, BusyGuardRefusesReadWriteAndUpdate) {
  const struct {
    int button;
    const char* commandLine;
  } cases[] = {{IDC_READ, "kw9"}, {IDC_WRITE, "kw9"}, {IDC_UPDATE, "kw9 -tamsk"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    FakeSerial serial;
    testing_support::FakeDevice& device = serial.AddPort("COM1");
    DialogHarness harness(c.commandLine);
    configRead = true;  // so Write would otherwise go ahead
    harness.Run([&](ScriptedWindow& w) {
      w.Type(IDC_COM_PORT, "COM1");
      workerBusy = 1;
      EXPECT_TRUE(w.Click(c.button));
      workerBusy = 0;
    });
    std::vector<std::string> messages = harness.Messages();
    if (calibrationMode) messages.erase(messages.begin());
    EXPECT_THAT(messages, ElementsAre("Please wait until the previous operation completes"));
    EXPECT_EQ(device.opens, 0);
    EXPECT_THAT(device.writes, IsEmpty());
  }
}

}  // namespace
