// The exports' text and the operations that write them.
#include "tracklog/track_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kw9_version.h"
#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/kml_writer.h"
#include "tracklog/track_dates.h"

namespace {

using testing_support::ScratchDir;
using testing_support::Slurp;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TrackFix Fix(double lon, double lat, int offset) {
  TrackFix fix;
  fix.longitude = lon;
  fix.latitude = lat;
  fix.altitude = -215;
  fix.satellites = 7;
  fix.offset = offset;
  return fix;
}

// Catches a KML 2.2 export that would replace its own input by default.
// (That each name the command line takes names its format:
// CliCommandLine.EveryFormatNameIsAnExportFormat.)
TEST(TrackExport, DefaultPathsAndNames) {
  const std::pair<TrackFormat, const char*> rows[] = {{TrackFormat::kGpx, "dir/track.gpx"},
                                                      {TrackFormat::kCsv, "dir/track.csv"},
                                                      {TrackFormat::kGeoJson, "dir/track.geojson"},
                                                      {TrackFormat::kKml22, "dir/track.kml22.kml"},
                                                      {TrackFormat::kSvg, "dir/track.svg"}};
  for (const auto& [format, path] : rows)
    EXPECT_EQ(DefaultExportPath("dir/track.kml", format), path);
  EXPECT_FALSE(TrackFormatNamed("GPX"));
}

// Catches segments split at exactly 10 minutes or not split past them, a fix
// without a time that splits or ends a segment, and a fix off the globe
// written (GPX readers refuse a latitude beyond 90).
TEST(TrackExport, SegmentsAndFixesOffTheGlobe) {
  TrackModel model;
  const std::vector<int64_t> times = {1000, 1600, kNoTime, 2201, 2300, 2400};
  for (int i = 0; i < 6; ++i) model.fixes.push_back(Fix(1 + i, 2, 15 * i));
  model.fixes[4].latitude = 90.5;  // minutes above 59 add in
  const struct {
    TrackFormat format;
    const char* segment;
    const char* timedPoint;  // a mark of each point with a time
  } rows[] = {{TrackFormat::kGpx, "<trkseg>", "</time><sat>"},
              {TrackFormat::kCsv, "\n", "Z,"},
              {TrackFormat::kGeoJson, "\"Feature\"", "Z\""},
              {TrackFormat::kKml22, "<LineString>", "<when>"}};
  for (const auto& row : rows) {
    TrackText text;
    AppendTrackExport(text, row.format, model, times, 0);
    if (row.format != TrackFormat::kCsv) {
      EXPECT_EQ(Count(text.Text(), row.segment), 2u) << TrackFormatName(row.format);
    }
    EXPECT_EQ(Count(text.Text(), row.timedPoint), 4u) << TrackFormatName(row.format);
    EXPECT_EQ(Count(text.Text(), "90.5"), 0u) << TrackFormatName(row.format);
  }
}

// The files themselves: CR LF line ends, the GPX root and the schema's order
// of a point's children, CSV's empty time for a fix without one.
TEST(TrackExport, FilesAsWritten) {
  TrackModel model;
  model.fixes = {Fix(180, -0.5, 0), Fix(-97.1235383, 30.4574266, 15)};
  const std::vector<int64_t> times = {1772409599, kNoTime};
  const ScratchDir dir;
  const ExportResult gpx =
      WriteTrackFile(dir / "t.gpx", TrackFormat::kGpx, model, times, 1772409600);
  ASSERT_TRUE(gpx.ok) << gpx.message;
  EXPECT_EQ(gpx.points, 2);
  EXPECT_EQ(gpx.untimed, 1);
  EXPECT_EQ(Slurp(dir / "t.gpx"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<gpx version=\"1.1\" creator=\"kw9 " KW9_VERSION
            "\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
            "http://www.topografix.com/GPX/1/1/gpx.xsd\">\r\n"
            "  <metadata>\r\n    <time>2026-03-02T00:00:00Z</time>\r\n  </metadata>\r\n"
            "  <trk>\r\n    <trkseg>\r\n"
            "      <trkpt lat=\"-0.500000\" lon=\"-180.000000\"><ele>-215</ele>"
            "<time>2026-03-01T23:59:59Z</time><sat>7</sat></trkpt>\r\n"
            "      <trkpt lat=\"30.457427\" lon=\"-97.123538\"><ele>-215</ele>"
            "<sat>7</sat></trkpt>\r\n"
            "    </trkseg>\r\n  </trk>\r\n</gpx>\r\n");
  ASSERT_TRUE(WriteTrackFile(dir / "t.csv", TrackFormat::kCsv, model, times, 0).ok);
  EXPECT_EQ(Slurp(dir / "t.csv"),
            "time,latitude,longitude,altitude,satellites,offset\r\n"
            "2026-03-01T23:59:59Z,-0.500000,180.000000,-215,7,0\r\n"
            ",30.457427,-97.123538,-215,7,15\r\n");
}

// Catches inferred dates not told, or told although a date was given. (The
// dates themselves: ExportReaders; a folder that does not exist, a file that
// fails its check, its own name as the output: Kw9cliExport.RefusalsWriteNothing.)
TEST(TrackExport, StoredFileOperation) {
  const ScratchDir dir;
  const std::string input = dir / "track.kml";
  testing_support::LoadFlashImage({{0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58}}},
                                  {64, 8180});
  ASSERT_TRUE(testing_support::WriteDownloadKml(input));
  ExportResult r = ExportStoredKml({input, TrackFormat::kCsv, "2026-03-01", ""});
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.notice, "");
  r = ExportStoredKml({input, TrackFormat::kGpx, "", ""});
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_NE(r.notice.find("modification time of " + input), std::string::npos) << r.notice;
}

// The download's exports: the fixes that arrived, dated back from the moment
// it ended. Catches a record cut short exported and dates anchored forward
// instead of back. (Signs lost to the KML writer, which clears their flags,
// are caught where a real download hands its track over: the kw9cli download
// test's exports.)
TEST(TrackExport, DownloadOperation) {
  testing_support::LoadFlashImage({{0, {2, 30, 0, 0x80, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 50}},
                                   {15, {2, 31, 0, 0x80, 51, 31, 0, 0, 1, 2, 3, 4, 0, 0, 10}},
                                   {30, {2, 32, 0, 0x80, 51, 32, 0, 0, 1, 2, 3, 4, 0, 0, 20}}},
                                  {1024, 131056});
  const int arrived = 40;  // the third record did not come whole
  const TrackModel track = DecodeFlashImage(arrived);
  const ScratchDir dir;
  ASSERT_TRUE(testing_support::WriteDownloadKml(dir / "track.kml", arrived));

  const ExportResult r =
      ExportDownloadedTrack(track, 1772409900, TrackFormat::kCsv, dir / "track.csv");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(Slurp(dir / "track.csv"),
            "time,latitude,longitude,altitude,satellites,offset\r\n"
            "2026-03-01T23:59:50Z,51.500000,-2.500000,10203,4,0\r\n"
            "2026-03-02T00:00:10Z,51.516667,-2.516667,10203,4,15\r\n");
  EXPECT_NE(r.notice.find("2026-03-02T00:05:00Z"), std::string::npos) << r.notice;
}

// The places of the picture's fixes, in tenths of a pixel: the points of its
// line's paths (class "t": "M x y", then steps "l dx dy dx dy ...").
std::vector<std::pair<long, long>> LinePoints(const std::string& svg) {
  std::vector<std::pair<long, long>> points;
  const std::string tag = "<path class=\"t\"";
  for (size_t at = svg.find(tag); at != std::string::npos; at = svg.find(tag, at + 1)) {
    const char* p = svg.c_str() + svg.find(" d=\"", at) + 4;
    std::vector<long> numbers;
    bool moved = false;
    while (*p != '"') {
      char* end = nullptr;
      const long v = std::strtol(p, &end, 10);
      if (end == p) {
        moved = moved || *p == 'M';
        ++p;
        continue;
      }
      numbers.push_back(v);
      p = end;
      if (numbers.size() < 2) continue;
      if (moved || points.empty()) {
        points.push_back({numbers[0], numbers[1]});
      } else {
        points.push_back({points.back().first + numbers[0], points.back().second + numbers[1]});
      }
      numbers.clear();
      moved = false;
    }
  }
  return points;
}

// A kilometre east, then a kilometre north: the picture draws both as long,
// and square. Catches the east scale of the equator used at 60 degrees,
// north drawn downwards, and a track across the 180th meridian drawn as two
// pieces the width of the globe apart.
TEST(TrackExport, PictureAxesMeasureAlike) {
  const double kmNorth = 1 / 111.195;  // degrees of latitude to a kilometre
  const struct {
    const char* name;
    double lon, lat;
  } rows[] = {{"60 north", 10, 60}, {"45 south", -70, -45}, {"180th meridian", 179.995, 20}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const double kmEast = kmNorth / std::cos(row.lat * 3.14159265358979 / 180);
    double eastLon = row.lon + kmEast;
    if (eastLon > 180) eastLon -= 360;
    TrackModel model;
    model.fixes = {Fix(row.lon, row.lat, 0), Fix(eastLon, row.lat, 15),
                   Fix(eastLon, row.lat + kmNorth, 30)};
    TrackText text;
    AppendTrackExport(text, TrackFormat::kSvg, model, {100, 110, 120}, 0);
    const std::vector<std::pair<long, long>> p = LinePoints(text.Text());
    ASSERT_EQ(p.size(), 3u) << text.Text();
    const long east = p[1].first - p[0].first, north = p[1].second - p[2].second;
    EXPECT_GT(east, 1000) << "a kilometre fills the map";
    EXPECT_NEAR(p[1].second, p[0].second, 1);
    EXPECT_NEAR(p[2].first, p[1].first, 1);
    EXPECT_NEAR(north, east, 3);
  }
}

}  // namespace
