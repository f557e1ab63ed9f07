// The scripted backend: windows that live in memory, for tests and for the
// command-line front end. Controls behave as the native Win32 ones do (sorted
// combo list with prefix selection, progress bar range, step and start-over,
// check states, focus and selection, text limits), so what a script sees is
// what a user would see.
//
// A script is a function run on the user-interface thread once a dialog of a
// given template has been initialised, standing in for the user: it types,
// clicks and waits. When it returns the dialog is closed as by its close box,
// unless the script ended it. Dialogs without a script close at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/framework.h"
#include "platform/ui/progress_state.h"

namespace ui {

class ScriptedBackend;

class ScriptedWindow final : public Window {
 public:
  ScriptedWindow(ScriptedBackend& backend, CDialog& dialog);

  // --- What the user sees.
  CDialog& Dialog() { return dialog_; }
  bool Exists(int id) const { return Find(id) != nullptr; }
  std::string Text(int id) const;
  std::vector<std::string> Texts() const;  // every control's, in tab order (labels of id -1 too)
  int Check(int id) const;
  bool Visible(int id) const;
  int Focus() const { return focus_; }
  std::pair<int, int> Selection(int id) const;  // start, end of the selected text
  int Limit(int id) const;
  std::vector<std::string> Items(int id) const;
  std::vector<std::string> ItemDescriptions(int id) const;  // in the order of Items
  int CurrentSelection(int id) const;                       // -1: none
  ProgressState Progress(int id) const;
  const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return sysMenu_; }
  Icon BigIcon() const { return bigIcon_; }
  Icon SmallIcon() const { return smallIcon_; }
  struct Paint {
    int x, y;
    Icon icon;
  };
  const std::vector<Paint>& Paints() const { return paints_; }
  bool Ended() const { return ended_; }
  int Result() const { return result_; }

  // --- What the user does. Each returns false when the control cannot take
  // it (no such control, hidden, or of the wrong kind).
  bool Type(int id, const std::string& text);  // replaces the text, within the limit
  bool Click(int id);                          // focus, toggle a check box, BN_CLICKED
  bool DropDown(int id);                       // CBN_DROPDOWN
  bool Pick(int id, int index);                // choose a list item
  void PressEnter();
  void PressEscape();
  void CloseBox();  // the caption's close box
  void SystemCommand(unsigned commandId);
  void SetIconic(bool iconic) { iconic_ = iconic; }
  void PaintNow();
  Icon QueryDragIcon();

  // --- Window.
  std::string GetText(int id) override;
  void SetText(int id, const std::string& text) override;
  int GetCheck(int id) override;
  void SetCheck(int id, int state) override;
  void Show(int id, bool show) override;
  bool IsVisible(int id) override;
  void SetFocus(int id) override;
  void SelectAllText(int id) override;
  void LimitText(int id, int limit) override;
  int ComboCount(int id) override;
  void ComboDelete(int id, int index) override;
  int ComboAdd(int id, const std::string& text) override;
  int ComboAddDescribed(int id, const std::string& text, const std::string& description) override;
  int ComboSelectString(int id, const std::string& prefix) override;
  intptr_t SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) override;
  bool HasSystemMenu() override;
  void AppendSystemMenuSeparator() override;
  void AppendSystemMenuItem(unsigned commandId, const std::string& text) override;
  void SetIcon(bool big, Icon icon) override;
  bool IsIconic() override { return iconic_; }
  void ClientSize(int& width, int& height) override;
  void PaintIcon(int x, int y, Icon icon) override;
  void DefaultPaint() override { ++defaultPaints_; }
  int DefaultPaints() const { return defaultPaints_; }
  void DefaultSysCommand(unsigned commandId, intptr_t lParam) override;
  void End(int result) override;

  void FocusFirstTabStop();

 private:
  struct Control {
    int id = 0;
    ControlKind kind = ControlKind::kLabel;
    std::string text;
    int check = 0;
    bool visible = true;
    int limit = 30000;
    int selStart = 0, selEnd = 0;
    std::vector<std::string> items;
    std::vector<std::string> descriptions;  // one per item
    int current = -1;
    ProgressState progress;
  };
  Control* Find(int id);
  const Control* Find(int id) const;

  ScriptedBackend& backend_;
  CDialog& dialog_;
  std::vector<Control> controls_;  // template order
  int focus_ = 0;
  std::vector<std::pair<unsigned, std::string>> sysMenu_;
  Icon bigIcon_ = 0, smallIcon_ = 0;
  bool iconic_ = false;
  std::vector<Paint> paints_;
  int defaultPaints_ = 0;
  bool ended_ = false;
  int result_ = 0;
};

struct MessageRecord {
  std::string text;
  std::string caption;
  int ownerTemplate;  // 0: no owner
};

class ScriptedBackend final : public Backend {
 public:
  using Script = std::function<void(ScriptedWindow&)>;

  ScriptedBackend();  // the constructing thread is the user-interface thread
  ~ScriptedBackend() override;

  void SetScript(int templateId, Script script) { scripts_[templateId] = std::move(script); }
  // Called with each message box as it is shown, on the thread that showed it.
  void OnMessage(std::function<void(const MessageRecord&)> hook) { onMessage_ = std::move(hook); }
  // Answers the Yes/No questions, on the user-interface thread: true is Yes.
  // Without an answer every question is answered Yes, as by a user who meant
  // what they pressed.
  void AnswerQuestions(std::function<bool(const MessageRecord&)> answer) {
    questionAnswer_ = std::move(answer);
  }
  // The questions asked so far, in order; they are no message boxes.
  std::vector<std::string> Questions() const;
  // Answers the file dialogs, on the user-interface thread: a path chooses
  // it (as typed into the dialog and confirmed), nullopt cancels. Without an
  // answer every file dialog is cancelled.
  using FileAnswer = std::function<std::optional<std::string>(const FileDialogRequest&)>;
  void AnswerFileDialogs(FileAnswer answer) { fileAnswer_ = std::move(answer); }
  const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }
  // Called on the user-interface thread after each progress bar message.
  void OnProgress(std::function<void(int id, const ProgressState&)> hook) {
    onProgress_ = std::move(hook);
  }
  void NotifyProgress(int id, const ProgressState& state) const {
    if (onProgress_) onProgress_(id, state);
  }

  std::vector<MessageRecord> Messages() const;
  std::vector<std::string> MessageTexts() const;
  const std::vector<int>& DialogsRun() const { return dialogsRun_; }

  // The modal loop's work while a script waits: runs what other threads handed
  // to the user-interface thread.
  void Pump();
  // Pumps until done() holds or timeoutMs passed; false on the time-out.
  // done() is looked at again every recheckMs at least.
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000, int recheckMs = 20);

  // Backend.
  int RunModal(CDialog& dialog, CDialog* owner) override;
  void ShowMessage(CDialog* owner, const std::string& text, const std::string& caption) override;
  bool AskYesNo(CDialog* owner, const std::string& text, const std::string& caption) override;
  Icon LoadAppIcon(int resourceId) override { return resourceId; }
  void SystemIconSize(int& cx, int& cy) override { cx = cy = 32; }
  void RunOnUiThread(const std::function<void()>& task) override;
  bool FileDialog(const FileDialogRequest& request, std::string& path) override;
  void PumpUntil(const std::function<bool()>& done) override;

 private:
  struct Task {
    const std::function<void()>* run;
    bool done = false;
  };

  std::thread::id uiThread_;
  std::map<int, Script> scripts_;
  std::vector<int> dialogsRun_;
  std::function<void(const MessageRecord&)> onMessage_;
  std::function<bool(const MessageRecord&)> questionAnswer_;
  std::vector<std::string> questions_;  // the user-interface thread's only
  FileAnswer fileAnswer_;
  std::vector<FileDialogRequest> fileDialogs_;
  std::function<void(int, const ProgressState&)> onProgress_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  // Rarely more than one waits; a vector keeps its room, so handing work over
  // costs no allocation.
  std::vector<Task*> tasks_;
  std::vector<MessageRecord> messages_;
};

}  // namespace ui
