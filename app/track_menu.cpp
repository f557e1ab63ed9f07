// The window's track menu, beside About in the system menu (the context menu
// on the Linux desktop): a stored track exported as kw9cli export writes it,
// and its picture shown in the system's viewer. Both take the KML file of the
// last download, or one the user opens, dated as kw9cli export dates it
// without --date (the download time the file holds, else its modification
// time); Export Track asks first whether the user knows the first fix's date
// instead. The settings profiles follow in the same menu (profile_menu.cpp).
#include "app/track_menu.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/file_checks.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "platform/os/os.h"
#include "platform/os/viewer.h"
#include "platform/ui/message_box.h"
#include "tracklog/kml_writer.h"
#include "tracklog/stored_kml.h"
#include "tracklog/track_export.h"
#include "tracklog/track_text.h"

namespace {

// The save dialog's types, in the order of TrackFormats() up to KML 2.2.
constexpr char kExportFilter[] =
    "GPX Files (*.gpx)|*.gpx|CSV Files (*.csv)|*.csv|GeoJSON Files (*.geojson)|*.geojson|"
    "KML 2.2 Files (*.kml)|*.kml||";

// Export Track's date question: the dates would come from the download time
// the input's stamp holds, else from its modification time (shown); a date
// typed is the first fix's instead.
class CExportDateDlg : public CDialog {
 public:
  CExportDateDlg(std::string from, std::string moment)
      : CDialog(FindDialogTemplate(IDD_EXPORT_DATE)),
        source(std::move(from)),
        notice(std::move(moment)) {}
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_EXPORT_DATE_SOURCE, source);
    DDX_Text(pDX, IDC_EXPORT_DATE_NOTICE, notice);
    DDX_Text(pDX, IDC_EXPORT_DATE, date);
  }
  std::string source;
  std::string notice;
  std::string date;
};

// The download time the input's stamp holds, as the question shows it;
// nullopt for a file without one.
std::optional<std::string> StampNotice(const std::string& input) {
  const StoredKml stored = ReadStoredKml(input);
  if (!stored.ok || !stored.stamp || !stored.stamp->time) return std::nullopt;
  TrackText text;
  text.IsoTime(*stored.stamp->time).Add(", the end of its download.");
  return text.Text();
}

// The input's modification time as the question shows it; nullopt when it
// cannot be read (the export then says so).
std::optional<std::string> ModificationNotice(const std::string& input) {
  std::error_code ec;
  const auto modified = std::filesystem::last_write_time(input, ec);
  if (ec) return std::nullopt;
  const int64_t moment = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::file_clock::to_sys(modified).time_since_epoch())
                             .count();
  TrackText text;
  text.IsoTime(moment).Add(", taken as the end of its download.");
  return text.Text();
}

// The format a chosen name asks for by its extension; GPX for any other.
TrackFormat ExportFormatOf(const std::string& path) {
  const std::string extension = platform::Utf8(platform::NamePath(path).extension());
  if (extension == ".csv") return TrackFormat::kCsv;
  if (extension == ".geojson" || extension == ".json") return TrackFormat::kGeoJson;
  if (extension == ".kml") return TrackFormat::kKml22;
  return TrackFormat::kGpx;
}

}  // namespace

void AppendTrackMenu(ui::Window& window) {
  window.AppendSystemMenuItem(IDM_EXPORT_TRACK, "Export Track...");
  window.AppendSystemMenuItem(IDM_SHOW_TRACK, "Show Track");
  window.AppendSystemMenuItem(IDM_SAVE_PROFILE, "Save Settings Profile...");
  window.AppendSystemMenuItem(IDM_LOAD_PROFILE, "Load Settings Profile...");
}

bool CTrackerDlg::ChooseTrackFile(std::string& path) {
  // The last download is offered first; a file that is gone is not.
  const std::string& last = lastTrackFile;
  std::error_code ec;
  if (!last.empty() && std::filesystem::is_regular_file(platform::FsPath(last), ec)) {
    path = last;
    return true;
  }
  CFileDialog openDialog(true, ".kml", nullptr, 0, kKmlFileFilter);
  if (DoModalInRememberedFolder(openDialog, "folder.showTrack") != IDOK) return false;
  path = openDialog.GetPathName();
  lastTrackFile = path;
  return true;
}

void CTrackerDlg::OnExportTrack() {
  if (RefuseWhileBusy()) return;
  CFileDialog openDialog(true, ".kml", lastTrackFile.c_str(), 0, kKmlFileFilter);
  if (DoModalInRememberedFolder(openDialog, "folder.exportInput") != IDOK) return;
  const std::string input = openDialog.GetPathName();
  lastTrackFile = input;
  const std::string suggested =
      platform::Utf8(platform::NamePath(DefaultExportPath(input, TrackFormat::kGpx)).filename());
  CFileDialog saveDialog(false, ".gpx", suggested.c_str(), OFN_OVERWRITEPROMPT, kExportFilter);
  if (DoModalInRememberedFolder(saveDialog, "folder.exportOutput") != IDOK) return;
  const std::string output = saveDialog.GetPathName();
  // The same refusals as kw9cli export's: a device or a pipe never ends as
  // an input, and a track written to the port reaches the tracker as commands.
  for (const std::string& refusal : {InputRefusal(input), OutputRefusal(output, portName)}) {
    if (!refusal.empty()) {
      platform::ShowMessageBox(refusal);
      return;
    }
  }
  // A stored file's dates come from the download time its stamp holds, else
  // from its modification time (a copy's says nothing), unless the user
  // knows the first fix's date.
  std::string date;
  if (const std::optional<std::string> stamp = StampNotice(input)) {
    CExportDateDlg question("The dates come from the download time the file holds,", *stamp);
    if (question.DoModal() != IDOK) return;
    date = question.date;
  } else if (const std::optional<std::string> notice = ModificationNotice(input)) {
    CExportDateDlg question("The dates come from the file's modification time,", *notice);
    if (question.DoModal() != IDOK) return;
    date = question.date;
  }
  const ExportResult r = ExportStoredKml({input, ExportFormatOf(output), date, output});
  if (!r.ok) {
    platform::ShowMessageBox(r.message);
    return;
  }
  // Where the dates came from, as kw9cli tells it.
  platform::ShowMessageBox(r.notice + "Wrote " + std::to_string(r.points) + " fixes to " + output);
}

void CTrackerDlg::OnShowTrack() {
  if (RefuseWhileBusy()) return;
  std::string input;
  if (!ChooseTrackFile(input)) return;
  if (const std::string refusal = InputRefusal(input); !refusal.empty()) {
    platform::ShowMessageBox(refusal);
    return;
  }
  const std::string picture = platform::Utf8(
      platform::NamePath(platform::ViewerFolder()) /
      platform::NamePath("kw9-" + platform::Utf8(platform::NamePath(input).stem()) + ".svg"));
  const ExportResult r = ExportStoredKml({input, TrackFormat::kSvg, "", picture});
  if (!r.ok) {
    platform::ShowMessageBox(r.message);
    return;
  }
  if (!platform::OpenInViewer(picture)) {
    platform::ShowMessageBox("Cannot open " + picture + " in the system's viewer");
  }
}
