#include "app/log_download.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "app/control_ids.h"
#include "app/file_checks.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "link/messages.h"
#include "platform/serial/serial.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_writer.h"
#include "tracklog/track_export.h"

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
// A block whose two reads differ is read this many more times, until two of
// its reads agree.
constexpr int kMoreReadsToAgree = 3;

// How a pass over the memory ended.
enum class PassEnd { kComplete, kFailed, kStopped, kAbandoned };

// The worker's reading of the memory into FlashImage, block by block.
class MemoryReader {
 public:
  // untilEnd: the first pass stops after the block in which the log's end
  // shows (LogEndWatch), and reads no further than the memory the decoder
  // and the dump look at.
  MemoryReader(CTrackerDlg& dialog, const MemoryGeometry& geometry, bool untilEnd)
      : dialog_(dialog),
        blockSize_(geometry.blockBytes),
        end_(untilEnd ? std::min(geometry.downloadBytes, geometry.dumpBytes)
                      : geometry.downloadBytes),
        untilEnd_(untilEnd),
        watch_(LogMemoryGeometry.decodeLimit) {}

  // One pass from address 0. The first fills the image; a checking pass
  // (checking) reads every block again and keeps it only once two reads of
  // it agree. A pass that ends early leaves in arrived() the bytes from
  // address 0 that can be kept.
  PassEnd Pass(bool checking) {
    int address = 0;
    int fresh = 0;      // the first address this pass has not read yet
    int stepsBack = 0;  // for the block at fresh
    while (address < end_) {
      // The window is going: the user gave up on this download.
      if (dialog_.WorkerMustStop()) return PassEnd::kAbandoned;
      if (dialog_.TakeWorkerStopRequest()) {
        // A checking pass keeps only what it has checked.
        if (checking) arrived_ = std::min(arrived_, address);
        return PassEnd::kStopped;
      }
      if (address == fresh) ShowProgress(address, checking);
      int entries = 0;
      bool lineWasBusy = false;
      bool whole = ReadFlashBlock(address, buffer_, &entries, &lineWasBusy);
      if (lineWasBusy && address > 0) {
        // The reply before this one was longer than its block: that block
        // is no data, and is read again first.
        address -= blockSize_;
        arrived_ = std::min(arrived_, address);
        watch_.Back(address);
        if (++stepsBack > kBlockRetries || !DiscardUntilQuiet(kQuietMs, kLongestQuietWaitMs)) {
          return Failed();
        }
        continue;
      }
      whole = whole || ReadAgain(address, entries);
      if (!checking) {
        for (int i = 0; i < entries; ++i) FlashImage[address + i] = buffer_[i];
        arrived_ = address + entries;
      } else if (whole && !Agreed(address, entries)) {
        arrived_ = address;
        return Failed();
      }
      if (!whole) {
        if (checking) arrived_ = address;
        return Failed();
      }
      if (!checking && untilEnd_ &&
          watch_.Look(FlashImage, arrived_) != LogEndWatch::End::kNotYet) {
        // Looked at as the next block's read would look: bytes behind this
        // reply make it no data, and it is read again.
        platform::Serial().Pause(1);
        if (DropWaitingBytes()) {
          arrived_ = address;
          watch_.Back(address);
          if (++stepsBack > kBlockRetries || !DiscardUntilQuiet(kQuietMs, kLongestQuietWaitMs)) {
            return Failed();
          }
          continue;
        }
        ShowProgress(end_, false);
        // A checking pass reads what this one did.
        end_ = arrived_;
        return PassEnd::kComplete;
      }
      if (address == fresh) {
        fresh += blockSize_;
        stepsBack = 0;
      }
      address += blockSize_;
    }
    ShowProgress(end_, checking);
    if (checking && watch_.Found() != LogEndWatch::End::kNotYet) {
      // A block whose reads differed may have moved the end: what stands
      // now is what counts, and a log that no longer ends here was not read.
      LogEndWatch again(LogMemoryGeometry.decodeLimit);
      if (again.Look(FlashImage, end_) == LogEndWatch::End::kNotYet) {
        arrived_ = end_;
        return Failed();
      }
      watch_ = again;
    }
    return PassEnd::kComplete;
  }

  int arrived() const { return arrived_; }
  // Where a pass that completed ended: the memory's end, or the log's.
  int end() const { return end_; }
  const LogEndWatch& watch() const { return watch_; }

  // Label and bar count what this memory's download reads, so both reach
  // their end for every size: the label 100.00, the bar (0..50, stepped by
  // one) its top once, not over and over. A checking pass shows its own
  // count on the label and leaves the full bar as it is.
  void ShowProgress(int bytes, bool checking) {
    std::snprintf(percent_, sizeof percent_, "%4.2f", bytes * 100.0 / end_);
    dialog_.HandOverText(&CTrackerDlg::percentLabel, percent_);
    if (checking) return;
    constexpr int kBarSteps = 50;
    const int due = static_cast<int>(int64_t{bytes} * kBarSteps / end_);
    dialog_.HandOverProgress(due - barSteps_);
    barSteps_ = due;
  }

 private:
  // A block that did not come whole, asked for again once the line is
  // quiet; true once it came.
  bool ReadAgain(int address, int& entries) {
    for (int retry = 0; retry < kBlockRetries && !dialog_.WorkerMustStop() &&
                        DiscardUntilQuiet(kQuietMs, kLongestQuietWaitMs);
         ++retry) {
      if (ReadFlashBlock(address, buffer_, &entries)) return true;
    }
    return false;
  }

  // The checking pass's read of a block (in buffer_) against the first one
  // (in the image); while they differ, more reads until two of all agree,
  // which then goes into the image. False when none do.
  bool Agreed(int address, int entries) {
    using Block = std::array<int32_t, 16>;
    Block reads[kMoreReadsToAgree + 2] = {};
    std::copy_n(FlashImage + address, entries, reads[0].begin());
    std::copy_n(buffer_, entries, reads[1].begin());
    int count = 2;
    const auto same = [&](const Block& a, const Block& b) {
      return std::equal(a.begin(), a.begin() + entries, b.begin());
    };
    if (same(reads[0], reads[1])) return true;
    for (int more = 0; more < kMoreReadsToAgree && !dialog_.WorkerMustStop(); ++more) {
      int got = 0;
      if (!ReadFlashBlock(address, buffer_, &got) && !ReadAgain(address, got)) continue;
      Block& read = reads[count++];
      std::copy_n(buffer_, entries, read.begin());
      for (int k = 0; k + 1 < count; ++k) {
        if (!same(reads[k], read)) continue;
        std::copy_n(read.begin(), entries, FlashImage + address);
        return true;
      }
    }
    return false;
  }

  PassEnd Failed() {
    // Whatever the tracker still sends must not be taken for the answer to
    // the next command: a fresh open starts with an empty line.
    ClosePort();
    return PassEnd::kFailed;
  }

  CTrackerDlg& dialog_;
  const int blockSize_;
  int end_;
  const bool untilEnd_;
  LogEndWatch watch_;
  int arrived_ = 0;
  int32_t buffer_[16] = {};
  char percent_[32] = {};
  int barSteps_ = 0;
};

}  // namespace

void CTrackerDlg::OnReadFlash() {
  if (RefuseWhileBusy()) return;
  SetProgressRange(0, 50);
  SetProgressStep(1);
  SetProgressPosition(0);

  const std::string suggested = SuggestedTrackName(GetDlgItemText(IDC_COM_PORT), UnixNow());
  CFileDialog dialog(false, ".kml", suggested.c_str(), OFN_OVERWRITEPROMPT, kKmlFileFilter);
  if (DoModalInRememberedFolder(dialog, "folder.readFlash") != IDOK) {
    UpdateData(true);
    return;
  }
  TakePortFromCombo();
  // The file names the tracker a completed Read found on this port; Read
  // Flash itself asks nothing more.
  TheWindowState.downloadIdentity = IdentityOfPort(portName).value_or(TrackerIdentity{});
  const std::string refusal = OutputRefusal(dialog.GetPathName(), portName);
  if (!refusal.empty()) {
    msg::Tell(msg::Id::kErrorOpeningKmlFile,
              std::string(msg::Text(msg::Id::kErrorOpeningKmlFile)) + "\n" + refusal);
    return;
  }
  if (!kmlStream.OpenReplacing(dialog.GetPathName())) {
    msg::Tell(msg::Id::kErrorOpeningKmlFile);
    return;
  }
  lastTrackFile = dialog.GetPathName();
  WriteKmlHeader(kmlStream);
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

bool DownloadReadsTwice(int sizeCode) {
  switch (TheWindowState.downloadReads) {
    case WindowState::DownloadReads::kOnce:
      return false;
    case WindowState::DownloadReads::kTwiceWithoutLineEnds:
      // The model without a size query reads as the smallest memories do.
      return !WideBlockForm(sizeCode);
    case WindowState::DownloadReads::kTwice:
      return true;
  }
  return false;
}

int LogDownloadWorker(void* param) {
  CTrackerDlg& dialog = *static_cast<WorkerParameter*>(param)->dialog;

  const MemoryGeometry* geometry = GeometryOfKbit(LogMemoryGeometry.sizeCode);
  // The model without a size query reads as the smallest memories do.
  if (geometry == nullptr) geometry = &kMemoryGeometries[0];
  lastDownloadKeptBeside.clear();
  TheWindowState.lastDownloadBytesRead = 0;
  TheWindowState.lastDownloadMoment = 0;
  TheWindowState.lastDownloadLogEnd = LogEndWatch::End::kNotYet;
  const bool untilEnd = TheWindowState.downloadUntilEnd;
  MemoryReader reader(dialog, *geometry, untilEnd);
  PassEnd end = reader.Pass(false);
  const bool checks = end == PassEnd::kComplete && DownloadReadsTwice(geometry->sizeCode);
  if (checks) end = reader.Pass(true);
  if (end == PassEnd::kAbandoned) {
    kmlStream.Discard();
    return 1;
  }
  const bool complete = end == PassEnd::kComplete;
  const bool stopped = end == PassEnd::kStopped;  // by the user, not by the line
  const int arrived = complete ? reader.end() : reader.arrived();
  TheWindowState.lastDownloadBytesRead = arrived;
  TheWindowState.lastDownloadLogEnd = complete ? reader.watch().Found() : LogEndWatch::End::kNotYet;
  TheWindowState.lastDownloadLogEndsAt = reader.watch().EndsAt();
  if (!complete) reader.ShowProgress(arrived, checks);

  if (!complete && arrived < geometry->blockBytes) {
    // Not one block came: like a download that never started, this one
    // writes no file.
    kmlStream.Discard();
    dialog.FlushHandedOverTexts();
    dialog.WorkerHasOnlyItsLastWord();
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
  DownloadStamp stamp;
  stamp.time = TheWindowState.clock != nullptr ? TheWindowState.clock() : UnixNow();
  stamp.tracker = TheWindowState.downloadIdentity;
  if (untilEnd) {
    stamp.bytesRead = arrived;
    stamp.memoryBytes = geometry->dumpBytes;
  }
  WriteDownloadStamp(kmlStream, stamp);
  TheWindowState.lastDownloadMoment = *stamp.time;
  // What did not all arrive never replaces a file the user has: it goes
  // beside it.
  std::string beside;
  const std::string chosen = kmlStream.RequestedPath();
  const bool saved = complete ? kmlStream.Close() : kmlStream.ClosePartial(beside);
  lastDownloadKeptBeside = beside;
  dialog.FlushHandedOverTexts();
  dialog.WorkerHasOnlyItsLastWord();

  if (!saved) {
    msg::Tell(msg::Id::kErrorWritingKmlFile);
  } else if (stopped) {
    // Stopping is no error of the tracker's: what arrived is kept, and the
    // status line says so.
    const std::string where =
        beside.empty() ? "" : " in " + beside + "; " + chosen + " is left as it was";
    dialog.ShowStatusFromWorker(msg::Id::kDownloadStopped,
                                msg::Text(msg::Id::kDownloadStopped) + where);
  } else if (!complete) {
    const std::string why =
        beside.empty() ? ""
                       : "\n" + chosen + " is left as it was; what arrived is saved as " + beside;
    msg::Tell(msg::Id::kErrorReadingFlash, msg::Text(msg::Id::kErrorReadingFlash) + why);
  } else {
    msg::Tell(msg::Id::kDoneReadingFlash);
  }
  return 1;
}
