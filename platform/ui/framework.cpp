#include "platform/ui/framework.h"

#include <atomic>
#include <cstdio>

#include "platform/os/os.h"
#include "platform/ui/message_box.h"

namespace ui {

namespace {
Backend* backend = nullptr;
std::atomic<CDialog*> mainWindow{nullptr};
CWinApp* application = nullptr;
}  // namespace

Backend& CurrentBackend() {
  return *backend;
}

void UseBackend(Backend* next) {
  backend = next;
  // Messages from every layer (the link's too) become the backend's boxes.
  if (next != nullptr) {
    platform::SetMessageBoxHandler([](const std::string& text) { AfxMessageBox(text); });
  } else {
    platform::SetMessageBoxHandler({});
  }
}

void SetMainWindow(CDialog* dialog) {
  mainWindow = dialog;
}

CDialog* MainWindow() {
  return mainWindow;
}

bool ParseUnsignedField(const std::string& text, uint32_t& value) {
  const std::string head = text.substr(0, 31);
  size_t i = 0;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
  const size_t first = i;
  if (i < head.size() && head[i] == '-') return false;
  if (i < head.size() && head[i] == '+') ++i;
  uint64_t number = 0;
  for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) {
    number = number * 10 + static_cast<uint64_t>(head[i] - '0');
    if (number > UINT32_MAX) number = UINT32_MAX;  // saturates, and stays small
  }
  if (number == 0 && (first >= head.size() || head[first] != '0')) return false;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
  if (i != head.size()) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) {
  if (this != &other) {
    Join();
    thread_ = std::move(other.thread_);
    finished_ = std::move(other.finished_);
  }
  return *this;
}

void WorkerThread::Join() {
  if (!thread_.joinable()) return;
  // A worker that ends its own handle cannot wait for itself.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

WorkerThread BeginThread(int (*proc)(void*), void* param, ThreadPriority priority) {
  WorkerThread worker;
  auto finished = std::make_shared<std::atomic<bool>>(false);
  worker.finished_ = finished;
  worker.thread_ = std::thread([proc, param, priority, finished] {
    if (priority == ThreadPriority::kHighest) platform::RaiseThreadPriority();
    proc(param);
    finished->store(true);
  });
  return worker;
}

}  // namespace ui

// --- CProgressCtrl ---------------------------------------------------------

void CProgressCtrl::Attach(ui::Window* window, int id) {
  window_ = window;
  id_ = id;
}

void CProgressCtrl::Detach() {
  window_ = nullptr;
}

intptr_t CProgressCtrl::Send(unsigned message, uintptr_t wParam, intptr_t lParam) {
  ui::Window* window = window_.load();
  if (window == nullptr) return 0;
  return window->SendProgress(id_, message, wParam, lParam);
}

intptr_t CProgressCtrl::SetRange(int lower, int upper) {
  const uint32_t packed =
      (static_cast<uint32_t>(upper & 0xFFFF) << 16) | static_cast<uint32_t>(lower & 0xFFFF);
  return Send(ui::kPbmSetRange, 0, static_cast<intptr_t>(packed));
}

int CProgressCtrl::SetStep(int step) {
  return static_cast<int>(Send(ui::kPbmSetStep, static_cast<uintptr_t>(step), 0));
}

int CProgressCtrl::SetPos(int position) {
  return static_cast<int>(Send(ui::kPbmSetPos, static_cast<uintptr_t>(position), 0));
}

int CProgressCtrl::StepIt() {
  return static_cast<int>(Send(ui::kPbmStepIt, 0, 0));
}

int CProgressCtrl::GetPos() {
  return static_cast<int>(Send(ui::kPbmGetPos, 0, 0));
}

// --- Data exchange ---------------------------------------------------------

namespace {

const char kNotAPositiveInteger[] = "Please enter a positive integer.";

std::string OutOfRange(uint32_t minValue, uint32_t maxValue) {
  char message[80];
  std::snprintf(message, sizeof message, "Please enter an integer between %u and %u.",
                static_cast<unsigned>(minValue), static_cast<unsigned>(maxValue));
  return message;
}

}  // namespace

std::string ui::NumberFieldRefusal(const std::string& text, uint32_t minValue, uint32_t maxValue) {
  uint32_t value = 0;
  if (!ParseUnsignedField(text, value)) return kNotAPositiveInteger;
  return value < minValue || value > maxValue ? OutOfRange(minValue, maxValue) : "";
}

void CDataExchange::PrepareCtrl(int id) {
  lastControl_ = id;
  lastIsEdit_ = false;
}

void CDataExchange::PrepareEditCtrl(int id) {
  lastControl_ = id;
  lastIsEdit_ = true;
}

void CDataExchange::Fail(const std::string& message) {
  failed_ = true;
  m_pDlgWnd->ReportFieldError(lastControl_, message, lastIsEdit_);
}

void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control) {
  if (pDX->Failed()) return;
  pDX->PrepareCtrl(id);
  if (!control.IsAttached()) {
    control.Attach(pDX->m_pDlgWnd->GetWindow(), id);
    pDX->m_pDlgWnd->RegisterControl(&control);
  }
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  if (pDX->Failed()) return;
  pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    value = pDX->m_pDlgWnd->GetDlgItemText(id);
  } else {
    pDX->m_pDlgWnd->SetDlgItemText(id, value);
  }
}

void DDX_Text(CDataExchange* pDX, int id, uint32_t& value) {
  if (pDX->Failed()) return;
  pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    if (!ui::ParseUnsignedField(pDX->m_pDlgWnd->GetDlgItemText(id), value)) {
      pDX->Fail(kNotAPositiveInteger);
    }
  } else {
    pDX->m_pDlgWnd->SetDlgItemText(id, std::to_string(value));
  }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  if (pDX->Failed()) return;
  pDX->PrepareCtrl(id);
  ui::Window* window = pDX->m_pDlgWnd->GetWindow();
  if (pDX->m_bSaveAndValidate) {
    value = window->GetCheck(id);
  } else {
    if (value < 0 || value > 2) value = 0;
    window->SetCheck(id, value);
  }
}

void DDX_CBString(CDataExchange* pDX, int id, std::string& value) {
  if (pDX->Failed()) return;
  pDX->PrepareCtrl(id);
  ui::Window* window = pDX->m_pDlgWnd->GetWindow();
  if (pDX->m_bSaveAndValidate) {
    value = window->GetText(id);
  } else if (window->ComboSelectString(id, value) < 0) {
    window->SetText(id, value);
  }
}

void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minValue, uint32_t maxValue) {
  if (pDX->Failed() || !pDX->m_bSaveAndValidate) return;
  if (value < minValue || value > maxValue) pDX->Fail(OutOfRange(minValue, maxValue));
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars) {
  if (pDX->Failed()) return;
  if (!pDX->m_bSaveAndValidate) {
    pDX->m_pDlgWnd->GetWindow()->LimitText(pDX->LastControl(), maxChars);
    return;
  }
  if (value.size() > static_cast<size_t>(maxChars)) {
    pDX->Fail("Please enter no more than " + std::to_string(maxChars) + " characters.");
  }
}

// --- CDialog ---------------------------------------------------------------

CDialog::CDialog(const ui::DialogTemplate& dialogTemplate) : template_(dialogTemplate) {}

CDialog::~CDialog() {
  if (ui::MainWindow() == this) ui::SetMainWindow(nullptr);
}

int CDialog::DoModal() {
  CDialog* owner = ui::MainWindow() == this ? nullptr : ui::MainWindow();
  return ui::CurrentBackend().RunModal(*this, owner);
}

void CDialog::EndDialog(int result) {
  if (window_ != nullptr) window_->End(result);
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

bool CDialog::UpdateData(bool saveAndValidate) {
  if (window_ == nullptr) return false;
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return !dx.Failed();
}

std::string CDialog::GetDlgItemText(int id) {
  return window_->GetText(id);
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  window_->SetText(id, text);
}

void CDialog::ShowControl(int id, bool show) {
  window_->Show(id, show);
}

void CDialog::ReportFieldError(int id, const std::string& message, bool selectText) {
  AfxMessageBox(message);
  window_->SetFocus(id);
  if (selectText) window_->SelectAllText(id);
}

bool CDialog::OnCommand(int id, unsigned code) {
  for (const MessageMapEntry& e : GetMessageMap()) {
    if (e.message == Message::kCommand && e.id == id && e.code == code) {
      (this->*e.handler)();
      return true;
    }
  }
  if (code != BN_CLICKED) return false;
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void CDialog::OnSysCommandMessage(unsigned commandId, intptr_t lParam) {
  for (const MessageMapEntry& e : GetMessageMap()) {
    if (e.message == Message::kSysCommand) {
      (this->*e.sysCommand)(commandId, lParam);
      return;
    }
  }
  window_->DefaultSysCommand(commandId, lParam);
}

void CDialog::OnPaintMessage() {
  for (const MessageMapEntry& e : GetMessageMap()) {
    if (e.message == Message::kPaint) {
      (this->*e.handler)();
      return;
    }
  }
  window_->DefaultPaint();
}

ui::Icon CDialog::OnQueryDragIconMessage() {
  for (const MessageMapEntry& e : GetMessageMap()) {
    if (e.message == Message::kQueryDragIcon) return (this->*e.queryIcon)();
  }
  return 0;
}

void CDialog::Attach(ui::Window* window) {
  window_ = window;
}

void CDialog::Detach() {
  for (CProgressCtrl* control : attachedControls_) control->Detach();
  attachedControls_.clear();
  window_ = nullptr;
}

void CDialog::RegisterControl(CProgressCtrl* control) {
  attachedControls_.push_back(control);
}

// --- Application -----------------------------------------------------------

CWinApp::CWinApp() {
  ui::application = this;
}

CWinApp::~CWinApp() {
  if (ui::application == this) ui::application = nullptr;
}

CWinApp* AfxGetApp() {
  return ui::application;
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  // The instance start runs the whole program; no message loop follows it.
  app->InitInstance();
  return 0;
}

void AfxMessageBox(const std::string& text) {
  // The program's name does not change while it runs: look it up once.
  static const std::string caption = platform::ExecutableBaseName();
  ui::CurrentBackend().ShowMessage(ui::MainWindow(), text, caption);
}

bool AfxAskYesNo(const std::string& text) {
  static const std::string caption = platform::ExecutableBaseName();
  return ui::CurrentBackend().AskYesNo(ui::MainWindow(), text, caption);
}

CFileDialog::CFileDialog(bool openFileDialog, const char* defaultExt, const char* fileName,
                         uint32_t flags, const char* filter, CDialog* parent) {
  request_.open = openFileDialog;
  request_.defaultExt = defaultExt != nullptr ? defaultExt : "";
  request_.fileName = fileName != nullptr ? fileName : "";
  request_.flags = flags;
  request_.filter = filter != nullptr ? filter : "";
  request_.owner = parent;
}

int CFileDialog::DoModal() {
  path_.clear();
  return ui::CurrentBackend().FileDialog(request_, path_) ? IDOK : IDCANCEL;
}
