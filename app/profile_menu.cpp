// Save writes what the window shows after a completed Read, as kw9cli profile
// save writes it (no identity: the serial number and the radio's serial stay
// out). Load only fills the fields the profile names: nothing is sent until
// the user presses Write or Update, after looking.
#include "app/profile_menu.h"

#include <optional>
#include <string>

#include "app/control_ids.h"
#include "app/data_exchange.h"
#include "app/file_checks.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "config/settings.h"
#include "platform/os/text_file.h"
#include "platform/ui/message_box.h"
#include "tracklog/track_export.h"
#include "tracklog/track_text.h"

namespace {

constexpr char kProfileFilter[] = "Profile Files (*.json)|*.json|All Files (*.*)|*.*||";

const Binding* BindingOf(const char* member) {
  for (const Binding& b : kBindings) {
    if (std::string(member) == b.member) return &b;
  }
  return nullptr;
}

// "3.3" and "3.30" are the same shutdown voltage: the field keeps its text.
bool SameText(const config::ProfileField& field, const std::string& a, const std::string& b) {
  if (std::string(field.member) == "shutdownVoltage" && isStorableVoltsText(a) &&
      isStorableVoltsText(b)) {
    return countFromVoltsText(a) == countFromVoltsText(b);
  }
  return a == b;
}

}  // namespace

config::Profile WindowProfile(const CTrackerDlg& dialog) {
  config::Profile profile;
  for (const config::ProfileField& f : config::ProfileFields()) {
    const Binding* binding = BindingOf(f.member);
    if (binding != nullptr) profile.values.push_back({&f, BoundValue(dialog, *binding)});
  }
  return profile;
}

void CTrackerDlg::OnSaveProfile() {
  if (RefuseWhileBusy()) return;
  // Without a completed Read the fields are the window's start-up values.
  if (!configRead) {
    msg::Tell(msg::Id::kReadBeforeWrite);
    return;
  }
  // What the window shows is saved, the user's edits included; a field the
  // window refuses stops it as it stops Write.
  if (!UpdateData(true)) return;
  config::Profile profile = WindowProfile(*this);
  profile.model = LabelValue(modelLabel, "Model: ");
  profile.firmwareVersion = LabelNumber(LabelValue(versionLabel, "Version "));
  TrackText readAt;
  readAt.IsoTime(UnixNow());
  profile.readAt = readAt.Text();
  CFileDialog saveDialog(false, ".json", "profile.json", OFN_OVERWRITEPROMPT, kProfileFilter);
  if (DoModalInRememberedFolder(saveDialog, "folder.profileSave") != IDOK) return;
  const std::string path = saveDialog.GetPathName();
  const std::string refusal = OutputRefusal(path, portName);
  if (!refusal.empty()) {
    platform::ShowMessageBox(refusal);
    return;
  }
  platform::TextOutFile out;
  const std::string text = config::ProfileText(profile);
  if (!out.OpenReplacing(path) || !out.WriteBytes(text.data(), text.size()) || !out.Close()) {
    out.Discard();
    platform::ShowMessageBox("cannot write " + path);
    return;
  }
  statusText = "Profile saved";
  SetDlgItemText(IDC_STATUS, statusText);
}

void CTrackerDlg::OnLoadProfile() {
  if (RefuseWhileBusy()) return;
  CFileDialog openDialog(true, ".json", nullptr, 0, kProfileFilter);
  if (DoModalInRememberedFolder(openDialog, "folder.profileLoad") != IDOK) return;
  const std::string path = openDialog.GetPathName();
  std::string problem = InputRefusal(path);
  config::ProfileRead read;
  if (problem.empty()) {
    read = config::ReadProfileFile(path);
    problem = read.problem;
  }
  if (!read.profile) {
    platform::ShowMessageBox(problem);
    return;
  }
  // Straight into the controls, not the members: a field the profile does
  // not name keeps what the user typed, and Write's exchange checks them all.
  // The radio's fields show only in calibration mode, where Update sends them.
  ui::Window& window = *GetWindow();
  int changed = 0;
  for (const config::ProfileValue& v : read.profile->values) {
    const Binding* binding = BindingOf(v.field->member);
    if (binding == nullptr || (std::string(v.field->group) == "radio" && !calibrationMode)) {
      continue;
    }
    if (binding->kind == BindingKind::kCheck) {
      const int state = v.text != "0" ? 1 : 0;
      if (window.GetCheck(binding->control) == state) continue;
      window.SetCheck(binding->control, state);
    } else {
      if (SameText(*v.field, GetDlgItemText(binding->control), v.text)) continue;
      SetDlgItemText(binding->control, v.text);
    }
    ++changed;
  }
  statusText = "Profile loaded: " + std::to_string(changed) +
               (changed == 1 ? " field changed" : " fields changed");
  SetDlgItemText(IDC_STATUS, statusText);
}

std::string LabelValue(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : std::string();
}

std::optional<int64_t> LabelNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}
