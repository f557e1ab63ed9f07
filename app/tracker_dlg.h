// The main window: every control of the tool, the values it shows, and the
// handlers of its buttons.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "app/window_state.h"
#include "link/messages.h"
#include "platform/ui/framework.h"

class CTrackerDlg : public CDialog {
 public:
  CTrackerDlg();

  // The values shown, in the order of the exchange (see data_exchange.h).
  CProgressCtrl progressBar;
  std::string portName;
  std::string modelLabel = "Model:";
  std::string versionLabel = "Version:";
  std::string batteryLabel = "vBattery";
  std::string hopChannelLabel = "Hopping Channel:";
  std::string radioSerialLabel = "Serial No:";
  std::string vendorIdLabel = "Vendor ID";
  std::string addressMaskLabel = "Address Mask";
  std::string percentLabel;
  std::string radioHP;
  std::string radioID;
  uint32_t serialNumber = 0;
  uint32_t storeInterval = 1;
  uint32_t transmitInterval = 1;
  std::string statusText = "Ready";
  int lowVoltageShutdown = 0;
  std::string shutdownVoltage;
  int gSwitchEnable = 0;
  int wrapMemory = 0;
  int enableDataLogging = 0;
  int metersToFeet = 0;
  int storeHms = 0;
  int enableNmea = 0;
  int enableTxSentence = 0;
  uint32_t transmitSlot = 0;
  std::string programVersionLabel = "Version 020 8/09/2013";
  std::string serialNumberLabel = "serial #";
  std::string destinationLabel = "Dest:";
  std::string radioRO;
  std::string radioRN;
  std::string radioRR;
  std::string radioMK;
  std::string radioDT;
  ui::Icon appIcon = 0;

  void DoDataExchange(CDataExchange* pDX) override;
  bool OnInitDialog() override;
  // Enter, Esc, the close box, Alt+F4 and the system menu's Close close the
  // window as a dialog's OK and Cancel do, but a running download or erase
  // is asked about first (see MayClose).
  void OnOK() override;
  void OnCancel() override;
  // Logging out: asked as closing is; a log-out that cannot wait keeps what
  // a download has brought without the question.
  bool OnQueryEndSession(bool mayAsk) override;
  // Stops a running worker and waits for it: it must not outlive the window.
  void OnDestroy() override;

  // Handlers.
  void OnSysCommand(unsigned commandId, intptr_t lParam);
  void OnPaint();
  ui::Icon OnQueryDragIcon();
  void OnRead();
  void OnDropdownComPort();
  void OnReadFlash();
  void OnUpdate();
  void OnWrite();
  void OnGo();
  void OnClearFlash();
  void OnFlashTest();
  void OnFixKml();
  void OnExportTrack();
  void OnShowTrack();
  void OnSaveProfile();
  void OnLoadProfile();

  // The progress bar operations; callable from a worker thread.
  void SetProgressRange(int minimum, int maximum);
  void SetProgressStep(int step);
  void SetProgressPosition(int position);
  void StepProgress();

  // The eight option flag members in bit order.
  std::array<int*, 8> OptionFlagMembers();

  // For the workers. A worker's text waits in a slot of its own until the
  // user-interface thread takes it into the member (at the next exchange,
  // progress step or the worker's end), so member and exchange never race
  // and a worker never waits on the window for a text.
  void HandOverText(std::string CTrackerDlg::*member, const char* text);
  // For a worker that moves the bar and its texts many times a second (the
  // download): the steps wait with the worker's texts and go to the window
  // with them, at most ten times a second, so that the worker seldom has to
  // wait for the user-interface thread. steps may be 0: the texts alone are
  // due. FlushHandedOverTexts delivers what is left.
  void HandOverProgress(int steps);
  // On the user-interface thread: the texts handed over so far go into their
  // members, and the steps handed over step the bar.
  void TakeHandedOverTexts();
  // From a worker: waits until the user-interface thread has taken them.
  void FlushHandedOverTexts();
  // True once the window is closing: a worker then ends at its next step,
  // shows nothing and touches the window no more.
  bool WorkerMustStop() const { return closing_.load(); }
  // Asks a running download to end at its next block and keep what arrived,
  // as when the line is lost (a front end's Ctrl-C). The worker takes the
  // request when it acts on it.
  void RequestWorkerStop() { stopRequested_ = true; }
  bool TakeWorkerStopRequest() { return stopRequested_.exchange(false); }
  bool WorkerStopRequested() const { return stopRequested_.load(); }
  // From a worker: its work is done and saved, only its last message is to
  // come, so closing needs no question (see MayClose).
  void WorkerHasOnlyItsLastWord() { lastWordOnly_ = true; }

  // An outcome the status line shows: reported, then put into statusText
  // (the caller loads it into the window), or handed over from a worker.
  void ShowStatus(msg::Id id);
  void ShowStatusFromWorker(msg::Id id);
  void ShowStatusFromWorker(msg::Id id, const std::string& shown);

 protected:
  std::span<const MessageMapEntry> GetMessageMap() const override;

 private:
  // True (and the user told) while a download or erase worker owns the link.
  bool RefuseWhileBusy();
  // The track the track menu's items show: the last one, else one the user
  // opens. False when the user cancelled.
  bool ChooseTrackFile(std::string& path);
  // The port the combo box shows becomes the one the link opens; no other
  // field is saved, so no field's check can interrupt the operation.
  void TakePortFromCombo();
  // True when the window may close now. A running download is stopped at
  // its next block and what arrived is written (as kw9cli's Ctrl-C does)
  // before this returns, once the user agreed or when mayAsk is false; an
  // erase goes on in the tracker whatever the window does, so only the
  // question is asked. A worker with only its last message to show loses
  // nothing: the window closes, unasked, once that message is read.
  bool MayClose(bool mayAsk);
  // Marks the link as the worker's and starts proc on a thread of its own
  // with the window's address; the link is marked free once proc returns.
  void StartWorker(int (*proc)(void*));

  struct HandedOverText {
    std::string CTrackerDlg::*member = nullptr;
    std::string text;
    bool pending = false;
  };
  std::mutex handOverLock_;
  std::array<HandedOverText, 2> handedOver_;  // percentLabel, statusText
  int handedOverSteps_ = 0;                   // under handOverLock_, as is
  int64_t lastStepDelivery_ = 0;              // when steps last went to the window

  bool downloading_ = false;  // the worker running (or last run) is the download
  std::atomic<bool> closing_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> lastWordOnly_{false};
  ui::WorkerThread worker_;  // last: joined before the members it uses go
};

// The thread parameter of the log workers.
struct WorkerParameter {
  CTrackerDlg* dialog;
  int (*proc)(void*);  // the worker itself, run by StartWorker's thread
};

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};

class CTrackerApp : public CWinApp {
 public:
  bool InitInstance() override;
};

// The controls only calibration mode shows.
extern const std::array<int, 17> kCalibrationControls;

// True when the second word of the command line is the calibration switch.
bool HasCalibrationSwitch(std::string_view commandLine);
