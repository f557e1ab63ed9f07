#include "cli/session.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "app/control_ids.h"
#include "app/data_exchange.h"
#include "app/file_checks.h"
#include "app/log_download.h"
#include "app/profile_menu.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "cli/identify.h"
#include "cli/sha256.h"
#include "cli/utc_time.h"
#include "config/settings.h"
#include "link/messages.h"
#include "platform/os/os.h"
#include "platform/serial/serial.h"
#include "platform/ui/framework.h"
#include "platform/ui/scripted/scripted_backend.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_writer.h"
#include "tracklog/stored_kml.h"
#include "tracklog/track_dates.h"
#include "tracklog/track_export.h"

namespace cli {

namespace {

const Binding* BindingOf(const std::string& member) {
  for (const Binding& b : kBindings) {
    if (member == b.member) return &b;
  }
  return nullptr;
}

const Binding* BindingOfControl(int control) {
  for (const Binding& b : kBindings) {
    if (b.control == control) return &b;
  }
  return nullptr;
}

const FieldSpec* FieldOf(const std::string& member) {
  for (const FieldSpec& f : Fields()) {
    if (member == f.member) return &f;
  }
  return nullptr;
}

// The tracker stores a count for the shutdown voltage: "3.3" and "3.30" are
// the same setting.
bool SameSetting(const ProfileField& field, const std::string& a, const std::string& b) {
  if (std::string(field.member) == "shutdownVoltage") {
    return countFromVoltsText(a) == countFromVoltsText(b);
  }
  return a == b;
}

std::vector<FieldDifference> Differences(const Profile& profile, const CTrackerDlg& dialog) {
  std::vector<FieldDifference> differences;
  for (const ProfileValue& v : profile.values) {
    const Binding* binding = BindingOf(v.field->member);
    const std::string tracker = binding != nullptr ? BoundValue(dialog, *binding) : "";
    if (!SameSetting(*v.field, v.text, tracker)) differences.push_back({v.field, v.text, tracker});
  }
  return differences;
}

// The new file goes beside the old one and replaces it only once it is
// whole and on the disk; its bytes go as they are, line ends included.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::error_code& why) {
  platform::TextOutFile out;
  const bool written =
      out.OpenReplacing(path) && out.WriteBytes(text.data(), text.size()) && out.Close();
  why = out.Reason();
  return written;
}

// "Cannot write x.gpx: No such file or directory": the system's reason
// after the failure, when it gave one.
std::string WithReason(const std::string& failure, const std::error_code& reason) {
  return reason ? failure + ": " + reason.message() : failure;
}

// The field checks of the window a profile's value would meet once typed,
// for a dry run, which types nothing: "" when the window takes it.
std::string NumberRefusal(const ProfileValue& v) {
  const Binding* binding = BindingOf(v.field->member);
  if (binding == nullptr || binding->kind != BindingKind::kUnsigned) return "";
  return binding->ranged ? ui::NumberFieldRefusal(v.text, binding->minimum, binding->maximum)
                         : ui::NumberFieldRefusal(v.text, 0, UINT32_MAX);
}

ExportReport ReportOf(const std::string& format, const ExportResult& result) {
  return {format,         result.output,
          result.ok,      result.points,
          result.untimed, result.segments,
          result.leftOut, result.ok ? DateAnchorName(result.anchor) : "",
          result.tracker};
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Where a session's record of messages and outcomes stands, to look at what
// came after.
struct Mark {
  size_t messages = 0;
  size_t outcomes = 0;
};

class Session {
 public:
  Session(const Invocation& inv, const LiveHooks& hooks, Outcome& outcome)
      : inv_(inv), hooks_(hooks), out_(outcome) {}

  void Run() {
    if (inv_.command == Command::kPorts) {
      // What the window's drop-down lists, with all that is known of each.
      out_.ports = platform::Serial().ListPorts();
      completed_ = true;
      return;
    }
    if (!OutputsAreFiles()) return;
    if (inv_.command == Command::kExport) return Export();
    if (inv_.command == Command::kProfileApply && !LoadProfile()) return;
    ui::ScriptedBackend backend;
    ui::UseBackend(&backend);
    platform::SetCommandLine(inv_.calibration ? "kw9cli -tamsk" : "kw9cli");
    backend.OnMessage([this](const ui::MessageRecord& m) {
      {
        std::lock_guard<std::mutex> lock(messagesLock_);
        out_.messages.push_back(m.text);
        // Told once the window has put the focus on the field.
        if (IsFieldRefusal()) {
          pendingRefusal_ = m.text;
          return;
        }
      }
      if (hooks_.message) hooks_.message(m.text);
    });
    // What happened, as the window's handlers report it: exit codes and
    // success come from these, never from comparing message texts.
    msg::SetOutcomeHandler([this](const msg::Outcome& o) {
      std::lock_guard<std::mutex> lock(messagesLock_);
      outcomes_.push_back(o);
    });
    CTrackerDlg dialog;
    backend_ = &backend;
    dialog_ = &dialog;
    if (hooks_.progress) {
      backend.OnProgress([this](int, const ui::ProgressState&) {
        // On the window's thread, where the label's text lives.
        if (erasing_) return hooks_.progress(ProgressUpdate{});
        if (const std::optional<ProgressUpdate> update = DownloadProgress())
          hooks_.progress(*update);
      });
    }
    // The command line stands in for the user's choices in the file dialogs
    // and the erase confirmation.
    backend.AnswerFileDialogs([this](const ui::FileDialogRequest& r) -> std::optional<std::string> {
      if (inv_.command == Command::kFixKml) return r.open ? inv_.operands[0] : inv_.operands[1];
      return inv_.output;
    });
    backend.SetScript(IDD_CLEAR_FLASH, [this](ui::ScriptedWindow& window) {
      window.Click(answerClear_ ? IDOK : IDCANCEL);
    });
    backend.SetScript(IDD_TRACKER_DIALOG, [this](ui::ScriptedWindow& window) { Script(window); });
    ui::SetMainWindow(&dialog);
    dialog.DoModal();
    // One no press was followed by: no field to name.
    const std::string refusal = TakePendingRefusal();
    if (!refusal.empty() && hooks_.message) hooks_.message(refusal);
    for (size_t row = 1; row < kBindings.size(); ++row) {
      const Binding& b = kBindings[row];
      out_.window.push_back({b.member, BoundValue(dialog, b),
                             b.kind == BindingKind::kUnsigned || b.kind == BindingKind::kCheck});
    }
    ui::SetMainWindow(nullptr);
    ui::UseBackend(nullptr);
    msg::SetOutcomeHandler({});
    dialog_ = nullptr;
    backend_ = nullptr;
  }

  ExitCode Code() const {
    if (!out_.usageProblem.empty()) return kExitUsage;
    ExitCode code = completed_ ? kExitOk : kExitMessage;
    for (const msg::Outcome& o : outcomes_) code = Worse(code, CodeOfCause(o.cause));
    // A box no outcome stands for is a field's refusal of the dialog framework.
    if (UnreportedBoxes(0, 0)) code = Worse(code, kExitMessage);
    if (difference_) code = Worse(code, kExitDifference);
    if (fileProblem_) code = Worse(code, kExitFile);
    if (interrupted_) code = Worse(code, kExitInterrupted);
    return Worse(code, failure_);
  }

  bool NotTracker() const { return notTracker_; }

 private:
  void Note(const std::string& text) {
    out_.notes.push_back(text);
    if (hooks_.note) hooks_.note(text);
  }

  Mark Now() {
    std::lock_guard<std::mutex> lock(messagesLock_);
    return {out_.messages.size(), outcomes_.size()};
  }

  // True when the handlers reported id since the mark.
  bool Reported(msg::Id id, Mark since = {}) {
    std::lock_guard<std::mutex> lock(messagesLock_);
    for (size_t i = since.outcomes; i < outcomes_.size(); ++i) {
      if (outcomes_[i].id == id) return true;
    }
    return false;
  }

  // Every box a handler shows comes with its outcome; those without one are
  // the refusals of the dialog framework's field checks.
  bool UnreportedBoxes(size_t messagesFrom, size_t outcomesFrom) const {
    size_t boxes = 0;
    for (size_t i = outcomesFrom; i < outcomes_.size(); ++i) boxes += outcomes_[i].inBox ? 1 : 0;
    return out_.messages.size() - messagesFrom > boxes;
  }

  // Whether the box just recorded (under messagesLock_) is a field's
  // refusal: one no outcome stands for (the dialog framework's checks), or
  // one of the window's own checks of a field's value.
  bool IsFieldRefusal() {
    size_t inBox = 0;
    const msg::Outcome* last = nullptr;
    for (const msg::Outcome& o : outcomes_) {
      if (!o.inBox) continue;
      ++inBox;
      last = &o;
    }
    if (inBox <= boxesWithOutcome_) return true;
    ++boxesWithOutcome_;
    return last->id == msg::Id::kRadioValueTooLong ||
           last->id == msg::Id::kRadioValueNotPrintable ||
           last->id == msg::Id::kShutdownVoltageOutOfRange;
  }

  // A click, and then the field a refusal came from, now that the window
  // has put the focus on it.
  void Press(ui::ScriptedWindow& window, int control) {
    window.Click(control);
    NameTheRefusedField(window);
  }

  std::string TakePendingRefusal() {
    std::lock_guard<std::mutex> lock(messagesLock_);
    std::string text;
    text.swap(pendingRefusal_);
    return text;
  }

  void NameTheRefusedField(ui::ScriptedWindow& window) {
    const std::string text = TakePendingRefusal();
    if (text.empty() || !hooks_.message) return;
    const Binding* field = BindingOfControl(window.Focus());
    hooks_.message(field != nullptr ? std::string(field->member) + ": " + text : text);
  }

  // The download's progress as the window's label shows it, of the bytes
  // this download reads; none before the tracker has told its size.
  std::optional<ProgressUpdate> DownloadProgress() const {
    ProgressUpdate update;
    const MemoryGeometry* memory = GeometryOfKbit(LogMemoryGeometry.sizeCode);
    if (memory == nullptr) return std::nullopt;
    update.totalBytes =
        inv_.untilEnd ? std::min(memory->downloadBytes, memory->dumpBytes) : memory->downloadBytes;
    const double percent = std::strtod(dialog_->percentLabel.c_str(), nullptr);
    update.bytes = std::llround(percent * static_cast<double>(update.totalBytes) / 100.0);
    return update;
  }

  void StartProgress() {
    ProgressUpdate start;
    start.starting = true;
    if (hooks_.progress) hooks_.progress(start);
  }

  // A Read that failed with no word from the window but its status line:
  // the device answered every question, though not as a tracker answers.
  bool AnsweredAsNoTracker(Mark since) {
    std::lock_guard<std::mutex> lock(messagesLock_);
    bool failed = false;
    for (size_t i = since.outcomes; i < outcomes_.size(); ++i) {
      if (outcomes_[i].id == msg::Id::kReadFailed) {
        failed = true;
      } else if (outcomes_[i].cause != msg::Cause::kOk) {
        return false;
      }
    }
    return failed && !UnreportedBoxes(since.messages, since.outcomes);
  }

  // True when anything but a notice came since the mark.
  bool ProblemSince(Mark since) {
    std::lock_guard<std::mutex> lock(messagesLock_);
    for (size_t i = since.outcomes; i < outcomes_.size(); ++i) {
      if (outcomes_[i].cause != msg::Cause::kOk) return true;
    }
    return UnreportedBoxes(since.messages, since.outcomes);
  }

  // Looked at between presses: the exchange in progress always finishes, so
  // no write to the tracker is cut in half.
  bool Interrupted() {
    if (platform::InterruptRequested()) interrupted_ = true;
    return interrupted_;
  }

  // Only a command that talks to the tracker is held back for a missing
  // folder; an export's own refusals come first, as they always have.
  bool UsesThePort() const { return (SpecOf(inv_.command).needs & kOptPort) != 0; }

  // The files kw9cli writes itself, refused before the tracker hears a byte
  // (a folder that does not exist too, which the download's exports would
  // meet only after minutes); the window's own file dialogs refuse the
  // download's and Fix KML's.
  bool OutputsAreFiles() {
    std::vector<std::string> outputs;
    if (inv_.command == Command::kExport) {
      const std::optional<TrackFormat> format = TrackFormatNamed(inv_.to);
      if (inv_.output.empty() && format) {
        outputs.push_back(DefaultExportPath(inv_.operands[0], *format));
      }
    }
    if (inv_.command == Command::kExport || inv_.command == Command::kProfileSave) {
      outputs.push_back(inv_.output);
    }
    for (const ExportFile& e : inv_.exports) outputs.push_back(e.path);
    for (const std::string& path : outputs) {
      std::string refusal = path.empty() ? "" : OutputRefusal(path, inv_.port);
      if (refusal.empty() && !path.empty() && UsesThePort()) refusal = FolderRefusal(path);
      if (refusal.empty()) continue;
      Note(refusal);
      fileProblem_ = true;
      return false;
    }
    return true;
  }

  bool LoadProfile() {
    const std::string& path = inv_.operands[0];
    const std::string refusal = InputRefusal(path);
    if (!refusal.empty()) {
      out_.usageProblem = refusal;
      Note(out_.usageProblem);
      return false;
    }
    ProfileRead read = config::ReadProfileFile(path);
    if (!read.profile) {
      out_.usageProblem = read.problem;
      Note(read.problem);
      return false;
    }
    profile_ = std::move(*read.profile);
    out_.profile.emplace();
    out_.profile->file = path;
    return true;
  }

  // Presses Read; true when it completed.
  bool Read(ui::ScriptedWindow& window) {
    const Mark before = Now();
    Press(window, IDC_READ);
    if (!Reported(msg::Id::kReadComplete, before)) {
      if (AnsweredAsNoTracker(before)) {
        notTracker_ = true;
        Note("The device on " + inv_.port + " answered, but not as a tracker: check the port.");
      }
      return false;
    }
    if (!out_.identity) {
      Identity id;
      id.model = LabelValue(dialog_->modelLabel, "Model: ");
      id.firmwareVersion = LabelNumber(LabelValue(dialog_->versionLabel, "Version "));
      id.serialNumber = dialog_->serialNumber;
      id.battery = LabelValue(dialog_->batteryLabel, "battery: ");
      id.battery.erase(0, id.battery.find_first_not_of(' '));
      out_.identity = id;
    }
    return true;
  }

  // Waits as the user would until the worker is done. An interrupt stops a
  // download at its next block, which still writes what arrived; an erase
  // runs on in the tracker whatever kw9cli does, so it is not waited for.
  void WaitForWorker() {
    backend_->PumpUntil([this] {
      if (Interrupted()) {
        if (inv_.command != Command::kDownload || erasing_) return true;
        dialog_->RequestWorkerStop();
      }
      return workerBusy == 0;
    });
    if (erasing_ && workerBusy != 0) Note("the tracker goes on erasing by itself");
  }

  void Script(ui::ScriptedWindow& window) {
    for (const FieldValue& f : inv_.fields) {
      if (!window.Visible(f.field->control)) {
        out_.usageProblem = std::string(f.field->option) +
                            ": that field is shown in calibration mode only (update, or "
                            "write --calibration)";
        return;
      }
    }
    if (inv_.command == Command::kFixKml) {
      window.Click(IDC_FIX_KML);
      completed_ = Reported(msg::Id::kKmlFileFixed);
      return Stop();
    }
    window.Type(IDC_COM_PORT, inv_.port);
    if (Interrupted()) return Stop();
    switch (inv_.command) {
      case Command::kRead:
      case Command::kWrite:
      case Command::kUpdate:
        Configure(window);
        break;
      case Command::kProfileSave:
        SaveProfile(window);
        break;
      case Command::kProfileApply:
        ApplyProfile(window);
        break;
      default:
        // These need no Read: the window takes the port through its own save
        // exchange, as when a user types it and presses the button. Which
        // tracker it is, is asked first without one; a download whose file
        // the window refuses sends nothing at all.
        if (inv_.command != Command::kDownload || inv_.output.empty() ||
            (OutputRefusal(inv_.output, inv_.port).empty() && FolderRefusal(inv_.output).empty())) {
          Identify();
        }
        if (Interrupted()) break;
        dialog_->UpdateData(true);
        NameTheRefusedField(window);
        if (!Interrupted()) LogCommand(window);
        break;
    }
    Stop();
  }

  // The tracker's identity for the records, with read-only commands; a
  // tracker that does not tell is left to the operation, which goes on as
  // ever. Read Flash's stamp names it, as after a completed Read.
  void Identify() {
    const Identification found = IdentifyTracker(inv_.port);
    if (!found.tracker) {
      Note("the tracker was not identified (" + found.why.substr(0, found.why.find('\n')) +
           "): model, firmware, serial number and battery are null");
      return;
    }
    const TrackerIdentity& t = *found.tracker;
    out_.identity = Identity{t.model, t.firmwareVersion, t.serialNumber.value_or(0), t.battery};
    RememberCompletedRead(inv_.port, t);
  }

  void Stop() {
    if (!Interrupted()) return;
    Note("Interrupted");
  }

  void Configure(ui::ScriptedWindow& window) {
    if (!Read(window) || Interrupted()) return;
    if (inv_.command == Command::kRead) {
      completed_ = true;
      return;
    }
    for (const FieldValue& f : inv_.fields) Set(window, *f.field, f.value);
    if (inv_.command == Command::kWrite) {
      const Mark before = Now();
      Press(window, IDC_WRITE);
      completed_ = Reported(msg::Id::kWriteComplete, before);
    } else {
      Press(window, IDC_UPDATE);
      completed_ = true;  // Update reports trouble only by its messages
    }
  }

  void Set(ui::ScriptedWindow& window, const FieldSpec& field, const std::string& value) {
    if (field.check) {
      if (window.Check(field.control) != (value == "1")) window.Click(field.control);
    } else {
      window.Type(field.control, value);
    }
  }

  void LogCommand(ui::ScriptedWindow& window) {
    switch (inv_.command) {
      case Command::kDownload:
        Download(window);
        return;
      case Command::kErase:
        answerClear_ = inv_.yes;
        erasing_ = true;
        StartProgress();
        window.Click(IDC_CLEAR_FLASH);
        WaitForWorker();
        completed_ = Reported(msg::Id::kDoneClearingFlash);
        if (!inv_.yes) Note("not erased: only --yes answers CLEAR");
        return;
      case Command::kFlashTest:
        window.Click(IDC_FLASH_TEST);
        completed_ = Reported(msg::Id::kFlashTestPassed);
        return;
      case Command::kGo:
        window.Click(IDC_GO);
        completed_ = Reported(msg::Id::kTxRunning);
        return;
      default:
        return;
    }
  }

  // The export command needs no window: its track comes from a file.
  void Export() {
    const std::string& input = inv_.operands[0];
    const std::optional<TrackFormat> format = TrackFormatNamed(inv_.to);
    if (!format) {
      out_.usageProblem = "--to takes " + FormatList(&TrackFormatSpec::name, ", ", " or ");
      return;
    }
    if (!inv_.date.empty() && !ParseIsoDate(inv_.date)) {
      out_.usageProblem = "--date takes a UTC date as YYYY-MM-DD, not " + inv_.date;
      return;
    }
    const std::string refusal = InputRefusal(input);
    if (!refusal.empty()) {
      Note(refusal);
      failure_ = kExitUsage;
      return;
    }
    const ExportResult result = ExportStoredKml({input, *format, inv_.date, inv_.output});
    out_.exported = ReportOf(inv_.to, result);
    // An interrupt cuts the reading short: nothing was written.
    if (!result.ok && Interrupted()) return Stop();
    if (!result.notice.empty()) Note(WithoutLineEnd(result.notice));
    if (result.ok) {
      completed_ = true;
      return;
    }
    Note(WithReason(result.message, result.reason));
    // The input decides the cause; an input that reads well leaves the
    // output as the one that could not be written.
    switch (result.inputProblem) {
      case StoredKmlProblem::kNone:
        failure_ = kExitFile;
        break;
      case StoredKmlProblem::kDamaged:
        failure_ = kExitDifference;
        break;
      case StoredKmlProblem::kUnreadable:
      case StoredKmlProblem::kNotKml:
      case StoredKmlProblem::kNoDump:
        failure_ = kExitUsage;
        break;
    }
  }

  // The download's exports, from the fixes the worker decoded as it wrote
  // them (the image has lost their sign flags by now). False unless every
  // one asked for was written.
  bool WriteExports(DownloadReport& report, int64_t downloadEnd) {
    bool all = true;
    bool dated = false;
    for (const ExportFile& e : inv_.exports) {
      ExportReport& x = report.exports.emplace_back();
      x.format = e.format;
      x.file = e.path;
      const std::optional<TrackFormat> format = TrackFormatNamed(e.format);
      if (!lastDownloadTrack || !format) {
        all = false;
        continue;
      }
      if (SameFile(e.path, inv_.output)) {
        Note("not written: " + e.path + " is the downloaded file itself");
        fileProblem_ = true;
        all = false;
        continue;
      }
      const ExportResult result = ExportDownloadedTrack(*lastDownloadTrack, downloadEnd, *format,
                                                        e.path, TheWindowState.downloadIdentity);
      x = ReportOf(e.format, result);
      if (!result.ok) {
        Note(WithReason(result.message, result.reason));
        fileProblem_ = true;
        all = false;
      } else if (!dated) {
        Note(WithoutLineEnd(result.notice));
        dated = true;
      }
    }
    if (!inv_.exports.empty() && !lastDownloadTrack) {
      Note("no exports: the download wrote no track");
    }
    return all;
  }

  void Download(ui::ScriptedWindow& window) {
    DownloadReport& report = out_.download.emplace();
    if (inv_.output.empty()) {
      // Named after the tracker and the time, in the current folder.
      out_.invocation.output = DefaultDownloadName(
          out_.identity ? std::optional<uint32_t>(out_.identity->serialNumber) : std::nullopt,
          UnixNow());
      report.outputNamed = true;
    }
    const platform::ReplacementPlan plan = platform::PlanReplacement(inv_.output);
    report.file = inv_.output;
    lastDownloadTrack.reset();
    // A memory whose blocks have no line end to check is read twice before
    // it is erased: the tracker's copy is the only other one.
    TheWindowState.downloadReads = inv_.verify ? WindowState::DownloadReads::kTwice
                                   : inv_.eraseAfter
                                       ? WindowState::DownloadReads::kTwiceWithoutLineEnds
                                       : WindowState::DownloadReads::kOnce;
    TheWindowState.downloadUntilEnd = inv_.untilEnd;
    StartProgress();
    window.Click(IDC_READ_FLASH);
    WaitForWorker();
    // The moment the file's stamp holds, so that the exports beside it and
    // a later export of the file date the fixes alike.
    const int64_t downloadEnd =
        TheWindowState.lastDownloadMoment != 0 ? TheWindowState.lastDownloadMoment : UnixNow();
    // The window says "Error opening file" or "Error writing file"; which
    // file, and why, is the system's to say.
    if ((Reported(msg::Id::kErrorOpeningKmlFile) || Reported(msg::Id::kErrorWritingKmlFile)) &&
        kmlStream.Reason()) {
      Note(WithReason("cannot write " + inv_.output, kmlStream.Reason()));
    }
    report.complete = Reported(msg::Id::kDoneReadingFlash);
    report.verified = report.complete && DownloadReadsTwice(LogMemoryGeometry.sizeCode);
    TheWindowState.downloadReads = WindowState::DownloadReads::kOnce;
    TheWindowState.downloadUntilEnd = false;
    const LogEndWatch::End logEnd = TheWindowState.lastDownloadLogEnd;
    if (inv_.untilEnd) {
      report.untilEnd = !report.complete                         ? "notReached"
                        : logEnd == LogEndWatch::End::kEndMarker ? "endMarker"
                        : logEnd == LogEndWatch::End::kErased    ? "erasedMemory"
                                                                 : "memoryEnd";
    }
    if (!lastDownloadKeptBeside.empty()) report.partialFile = lastDownloadKeptBeside;
    completed_ = report.complete;
    const bool exported = WriteExports(report, downloadEnd);
    // Only these say the worker replaced the file, and only once it wrote
    // a track (a download whose first block never came writes none);
    // otherwise what is there is whatever was there before.
    const bool written = lastDownloadTrack.has_value() &&
                         (report.complete || Reported(msg::Id::kErrorReadingFlash) ||
                          Reported(msg::Id::kDownloadStopped));
    std::optional<StoredKml> back;
    std::optional<std::vector<uint8_t>> dump;
    if (written && !plan.direct) back = ReadStoredKml(report.partialFile.value_or(inv_.output));
    if (written) report.bytesRead = TheWindowState.lastDownloadBytesRead;
    if (written && inv_.untilEnd) NoteWhereTheLogEnded(*report.untilEnd);
    if (back && back->ok) {
      report.fixes = static_cast<int>(back->track.fixes.size()) + back->linesLeftOut;
      dump = DumpBytes(*back);
      if (dump) report.sha256 = Sha256Hex(dump->data(), dump->size());
    }
    if (!inv_.eraseAfter) return;

    std::string refusal;
    if (!report.complete) {
      refusal = "the download did not complete";
    } else if (logEnd == LogEndWatch::End::kErased) {
      refusal =
          "the reading stopped at erased memory, not at an end marker: records after it would "
          "be lost (a download without --until-end reads them)";
    } else if (plan.direct) {
      refusal = inv_.output + " is no file that can be read back";
    } else if (!back || back->problem == StoredKmlProblem::kUnreadable) {
      refusal = inv_.output + " cannot be read back";
    } else if (back->problem == StoredKmlProblem::kDamaged) {
      refusal = back->message;
    } else if (!dump) {
      refusal = inv_.output + " holds no memory dump";
    } else if (!DumpMatchesFlashImage(*dump, TheWindowState.lastDownloadBytesRead)) {
      refusal = "the memory dump in " + inv_.output + " differs from the bytes downloaded";
    } else if (!exported) {
      refusal = "an export was not written";
    } else if (Interrupted()) {
      return;
    }
    if (!refusal.empty()) {
      Note("not erased: " + refusal);
      // A download that completed but is not safe on disk must not pass for
      // a success: nothing was erased although the user asked for it.
      if (report.complete) difference_ = true;
      return;
    }
    answerClear_ = true;  // --erase-after is the consent
    erasing_ = true;
    StartProgress();
    const Mark before = Now();
    window.Click(IDC_CLEAR_FLASH);
    WaitForWorker();
    report.erased = Reported(msg::Id::kDoneClearingFlash, before);
    completed_ = report.erased;
  }

  // Where --until-end stopped reading, and why, for the user.
  void NoteWhereTheLogEnded(const std::string& end) {
    const MemoryGeometry* memory = GeometryOfKbit(LogMemoryGeometry.sizeCode);
    const std::string read = "read bytes 0-" +
                             std::to_string(TheWindowState.lastDownloadBytesRead - 1) + " of " +
                             std::to_string(memory != nullptr ? memory->dumpBytes : 0);
    const std::string at = std::to_string(TheWindowState.lastDownloadLogEndsAt);
    if (end == "endMarker") {
      Note(read + ": the log ends with the end marker at " + at);
    } else if (end == "erasedMemory") {
      Note(read + ": erased memory from " + at +
           " on; records after it, if any, were not read (a download without --until-end reads "
           "them)");
    } else if (end == "memoryEnd") {
      Note(read + ": the log has no end marker and fills the memory");
    }
  }

  void SaveProfile(ui::ScriptedWindow& window) {
    if (!Read(window)) return;
    Profile profile = WindowProfile(*dialog_);
    profile.model = out_.identity->model;
    profile.firmwareVersion = out_.identity->firmwareVersion;
    profile.readAt = UtcNow();
    out_.profile.emplace();
    out_.profile->file = inv_.output;
    std::error_code why;
    if (!WriteFileReplacing(inv_.output, ProfileText(profile), why)) {
      Note(WithReason("cannot write " + inv_.output, why));
      fileProblem_ = true;
      return;
    }
    completed_ = true;
  }

  void ApplyProfile(ui::ScriptedWindow& window) {
    if (!Read(window)) return;
    // Another model's fields may mean other things: its values go only
    // where the user says they fit.
    const std::string& model = out_.identity->model;
    if (!profile_.model.empty() && profile_.model != model && !inv_.anyModel) {
      Note("not applied: " + inv_.operands[0] + " was saved from a " + profile_.model +
           ", this tracker is a " + model + " (--any-model applies it anyway)");
      difference_ = true;
      return;
    }
    // Refused as the window's Write refuses it, dry run or not; a dry run
    // also refuses what the window's field checks would, instead of listing
    // it as a difference an apply would then fail on.
    for (const ProfileValue& v : profile_.values) {
      std::string refusal = inv_.dryRun ? NumberRefusal(v) : "";
      if (std::string(v.field->member) == "shutdownVoltage" && !isStorableVoltsText(v.text)) {
        refusal = msg::Text(msg::Id::kShutdownVoltageOutOfRange);
      }
      if (refusal.empty()) continue;
      Note(std::string(v.field->member) + " " + v.text + ": " + refusal);
      failure_ = kExitMessage;
      return;
    }
    ProfileReport& report = *out_.profile;
    report.differences = Differences(profile_, *dialog_);
    if (inv_.dryRun || report.differences.empty()) {
      completed_ = true;
      difference_ = !report.differences.empty();
      return;
    }
    if (Interrupted()) return;
    bool radio = false, settings = false;
    for (const FieldDifference& d : report.differences) {
      Set(window, *FieldOf(d.field->member), d.profile);
      (std::string(d.field->group) == "radio" ? radio : settings) = true;
    }
    // Update first: its save exchange checks every field typed, so a value
    // the window refuses stops the apply before anything is written.
    if (radio) {
      const Mark before = Now();
      Press(window, IDC_UPDATE);
      if (ProblemSince(before) || Interrupted()) return;
    }
    if (settings) {
      const Mark before = Now();
      Press(window, IDC_WRITE);
      if (!Reported(msg::Id::kWriteComplete, before) || Interrupted()) return;
    }
    if (!Read(window)) return;
    report.remaining = Differences(profile_, *dialog_);
    for (const FieldDifference& d : *report.remaining) {
      Note(std::string(d.field->member) + " did not take: the tracker has " + d.tracker);
    }
    difference_ = !report.remaining->empty();
    completed_ = true;
  }

  const Invocation& inv_;
  const LiveHooks& hooks_;
  Outcome& out_;
  ui::ScriptedBackend* backend_ = nullptr;
  CTrackerDlg* dialog_ = nullptr;
  std::mutex messagesLock_;  // guards out_.messages and outcomes_
  std::vector<msg::Outcome> outcomes_;
  Profile profile_;
  bool answerClear_ = false;
  bool erasing_ = false;
  bool completed_ = false;
  bool difference_ = false;
  bool fileProblem_ = false;
  bool interrupted_ = false;
  bool notTracker_ = false;
  size_t boxesWithOutcome_ = 0;  // under messagesLock_
  std::string pendingRefusal_;   // under messagesLock_
  ExitCode failure_ = kExitOk;   // a cause found apart from the window
};

}  // namespace

bool DumpMatchesFlashImage(const std::vector<uint8_t>& dump, int bytesRead) {
  const size_t bytes = static_cast<size_t>(std::max<int64_t>(MemoryDumpBytes(bytesRead), 0));
  if (dump.size() != bytes) return false;
  for (size_t k = 0; k < bytes; ++k) {
    if (FlashImage[k] != dump[k]) return false;
  }
  return true;
}

Outcome Run(const Invocation& invocation, const LiveHooks& hooks) {
  Outcome outcome;
  outcome.invocation = invocation;
  Session session(outcome.invocation, hooks, outcome);
  session.Run();
  outcome.exitCode = session.Code();
  if (outcome.exitCode == kExitMessage && session.NotTracker()) outcome.result = kResultNoTracker;
  // A failure always says something: at least what the status line shows.
  if (outcome.exitCode != kExitOk && outcome.usageProblem.empty() && outcome.messages.empty() &&
      outcome.notes.empty()) {
    std::string note = "the operation did not complete";
    for (const WindowValue& v : outcome.window) {
      if (v.member == "statusText" && !v.text.empty()) note += "; the status line says " + v.text;
    }
    outcome.notes.push_back(note);
    if (hooks.note) hooks.note(note);
  }
  return outcome;
}

}  // namespace cli
