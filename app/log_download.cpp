#include "app/log_download.h"

#include <cstdio>
#include <optional>

#include "app/tracker_dlg.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "link/messages.h"
#include "platform/serial/serial.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_writer.h"

namespace {

// The model that cannot be asked for its memory size.
const char kModelWithoutSizeQuery[] = "NXVLDQ";

// A block that does not come whole is asked for this many more times before
// the download gives up: one garbled or late reply must not cost the rest.
constexpr int kBlockRetries = 2;
// How long the line must stay quiet before a block is asked for again, and
// how long a line that never goes quiet gets.
constexpr uint32_t kQuietMs = 100;
constexpr uint32_t kLongestQuietWaitMs = 10000;

}  // namespace

void CTrackerDlg::OnReadFlash() {
  if (RefuseWhileBusy()) return;
  SetProgressRange(0, 50);
  SetProgressStep(1);
  SetProgressPosition(0);

  CFileDialog dialog(false, ".kml", nullptr, OFN_OVERWRITEPROMPT, kKmlFileFilter);
  if (dialog.DoModal() != IDOK) {
    UpdateData(true);
    return;
  }
  if (!kmlStream.OpenReplacing(dialog.GetPathName())) {
    msg::Tell(msg::Id::kErrorOpeningKmlFile);
    return;
  }
  WriteKmlHeader(kmlStream);
  TakePortFromCombo();
  if (!OpenPort(portName)) {
    // The header of a download that never started replaces nothing.
    kmlStream.Discard();
    UpdateData(true);
    return;
  }
  if (!Ping()) {
    // The user has been told and the link is closed: that is the end.
    UpdateData(false);
    kmlStream.Discard();
    return;
  }

  const uint8_t version = 'V';
  const bool written = WritePort(&version, 1);
  UpdateData(false);
  if (!written) {
    kmlStream.Discard();
    return;
  }
  uint8_t reply[kReplyBufferSize];
  if (!ReadLine(reply)) {
    kmlStream.Discard();
    return;
  }
  if (modelString != kModelWithoutSizeQuery) {
    // No size, or one that names no memory (a device that is no tracker, or
    // one not set up): its download would replace the user's file with an
    // empty track.
    const std::optional<char> size = GetMemorySize();
    if (!size || !SetGeometryFromSizeReply(*size)) {
      msg::Tell(msg::Id::kErrorReadingMemorySize);
      kmlStream.Discard();
      return;
    }
  }
  StartWorker(LogDownloadWorker);
}

int LogDownloadWorker(void* param) {
  CTrackerDlg& dialog = *static_cast<WorkerParameter*>(param)->dialog;

  const MemoryGeometry* geometry = GeometryOfKbit(LogMemoryGeometry.sizeCode);
  // The model without a size query reads as the smallest memories do.
  if (geometry == nullptr) geometry = &kMemoryGeometries[0];
  const int blockSize = geometry->blockBytes;
  const int end = geometry->downloadBytes;
  int32_t buffer[16] = {};
  // Label and bar count what this memory's download reads, so both reach
  // their end for every size: the label 100.00, the bar (0..50, stepped by
  // one) its top once, not over and over.
  constexpr int kBarSteps = 50;
  int barSteps = 0;
  const auto showProgress = [&dialog, &barSteps, end](int bytes) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%4.2f", bytes * 100.0 / end);
    dialog.HandOverText(&CTrackerDlg::percentLabel, percent);
    const int due = static_cast<int>(int64_t{bytes} * kBarSteps / end);
    dialog.HandOverProgress(due - barSteps);
    barSteps = due;
  };
  int arrived = 0;  // bytes of the image this download filled, from address 0
  bool complete = true;
  bool failedAtStart = false;
  bool stopped = false;  // by the user, not by the line
  for (int address = 0; address < end; address += blockSize) {
    if (dialog.WorkerMustStop()) {
      // The window is going: the user gave up on this download.
      kmlStream.Discard();
      return 1;
    }
    if (dialog.TakeWorkerStopRequest()) {
      complete = false;
      stopped = true;
      failedAtStart = address == 0;  // nothing arrived: no file is replaced
      break;
    }
    showProgress(address);
    int entries = 0;
    bool whole = ReadFlashBlock(address, buffer, &entries);
    for (int retry = 0; !whole && retry < kBlockRetries && !dialog.WorkerMustStop() &&
                        DiscardUntilQuiet(kQuietMs, kLongestQuietWaitMs);
         ++retry) {
      whole = ReadFlashBlock(address, buffer, &entries);
    }
    for (int i = 0; i < entries; ++i) FlashImage[address + i] = buffer[i];
    arrived = address + entries;
    if (!whole) {
      // Bytes that did not come are no data: keep what did and say so.
      complete = false;
      failedAtStart = address == 0;
      // Whatever the tracker still sends must not be taken for the answer
      // to the next command: a fresh open starts with an empty line.
      ClosePort();
      break;
    }
  }
  showProgress(arrived);

  if (failedAtStart) {
    // Nothing came: like a download that never started, this one replaces
    // no file.
    kmlStream.Discard();
    dialog.FlushHandedOverTexts();
    if (stopped) {
      dialog.ShowStatusFromWorker(msg::Id::kDownloadStopped);
    } else {
      msg::Tell(msg::Id::kErrorReadingFlash);
    }
    return 1;
  }
  WriteTrackCoordinates(kmlStream, arrived, &lastDownloadTrack.emplace());
  WriteKmlFooter(kmlStream);
  WriteMemoryDump(kmlStream, arrived);
  const bool saved = kmlStream.Close();
  dialog.FlushHandedOverTexts();

  if (!saved) {
    msg::Tell(msg::Id::kErrorWritingKmlFile);
  } else if (stopped) {
    // Stopping is no error of the tracker's: what arrived is kept, and the
    // status line says so.
    dialog.ShowStatusFromWorker(msg::Id::kDownloadStopped);
  } else if (!complete) {
    msg::Tell(msg::Id::kErrorReadingFlash);
  } else {
    msg::Tell(msg::Id::kDoneReadingFlash);
  }
  return 1;
}
