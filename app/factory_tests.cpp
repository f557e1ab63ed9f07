// Flash Test and Go!: two service buttons that act on the tracker directly.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/tracker_dlg.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "tracklog/flash_image.h"

namespace {

constexpr int kPatternBytes = 16;
constexpr int kPatternBase = 9;  // the byte at address i is i + 9

// Log memory bytes 0 to 15 as the test reads them back: one wide block, or
// two short ones. True when every block came whole; entries that no reply
// filled read as 0, never as left-overs.
bool ReadTestBytes(int32_t (&bytes)[kPatternBytes]) {
  std::fill(std::begin(bytes), std::end(bytes), 0);
  bool whole = ReadFlashBlock(0, bytes);
  if (!WideBlockForm(LogMemoryGeometry.sizeCode)) {
    // The short form brings 8 bytes a block: the second half needs its own read.
    int32_t upper[kPatternBytes] = {};
    whole = ReadFlashBlock(8, upper) && whole;
    std::copy(upper, upper + 8, bytes + 8);
  }
  return whole;
}

// False at the first write the tracker did not acknowledge (the user has been
// told and the link is closed).
bool WriteTestBytes(const int32_t (&bytes)[kPatternBytes]) {
  for (int i = 0; i < kPatternBytes; ++i) {
    if (!WriteFlashByte(i, static_cast<uint8_t>(bytes[i]))) return false;
  }
  return true;
}

}  // namespace

void CTrackerDlg::OnFlashTest() {
  // Its writes and reads on the link would cut into a worker's exchange.
  if (RefuseWhileBusy()) return;
  TakePortFromCombo();
  if (!OpenPort(portName)) return;
  // A failed ping has told the user and closed the link: that is the end.
  if (!Ping()) return;
  const std::optional<char> size = GetMemorySize();
  if (!size) {
    msg::Tell(msg::Id::kErrorReadimgMemorySize);
    return;
  }
  SetSizeCodeFromSizeReply(*size);

  // The pattern goes over the first record of the user's log, which is put
  // back afterwards. Unless it reads the same twice, nothing is written: a
  // garbled read would be "restored" as noise into the log.
  int32_t saved[kPatternBytes], again[kPatternBytes];
  if (!ReadTestBytes(saved) || !ReadTestBytes(again)) {
    ReplyNeverCame();
    return;
  }
  if (!std::equal(std::begin(saved), std::end(saved), std::begin(again))) {
    msg::Tell(msg::Id::kFlashTestReadsDisagree);
    return;
  }
  int32_t pattern[kPatternBytes];
  for (int i = 0; i < kPatternBytes; ++i) pattern[i] = i + kPatternBase;
  if (!WriteTestBytes(pattern)) {
    // Some of the pattern may now stand in the user's first record.
    msg::Tell(msg::Id::kErrorRestoringFlash);
    return;
  }

  int32_t readBack[kPatternBytes];
  ReadTestBytes(readBack);  // a reply that did not come shows as a difference
  platform::SleepMs(100);

  bool passed = true;
  for (int i = 0; i < kPatternBytes && passed; ++i) {
    if (readBack[i] != pattern[i]) {
      passed = false;
      msg::Tell(msg::Id::kDataReadError);
      char text[64];
      std::snprintf(text, sizeof text, msg::Text(msg::Id::kReadExpected),
                    static_cast<unsigned>(readBack[i]), static_cast<unsigned>(pattern[i]));
      msg::Tell(msg::Id::kReadExpected, text);
    }
  }
  if (passed) msg::Tell(msg::Id::kFlashTestPassed);

  int32_t restored[kPatternBytes];
  if (!WriteTestBytes(saved) || !ReadTestBytes(restored) ||
      !std::equal(std::begin(saved), std::end(saved), std::begin(restored))) {
    msg::Tell(msg::Id::kErrorRestoringFlash);
  }
}

void CTrackerDlg::OnGo() {
  if (RefuseWhileBusy()) return;
  TakePortFromCombo();
  if (!OpenPort(portName)) return;
  // "G" has no answer: only a tracker that answered the ping can be said to
  // transmit.
  if (!Ping()) return;
  StartTransmit();
  ClosePort();
  ShowStatus(msg::Id::kTxRunning);
  UpdateData(false);
}
