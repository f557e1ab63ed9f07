// The window's track menu through the scripted backend: its items' order, and
// Show Track and Export Track with the last download, a track the user opens,
// a cancelled dialog and a file that is no track.
#include "app/track_menu.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/os/viewer.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/download_stamp.h"

using testing_support::DialogHarness;
using testing_support::ScratchDir;
using testing_support::Slurp;

namespace {

std::vector<std::string> viewed;

bool RecordViewed(const std::string& path) {
  viewed.push_back(path);
  return true;
}

// Catches an item missing, out of order, or put after About.
TEST(TrackMenu, ItemsBeforeAbout) {
  DialogHarness harness;
  harness.Run([](ui::ScriptedWindow& w) {
    const std::vector<std::pair<unsigned, std::string>> tail = {
        {0, ""},
        {IDM_EXPORT_TRACK, "Export Track..."},
        {IDM_SHOW_TRACK, "Show Track"},
        {IDM_SAVE_PROFILE, "Save Settings Profile..."},
        {IDM_LOAD_PROFILE, "Load Settings Profile..."},
        {0, ""},
        {IDM_ABOUTBOX, "&About kw9..."}};
    const auto& menu = w.SystemMenu();
    ASSERT_GE(menu.size(), tail.size());
    EXPECT_EQ(std::vector(menu.end() - static_cast<ptrdiff_t>(tail.size()), menu.end()), tail);
  });
}

// Catches a picture or export not written, the last download not offered
// first, a cancelled dialog that still does something, and a file that is no
// track shown without a word; for the date question, a modification time not
// shown, a first fix's date typed but not used, and one that is no date
// taken without a word.
TEST(TrackMenu, ShowAndExport) {
  const ScratchDir dir;
  const std::string kml = dir / "walk.kml";
  const std::string notTrack = dir / "notes.kml";
  testing_support::LoadFlashImage({{0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58}},
                                   {15, {2, 1, 0, 0, 51, 31, 0, 0, 1, 2, 3, 4, 0, 0, 8}}},
                                  {64, 8180});
  ASSERT_TRUE(testing_support::WriteDownloadKml(kml));
  testing_support::Spill(notTrack, "<kml/>\n");
  // 2026-03-02T08:00:00Z, as the end of a download would leave it.
  std::filesystem::last_write_time(kml, std::chrono::file_clock::from_sys(std::chrono::sys_seconds{
                                            std::chrono::seconds{1772438400}}));
  const struct {
    const char* name;
    unsigned command;
    const char* last;                                // the last download's file
    std::vector<std::optional<std::string>> chosen;  // the file dialogs' answers
    size_t dialogs;                                  // the file dialogs shown
    bool shown;                                      // a picture went to the viewer
    const char* written;                             // an export's file, or ""
    const char* message;                             // in the one message, or nullptr
    const char* date;  // typed into the date question, then Export; nullptr: closed
  } rows[] = {
      {"show the last download", IDM_SHOW_TRACK, "walk.kml", {}, 0, true, "", nullptr, nullptr},
      {"show an opened track", IDM_SHOW_TRACK, "", {"walk.kml"}, 1, true, "", nullptr, nullptr},
      {"show cancelled", IDM_SHOW_TRACK, "", {std::nullopt}, 1, false, "", nullptr, nullptr},
      {"show no track", IDM_SHOW_TRACK, "notes.kml", {}, 0, false, "", "notes.kml", nullptr},
      {"export as CSV",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {"walk.kml", "out.csv"},
       2,
       false,
       "out.csv",
       "Wrote 2 fixes",
       ""},
      {"export with the first fix's date",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {"walk.kml", "dated.csv"},
       2,
       false,
       "dated.csv",
       "Wrote 2 fixes",
       "2025-07-14"},
      {"date question closed",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {"walk.kml", "out.csv"},
       2,
       false,
       "",
       nullptr,
       nullptr},
      {"no date",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {"walk.kml", "out.csv"},
       2,
       false,
       "",
       "Not a date: 1.3.2026 (YYYY-MM-DD)",
       "1.3.2026"},
      {"export of a folder",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {".", "out.csv"},
       2,
       false,
       "",
       "is a folder, not a file: not read",
       nullptr},
      {"show a folder", IDM_SHOW_TRACK, "", {"."}, 1, false, "", "is a folder", nullptr},
      {"export cancelled",
       IDM_EXPORT_TRACK,
       "walk.kml",
       {"walk.kml", std::nullopt},
       2,
       false,
       "",
       nullptr,
       nullptr},
  };
  platform::SetViewerHandler(RecordViewed);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    viewed.clear();
    DialogHarness harness;
    if (*row.last != '\0') lastTrackFile = dir / row.last;
    size_t next = 0;
    harness.backend().AnswerFileDialogs([&](const ui::FileDialogRequest&) {
      const std::optional<std::string> a = next < row.chosen.size() ? row.chosen[next++] : "";
      return a ? std::optional<std::string>(dir / *a) : std::nullopt;
    });
    std::string notice;
    if (row.date) {
      harness.backend().SetScript(IDD_EXPORT_DATE, [&](ui::ScriptedWindow& w) {
        notice = w.Text(IDC_EXPORT_DATE_NOTICE);
        w.Type(IDC_EXPORT_DATE, row.date);
        w.Click(IDOK);
      });
    }
    harness.Run([&](ui::ScriptedWindow& w) { w.SystemCommand(row.command); });
    if (row.date) {
      EXPECT_EQ(notice, "2026-03-02T08:00:00Z, taken as the end of its download.");
    }
    EXPECT_EQ(harness.backend().FileDialogs().size(), row.dialogs);
    ASSERT_EQ(viewed.size(), row.shown ? 1u : 0u);
    if (row.shown) {
      const std::string svg = Slurp(viewed[0]);
      EXPECT_NE(svg.find(">2 fixes, 1 segment, "), std::string::npos) << viewed[0];
      EXPECT_NE(svg.find(" UTC, last fix "), std::string::npos);
      std::error_code ec;
      std::filesystem::remove(viewed[0], ec);
    }
    if (*row.written != '\0') {
      const std::string csv = Slurp(dir / row.written);
      EXPECT_EQ(csv.rfind("time,latitude,longitude", 0), 0u);
      // From the file's time, the last fix (00:00:08) falls on 2026-03-02.
      const bool inferred = *row.date == '\0';
      const std::string first = std::string(inferred ? "2026-03-01" : row.date) + "T23:59:58Z,";
      EXPECT_NE(csv.find("\n" + first), std::string::npos) << csv;
      EXPECT_EQ(harness.Messages().at(0).find("Dates inferred") != std::string::npos, inferred);
    }
    const std::vector<std::string> messages = harness.Messages();
    ASSERT_EQ(messages.size(), row.message ? 1u : 0u);
    if (row.message) {
      EXPECT_NE(messages[0].find(row.message), std::string::npos) << messages[0];
    }
  }
  platform::SetViewerHandler(nullptr);
}

// A copy made a week after its download: the question shows the download
// time its stamp holds, and the export dates the fixes from it. Catches the
// copy's time shown or used, and the question's first line left saying
// "modification time".
TEST(TrackMenu, ExportOfAStampedFileAsksAboutItsDownloadTime) {
  const ScratchDir dir;
  testing_support::LoadFlashImage({{0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58}}},
                                  {64, 8180});
  ASSERT_TRUE(testing_support::WriteDownloadKml(dir / "copy.kml"));
  DownloadStamp stamp;
  stamp.time = 1772452800;  // 2026-03-02T12:00:00Z
  std::string line = DownloadStampLine(stamp);
  line.insert(line.size() - 1, "\r");
  testing_support::Spill(dir / "copy.kml", Slurp(dir / "copy.kml") + line);
  std::filesystem::last_write_time(dir / "copy.kml",  // 2026-03-09T12:00:00Z
                                   std::chrono::file_clock::from_sys(
                                       std::chrono::sys_seconds{std::chrono::seconds{1773057600}}));
  DialogHarness harness;
  std::vector<std::string> answers = {dir / "copy.kml", dir / "out.csv"};
  harness.backend().AnswerFileDialogs([&](const ui::FileDialogRequest&) {
    const std::string next = answers.front();
    answers.erase(answers.begin());
    return std::optional<std::string>(next);
  });
  std::string source, notice;
  harness.backend().SetScript(IDD_EXPORT_DATE, [&](ui::ScriptedWindow& w) {
    source = w.Text(IDC_EXPORT_DATE_SOURCE);
    notice = w.Text(IDC_EXPORT_DATE_NOTICE);
    w.Click(IDOK);
  });
  harness.Run([](ui::ScriptedWindow& w) { w.SystemCommand(IDM_EXPORT_TRACK); });
  EXPECT_EQ(source, "The dates come from the download time the file holds,");
  EXPECT_EQ(notice, "2026-03-02T12:00:00Z, the end of its download.");
  EXPECT_NE(Slurp(dir / "out.csv").find("\r\n2026-03-01T23:59:58Z,"), std::string::npos);
}

}  // namespace
