// The log erase: Clear Flash asks for confirmation, then a worker sends the
// erase command and follows the tracker's answer until its line end.
#pragma once

#include "platform/ui/framework.h"

// The confirmation: IDOK for "CLEAR", IDCANCEL for "Cancel" or the close box.
class CClearFlashDlg : public CDialog {
 public:
  CClearFlashDlg();
};

// Thread procedure; param is the WorkerParameter (app/tracker_dlg.h) that
// CTrackerDlg::StartWorker made. Returns 1 after a completed erase, 0 when it
// ended early.
int LogEraseWorker(void* param);
