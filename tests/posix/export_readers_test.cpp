// The exports read back by readers nobody here wrote: gpsbabel, GDAL's
// ogrinfo and Debian's python3-gpxpy must all see the points, altitudes and
// times that the KML file's own coordinate lines hold, dated from --date.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/external_tool.h"
#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/track_readers.h"
#include "tracklog/track_export.h"

using testing_support::FromOgrinfo;
using testing_support::FromUnicsv;
using testing_support::ReadPoint;
using testing_support::Records;
using testing_support::RunTool;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::ToolRun;
using testing_support::WithoutMetadata;

namespace {

const char kDate[] = "2026-03-01";
const time_t kMidnight = 1772323200;  // 2026-03-01T00:00:00Z
const TrackFormat kFormats[] = {TrackFormat::kGpx, TrackFormat::kCsv, TrackFormat::kGeoJson,
                                TrackFormat::kKml22, TrackFormat::kSvg};

// What the KML file's coordinate lines say, dated here with the C library:
// "lon,lat,alt <!-- offset sats:n UTC hh:mm:ss -->".
std::vector<ReadPoint> PointsOfKmlLines(const std::string& kml) {
  std::vector<ReadPoint> points;
  int day = 0, previous = -1, segment = 0;
  long long lastTime = -1;
  for (const std::string& line : testing_support::CoordinateLines(kml)) {
    const size_t utc = line.find("UTC ");
    if (utc == std::string::npos) continue;
    const size_t comma = line.find(','), second = line.find(',', comma + 1);
    ReadPoint p{line.substr(comma + 1, second - comma - 1), line.substr(0, comma),
                std::strtod(line.c_str() + second + 1, nullptr), "", 0};
    int h = 0, m = 0, s = 0;
    std::sscanf(line.c_str() + utc, "UTC %d:%d:%d", &h, &m, &s);
    if (h <= 23 && m <= 59 && s <= 59) {
      const int secondOfDay = h * 3600 + m * 60 + s;
      if (previous >= 0 && secondOfDay < previous) ++day;
      previous = secondOfDay;
      const time_t t = kMidnight + day * 86400 + secondOfDay;
      if (lastTime >= 0 && t - lastTime > 600) ++segment;
      lastTime = t;
      std::tm tm{};
      gmtime_r(&t, &tm);
      char iso[32];
      std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &tm);
      p.time = iso;
    }
    p.segment = segment;
    points.push_back(p);
  }
  return points;
}

// gpxpy's view of the file, in gpsbabel's unicsv columns and a segment.
const char kGpxpyScript[] =
    "import sys, gpxpy\n"
    "g = gpxpy.parse(open(sys.argv[1]))\n"
    "assert g.version == '1.1' and g.creator.startswith('kw9 '), (g.version, g.creator)\n"
    "print('Segment,Latitude,Longitude,Altitude,Date,Time')\n"
    "for t in g.tracks:\n"
    "  for i, s in enumerate(t.segments):\n"
    "    for p in s.points:\n"
    "      tm = p.time.strftime('%Y-%m-%d,%H:%M:%S') if p.time else ','\n"
    "      print(f'{i},{p.latitude:.6f},{p.longitude:.6f},{p.elevation},{tm}')\n";

enum Sees { kPositions = 0, kAltitudes = 1, kTimes = 2, kSegments = 4 };

std::vector<ReadPoint> Ogr(const std::string& text) {
  return FromOgrinfo(text, "time");
}

const struct Reader {
  const char* name;
  TrackFormat format;
  const char* command;  // %s: the file
  std::vector<ReadPoint> (*parse)(const std::string&);
  int sees;
} kReaders[] = {
    {"gpsbabel gpx", TrackFormat::kGpx, "gpsbabel -t -i gpx -f '%s' -o unicsv -F -", FromUnicsv,
     kAltitudes | kTimes},
    {"ogrinfo gpx", TrackFormat::kGpx, "ogrinfo -ro -al -q '%s' track_points", Ogr,
     kAltitudes | kTimes | kSegments},
    {"gpxpy", TrackFormat::kGpx, "/usr/bin/python3 -c \"$KW9_GPXPY\" '%s'", FromUnicsv,
     kAltitudes | kTimes | kSegments},
    {"gpsbabel csv", TrackFormat::kCsv, "gpsbabel -i unicsv -f '%s' -o unicsv -F -", FromUnicsv,
     kAltitudes | kTimes},
    {"ogrinfo csv", TrackFormat::kCsv,
     "ogrinfo -ro -al -q -oo X_POSSIBLE_NAMES=longitude -oo Y_POSSIBLE_NAMES=latitude "
     "-oo Z_POSSIBLE_NAMES=altitude -oo AUTODETECT_TYPE=YES '%s'",
     Ogr, kAltitudes | kTimes},
    // gpsbabel reads GeoJSON lines as routes, without altitudes or times.
    {"gpsbabel geojson", TrackFormat::kGeoJson, "gpsbabel -r -i geojson -f '%s' -o unicsv -F -",
     FromUnicsv, kPositions},
    {"ogrinfo geojson", TrackFormat::kGeoJson, "ogrinfo -ro -al -q '%s'", Ogr,
     kAltitudes | kTimes | kSegments},
    {"gpsbabel kml22 line", TrackFormat::kKml22, "gpsbabel -t -i kml -f '%s' -o unicsv -F -",
     FromUnicsv, kAltitudes},
    {"gpsbabel kml22 fixes", TrackFormat::kKml22, "gpsbabel -w -i kml -f '%s' -o unicsv -F -",
     FromUnicsv, kAltitudes | kTimes},
    {"ogrinfo kml22 fixes", TrackFormat::kKml22, "ogrinfo -ro -al -q '%s' Fixes",
     [](const std::string& t) { return FromOgrinfo(t, "timestamp"); }, kAltitudes | kTimes},
};

struct ExportCase {
  const char* name;
  Records records;     // written as a download would; empty: golden is used
  const char* golden;  // a file of tests/golden
  size_t fixes;        // the points every reader must see
};
void PrintTo(const ExportCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<int> Rec(int lonDeg, int lonMin, int latDeg, int latMin, bool west, bool south, int alt,
                     int h, int m, int s) {
  std::vector<int> r = {lonDeg,      lonMin,          12,        34, latDeg, latMin, 56, 7,
                        alt / 10000, alt / 100 % 100, alt % 100, 9,  h,      m,      s};
  r[3] |= west ? 0x80 : 0;
  r[7] |= south ? 0x80 : 0;
  return r;
}

// A full 1024-kbit memory: 8738 fixes ten seconds apart, over midnight.
Records FullMemory() {
  Records records;
  for (int i = 0; i < 8738; ++i) {
    const int t = (20 * 3600 + i * 10) % 86400;
    records.push_back({i * 15, Rec(1 + i % 170, i % 60, i % 80, (i / 7) % 60, i % 3 == 0,
                                   i % 5 == 0, (i * 37) % 9000, t / 3600, t / 60 % 60, t % 60)});
  }
  return records;
}

const std::vector<int> kEnd = {0x5A, 0x5A, 0x5A, 0x5A};

// Fixes at these times of day, each a little further on, then an end marker.
Records Walk(const std::vector<std::array<int, 3>>& times, bool west = false) {
  Records records;
  for (int i = 0; i < static_cast<int>(times.size()); ++i) {
    const auto [h, m, s] = times[i];
    records.push_back({15 * i, Rec(5, 1 + i, 51, 30 + i, west, false, 100 + i, h, m, s)});
  }
  records.push_back({15 * static_cast<int>(times.size()), kEnd});
  return records;
}

class ExportReaders : public testing::TestWithParam<ExportCase> {
 protected:
  void SetUp() override {
    const ExportCase& c = GetParam();
    if (c.records.empty()) {
      testing_support::Spill(kml_, Slurp(std::string(KW9_GOLDEN_DIR) + "/" + c.golden));
    } else {
      testing_support::LoadFlashImage(c.records, {1024, 131056});
      ASSERT_TRUE(testing_support::WriteDownloadKml(kml_));
    }
    expected_ = PointsOfKmlLines(Slurp(kml_));
    ASSERT_EQ(expected_.size(), c.fixes);
    setenv("KW9_GPXPY", kGpxpyScript, 1);
  }

  ScratchDir dir_;
  const std::string kml_ = dir_ / "track.kml";
  std::vector<ReadPoint> expected_;
};

// Catches output a reader parses otherwise than meant: swapped coordinates,
// lost signs, altitudes, times or days that read differently, points merged
// or dropped, segments split in the wrong place, files a reader refuses.
TEST_P(ExportReaders, EveryReaderSeesTheTrack) {
  for (const TrackFormat format : kFormats) {
    const ExportResult r = ExportStoredKml({kml_, format, kDate, ""});
    ASSERT_TRUE(r.ok) << r.message;
  }
  for (const Reader& reader : kReaders) {
    char command[512];
    std::snprintf(command, sizeof command, reader.command,
                  DefaultExportPath(kml_, reader.format).c_str());
    const ToolRun run = RunTool(std::string("TZ=UTC ") + command + " 2>&1");
    ASSERT_EQ(run.status, 0) << reader.name << ": " << run.output.substr(0, 2000);
    const std::vector<ReadPoint> seen = reader.parse(run.output);
    ASSERT_EQ(seen.size(), expected_.size()) << reader.name;
    int wrong = 0;
    for (size_t i = 0; i < seen.size() && wrong < 5; ++i) {
      const ReadPoint& s = seen[i];
      const ReadPoint& e = expected_[i];
      if (s.lat == e.lat && s.lon == e.lon && (!(reader.sees & kAltitudes) || s.alt == e.alt) &&
          (!(reader.sees & kTimes) || s.time == e.time) &&
          (!(reader.sees & kSegments) || s.segment == e.segment)) {
        continue;
      }
      ++wrong;
      ADD_FAILURE() << reader.name << " point " << i << ": " << s.lat << " " << s.lon << " "
                    << s.alt << " " << s.time << " seg " << s.segment << ", expected " << e.lat
                    << " " << e.lon << " " << e.alt << " " << e.time << " seg " << e.segment;
    }
  }
}

// The picture's line: the points of its paths (class "t", "M x y", then
// pairs of steps), the subpaths they start, and the joins (class "j") that
// carry the line from one colour to the next.
struct PictureLine {
  size_t points = 0, subpaths = 0, joins = 0;
};

PictureLine LineOf(const std::string& svg) {
  PictureLine line;
  const std::string tag = "<path class=\"";
  for (size_t at = svg.find(tag); at != std::string::npos; at = svg.find(tag, at + 1)) {
    const size_t d = svg.find(" d=\"", at) + 4;
    const std::string path = svg.substr(d, svg.find('"', d) - d);
    if (svg.compare(at + tag.size(), 2, "j\"") == 0) {
      ++line.joins;
      continue;
    }
    size_t numbers = 0;
    for (size_t i = 0; i < path.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(path[i])) &&
          (i == 0 || !std::isdigit(static_cast<unsigned char>(path[i - 1])))) {
        ++numbers;
      }
      if (path[i] == 'M') ++line.subpaths;
    }
    line.points += numbers / 2;
  }
  return line;
}

// "2026-03-01T23:59:40Z" as the picture writes it.
std::string PictureTime(std::string iso) {
  iso[10] = ' ';
  iso.back() = ' ';
  return iso + "UTC";
}

// Catches a fix dropped from or drawn twice in the picture, a line not broken
// at a gap (or broken elsewhere), times that lose the day past midnight, and
// a file an XML reader refuses.
TEST_P(ExportReaders, PictureHoldsEveryFix) {
  const std::string svg = dir_ / "track.svg";
  const ExportResult r = ExportStoredKml({kml_, TrackFormat::kSvg, kDate, svg});
  ASSERT_TRUE(r.ok) << r.message;
  const ToolRun lint = RunTool("xmllint --noout '" + svg + "' 2>&1");
  EXPECT_EQ(lint.status, 0) << lint.output.substr(0, 2000);
  const std::string text = Slurp(svg);
  const PictureLine line = LineOf(text);
  EXPECT_EQ(line.points, expected_.size());
  EXPECT_EQ(line.subpaths - line.joins, static_cast<size_t>(expected_.back().segment + 1));
  EXPECT_NE(text.find(">" + std::to_string(expected_.size()) + " fixes, "), std::string::npos);
  std::vector<std::string> times;
  for (const ReadPoint& p : expected_) {
    if (!p.time.empty()) times.push_back(p.time);
  }
  ASSERT_FALSE(times.empty());
  const std::string span =
      "First fix " + PictureTime(times.front()) + ", last fix " + PictureTime(times.back());
  EXPECT_NE(text.find(span), std::string::npos) << span;
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, ExportReaders,
    testing::Values(
        ExportCase{"midnight_walk", Walk({{23, 59, 40}, {23, 59, 50}, {0, 0, 0}, {0, 0, 10}}, true),
                   "", 4},
        ExportCase{"negative_altitude",
                   {{0, {253, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
                    {15, Rec(70, 1, 33, 2, false, true, 4321, 10, 0, 0)},
                    {30, Rec(70, 2, 33, 3, false, true, 5, 10, 0, 10)},
                    {45, kEnd}},
                   "",
                   2},
        ExportCase{"impossible_times", Walk({{10, 0, 0}, {24, 0, 0}, {9, 60, 0}, {10, 0, 5}}), "",
                   4},
        ExportCase{"skipped_records",
                   {{0, Rec(5, 1, 5, 1, false, false, 100, 10, 0, 0)},
                    {15, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
                    {30, std::vector<int>(15, 0xFF)},
                    {45, Rec(5, 4, 5, 4, false, false, 100, 10, 0, 5)},
                    {60, kEnd}},
                   "",
                   2},
        // 600 s, then 601 s between fixes.
        ExportCase{"ten_minute_segments",
                   Walk({{10, 0, 0}, {10, 0, 10}, {10, 10, 10}, {10, 20, 11}, {10, 20, 21}}), "",
                   5},
        ExportCase{"full_1024_kbit", FullMemory(), "", 8738},
        ExportCase{"golden_64", {}, "track64.kml", 392},
        ExportCase{"golden_128", {}, "track128.kml", 763},
        ExportCase{"golden_1024", {}, "track1024.kml", 6190}),
    [](const testing::TestParamInfo<ExportCase>& info) { return std::string(info.param.name); });

// The exports and the KML file under a desktop's locale with a decimal comma
// are the same bytes as under "C". Needs a German locale built here with
// localedef (Debian's locales package has its sources).
TEST(ExportLocale, DecimalPointUnderAnyLocale) {
  ScratchDir dir;
  const ToolRun made =
      RunTool("localedef -i de_DE -f UTF-8 '" + dir / "de_DE.UTF-8" + "' 2>&1 >/dev/null");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string kml = dir / "track.kml";
  testing_support::Spill(kml, Slurp(std::string(KW9_GOLDEN_DIR) + "/track128.kml"));
  auto exportAll = [&](const std::string& tag) {
    std::string all;
    for (const TrackFormat format : kFormats) {
      const std::string out = dir / (tag + "." + TrackFormatName(format));
      EXPECT_TRUE(ExportStoredKml({kml, format, kDate, out}).ok);
      all += WithoutMetadata(Slurp(out));
    }
    // The KML writer as well.
    testing_support::LoadFlashImage({{0, Rec(2, 30, 51, 7, true, true, 1234, 1, 2, 3)}},
                                    {64, 8180});
    EXPECT_TRUE(testing_support::WriteDownloadKml(dir / (tag + ".kml")));
    return all + Slurp(dir / (tag + ".kml"));
  };
  const std::string plain = exportAll("c");
  setenv("LOCPATH", dir.Path().c_str(), 1);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string german = exportAll("de");
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  EXPECT_STREQ(probe, "1,5") << "the locale does not use a decimal comma";
  EXPECT_GT(plain.size(), 1000u);
  EXPECT_TRUE(plain == german) << "a number changed under the German locale";
}

}  // namespace
