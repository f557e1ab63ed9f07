// A small dialog framework in the shape of the one the tool was designed on:
// an application object, modal dialogs built from templates, the data
// exchange between a dialog's members and its controls, a progress bar
// object, message boxes and worker threads. It runs on whichever backend
// (backend.h) the program installed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/dialog_template.h"

class CDialog;
class CDataExchange;

// Command ids and notification codes with their Win32 values; where the
// Windows headers came first, theirs stand.
#ifndef IDOK
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif
#ifndef BN_CLICKED
constexpr unsigned BN_CLICKED = 0;
constexpr unsigned CBN_DROPDOWN = 7;
#endif
#ifndef SC_CLOSE
constexpr unsigned SC_CLOSE = 0xF060;
#endif
#ifndef OFN_OVERWRITEPROMPT
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x2;
#endif

// ---------------------------------------------------------------------------
// Message maps: which handler an event goes to, in the order given.

enum class Message { kCommand, kSysCommand, kPaint, kQueryDragIcon };

struct MessageMapEntry {
  Message message;
  unsigned code;                         // notification code of a kCommand entry
  int id;                                // control id of a kCommand entry
  void (CDialog::*handler)() = nullptr;  // kCommand, kPaint
  void (CDialog::*sysCommand)(unsigned, intptr_t) = nullptr;  // kSysCommand
  ui::Icon (CDialog::*queryIcon)() = nullptr;                 // kQueryDragIcon
};

template <class D>
constexpr MessageMapEntry OnCommandEntry(unsigned code, int id, void (D::*handler)()) {
  return {Message::kCommand, code, id, static_cast<void (CDialog::*)()>(handler)};
}
template <class D>
constexpr MessageMapEntry OnSysCommandEntry(void (D::*handler)(unsigned, intptr_t)) {
  return {Message::kSysCommand, 0, 0, nullptr,
          static_cast<void (CDialog::*)(unsigned, intptr_t)>(handler)};
}
template <class D>
constexpr MessageMapEntry OnPaintEntry(void (D::*handler)()) {
  return {Message::kPaint, 0, 0, static_cast<void (CDialog::*)()>(handler)};
}
template <class D>
constexpr MessageMapEntry OnQueryDragIconEntry(ui::Icon (D::*handler)()) {
  return {Message::kQueryDragIcon,
          0,
          0,
          nullptr,
          nullptr,
          static_cast<ui::Icon (CDialog::*)()>(handler)};
}

// ---------------------------------------------------------------------------

// A progress bar control, attached to its window by the first data exchange.
// Every operation may be called from a worker thread: the message is handled
// on the user-interface thread while the caller waits.
class CProgressCtrl {
 public:
  void Attach(ui::Window* window, int id);
  void Detach();
  bool IsAttached() const { return window_.load() != nullptr; }

  intptr_t SetRange(int lower, int upper);  // both ends 0..65535
  int SetStep(int step);
  int SetPos(int position);
  int StepIt();
  int GetPos();

 private:
  intptr_t Send(unsigned message, uintptr_t wParam, intptr_t lParam);
  // A worker reads it while the window may be closing.
  std::atomic<ui::Window*> window_{nullptr};
  int id_ = 0;
};

// One run of a dialog's data exchange, in one direction. A failed parse or
// check stops the run: later transfers do nothing.
class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

  const bool m_bSaveAndValidate;
  CDialog* const m_pDlgWnd;

  // The control the next check applies to; an edit's text is selected on failure.
  void PrepareCtrl(int id);
  void PrepareEditCtrl(int id);
  // The failure step: message, focus (and selection), stop.
  void Fail(const std::string& message);
  bool Failed() const { return failed_; }
  int LastControl() const { return lastControl_; }

 private:
  int lastControl_ = 0;
  bool lastIsEdit_ = false;
  bool failed_ = false;
};

void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, uint32_t& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_CBString(CDataExchange* pDX, int id, std::string& value);
void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minValue, uint32_t maxValue);
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars);

namespace ui {
// The unsigned field syntax of the exchange; false when the text is no such
// number (value is then unchanged).
bool ParseUnsignedField(const std::string& text, uint32_t& value);
// What the exchange says of text typed into a number field whose range is
// minValue..maxValue (DDX_Text, then DDV_MinMaxUInt), or "" when it takes
// it: a value can be checked before it is typed.
std::string NumberFieldRefusal(const std::string& text, uint32_t minValue, uint32_t maxValue);
}  // namespace ui

// ---------------------------------------------------------------------------

class CDialog {
 public:
  explicit CDialog(const ui::DialogTemplate& dialogTemplate);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally, owned by the main window unless it is the main
  // window; returns the result given to EndDialog.
  int DoModal();
  void EndDialog(int result);

  virtual bool OnInitDialog();  // the first load; true: the framework sets the focus
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void OnOK();      // save; on success close with IDOK
  virtual void OnCancel();  // close with IDCANCEL
  // The window is about to go: its controls still work and the backend still
  // handles what other threads send, so a dialog can wind up its workers.
  virtual void OnDestroy() {}
  // The user's session is ending (logging out, shutting down). True lets it
  // end. With mayAsk false the session cannot wait for an answer: whatever
  // must be kept is kept before this returns, and it ends regardless.
  virtual bool OnQueryEndSession(bool mayAsk) {
    (void)mayAsk;
    return true;
  }
  bool UpdateData(bool saveAndValidate = true);

  std::string GetDlgItemText(int id);
  void SetDlgItemText(int id, const std::string& text);
  void ShowControl(int id, bool show);
  // The failure step of the exchange for one control: message box, focus, and
  // for an edit its whole text selected.
  void ReportFieldError(int id, const std::string& message, bool selectText);

  const ui::DialogTemplate& Template() const { return template_; }
  ui::Window* GetWindow() const { return window_; }

  // Event entry points for the backends.
  bool OnCommand(int id, unsigned code);
  void OnSysCommandMessage(unsigned commandId, intptr_t lParam);
  void OnPaintMessage();
  ui::Icon OnQueryDragIconMessage();

  // Called by the backend around the window's life.
  void Attach(ui::Window* window);
  void Detach();
  // Called by DDX_Control: the control is released with the window.
  void RegisterControl(CProgressCtrl* control);

 protected:
  virtual std::span<const MessageMapEntry> GetMessageMap() const { return {}; }

 private:
  const ui::DialogTemplate& template_;
  ui::Window* window_ = nullptr;
  std::vector<CProgressCtrl*> attachedControls_;
};

// The common open or save dialog.
class CFileDialog {
 public:
  CFileDialog(bool openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
              uint32_t flags = 0, const char* filter = nullptr, CDialog* parent = nullptr);
  int DoModal();  // IDOK with a path chosen, else IDCANCEL
  const std::string& GetPathName() const { return path_; }
  // The folder the dialog opens in, before DoModal.
  void SetFolder(const std::string& folder) { request_.folder = folder; }

 private:
  ui::FileDialogRequest request_;
  std::string path_;
};

// The application object: exactly one per program.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  // False ends the program.
  virtual bool InitInstance() { return false; }
};
CWinApp* AfxGetApp();

// The framework's main routine: runs the application object's instance start.
int AfxWinMain();

// A modal message box owned by the main window, captioned with the program's
// name. May be called from any thread.
void AfxMessageBox(const std::string& text);
// The same box as a question with Yes and No; true for Yes. On the
// user-interface thread.
bool AfxAskYesNo(const std::string& text);

namespace ui {

// The window that owns message boxes and the dialogs it starts.
void SetMainWindow(CDialog* dialog);
CDialog* MainWindow();

enum class ThreadPriority { kNormal, kHighest };

// A worker thread; joined when it is destroyed.
class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(WorkerThread&&) = default;
  WorkerThread& operator=(WorkerThread&& other);
  ~WorkerThread() { Join(); }
  bool Running() const { return thread_.joinable(); }
  // True once the thread procedure has returned (or none was started).
  bool Finished() const { return !finished_ || finished_->load(); }
  void Join();

 private:
  friend WorkerThread BeginThread(int (*)(void*), void*, ThreadPriority);
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> finished_;
};

// Starts proc(param) on a new thread, which first takes the given priority.
// What proc returns is the thread's exit code, which nothing reads.
WorkerThread BeginThread(int (*proc)(void*), void* param, ThreadPriority priority);

}  // namespace ui
