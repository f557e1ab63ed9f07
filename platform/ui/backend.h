// The one interface every user-interface backend implements (win32, scripted,
// qt). The framework (framework.h) is written against it; the tool never sees
// a backend directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/dialog_template.h"

class CDialog;

namespace ui {

using Icon = intptr_t;  // 0: no icon

// Progress bar messages, with their Win32 numbers.
enum ProgressMessage : unsigned {
  kPbmSetRange = 0x401,
  kPbmSetPos = 0x402,
  kPbmSetStep = 0x404,
  kPbmStepIt = 0x405,
  kPbmGetPos = 0x408,
};

// One live dialog window. Controls are addressed by their template id. Unless
// said otherwise a call is made on the user-interface thread only.
class Window {
 public:
  virtual ~Window() = default;

  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual int GetCheck(int id) = 0;
  virtual void SetCheck(int id, int state) = 0;
  virtual void Show(int id, bool show) = 0;
  virtual bool IsVisible(int id) = 0;
  virtual void SetFocus(int id) = 0;
  virtual void SelectAllText(int id) = 0;         // EM_SETSEL 0, -1; nothing on a non-edit
  virtual void LimitText(int id, int limit) = 0;  // EM_LIMITTEXT; nothing on a non-edit

  // The combo box's list.
  virtual int ComboCount(int id) = 0;
  virtual void ComboDelete(int id, int index) = 0;
  virtual int ComboAdd(int id, const std::string& text) = 0;  // index where it went
  // An item with a note shown beside it in the open list (what a port is);
  // picking it puts only text into the field. A backend that cannot show
  // notes adds text alone.
  virtual int ComboAddDescribed(int id, const std::string& text, const std::string& description) {
    (void)description;
    return ComboAdd(id, text);
  }
  // CB_SELECTSTRING from the top: selects the first item that begins with
  // prefix, ignoring case, and shows it in the edit field; -1 when none does.
  virtual int ComboSelectString(int id, const std::string& prefix) = 0;

  // A progress bar message. May be called from any thread: it is handled on
  // the user-interface thread while the caller waits.
  virtual intptr_t SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) = 0;

  virtual bool HasSystemMenu() = 0;
  virtual void AppendSystemMenuSeparator() = 0;
  virtual void AppendSystemMenuItem(unsigned commandId, const std::string& text) = 0;
  virtual void SetIcon(bool big, Icon icon) = 0;

  // Painting while minimised (the only painting the tool does itself):
  // PaintIcon begins painting, erases the icon's background, draws the icon
  // at x, y of the client area and ends painting. DefaultPaint is the
  // dialog's own painting.
  virtual bool IsIconic() = 0;
  virtual void ClientSize(int& width, int& height) = 0;
  virtual void PaintIcon(int x, int y, Icon icon) = 0;
  virtual void DefaultPaint() = 0;
  // The default handling of a system command (move, close, ...).
  virtual void DefaultSysCommand(unsigned commandId, intptr_t lParam) = 0;

  // Ends the modal run with this result.
  virtual void End(int result) = 0;
};

// A common open or save dialog, as the tool asks for it.
struct FileDialogRequest {
  bool open = true;        // false: the save dialog
  std::string defaultExt;  // added by the dialog to a name typed without one
  std::string fileName;    // the name it starts with
  std::string folder;      // the folder it starts in; empty: the current one
  uint32_t flags = 0;      // OFN_ flags
  std::string filter;      // "Name|pattern|...||", as the tool writes it
  CDialog* owner = nullptr;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Creates the dialog's window from its template, owned by owner (may be
  // null), runs its initialisation and then a modal loop until End; returns
  // the result given to End. Calls dialog.Attach and dialog.Detach around it.
  virtual int RunModal(CDialog& dialog, CDialog* owner) = 0;

  // A modal message box: one OK button, the exclamation icon, caption as
  // given, owned by owner (may be null). May be called from any thread.
  virtual void ShowMessage(CDialog* owner, const std::string& text, const std::string& caption) = 0;
  // A modal question with Yes and No buttons and the question icon, owned by
  // owner; true for Yes. On the user-interface thread only.
  virtual bool AskYesNo(CDialog* owner, const std::string& text, const std::string& caption) = 0;

  virtual Icon LoadAppIcon(int resourceId) = 0;
  virtual void SystemIconSize(int& cx, int& cy) = 0;  // SM_CXICON, SM_CYICON

  // Runs task on the user-interface thread and returns when it has run.
  virtual void RunOnUiThread(const std::function<void()>& task) = 0;

  // Shows the file dialog modally; true with the chosen path when the user
  // chose one (IDOK), false when the dialog was cancelled.
  virtual bool FileDialog(const FileDialogRequest& request, std::string& path) = 0;

  // On the user-interface thread: goes on handling what other threads send
  // it (progress, text handed over) until done() holds. For waiting on a
  // worker that may itself be waiting on this thread.
  virtual void PumpUntil(const std::function<bool()>& done) = 0;
};

// The backend in use. The program installs one before it creates a window.
Backend& CurrentBackend();
void UseBackend(Backend* backend);

}  // namespace ui
