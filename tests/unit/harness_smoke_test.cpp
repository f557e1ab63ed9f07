// The harness itself: a Read through the whole window on the in-process port.
#include <gtest/gtest.h>

#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

TEST(DialogHarness, ReadsTheSimulatedTracker) {
  testing_support::FakeSerial serial;
  serial.AddPort("COM1");
  testing_support::DialogHarness harness;
  CTrackerDlg& dlg = harness.Run([](ui::ScriptedWindow& w) {
    w.Type(1013, "COM1");
    w.Click(1000);
  });
  EXPECT_EQ(dlg.statusText, "Read Complete");
  EXPECT_EQ(dlg.serialNumber, 2417u);
  EXPECT_TRUE(harness.Messages().empty());
}
