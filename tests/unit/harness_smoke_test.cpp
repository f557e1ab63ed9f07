// The harness itself, and the program start it stands in for.
#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "platform/os/os.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

TEST(DialogHarness, ReadsTheSimulatedTracker) {
  testing_support::FakeSerial serial;
  serial.AddPort("COM1");
  testing_support::DialogHarness harness;
  CTrackerDlg& dlg = harness.Run([](ui::ScriptedWindow& w) {
    w.Type(IDC_COM_PORT, "COM1");
    w.Click(IDC_READ);
  });
  EXPECT_EQ(dlg.statusText, "Read Complete");
  EXPECT_EQ(dlg.serialNumber, 2417u);
  EXPECT_TRUE(harness.Messages().empty());
}

// The program's start: the application object runs the main window modally
// as the owner of every message box, and the program ends when it closes.
TEST(DialogHarness, ApplicationRunsTheMainWindowModally) {
  testing_support::DialogHarness harness;
  CTrackerApp app;
  bool ran = false;
  harness.backend().SetScript(IDD_TRACKER_DIALOG, [&](ui::ScriptedWindow& w) {
    ran = true;
    EXPECT_EQ(ui::MainWindow(), &w.Dialog());
    w.Click(IDC_READ);  // no port chosen
  });
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_EQ(AfxWinMain(), 0);
  EXPECT_TRUE(ran);
  const std::vector<ui::MessageRecord> messages = harness.backend().Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text,
            "Error opening com port\nNo such device: check the port name and that the device is "
            "plugged in.");
  EXPECT_EQ(messages[0].ownerTemplate, IDD_TRACKER_DIALOG);
  EXPECT_EQ(messages[0].caption, platform::ExecutableBaseName());
  EXPECT_EQ(ui::MainWindow(), nullptr);
}
