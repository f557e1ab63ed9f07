#include "tests/support/dialog_harness.h"

#include "app/log_download.h"
#include "config/settings.h"
#include "link/commands.h"
#include "platform/os/os.h"
#include "tests/support/fake_serial.h"
#include "tracklog/flash_image.h"

namespace testing_support {

void ResetToolState() {
  ::ResetToolState();
}

DialogHarness::DialogHarness(const std::string& commandLine)
    : backend_(std::make_unique<ui::ScriptedBackend>()) {
  ResetToolState();
  ui::UseBackend(backend_.get());
  platform::SetCommandLine(commandLine);
}

DialogHarness::~DialogHarness() {
  ui::SetMainWindow(nullptr);
  dialog_.reset();
  ui::UseBackend(nullptr);
  ResetToolState();
}

CTrackerDlg& DialogHarness::Run(const std::function<void(ui::ScriptedWindow&)>& script) {
  dialog_ = std::make_unique<CTrackerDlg>();
  ui::SetMainWindow(dialog_.get());
  backend_->SetScript(IDD_TRACKER_DIALOG, script);
  dialog_->DoModal();
  return *dialog_;
}

}  // namespace testing_support
