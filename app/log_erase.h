// The log erase: Clear Flash asks for confirmation, then a worker sends the
// erase command and follows the tracker's answer until its line end.
#pragma once

#include <string>

#include "platform/ui/framework.h"

// The confirmation: IDOK for "CLEAR", IDCANCEL for "Cancel" or the close box.
// It names the port whose tracker would be erased.
class CClearFlashDlg : public CDialog {
 public:
  explicit CClearFlashDlg(const std::string& port);
  bool OnInitDialog() override;

 private:
  std::string port_;
};

// Thread procedure; param is the WorkerParameter (app/tracker_dlg.h) that
// CTrackerDlg::StartWorker made. Returns 1 after a completed erase, 0 when it
// ended early.
int LogEraseWorker(void* param);
