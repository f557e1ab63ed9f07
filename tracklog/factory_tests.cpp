// Flash Test and Go!: two service buttons that act on the tracker directly.
#include <cstdio>

#include "app/tracker_dlg.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "tracklog/flash_image.h"
#include "tracklog/log_download.h"

namespace {

constexpr int kPatternBytes = 16;
constexpr int kPatternBase = 9;  // the byte at address i is i + 9

}  // namespace

void CTrackerDlg::OnFlashTest() {
  // Its writes and reads on the link would cut into a worker's exchange.
  if (RefuseWhileBusy()) return;
  if (!OpenPort(portName)) return;
  Ping();
  const std::optional<char> size = GetMemorySize();
  if (!size) {
    AfxMessageBox("Error readimg memory size");
    return;
  }
  SetSizeCodeFromSizeReply(*size);
  for (int i = 0; i < kPatternBytes; ++i) WriteFlashByte(i, static_cast<uint8_t>(i + kPatternBase));

  // Entries that no reply filled read as 0, never as left-overs.
  int32_t readBack[kPatternBytes] = {};
  ReadFlashBlock(0, readBack);
  if (LogMemoryGeometry.sizeCode != 1024) {
    // The short form brings 8 bytes a block: the second half needs its own read.
    int32_t upper[kPatternBytes] = {};
    ReadFlashBlock(8, upper);
    for (int i = 8; i < kPatternBytes; ++i) readBack[i] = upper[i - 8];
  }
  platform::SleepMs(100);

  for (int i = 0; i < kPatternBytes; ++i) {
    const int expected = i + kPatternBase;
    if (readBack[i] != expected) {
      AfxMessageBox("Data Read Error");
      char text[64];
      std::snprintf(text, sizeof text, "Read: %x, Expected: %x", static_cast<unsigned>(readBack[i]),
                    static_cast<unsigned>(expected));
      AfxMessageBox(text);
      return;
    }
  }
  AfxMessageBox("I2C Read Test Passed");
}

void CTrackerDlg::OnGo() {
  if (RefuseWhileBusy()) return;
  if (!OpenPort(portName)) return;
  StartTransmit();
  ClosePort();
  statusText = "TX running, Enter a command to stop";
  UpdateData(false);
}
