#include "app/log_erase.h"

#include <memory>

#include "app/control_ids.h"
#include "app/log_download.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "link/messages.h"
#include "platform/os/os.h"
#include "platform/serial/serial.h"

namespace {

// The tracker answers the erase with a byte now and then and ends with its
// line end. Silent this long (six read time-outs in a row), or with the
// worker running this long in all, it is taken to have given up.
constexpr int kSilentReadsGivingUp = 6;
constexpr int64_t kLongestEraseMicros = int64_t{10} * 60 * 1000000;

}  // namespace

CClearFlashDlg::CClearFlashDlg(const std::string& port)
    : CDialog(FindDialogTemplate(IDD_CLEAR_FLASH)), port_(port) {}

bool CClearFlashDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetDlgItemText(IDC_CLEAR_FLASH_PORT, "Tracker on " + port_);
  return true;
}

void CTrackerDlg::OnClearFlash() {
  // The confirmation names the port the erase goes to: the one shown, not
  // whichever the last exchange saved.
  const std::string shown = GetDlgItemText(IDC_COM_PORT);
  CClearFlashDlg confirmation(shown);
  if (confirmation.DoModal() != IDOK) return;
  if (RefuseWhileBusy()) return;
  SetProgressRange(0, 100);
  SetProgressStep(1);
  portName = shown;
  if (!OpenPort(portName)) return;
  StartWorker(LogEraseWorker);
  platform::SleepMs(100);
  UpdateData(false);
}

int LogEraseWorker(void* param) {
  CTrackerDlg& dialog = *static_cast<WorkerParameter*>(param)->dialog;
  // From here, not from the erase command: a tracker slow to answer the ping
  // and the size query uses up the same allowance.
  const int64_t start = platform::Serial().NowMicros();

  // A failed ping has told the user and closed the link: that is the end.
  if (!Ping()) return 0;
  const std::optional<char> size = GetMemorySize();
  // A reply that names no memory is no tracker's (a device that answers OK
  // to everything, say): nothing is erased, as nothing is downloaded.
  if (!size || !SetSizeCodeFromSizeReply(*size)) {
    msg::Tell(msg::Id::kErrorReadimgMemorySize);
    return 0;
  }
  EraseFlash();

  uint8_t last = 0, beforeLast = 0;
  int silentReads = 0;
  bool finished = false;
  while (!dialog.WorkerMustStop()) {
    uint8_t byte = 0;
    if (ReadPort(&byte, 1) == 1) {
      beforeLast = last;
      last = byte;
      silentReads = 0;
    } else {
      ++silentReads;
    }
    dialog.StepProgress();
    if (IsLineEnd(beforeLast, last)) {
      finished = true;
      break;
    }
    if (silentReads >= kSilentReadsGivingUp ||
        platform::Serial().NowMicros() - start >= kLongestEraseMicros) {
      break;
    }
  }
  if (dialog.WorkerMustStop()) return 0;
  dialog.WorkerHasOnlyItsLastWord();
  if (!finished) {
    msg::Tell(msg::Id::kErrorClearingFlash);
    return 0;
  }
  msg::Tell(msg::Id::kDoneClearingFlash);
  dialog.ShowStatusFromWorker(msg::Id::kDoneErasing);
  return 1;
}
