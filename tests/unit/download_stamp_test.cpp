// The download's stamp line: written, read back, passed over by Fix KML, and
// the anchor a stored file's export dates its fixes from.
#include "tracklog/download_stamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/identify.h"
#include "platform/os/os.h"
#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/kml_repair.h"
#include "tracklog/track_export.h"

namespace {

using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;

constexpr int64_t kDecember9 = 1796803262;  // 2026-12-09T08:01:02Z

DownloadStamp Stamp(std::optional<int64_t> time, TrackerIdentity tracker,
                    std::optional<int> bytesRead = std::nullopt, int memoryBytes = 0) {
  DownloadStamp stamp;
  stamp.time = time;
  stamp.tracker = std::move(tracker);
  stamp.bytesRead = bytesRead;
  stamp.memoryBytes = memoryBytes;
  return stamp;
}

// Catches a field written in another form than the reader takes, a field
// written although unknown, a model word that would end or break the XML
// comment, a read range off by one, and a line Fix KML would change.
TEST(DownloadStamp, WrittenAndReadBack) {
  const TrackerIdentity tracker{"KLX-TX3", 20, 2417, "4.02"};
  const struct {
    const char* what;
    DownloadStamp stamp;
    const char* line;
    const char* modelReadBack;
  } rows[] = {
      {"all known", Stamp(kDecember9, tracker),
       "<!-- kw9 download 2026-12-09T08:01:02Z model KLX-TX3 firmware 20 serial 2417 -->\n",
       "KLX-TX3"},
      {"no Read before it", Stamp(kDecember9, {}), "<!-- kw9 download 2026-12-09T08:01:02Z -->\n",
       ""},
      {"until the log's end", Stamp(kDecember9, tracker, 10800, 131072),
       "<!-- kw9 download 2026-12-09T08:01:02Z model KLX-TX3 firmware 20 serial 2417 read "
       "0-10799 of 131072 -->\n",
       "KLX-TX3"},
      {"a model of blanks, dashes and a comment's end", Stamp(kDecember9, {"A B--C-->", 7, 0, ""}),
       "<!-- kw9 download 2026-12-09T08:01:02Z model A_B-_C-_> firmware 7 serial 0 -->\n",
       "A_B-_C-_>"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string line = DownloadStampLine(row.stamp);
    EXPECT_EQ(line, row.line);
    EXPECT_EQ(RepairKmlLine(line), line) << "Fix KML changed the stamp";
    const std::optional<DownloadStamp> back = ParseDownloadStamp(line);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->time, row.stamp.time);
    EXPECT_EQ(back->tracker.model, row.modelReadBack);
    EXPECT_EQ(back->tracker.firmwareVersion, row.stamp.tracker.firmwareVersion);
    EXPECT_EQ(back->tracker.serialNumber, row.stamp.tracker.serialNumber);
    EXPECT_EQ(back->bytesRead, row.stamp.bytesRead);
    EXPECT_EQ(back->memoryBytes, row.stamp.memoryBytes);
  }
}

// Catches the earlier version's line of the read range alone not read, and
// other comments taken for a stamp.
TEST(DownloadStamp, OnlyAStampReadsAsOne) {
  const std::optional<DownloadStamp> earlier =
      ParseDownloadStamp("<!-- kw9 download read 0-191 of 131072 -->\r");
  ASSERT_TRUE(earlier.has_value());
  EXPECT_EQ(earlier->time, std::nullopt);
  EXPECT_EQ(earlier->bytesRead, 192);
  EXPECT_EQ(earlier->memoryBytes, 131072);
  for (const char* other : {
           "<!-- KLXDATA",
           "-->",
           "<!-- kw9 download 2026-13-01T00:00:00Z -->",
           "<!-- kw9 download serial twelve -->",
           "<!-- kw9 download read 0-200 of 100 -->",
           "<!-- kw9 download colour red -->",
           "<!-- kw9 download 2026-12-09T08:01:02Z model -->",
       }) {
    EXPECT_FALSE(ParseDownloadStamp(other).has_value()) << other;
  }
}

// A stored file's dates: --date, else the download time its stamp holds,
// else its modification time. The file here was copied a week after its
// download (its modification time says 2026-03-09). Catches the copy's time
// preferred to the stamp, the stamp preferred to --date, the anchor or the
// tracker not said in the export, and a stampless file no longer dated.
TEST(DownloadStamp, AStoredFileIsDatedByItsStampFirst) {
  const ScratchDir dir;
  testing_support::LoadFlashImage({{0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58}}},
                                  {64, 8180});
  ASSERT_TRUE(testing_support::WriteDownloadKml(dir / "plain.kml"));
  const std::string stamp =
      DownloadStampLine(Stamp(1772452800, {"KLX-TX3", 20, 2418, ""}));  // 2026-03-02T12:00:00Z
  Spill(dir / "stamped.kml", Slurp(dir / "plain.kml") + stamp.substr(0, stamp.size() - 1) + "\r\n");
  const auto copiedAt = std::chrono::file_clock::from_sys(
      std::chrono::sys_seconds{std::chrono::seconds{1773057600}});  // 2026-03-09T12:00:00Z
  for (const char* name : {"plain.kml", "stamped.kml"}) {
    std::filesystem::last_write_time(platform::FsPath(dir / name), copiedAt);
  }
  const struct {
    const char* what;
    const char* input;
    const char* date;
    DateAnchorSource anchor;
    const char* firstFix;  // the CSV's time
    const char* notice;    // a part of it; "" for none
    std::optional<uint32_t> serial;
  } rows[] = {
      {"--date first", "stamped.kml", "2026-02-27", DateAnchorSource::kDate, "2026-02-27T23:59:58Z",
       "", 2418},
      {"then the stamp", "stamped.kml", "", DateAnchorSource::kStamp, "2026-03-01T23:59:58Z",
       "download time in", 2418},
      {"then the file's time", "plain.kml", "", DateAnchorSource::kModified, "2026-03-08T23:59:58Z",
       "modification time of", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const ExportResult csv =
        ExportStoredKml({dir / row.input, TrackFormat::kCsv, row.date, dir / "t.csv"});
    ASSERT_TRUE(csv.ok) << csv.message;
    EXPECT_NE(Slurp(dir / "t.csv").find("\r\n" + std::string(row.firstFix) + ","),
              std::string::npos);
    EXPECT_EQ(csv.anchor, row.anchor);
    EXPECT_EQ(csv.tracker.serialNumber, row.serial);
    if (*row.notice == '\0') {
      EXPECT_EQ(csv.notice, "");
    } else {
      EXPECT_NE(csv.notice.find(row.notice), std::string::npos) << csv.notice;
    }
    // Each format says it where it has a place for it.
    const std::string anchor = DateAnchorName(row.anchor);
    const std::string name = row.serial ? "kw9 track, KLX-TX3 serial 2418 firmware 20" : "";
    const struct {
      TrackFormat format;
      std::string says;
    } places[] = {
        {TrackFormat::kGpx, row.serial ? "<name>" + name + "</name>\r\n    <desc>Dates from"
                                       : "<metadata>\r\n    <desc>Dates from"},
        {TrackFormat::kKml22,
         "<name>" + (row.serial ? name : "kw9 track") + "</name>\r\n  <description>Dates from"},
        {TrackFormat::kGeoJson,
         "\"dateAnchor\":\"" + anchor + "\"" +
             (row.serial ? ",\"dates\":" : ",\"dates\":\"Dates from the file's modification")},
    };
    for (const auto& place : places) {
      ASSERT_TRUE(ExportStoredKml({dir / row.input, place.format, row.date, dir / "t.out"}).ok);
      EXPECT_NE(Slurp(dir / "t.out").find(place.says), std::string::npos)
          << TrackFormatName(place.format) << ": " << Slurp(dir / "t.out").substr(0, 600);
    }
  }
}

// The name a download without --output writes. Catches a field without its
// leading zero (names that no longer sort by time) and a serial number
// written although unknown.
TEST(DownloadStamp, DefaultDownloadNames) {
  EXPECT_EQ(cli::DefaultDownloadName(2417, kDecember9), "track-2417-20261209T080102Z.kml");
  EXPECT_EQ(cli::DefaultDownloadName(std::nullopt, 1772409599), "track-20260301T235959Z.kml");
}

}  // namespace
