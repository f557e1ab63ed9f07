#include "platform/ui/scripted/scripted_backend.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace ui {

namespace {

int CompareNoCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

bool IsPush(ControlKind kind) {
  return kind == ControlKind::kPush || kind == ControlKind::kDefaultPush;
}

bool TakesTab(ControlKind kind) {
  return IsPush(kind) || kind == ControlKind::kCheck || kind == ControlKind::kEdit ||
         kind == ControlKind::kCombo;
}

bool HasEditText(ControlKind kind) {
  return kind == ControlKind::kEdit || kind == ControlKind::kCombo;
}

}  // namespace

// --- ScriptedWindow ----------------------------------------------------------

ScriptedWindow::ScriptedWindow(ScriptedBackend& backend, CDialog& dialog)
    : backend_(backend), dialog_(dialog) {
  for (const ControlTemplate& t : dialog.Template().controls) {
    Control c;
    c.id = t.id;
    c.kind = t.kind;
    c.text = t.text != nullptr ? t.text : "";
    c.visible = (t.flags & kHidden) == 0;
    // Controls whose template text is not a text of theirs.
    if (t.kind == ControlKind::kProgress || t.kind == ControlKind::kIcon) c.text.clear();
    controls_.push_back(std::move(c));
  }
  if (HasSystemMenu()) {
    sysMenu_ = {{0xF010, "&Move"}, {SC_CLOSE, "&Close\tAlt+F4"}};
  }
}

ScriptedWindow::Control* ScriptedWindow::Find(int id) {
  for (Control& c : controls_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const ScriptedWindow::Control* ScriptedWindow::Find(int id) const {
  return const_cast<ScriptedWindow*>(this)->Find(id);
}

std::string ScriptedWindow::Text(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->text : std::string();
}

std::vector<std::string> ScriptedWindow::Texts() const {
  std::vector<std::string> texts;
  for (const Control& c : controls_) texts.push_back(c.text);
  return texts;
}

int ScriptedWindow::Check(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->check : 0;
}

bool ScriptedWindow::Visible(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->visible;
}

std::pair<int, int> ScriptedWindow::Selection(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? std::make_pair(c->selStart, c->selEnd) : std::make_pair(0, 0);
}

int ScriptedWindow::Limit(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->limit : 0;
}

std::vector<std::string> ScriptedWindow::Items(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->items : std::vector<std::string>();
}

std::vector<std::string> ScriptedWindow::ItemDescriptions(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->descriptions : std::vector<std::string>();
}

int ScriptedWindow::CurrentSelection(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->current : -1;
}

ProgressState ScriptedWindow::Progress(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->progress : ProgressState{};
}

bool ScriptedWindow::Type(int id, const std::string& text) {
  Control* c = Find(id);
  if (c == nullptr || !c->visible || !HasEditText(c->kind)) return false;
  focus_ = id;
  c->text = text.substr(0, static_cast<size_t>(std::max(c->limit, 0)));
  c->selStart = c->selEnd = static_cast<int>(c->text.size());  // the caret after the text
  return true;
}

bool ScriptedWindow::Click(int id) {
  Control* c = Find(id);
  if (c == nullptr || !c->visible || ended_) return false;
  if (!IsPush(c->kind) && c->kind != ControlKind::kCheck) return false;
  focus_ = id;
  if (c->kind == ControlKind::kCheck) c->check = c->check == 1 ? 0 : 1;
  dialog_.OnCommand(id, BN_CLICKED);
  return true;
}

bool ScriptedWindow::DropDown(int id) {
  Control* c = Find(id);
  if (c == nullptr || !c->visible || c->kind != ControlKind::kCombo) return false;
  focus_ = id;
  dialog_.OnCommand(id, CBN_DROPDOWN);
  return true;
}

bool ScriptedWindow::Pick(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || !c->visible || c->kind != ControlKind::kCombo) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  c->current = index;
  c->text = c->items[static_cast<size_t>(index)];
  return true;
}

void ScriptedWindow::PressEnter() {
  const Control* focused = Find(focus_);
  if (focused != nullptr && IsPush(focused->kind)) {
    Click(focus_);
    return;
  }
  for (const Control& c : controls_) {
    if (c.kind == ControlKind::kDefaultPush && c.visible) {
      Click(c.id);
      return;
    }
  }
  dialog_.OnCommand(IDOK, BN_CLICKED);
}

void ScriptedWindow::PressEscape() {
  dialog_.OnCommand(IDCANCEL, BN_CLICKED);
}

void ScriptedWindow::CloseBox() {
  SystemCommand(SC_CLOSE);
}

void ScriptedWindow::SystemCommand(unsigned commandId) {
  dialog_.OnSysCommandMessage(commandId, 0);
}

void ScriptedWindow::PaintNow() {
  dialog_.OnPaintMessage();
}

Icon ScriptedWindow::QueryDragIcon() {
  return dialog_.OnQueryDragIconMessage();
}

std::string ScriptedWindow::GetText(int id) {
  return Text(id);
}

void ScriptedWindow::SetText(int id, const std::string& text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->text = text;  // the text limit binds the user only
  c->selStart = c->selEnd = 0;
}

int ScriptedWindow::GetCheck(int id) {
  return Check(id);
}

void ScriptedWindow::SetCheck(int id, int state) {
  Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::kCheck) return;
  // A two-state box has no third state to show.
  c->check = state == 0 ? 0 : 1;
}

void ScriptedWindow::Show(int id, bool show) {
  Control* c = Find(id);
  if (c != nullptr) c->visible = show;
}

bool ScriptedWindow::IsVisible(int id) {
  return Visible(id);
}

void ScriptedWindow::SetFocus(int id) {
  if (Find(id) != nullptr) focus_ = id;
}

void ScriptedWindow::SelectAllText(int id) {
  Control* c = Find(id);
  if (c == nullptr || !HasEditText(c->kind)) return;
  c->selStart = 0;
  c->selEnd = static_cast<int>(c->text.size());
}

void ScriptedWindow::LimitText(int id, int limit) {
  Control* c = Find(id);
  if (c == nullptr || !HasEditText(c->kind)) return;
  c->limit = limit == 0 ? 0x7FFFFFFE : limit;
}

int ScriptedWindow::ComboCount(int id) {
  const Control* c = Find(id);
  return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

void ScriptedWindow::ComboDelete(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return;
  c->items.erase(c->items.begin() + index);
  c->descriptions.erase(c->descriptions.begin() + index);
  if (c->current == index) {
    c->current = -1;
  } else if (c->current > index) {
    --c->current;
  }
}

int ScriptedWindow::ComboAdd(int id, const std::string& text) {
  return ComboAddDescribed(id, text, "");
}

int ScriptedWindow::ComboAddDescribed(int id, const std::string& text,
                                      const std::string& description) {
  Control* c = Find(id);
  if (c == nullptr) return -1;
  // The sorted list ignores case and puts a new item before those that
  // compare equal to it.
  auto at = std::lower_bound(
      c->items.begin(), c->items.end(), text,
      [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
  const int index = static_cast<int>(at - c->items.begin());
  c->items.insert(at, text);
  c->descriptions.insert(c->descriptions.begin() + index, description);
  if (c->current >= index) ++c->current;
  return index;
}

int ScriptedWindow::ComboSelectString(int id, const std::string& prefix) {
  Control* c = Find(id);
  // The native combo answers an empty text with CB_ERR: it selects nothing.
  if (c == nullptr || prefix.empty()) return -1;
  for (size_t i = 0; i < c->items.size(); ++i) {
    if (StartsWithNoCase(c->items[i], prefix)) {
      c->current = static_cast<int>(i);
      c->text = c->items[i];
      return c->current;
    }
  }
  return -1;
}

intptr_t ScriptedWindow::SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) {
  struct Call {
    ScriptedWindow* window;
    int id;
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
    intptr_t result;
  } call{this, id, message, wParam, lParam, 0};
  // One pointer captured: the task fits in the function object itself, so a
  // download's thousands of steps allocate nothing.
  Call* c = &call;
  backend_.RunOnUiThread([c] {
    Control* control = c->window->Find(c->id);
    if (control != nullptr && control->kind == ControlKind::kProgress) {
      c->result = ApplyProgressMessage(control->progress, c->message, c->wParam, c->lParam);
      c->window->backend_.NotifyProgress(c->id, control->progress);
    }
  });
  return call.result;
}

bool ScriptedWindow::HasSystemMenu() {
  return (dialog_.Template().style & kStyleSysMenu) != 0;
}

void ScriptedWindow::AppendSystemMenuSeparator() {
  sysMenu_.emplace_back(0, "");
}

void ScriptedWindow::AppendSystemMenuItem(unsigned commandId, const std::string& text) {
  sysMenu_.emplace_back(commandId, text);
}

void ScriptedWindow::SetIcon(bool big, Icon icon) {
  (big ? bigIcon_ : smallIcon_) = icon;
}

void ScriptedWindow::ClientSize(int& width, int& height) {
  // MS Sans Serif 8 at 96 dpi: base units of 6 by 13 pixels.
  width = dialog_.Template().w * 6 / 4;
  height = dialog_.Template().h * 13 / 8;
}

void ScriptedWindow::PaintIcon(int x, int y, Icon icon) {
  paints_.push_back({x, y, icon});
}

void ScriptedWindow::DefaultSysCommand(unsigned commandId, intptr_t) {
  // Close becomes the Cancel command, as a dialog's WM_CLOSE does.
  if ((commandId & 0xFFF0) == SC_CLOSE) dialog_.OnCommand(IDCANCEL, BN_CLICKED);
}

void ScriptedWindow::End(int result) {
  ended_ = true;
  result_ = result;
}

void ScriptedWindow::FocusFirstTabStop() {
  for (const Control& c : controls_) {
    if (c.visible && TakesTab(c.kind)) {
      focus_ = c.id;
      return;
    }
  }
}

// --- ScriptedBackend -------------------------------------------------------

ScriptedBackend::ScriptedBackend() : uiThread_(std::this_thread::get_id()) {}

ScriptedBackend::~ScriptedBackend() = default;

std::vector<MessageRecord> ScriptedBackend::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<std::string> ScriptedBackend::MessageTexts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> texts;
  for (const MessageRecord& m : messages_) texts.push_back(m.text);
  return texts;
}

int ScriptedBackend::RunModal(CDialog& dialog, CDialog*) {
  ScriptedWindow window(*this, dialog);
  dialogsRun_.push_back(dialog.Template().id);
  dialog.Attach(&window);
  if (dialog.OnInitDialog()) window.FocusFirstTabStop();
  auto script = scripts_.find(dialog.Template().id);
  if (script != scripts_.end() && !window.Ended()) script->second(window);
  if (!window.Ended()) window.CloseBox();
  if (!window.Ended()) window.End(IDCANCEL);
  dialog.OnDestroy();
  Pump();  // nothing handed over may wait on a window that is gone
  dialog.Detach();
  return window.Result();
}

void ScriptedBackend::ShowMessage(CDialog* owner, const std::string& text,
                                  const std::string& caption) {
  MessageRecord record{text, caption, owner != nullptr ? owner->Template().id : 0};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(record);
  }
  if (onMessage_) onMessage_(record);
}

bool ScriptedBackend::AskYesNo(CDialog* owner, const std::string& text,
                               const std::string& caption) {
  const MessageRecord record{text, caption, owner != nullptr ? owner->Template().id : 0};
  questions_.push_back(text);
  return questionAnswer_ ? questionAnswer_(record) : true;
}

std::vector<std::string> ScriptedBackend::Questions() const {
  return questions_;
}

void ScriptedBackend::RunOnUiThread(const std::function<void()>& task) {
  if (std::this_thread::get_id() == uiThread_) {
    task();
    return;
  }
  Task t{&task};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(&t);
  }
  // Woken only once the lock is free, a thread does not wake just to wait
  // for it again: each trip of a worker to this thread costs two wake-ups,
  // not four.
  wake_.notify_all();
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [&] { return t.done; });
}

void ScriptedBackend::Pump() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!tasks_.empty()) {
    Task* t = tasks_.front();
    tasks_.erase(tasks_.begin());
    lock.unlock();
    (*t->run)();
    lock.lock();
    t->done = true;  // t may be gone as soon as the lock is let go
    lock.unlock();
    wake_.notify_all();
    lock.lock();
  }
}

bool ScriptedBackend::WaitUntil(const std::function<bool()>& done, int timeoutMs, int recheckMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Pump();
    if (done()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Woken by a task; the wait also rechecks done() now and then for
    // changes that come without one, seldom enough to cost no CPU to speak of.
    wake_.wait_for(lock, std::chrono::milliseconds(recheckMs), [&] { return !tasks_.empty(); });
  }
}

bool ScriptedBackend::FileDialog(const FileDialogRequest& request, std::string& path) {
  fileDialogs_.push_back(request);
  if (!fileAnswer_) return false;
  const std::optional<std::string> chosen = fileAnswer_(request);
  if (!chosen) return false;
  path = *chosen;
  return true;
}

void ScriptedBackend::PumpUntil(const std::function<bool()>& done) {
  // A long wait (a whole download): look at done() seldom, so the waiting
  // thread costs next to nothing; handed-over work still wakes it at once.
  while (!WaitUntil(done, 3600 * 1000, 250)) {
  }
}

}  // namespace ui
