// The Windows backend: real dialog windows built from the tool's templates in
// memory, real controls, message boxes and common file dialogs. The modal
// loops are the system's own (DialogBoxIndirectParam, MessageBox,
// GetSaveFileName), and a worker reaches this thread by SendMessage, which
// every one of those loops serves.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>

#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os/wide_win32.h"
#include "platform/ui/framework.h"
#include "platform/ui/native_backend.h"

namespace ui {

namespace {

constexpr UINT kRunTaskMessage = WM_APP + 1;
#ifndef ENDSESSION_CRITICAL
constexpr LPARAM ENDSESSION_CRITICAL = 0x40000000;  // the system ends the session regardless
#endif

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n - 1) : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  return wide;
}

// --- The in-memory dialog template (DLGTEMPLATE and DLGITEMTEMPLATE).

class TemplateWriter {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Text(const char* text) {
    for (wchar_t c : Wide(text)) Word(static_cast<WORD>(c));
    Word(0);
  }
  void AlignToDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  // The vector's storage is suitably aligned for the DWORDs in it.
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

struct ItemClass {
  WORD atom;              // a predefined class, or 0
  const char* className;  // else the class by name
  DWORD style;
};

ItemClass ClassOf(const ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::kPush:
      return {0x0080, nullptr, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::kDefaultPush:
      return {0x0080, nullptr, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP};
    case ControlKind::kCheck:
      return {0x0080, nullptr, BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::kEdit:
      return {0x0081, nullptr, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
    case ControlKind::kLabel:
      return {0x0082, nullptr,
              SS_LEFT | WS_GROUP | ((c.flags & kNoPrefix) != 0 ? SS_NOPREFIX : 0u)};
    case ControlKind::kCombo:
      // Drawn by the window, so that a note can stand beside each item.
      return {
          0x0085, nullptr,
          CBS_DROPDOWN | CBS_SORT | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::kProgress:
      return {0, PROGRESS_CLASSA, WS_BORDER};
    case ControlKind::kIcon:
      return {0x0082, nullptr, SS_ICON};
  }
  return {0x0082, nullptr, 0};
}

void BuildTemplate(const DialogTemplate& t, TemplateWriter& out) {
  out.Dword(t.style | DS_SETFONT);
  out.Dword(t.exStyle);
  out.Word(static_cast<WORD>(t.controls.size()));
  out.Word(0);  // x, y: the window is centred once initialised
  out.Word(0);
  out.Word(static_cast<WORD>(t.w));
  out.Word(static_cast<WORD>(t.h));
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.Text(t.caption);
  out.Word(static_cast<WORD>(t.pointSize));
  out.Text(t.font);
  for (const ControlTemplate& c : t.controls) {
    out.AlignToDword();
    const ItemClass cls = ClassOf(c);
    DWORD style = WS_CHILD | cls.style;
    if ((c.flags & kHidden) == 0) style |= WS_VISIBLE;
    out.Dword(style);
    out.Dword(0);
    out.Word(static_cast<WORD>(c.x));
    out.Word(static_cast<WORD>(c.y));
    out.Word(static_cast<WORD>(c.w));
    out.Word(static_cast<WORD>(c.h));
    out.Word(static_cast<WORD>(c.id));  // -1 becomes 0xFFFF, as resource compilers write it
    if (cls.atom != 0) {
      out.Word(0xFFFF);
      out.Word(cls.atom);
    } else {
      out.Text(cls.className);
    }
    if (c.kind == ControlKind::kIcon) {
      out.Word(0xFFFF);  // the icon by its resource number
      out.Word(static_cast<WORD>(std::stoi(c.text)));
    } else {
      out.Text(c.text);
    }
    out.Word(0);  // no creation data
  }
}

class Win32Backend;

class Win32Window final : public Window {
 public:
  explicit Win32Window(CDialog& dialog) : dialog_(dialog) {}

  CDialog& Dialog() { return dialog_; }
  HWND Handle() const { return hwnd_; }
  void SetHandle(HWND hwnd) { hwnd_ = hwnd; }
  // True once DefaultPaint asked for the dialog's own painting.
  bool TakeDefaultPaintRequest() {
    const bool asked = defaultPaint_;
    defaultPaint_ = false;
    return asked;
  }

  std::string GetText(int id) override {
    HWND item = Item(id);
    const int n = GetWindowTextLengthA(item);
    std::string text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    const int got = GetWindowTextA(item, text.data(), static_cast<int>(text.size()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
  }
  void SetText(int id, const std::string& text) override { SetWindowTextA(Item(id), text.c_str()); }
  int GetCheck(int id) override { return static_cast<int>(IsDlgButtonChecked(hwnd_, id)); }
  void SetCheck(int id, int state) override { CheckDlgButton(hwnd_, id, static_cast<UINT>(state)); }
  void Show(int id, bool show) override { ShowWindow(Item(id), show ? SW_SHOWNORMAL : SW_HIDE); }
  bool IsVisible(int id) override {
    // The control's own flag: during initialisation the dialog itself is not
    // visible yet, which IsWindowVisible would report for every control.
    return (GetWindowLongA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0;
  }
  void SetFocus(int id) override {
    // The dialog's way, so that the default button follows the focus.
    SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
  }
  void SelectAllText(int id) override {
    if (IsEdit(id)) SendMessageA(Item(id), EM_SETSEL, 0, -1);
  }
  void LimitText(int id, int limit) override {
    if (IsEdit(id)) SendMessageA(Item(id), EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
  }
  int ComboCount(int id) override {
    return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0));
  }
  void ComboDelete(int id, int index) override {
    SendMessageA(Item(id), CB_DELETESTRING, static_cast<WPARAM>(index), 0);
    if (ComboCount(id) > 0) return;
    notes_.erase(notes_.lower_bound({id, ""}), notes_.lower_bound({id + 1, ""}));
    SendMessageA(Item(id), CB_SETDROPPEDWIDTH, 0, 0);
  }
  int ComboAddDescribed(int id, const std::string& text, const std::string& description) override {
    const int index = ComboAdd(id, text);
    if (index < 0 || description.empty()) return index;
    notes_[{id, text}] = description;
    // The list, not the field, widens to show each item whole.
    const HWND combo = Item(id);
    const int width = ItemWidth(combo, ListedText(text, description)) +
                      GetSystemMetrics(SM_CXVSCROLL) + 4 * GetSystemMetrics(SM_CXEDGE);
    if (width > SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0)) {
      SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
    }
    return index;
  }
  // An item of the open list: its text, then its note.
  void DrawComboItem(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1)) return;  // the list is empty
    std::string text(
        static_cast<size_t>(SendMessageA(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0)) + 1,
        '\0');
    const LRESULT got = SendMessageA(item.hwndItem, CB_GETLBTEXT, item.itemID,
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    const auto note = notes_.find({static_cast<int>(item.CtlID), text});
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    const HGDIOBJ oldFont = SelectObject(
        item.hDC, reinterpret_cast<HGDIOBJ>(SendMessageA(item.hwndItem, WM_GETFONT, 0, 0)));
    RECT r = item.rcItem;
    r.left += GetSystemMetrics(SM_CXEDGE);
    const std::wstring shown =
        ListedText(text, note == notes_.end() ? std::string() : note->second);
    DrawTextW(item.hDC, shown.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(item.hDC, oldFont);
    if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(item.hDC, &item.rcItem);
  }
  int ComboAdd(int id, const std::string& text) override {
    return static_cast<int>(
        SendMessageA(Item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  }
  int ComboSelectString(int id, const std::string& prefix) override {
    return static_cast<int>(SendMessageA(Item(id), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(prefix.c_str())));
  }
  intptr_t SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) override {
    // From a worker this waits while the user-interface thread handles it.
    return SendMessageA(Item(id), message, wParam, lParam);
  }
  bool HasSystemMenu() override { return GetSystemMenu(hwnd_, FALSE) != nullptr; }
  void AppendSystemMenuSeparator() override {
    AppendMenuA(GetSystemMenu(hwnd_, FALSE), MF_SEPARATOR, 0, nullptr);
  }
  void AppendSystemMenuItem(unsigned commandId, const std::string& text) override {
    AppendMenuA(GetSystemMenu(hwnd_, FALSE), MF_STRING, commandId, text.c_str());
  }
  void SetIcon(bool big, Icon icon) override {
    SendMessageA(hwnd_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, static_cast<LPARAM>(icon));
  }
  bool IsIconic() override { return ::IsIconic(hwnd_) != FALSE; }
  void ClientSize(int& width, int& height) override {
    RECT r{};
    GetClientRect(hwnd_, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
  }
  void PaintIcon(int x, int y, Icon icon) override {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    DrawIcon(dc, x, y, reinterpret_cast<HICON>(icon));
    EndPaint(hwnd_, &ps);
  }
  void DefaultPaint() override { defaultPaint_ = true; }
  void DefaultSysCommand(unsigned commandId, intptr_t lParam) override {
    DefWindowProcA(hwnd_, WM_SYSCOMMAND, commandId, lParam);
  }
  void End(int result) override { EndDialog(hwnd_, result); }

 private:
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  bool IsEdit(int id) const {
    char name[16] = {};
    GetClassNameA(Item(id), name, sizeof name);
    return lstrcmpiA(name, "Edit") == 0;
  }

  // As the Qt list shows it: the name, two blanks, the note (UTF-8, as
  // the port list gives it).
  static std::wstring ListedText(const std::string& name, const std::string& note) {
    std::wstring text = Wide(name.c_str());
    if (note.empty()) return text;
    const int n = MultiByteToWideChar(CP_UTF8, 0, note.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 1 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, note.c_str(), -1, wide.data(), n);
    wide.pop_back();
    return text + L"  " + wide;
  }
  static int ItemWidth(HWND combo, const std::wstring& text) {
    const HDC dc = GetDC(combo);
    const HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(combo, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, oldFont);
    ReleaseDC(combo, dc);
    return size.cx;
  }

  CDialog& dialog_;
  HWND hwnd_ = nullptr;
  bool defaultPaint_ = false;
  std::map<std::pair<int, std::string>, std::string> notes_;  // (control, item) -> note
};

HWND HandleOf(CDialog* dialog) {
  if (dialog == nullptr || dialog->GetWindow() == nullptr) return nullptr;
  return static_cast<Win32Window*>(dialog->GetWindow())->Handle();
}

// Centred on its owner, or on the work area when it has none, as long as
// the initialisation did not move it.
void Centre(HWND hwnd) {
  RECT area{};
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  int x = area.left + (area.right - area.left - w) / 2;
  int y = area.top + (area.bottom - area.top - h) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A line of the dialog's font, for the drawn combo box's list. Asked as the
// control is made, before the dialog's own data is there.
bool MeasureComboItem(HWND hwnd, MEASUREITEMSTRUCT& item) {
  // The field keeps the height the combo box gives it.
  if (item.CtlType != ODT_COMBOBOX || item.itemID == static_cast<UINT>(-1)) return false;
  const HDC dc = GetDC(hwnd);
  const HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, oldFont);
  ReleaseDC(hwnd, dc);
  item.itemHeight = static_cast<UINT>(metrics.tmHeight);
  return true;
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MEASUREITEM) {
    return MeasureComboItem(hwnd, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
  }
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    window->SetHandle(hwnd);
    window->Dialog().Attach(window);
    RECT before{};
    GetWindowRect(hwnd, &before);
    const bool setFocus = window->Dialog().OnInitDialog();
    RECT after{};
    GetWindowRect(hwnd, &after);
    if (before.left == after.left && before.top == after.top) Centre(hwnd);
    return setFocus ? TRUE : FALSE;
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (window == nullptr) return FALSE;
  CDialog& dialog = window->Dialog();
  switch (message) {
    case WM_COMMAND:
      return dialog.OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
      dialog.OnSysCommandMessage(static_cast<unsigned>(wParam), lParam);
      return TRUE;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType != ODT_COMBOBOX) return FALSE;
      window->DrawComboItem(item);
      return TRUE;
    }
    case WM_PAINT:
      dialog.OnPaintMessage();
      // FALSE leaves the painting to the dialog's own window procedure.
      return window->TakeDefaultPaintRequest() ? FALSE : TRUE;
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(dialog.OnQueryDragIconMessage());
    case WM_QUERYENDSESSION: {
      // A critical end does not wait for the user: the window keeps what it
      // must without a question.
      const bool end = dialog.OnQueryEndSession((lParam & ENDSESSION_CRITICAL) == 0);
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, end ? TRUE : FALSE);
      return TRUE;
    }
    case WM_ENDSESSION:
      // The session ends now, whoever asked: once this returns the process
      // may be gone.
      if (wParam) dialog.OnQueryEndSession(false);
      return FALSE;
    case WM_DESTROY:
      dialog.OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

LRESULT CALLBACK TaskWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTaskMessage) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// "Name|pattern|...||" as the tool writes filters, NUL-separated as the
// common dialogs read them.
std::string NativeFilter(const std::string& filter) {
  std::string native = filter;
  for (char& c : native) {
    if (c == '|') c = '\0';
  }
  native.push_back('\0');
  return native;
}

class Win32Backend final : public Backend {
 public:
  Win32Backend() : uiThread_(std::this_thread::get_id()), instance_(GetModuleHandleA(nullptr)) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSA cls{};
    cls.lpfnWndProc = TaskWindowProc;
    cls.hInstance = instance_;
    cls.lpszClassName = "kw9.tasks";
    RegisterClassA(&cls);
    // A message-only window of this thread: workers send their tasks to it.
    taskWindow_ = CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance_, nullptr);
  }

  int RunModal(CDialog& dialog, CDialog* owner) override {
    TemplateWriter memory;
    BuildTemplate(dialog.Template(), memory);
    Win32Window window(dialog);
    const INT_PTR result = DialogBoxIndirectParamA(instance_, memory.Get(), HandleOf(owner),
                                                   DialogProc, reinterpret_cast<LPARAM>(&window));
    dialog.Detach();
    return result == -1 ? IDCANCEL : static_cast<int>(result);
  }

  void ShowMessage(CDialog* owner, const std::string& text, const std::string& caption) override {
    MessageBoxA(HandleOf(owner), text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }

  bool AskYesNo(CDialog* owner, const std::string& text, const std::string& caption) override {
    return MessageBoxA(HandleOf(owner), text.c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
  }

  Icon LoadAppIcon(int resourceId) override {
    return reinterpret_cast<Icon>(LoadIconA(instance_, MAKEINTRESOURCEA(resourceId)));
  }

  void SystemIconSize(int& cx, int& cy) override {
    cx = GetSystemMetrics(SM_CXICON);
    cy = GetSystemMetrics(SM_CYICON);
  }

  void RunOnUiThread(const std::function<void()>& task) override {
    if (std::this_thread::get_id() == uiThread_) {
      task();
      return;
    }
    SendMessageA(taskWindow_, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(&task));
  }

  bool FileDialog(const FileDialogRequest& request, std::string& path) override {
    const std::string filter = NativeFilter(request.filter);
    // The tool names its extension with the dot; the dialog wants it without.
    std::string extension = request.defaultExt;
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    // Wide, so that the name chosen reaches the tool as typed, in UTF-8.
    const std::wstring wideFilter = platform::Widen(filter);
    const std::wstring wideExtension = platform::Widen(extension);
    std::vector<wchar_t> file(32768, L'\0');
    platform::Widen(request.fileName).copy(file.data(), file.size() - 1);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = HandleOf(request.owner != nullptr ? request.owner : MainWindow());
    ofn.lpstrFilter = request.filter.empty() ? nullptr : wideFilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = extension.empty() ? nullptr : wideExtension.c_str();
    const std::wstring wideFolder = platform::Widen(request.folder);
    ofn.lpstrInitialDir = request.folder.empty() ? nullptr : wideFolder.c_str();
    ofn.Flags = request.flags | OFN_EXPLORER;
    const BOOL chosen = request.open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
    if (!chosen) return false;
    path = platform::Narrow(file.data(), wcslen(file.data()));
    return true;
  }

  void PumpUntil(const std::function<bool()>& done) override {
    // Only what other threads send is served: input for a window that is
    // going away waits in the queue.
    while (!done()) {
      MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_SENDMESSAGE, 0);
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }

 private:
  std::thread::id uiThread_;
  HINSTANCE instance_;
  HWND taskWindow_ = nullptr;
};

}  // namespace

bool NativeDisplayFound() {
  // A Windows program always runs on a desktop of its session.
  return true;
}

Backend& NativeBackend() {
  static Win32Backend backend;
  return backend;
}

void EndNativeBackend() {
  // The system's windows need no taking down before exit.
}

}  // namespace ui
