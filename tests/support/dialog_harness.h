// The main window on the scripted backend, for tests: a fresh process state
// (link, caches, flags) and a way to run the window with a script standing in
// for the user.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "platform/ui/scripted/scripted_backend.h"

namespace testing_support {

// Puts every process-wide value of the tool back to program start.
void ResetToolState();

class DialogHarness {
 public:
  // Installs a scripted backend and resets the tool's state; the command line
  // the window will read is commandLine.
  explicit DialogHarness(const std::string& commandLine = "kw9");
  ~DialogHarness();
  DialogHarness(const DialogHarness&) = delete;
  DialogHarness& operator=(const DialogHarness&) = delete;

  // Constructs a main window, runs it modally with script as the user (on
  // this thread), and returns the window object, closed, for inspection.
  // The script may be empty: the window then closes as soon as it is shown.
  CTrackerDlg& Run(const std::function<void(ui::ScriptedWindow&)>& script);

  ui::ScriptedBackend& backend() { return *backend_; }
  std::vector<std::string> Messages() const { return backend_->MessageTexts(); }
  CTrackerDlg& dialog() { return *dialog_; }

 private:
  std::unique_ptr<ui::ScriptedBackend> backend_;
  std::unique_ptr<CTrackerDlg> dialog_;
};

}  // namespace testing_support
