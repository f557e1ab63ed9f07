#include "app/tracker_dlg.h"

#include <cctype>
#include <memory>
#include <string_view>
#include <utility>

#include "app/control_ids.h"
#include "app/log_download.h"
#include "app/resources.h"
#include "app/track_menu.h"
#include "app/window_memory.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "platform/serial/serial.h"

const std::array<int, 17> kCalibrationControls = {
    IDC_SERIAL_NUMBER,
    IDC_RADIO_HP,
    IDC_RADIO_MK,
    IDC_RADIO_DT,
    IDC_RADIO_ID,
    IDC_RADIO_RN,
    IDC_RADIO_RR,
    IDC_RADIO_RO,  // edits
    IDC_UPDATE,    // Update
    IDC_SERIAL_NUMBER_TAG,
    IDC_RADIO_HP_TAG,
    IDC_RADIO_MK_TAG,
    IDC_RADIO_DT_TAG,
    IDC_RADIO_ID_TAG,
    IDC_RADIO_RO_TAG,
    IDC_RADIO_RN_TAG,
    IDC_RADIO_RR_TAG,  // their labels
};

namespace {

const MessageMapEntry kMessageMap[] = {
    OnSysCommandEntry(&CTrackerDlg::OnSysCommand),
    OnPaintEntry(&CTrackerDlg::OnPaint),
    OnQueryDragIconEntry(&CTrackerDlg::OnQueryDragIcon),
    OnCommandEntry(BN_CLICKED, IDC_READ, &CTrackerDlg::OnRead),
    OnCommandEntry(CBN_DROPDOWN, IDC_COM_PORT, &CTrackerDlg::OnDropdownComPort),
    OnCommandEntry(BN_CLICKED, IDC_READ_FLASH, &CTrackerDlg::OnReadFlash),
    OnCommandEntry(BN_CLICKED, IDC_UPDATE, &CTrackerDlg::OnUpdate),
    OnCommandEntry(BN_CLICKED, IDC_WRITE, &CTrackerDlg::OnWrite),
    OnCommandEntry(BN_CLICKED, IDC_GO, &CTrackerDlg::OnGo),
    OnCommandEntry(BN_CLICKED, IDC_CLEAR_FLASH, &CTrackerDlg::OnClearFlash),
    OnCommandEntry(BN_CLICKED, IDC_FLASH_TEST, &CTrackerDlg::OnFlashTest),
    OnCommandEntry(BN_CLICKED, IDC_FIX_KML, &CTrackerDlg::OnFixKml),
};

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

// The switch counts only as the second word; quotes mean nothing, so a
// program path with a blank in it pushes the switch out of place.
bool HasCalibrationSwitch(std::string_view commandLine) {
  std::string_view words[2];
  size_t i = 0;
  for (std::string_view& word : words) {
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    const size_t start = i;
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
    word = commandLine.substr(start, i - start);
  }
  return words[1] == "-tamsk";
}

CTrackerDlg::CTrackerDlg() : CDialog(FindDialogTemplate(IDD_TRACKER_DIALOG)) {
  appIcon = ui::CurrentBackend().LoadAppIcon(IDR_MAINFRAME);
}

std::span<const MessageMapEntry> CTrackerDlg::GetMessageMap() const {
  return kMessageMap;
}

bool CTrackerDlg::OnInitDialog() {
  RestoreWindowMemory(*this);
  CDialog::OnInitDialog();
  ui::Window* window = GetWindow();
  if (window->HasSystemMenu()) {
    const std::string about = LoadResourceString(IDS_ABOUTBOX);
    if (!about.empty()) {
      window->AppendSystemMenuSeparator();
      AppendTrackMenu(*window);
      window->AppendSystemMenuSeparator();
      window->AppendSystemMenuItem(IDM_ABOUTBOX, about);
    }
  }
  window->SetIcon(true, appIcon);
  window->SetIcon(false, appIcon);
  statusText = "Ready";
  for (int id : kCalibrationControls) ShowControl(id, false);
  if (HasCalibrationSwitch(platform::CommandLine())) {
    calibrationMode = 1;
    msg::Tell(msg::Id::kCalibrationModeEnabled);
  }
  if (calibrationMode) {
    for (int id : kCalibrationControls) ShowControl(id, true);
  }
  return true;
}

void CTrackerDlg::OnSysCommand(unsigned commandId, intptr_t lParam) {
  if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal();
    return;
  }
  static constexpr struct {
    unsigned id;
    void (CTrackerDlg::*handler)();
  } kMenuItems[] = {{IDM_EXPORT_TRACK, &CTrackerDlg::OnExportTrack},
                    {IDM_SHOW_TRACK, &CTrackerDlg::OnShowTrack},
                    {IDM_SAVE_PROFILE, &CTrackerDlg::OnSaveProfile},
                    {IDM_LOAD_PROFILE, &CTrackerDlg::OnLoadProfile}};
  for (const auto& item : kMenuItems) {
    if ((commandId & 0xFFF0) == item.id) return (this->*item.handler)();
  }
  GetWindow()->DefaultSysCommand(commandId, lParam);
}

void CTrackerDlg::OnPaint() {
  ui::Window* window = GetWindow();
  if (!window->IsIconic()) {
    window->DefaultPaint();
    return;
  }
  int cx = 0, cy = 0, width = 0, height = 0;
  ui::CurrentBackend().SystemIconSize(cx, cy);
  window->ClientSize(width, height);
  window->PaintIcon((width - cx + 1) / 2, (height - cy + 1) / 2, appIcon);
}

ui::Icon CTrackerDlg::OnQueryDragIcon() {
  return appIcon;
}

void CTrackerDlg::OnDropdownComPort() {
  ui::Window* window = GetWindow();
  for (int i = window->ComboCount(IDC_COM_PORT) - 1; i >= 0; --i)
    window->ComboDelete(IDC_COM_PORT, i);
  // Windows lists COM1 to COM63 as they exist; Linux its devices by their
  // short names, with what each one is beside it.
  for (const platform::PortInfo& port : platform::Serial().ListPorts()) {
    std::string description = port.description;
    if (!port.vidPid.empty()) {
      description += (description.empty() ? "(" : " (") + port.vidPid + ")";
    }
    window->ComboAddDescribed(IDC_COM_PORT, port.name, description);
  }
}

void CTrackerDlg::SetProgressRange(int minimum, int maximum) {
  progressBar.SetRange(minimum, maximum);
}

void CTrackerDlg::SetProgressStep(int step) {
  progressBar.SetStep(step);
}

void CTrackerDlg::SetProgressPosition(int position) {
  progressBar.SetPos(position);
}

void CTrackerDlg::StepProgress() {
  // A worker's step is its one trip to the user-interface thread: the texts
  // it handed over go along.
  CTrackerDlg* self = this;
  ui::CurrentBackend().RunOnUiThread([self] {
    self->TakeHandedOverTexts();
    self->progressBar.StepIt();
  });
}

std::array<int*, 8> CTrackerDlg::OptionFlagMembers() {
  return {&wrapMemory,    &lowVoltageShutdown, &enableDataLogging, &storeHms,
          &gSwitchEnable, &metersToFeet,       &enableNmea,        &enableTxSentence};
}

bool CTrackerDlg::RefuseWhileBusy() {
  if (!workerBusy) return false;
  msg::Tell(msg::Id::kPleaseWait);
  return true;
}

namespace {

// Every worker ends here, whichever way it went: the link is free again once
// its last message is closed.
int RunWorker(void* param) {
  const std::unique_ptr<WorkerParameter> block(static_cast<WorkerParameter*>(param));
  const int result = block->proc(block.get());
  workerBusy = 0;
  return result;
}

}  // namespace

void CTrackerDlg::TakePortFromCombo() {
  portName = GetDlgItemText(IDC_COM_PORT);
}

void CTrackerDlg::StartWorker(int (*proc)(void*)) {
  // Set here, not by the worker: a second click before the new thread runs
  // must already find the link taken.
  workerBusy = 1;
  downloading_ = proc == LogDownloadWorker;
  // A stop asked for as the last worker was already writing its file must
  // not cut this one short.
  stopRequested_ = false;
  lastWordOnly_ = false;
  worker_ =
      ui::BeginThread(RunWorker, new WorkerParameter{this, proc}, ui::ThreadPriority::kHighest);
}

void CTrackerDlg::ShowStatus(msg::Id id) {
  msg::Report(id);
  statusText = msg::Text(id);
}

void CTrackerDlg::ShowStatusFromWorker(msg::Id id) {
  ShowStatusFromWorker(id, msg::Text(id));
}

void CTrackerDlg::ShowStatusFromWorker(msg::Id id, const std::string& shown) {
  msg::Report(id, shown);
  HandOverText(&CTrackerDlg::statusText, shown.c_str());
  FlushHandedOverTexts();
}

void CTrackerDlg::HandOverText(std::string CTrackerDlg::*member, const char* text) {
  std::lock_guard<std::mutex> lock(handOverLock_);
  for (HandedOverText& slot : handedOver_) {
    if (slot.member == member || slot.member == nullptr) {
      slot.member = member;
      slot.text = text;  // short texts: the slot's own storage, no allocation
      slot.pending = true;
      return;
    }
  }
}

void CTrackerDlg::HandOverProgress(int steps) {
  // Each trip to the window costs the worker a wait for that thread, twenty
  // times a second in a download; a bar moved ten times a second looks no
  // different.
  constexpr int64_t kDeliveryMicros = 100000;
  const int64_t now = platform::MonotonicMicros();
  {
    std::lock_guard<std::mutex> lock(handOverLock_);
    handedOverSteps_ += steps;
    if (now - lastStepDelivery_ < kDeliveryMicros) return;
    lastStepDelivery_ = now;
  }
  FlushHandedOverTexts();
}

void CTrackerDlg::TakeHandedOverTexts() {
  int steps = 0;
  {
    std::lock_guard<std::mutex> lock(handOverLock_);
    for (HandedOverText& slot : handedOver_) {
      if (!slot.pending) continue;
      this->*slot.member = slot.text;
      slot.pending = false;
    }
    std::swap(steps, handedOverSteps_);
  }
  // Not under the lock: a step may be watched (the command line redraws its
  // bar), and the worker must not wait for that.
  for (; steps > 0; --steps) progressBar.StepIt();
}

void CTrackerDlg::FlushHandedOverTexts() {
  CTrackerDlg* self = this;
  ui::CurrentBackend().RunOnUiThread([self] { self->TakeHandedOverTexts(); });
}

namespace {
const char kStopDownloadQuestion[] =
    "A download is in progress. Stop it and keep what has arrived?";
const char kEraseGoesOnQuestion[] =
    "The tracker is erasing its memory and goes on by itself. Close anyway?";
}  // namespace

bool CTrackerDlg::MayClose(bool mayAsk) {
  if (workerBusy == 0) return true;
  if (lastWordOnly_) {
    ui::CurrentBackend().PumpUntil([this] { return worker_.Finished(); });
    return true;
  }
  if (!downloading_) return !mayAsk || AfxAskYesNo(kEraseGoesOnQuestion);
  if (mayAsk && !AfxAskYesNo(kStopDownloadQuestion)) return false;
  // The download may have ended while the question was open; then there is
  // nothing to stop, and the request is cleared by the next worker's start.
  RequestWorkerStop();
  ui::CurrentBackend().PumpUntil([this] { return worker_.Finished(); });
  return true;
}

void CTrackerDlg::OnOK() {
  // A field's check message comes before the question.
  if (UpdateData(true) && MayClose(true)) EndDialog(IDOK);
}

void CTrackerDlg::OnCancel() {
  if (MayClose(true)) EndDialog(IDCANCEL);
}

bool CTrackerDlg::OnQueryEndSession(bool mayAsk) {
  return MayClose(mayAsk);
}

void CTrackerDlg::OnDestroy() {
  closing_ = true;
  // The worker may be waiting on this thread for a progress step or a text
  // handover, so keep serving those until it has ended.
  ui::CurrentBackend().PumpUntil([this] { return worker_.Finished(); });
  worker_.Join();
  TakeHandedOverTexts();
}

CAboutDlg::CAboutDlg() : CDialog(FindDialogTemplate(IDD_ABOUTBOX)) {}

bool CTrackerApp::InitInstance() {
  CTrackerDlg dialog;
  ui::SetMainWindow(&dialog);
  dialog.DoModal();
  ui::SetMainWindow(nullptr);
  return false;
}
