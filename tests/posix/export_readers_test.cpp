// The exports read back by readers nobody here wrote: gpsbabel, GDAL's
// ogrinfo and Debian's python3-gpxpy must all see the points, altitudes and
// times that the KML file's own coordinate lines hold, dated from --date.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/os/text_file.h"
#include "tests/support/external_tool.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_writer.h"
#include "tracklog/track_export.h"

using testing_support::RunTool;
using testing_support::ToolRun;

namespace {

const char kDate[] = "2026-03-01";
const time_t kMidnight = 1772323200;  // 2026-03-01T00:00:00Z

struct Point {
  std::string lat;  // "%.6f"
  std::string lon;
  double alt = 0;
  std::string time;  // "YYYY-MM-DDThh:mm:ssZ", "" for none
  int segment = 0;
};

std::string SixDecimals(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    if (!part.empty() && part.back() == '\r') part.pop_back();
    parts.push_back(part);
  }
  return parts;
}

// What the KML file's coordinate lines say, dated here with the C library:
// "lon,lat,alt <!-- offset sats:n UTC hh:mm:ss -->".
std::vector<Point> PointsOfKmlLines(const std::string& kmlPath) {
  std::ifstream in(kmlPath, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Point> points;
  int day = 0, previous = -1, segment = 0;
  long long lastTime = -1;
  for (const std::string& line : Split(text, '\n')) {
    const size_t utc = line.find("UTC ");
    if (line.find(" <!-- ") == std::string::npos || utc == std::string::npos) continue;
    const std::vector<std::string> tuple = Split(line.substr(0, line.find(' ')), ',');
    Point p{tuple[1], tuple[0], std::strtod(tuple[2].c_str(), nullptr), "", 0};
    int h = 0, m = 0, s = 0;
    std::sscanf(line.c_str() + utc, "UTC %d:%d:%d", &h, &m, &s);
    if (h <= 23 && m <= 59 && s <= 59) {
      const int second = h * 3600 + m * 60 + s;
      if (previous >= 0 && second < previous) ++day;
      previous = second;
      const time_t t = kMidnight + day * 86400 + second;
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

// "2026/03/01 00:52:00+00" (GDAL) or "2026/03/01" + "00:52:00" (gpsbabel).
std::string IsoOf(std::string date, const std::string& time) {
  if (date.empty() || date == "(null)") return "";
  for (char& c : date) {
    if (c == '/') c = '-';
    if (c == ' ') c = 'T';
  }
  if (!time.empty()) date += "T" + time;
  if (date.size() >= 3 && date.compare(date.size() - 3, 3, "+00") == 0) {
    date.resize(date.size() - 3);
  }
  return date + "Z";
}

// gpsbabel's unicsv: a header naming the columns, then one line a point.
std::vector<Point> FromUnicsv(const std::string& csv) {
  std::vector<Point> points;
  const std::vector<std::string> lines = Split(csv, '\n');
  if (lines.empty()) return points;
  std::map<std::string, size_t> column;
  const std::vector<std::string> header = Split(lines[0], ',');
  for (size_t i = 0; i < header.size(); ++i) column[header[i]] = i;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Split(lines[i], ',');
    auto field = [&](const char* name) {
      return column.count(name) != 0 && column[name] < f.size() ? f[column[name]] : "";
    };
    points.push_back({SixDecimals(std::atof(field("Latitude").c_str())),
                      SixDecimals(std::atof(field("Longitude").c_str())),
                      std::atof(field("Altitude").c_str()), IsoOf(field("Date"), field("Time")),
                      0});
  }
  return points;
}

// ogrinfo's features: "  name (Type) = value" fields and a geometry line.
std::vector<Point> FromOgrinfo(const std::string& text, const char* timeField) {
  std::vector<Point> points;
  std::map<std::string, std::string> fields;
  int feature = -1;
  for (const std::string& line : Split(text, '\n')) {
    if (line.rfind("OGRFeature(", 0) == 0) {
      ++feature;
      fields.clear();
      continue;
    }
    const size_t eq = line.find(") = ");
    if (line.rfind("  ", 0) == 0 && eq != std::string::npos) {
      fields[line.substr(2, line.find(' ', 2) - 2)] = line.substr(eq + 4);
      continue;
    }
    const size_t open = line.find('(');
    if (line.find("POINT") == std::string::npos && line.find("LINESTRING") == std::string::npos) {
      continue;
    }
    // Times: one field, or GeoJSON's coordTimes list "(n:a,b)" or "[ "a", null ]".
    std::vector<std::string> times;
    std::string list = fields.count("coordTimes") != 0 ? fields["coordTimes"] : "";
    if (!list.empty()) {
      list = list.substr(1, list.size() - 2);
      if (list.find(':') != std::string::npos && list.find('"') == std::string::npos) {
        list = list.substr(list.find(':') + 1);
      }
      for (std::string t : Split(list, ',')) {
        std::string bare;
        for (char c : t) {
          if (c != ' ' && c != '"') bare += c;
        }
        times.push_back(bare == "null" ? "" : bare);
      }
    } else {
      times.push_back(fields.count(timeField) != 0 ? IsoOf(fields[timeField], "") : "");
    }
    std::string coordinates = line.substr(open);
    for (char& c : coordinates) {
      if (c == '(' || c == ')') c = ' ';
    }
    size_t k = 0;
    for (const std::string& tuple : Split(coordinates, ',')) {
      std::istringstream in(tuple);
      double x = 0, y = 0, z = 0;
      in >> x >> y;
      if (!(in >> z) && fields.count("ele") != 0) z = std::atof(fields["ele"].c_str());
      const int segment =
          fields.count("track_seg_id") != 0 ? std::atoi(fields["track_seg_id"].c_str()) : feature;
      points.push_back(
          {SixDecimals(y), SixDecimals(x), z, k < times.size() ? times[k] : "?", segment});
      ++k;
    }
  }
  return points;
}

// gpxpy's view of the file: "segment,lat,lon,ele,time" a point.
const char kGpxpyScript[] =
    "import sys, gpxpy\n"
    "g = gpxpy.parse(open(sys.argv[1]))\n"
    "assert g.version == '1.1', g.version\n"
    "assert g.creator.startswith('kw9 '), g.creator\n"
    "for t in g.tracks:\n"
    "  for i, s in enumerate(t.segments):\n"
    "    for p in s.points:\n"
    "      tm = p.time.strftime('%Y-%m-%dT%H:%M:%SZ') if p.time else ''\n"
    "      print(f'{i},{p.latitude:.6f},{p.longitude:.6f},{p.elevation},{tm}')\n";

std::vector<Point> FromGpxpy(const std::string& text) {
  std::vector<Point> points;
  for (const std::string& line : Split(text, '\n')) {
    const std::vector<std::string> f = Split(line, ',');
    if (f.size() < 4) continue;
    points.push_back(
        {f[1], f[2], std::atof(f[3].c_str()), f.size() > 4 ? f[4] : "", std::atoi(f[0].c_str())});
  }
  return points;
}

enum Sees { kPositions = 0, kAltitudes = 1, kTimes = 2, kSegments = 4 };

struct Reader {
  const char* name;
  TrackFormat format;
  const char* command;  // %s: the file
  std::vector<Point> (*parse)(const std::string&);
  int sees;
};

const Reader kReaders[] = {
    {"gpsbabel gpx", TrackFormat::kGpx, "gpsbabel -t -i gpx -f '%s' -o unicsv -F -", FromUnicsv,
     kAltitudes | kTimes},
    {"ogrinfo gpx", TrackFormat::kGpx, "ogrinfo -ro -al -q '%s' track_points",
     [](const std::string& t) { return FromOgrinfo(t, "time"); }, kAltitudes | kTimes | kSegments},
    {"gpxpy", TrackFormat::kGpx, "/usr/bin/python3 -c \"$KW9_GPXPY\" '%s'", FromGpxpy,
     kAltitudes | kTimes | kSegments},
    {"gpsbabel csv", TrackFormat::kCsv, "gpsbabel -i unicsv -f '%s' -o unicsv -F -", FromUnicsv,
     kAltitudes | kTimes},
    {"ogrinfo csv", TrackFormat::kCsv,
     "ogrinfo -ro -al -q -oo X_POSSIBLE_NAMES=longitude -oo Y_POSSIBLE_NAMES=latitude "
     "-oo Z_POSSIBLE_NAMES=altitude -oo AUTODETECT_TYPE=YES '%s'",
     [](const std::string& t) { return FromOgrinfo(t, "time"); }, kAltitudes | kTimes},
    // gpsbabel reads GeoJSON lines as routes, without altitudes or times.
    {"gpsbabel geojson", TrackFormat::kGeoJson, "gpsbabel -r -i geojson -f '%s' -o unicsv -F -",
     FromUnicsv, kPositions},
    {"ogrinfo geojson", TrackFormat::kGeoJson, "ogrinfo -ro -al -q '%s'",
     [](const std::string& t) { return FromOgrinfo(t, ""); }, kAltitudes | kTimes | kSegments},
    {"gpsbabel kml22 line", TrackFormat::kKml22, "gpsbabel -t -i kml -f '%s' -o unicsv -F -",
     FromUnicsv, kAltitudes},
    {"gpsbabel kml22 fixes", TrackFormat::kKml22, "gpsbabel -w -i kml -f '%s' -o unicsv -F -",
     FromUnicsv, kAltitudes | kTimes},
    {"ogrinfo kml22 fixes", TrackFormat::kKml22, "ogrinfo -ro -al -q '%s' Fixes",
     [](const std::string& t) { return FromOgrinfo(t, "timestamp"); }, kAltitudes | kTimes},
};

// A table of records for a log memory image.
using Records = std::vector<std::pair<int, std::vector<int>>>;

struct ExportCase {
  const char* name;
  Records records;     // written as a download would; empty: golden is used
  const char* golden;  // a file of tests/golden
  int fixes;           // the points every reader must see
};
void PrintTo(const ExportCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<int> Rec(int lonDeg, int lonMin, int latDeg, int latMin, bool west, bool south, int alt,
                     int h, int m, int s) {
  return {lonDeg,
          lonMin,
          12,
          34 | (west ? 0x80 : 0),
          latDeg,
          latMin,
          56,
          7 | (south ? 0x80 : 0),
          alt / 10000,
          alt / 100 % 100,
          alt % 100,
          9,
          h,
          m,
          s};
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

class ExportReaders : public testing::TestWithParam<ExportCase> {
 protected:
  void SetUp() override {
    const ExportCase& c = GetParam();
    std::error_code ec;
    dir_ = (std::filesystem::temp_directory_path(ec) /
            ("kw9_export_readers_" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
               .string();
    std::filesystem::create_directories(dir_);
    kml_ = dir_ + "/track.kml";
    if (c.records.empty()) {
      std::filesystem::copy_file(std::string(KW9_GOLDEN_DIR) + "/" + c.golden, kml_);
    } else {
      for (int32_t& v : FlashImage) v = 0;
      for (const auto& [offset, bytes] : c.records) {
        for (size_t i = 0; i < bytes.size(); ++i) FlashImage[offset + i] = bytes[i];
      }
      LogMemoryGeometry = {1024, 131056};
      platform::TextOutFile out;
      ASSERT_TRUE(out.Open(kml_));
      WriteKmlHeader(out);
      WriteTrackCoordinates(out);
      WriteKmlFooter(out);
      WriteMemoryDump(out);
      ASSERT_TRUE(out.Close());
      for (int32_t& v : FlashImage) v = 0;
      LogMemoryGeometry = {};
    }
    expected_ = PointsOfKmlLines(kml_);
    ASSERT_EQ(static_cast<int>(expected_.size()), c.fixes);
    setenv("KW9_GPXPY", kGpxpyScript, 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string dir_;
  std::string kml_;
  std::vector<Point> expected_;
};

// Catches output a reader parses otherwise than meant: swapped coordinates,
// lost signs, altitudes, times or days that read differently, points merged
// or dropped, segments split in the wrong place, files a reader refuses.
TEST_P(ExportReaders, EveryReaderSeesTheTrack) {
  for (const TrackFormat format :
       {TrackFormat::kGpx, TrackFormat::kCsv, TrackFormat::kGeoJson, TrackFormat::kKml22}) {
    const ExportResult r = ExportStoredKml({kml_, format, kDate, ""});
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.points, GetParam().fixes);
  }
  for (const Reader& reader : kReaders) {
    char command[512];
    std::snprintf(command, sizeof command, reader.command,
                  DefaultExportPath(kml_, reader.format).c_str());
    const ToolRun run = RunTool(std::string("TZ=UTC ") + command + " 2>&1");
    ASSERT_EQ(run.status, 0) << reader.name << ": " << run.output.substr(0, 2000);
    const std::vector<Point> seen = reader.parse(run.output);
    ASSERT_EQ(seen.size(), expected_.size()) << reader.name;
    int wrong = 0;
    for (size_t i = 0; i < seen.size() && wrong < 5; ++i) {
      const Point& s = seen[i];
      const Point& e = expected_[i];
      const bool same = s.lat == e.lat && s.lon == e.lon &&
                        (!(reader.sees & kAltitudes) || s.alt == e.alt) &&
                        (!(reader.sees & kTimes) || s.time == e.time) &&
                        (!(reader.sees & kSegments) || s.segment == e.segment);
      if (!same) {
        ++wrong;
        ADD_FAILURE() << reader.name << " point " << i << ": " << s.lat << " " << s.lon << " "
                      << s.alt << " " << s.time << " seg " << s.segment << ", expected " << e.lat
                      << " " << e.lon << " " << e.alt << " " << e.time << " seg " << e.segment;
      }
    }
  }
  for (const TrackFormat format : {TrackFormat::kGpx, TrackFormat::kKml22}) {
    const ToolRun run = RunTool("xmllint --noout '" + DefaultExportPath(kml_, format) + "' 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, ExportReaders,
    testing::Values(ExportCase{"midnight_walk",
                               {{0, Rec(2, 10, 51, 30, true, false, 35, 23, 59, 40)},
                                {15, Rec(2, 10, 51, 31, true, false, 36, 23, 59, 50)},
                                {30, Rec(2, 10, 51, 32, true, false, 37, 0, 0, 0)},
                                {45, Rec(2, 10, 51, 33, true, false, 38, 0, 0, 10)},
                                {60, kEnd}},
                               "",
                               4},
                    ExportCase{"negative_altitude",
                               {{0, {253, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
                                {15, Rec(70, 1, 33, 2, false, true, 4321, 10, 0, 0)},
                                {30, Rec(70, 2, 33, 3, false, true, 5, 10, 0, 10)},
                                {45, kEnd}},
                               "",
                               2},
                    ExportCase{"impossible_times",
                               {{0, Rec(5, 1, 5, 1, false, false, 100, 10, 0, 0)},
                                {15, Rec(5, 2, 5, 2, false, false, 100, 24, 0, 0)},
                                {30, Rec(5, 3, 5, 3, false, false, 100, 9, 60, 0)},
                                {45, Rec(5, 4, 5, 4, false, false, 100, 10, 0, 5)},
                                {60, kEnd}},
                               "",
                               4},
                    ExportCase{"skipped_records",
                               {{0, Rec(5, 1, 5, 1, false, false, 100, 10, 0, 0)},
                                {15, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
                                {30, std::vector<int>(15, 0xFF)},
                                {45, Rec(5, 4, 5, 4, false, false, 100, 10, 0, 5)},
                                {60, kEnd}},
                               "",
                               2},
                    ExportCase{
                        "ten_minute_segments",
                        {{0, Rec(5, 1, 5, 1, false, false, 100, 10, 0, 0)},
                         {15, Rec(5, 2, 5, 2, false, false, 100, 10, 0, 10)},
                         {30, Rec(5, 3, 5, 3, false, false, 100, 10, 10, 10)},  // 600 s later
                         {45, Rec(5, 4, 5, 4, false, false, 100, 10, 20, 11)},  // 601 s later
                         {60, Rec(5, 5, 5, 5, false, false, 100, 10, 20, 21)},
                         {75, kEnd}},
                        "",
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
  std::error_code ec;
  const std::string dir =
      (std::filesystem::temp_directory_path(ec) /
       ("kw9_locale_" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
          .string();
  std::filesystem::create_directories(dir);
  const ToolRun made =
      RunTool("localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' 2>&1 >/dev/null");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string kml = dir + "/track.kml";
  std::filesystem::copy_file(std::string(KW9_GOLDEN_DIR) + "/track128.kml", kml);

  auto exportAll = [&](const std::string& tag) {
    std::string all;
    for (const TrackFormat format :
         {TrackFormat::kGpx, TrackFormat::kCsv, TrackFormat::kGeoJson, TrackFormat::kKml22}) {
      const std::string out = dir + "/" + tag + "." + TrackFormatName(format);
      const ExportResult r = ExportStoredKml({kml, format, kDate, out});
      EXPECT_TRUE(r.ok) << r.message;
      std::ifstream in(out, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // The metadata time is the moment of the export.
      const size_t meta = text.find("<metadata>");
      if (meta != std::string::npos) text.erase(meta, text.find("</metadata>") - meta);
      all += text;
    }
    // The KML writer as well.
    for (int k = 0; k < 30; ++k) FlashImage[k] = k == 0 ? 2 : k == 4 ? 51 : 7;
    LogMemoryGeometry = {64, 8180};
    const std::string path = dir + "/" + tag + ".kml";
    platform::TextOutFile out;
    EXPECT_TRUE(out.Open(path));
    WriteTrackCoordinates(out);
    EXPECT_TRUE(out.Close());
    std::ifstream in(path, std::ios::binary);
    all += std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int32_t& v : FlashImage) v = 0;
    LogMemoryGeometry = {};
    return all;
  };
  const std::string plain = exportAll("c");
  setenv("LOCPATH", dir.c_str(), 1);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string german = exportAll("de");
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  EXPECT_STREQ(probe, "1,5") << "the locale does not use a decimal comma";
  EXPECT_GT(plain.size(), 1000u);
  EXPECT_TRUE(plain == german) << "a number changed under the German locale";
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
