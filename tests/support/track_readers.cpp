#include "tests/support/track_readers.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace testing_support {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!part.empty() && part.back() == '\r') part.pop_back();
    parts.push_back(part);
  }
  return parts;
}

// "2026/03/01 00:52:00+00" (GDAL) or "2026/03/01" + "00:52:00" (gpsbabel).
std::string IsoOf(std::string date, const std::string& time) {
  if (date.empty() || date == "(null)") return "";
  for (char& c : date) {
    if (c == '/') c = '-';
    if (c == ' ') c = 'T';
  }
  if (!time.empty()) date += "T" + time;
  if (date.size() >= 3 && date.compare(date.size() - 3, 3, "+00") == 0)
    date.resize(date.size() - 3);
  return date + "Z";
}

// GeoJSON's coordTimes as ogrinfo shows them: "(n:a,b)" or "[ "a", null ]".
std::vector<std::string> CoordTimes(std::string list) {
  std::vector<std::string> times;
  list = list.substr(1, list.size() - 2);
  if (list.find(':') != std::string::npos && list.find('"') == std::string::npos) {
    list = list.substr(list.find(':') + 1);
  }
  for (const std::string& t : Split(list, ',')) {
    std::string bare;
    for (char c : t) {
      if (c != ' ' && c != '"') bare += c;
    }
    times.push_back(bare == "null" ? "" : bare);
  }
  return times;
}

}  // namespace

std::string SixDecimals(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

std::vector<ReadPoint> FromUnicsv(const std::string& csv) {
  std::vector<ReadPoint> points;
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
                      std::atoi(field("Segment").c_str())});
  }
  return points;
}

std::vector<ReadPoint> FromOgrinfo(const std::string& text, const std::string& timeField) {
  std::vector<ReadPoint> points;
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
    if (line.find("POINT") == std::string::npos && line.find("LINESTRING") == std::string::npos) {
      continue;
    }
    const std::vector<std::string> times =
        fields.count("coordTimes") != 0
            ? CoordTimes(fields["coordTimes"])
            : std::vector<std::string>{fields.count(timeField) ? IsoOf(fields[timeField], "") : ""};
    const int segment =
        fields.count("track_seg_id") != 0 ? std::atoi(fields["track_seg_id"].c_str()) : feature;
    std::string coordinates = line.substr(line.find('('));
    for (char& c : coordinates) {
      if (c == '(' || c == ')') c = ' ';
    }
    size_t k = 0;
    for (const std::string& tuple : Split(coordinates, ',')) {
      std::istringstream in(tuple);
      double x = 0, y = 0, z = 0;
      in >> x >> y;
      if (!(in >> z) && fields.count("ele") != 0) z = std::atof(fields["ele"].c_str());
      points.push_back(
          {SixDecimals(y), SixDecimals(x), z, k < times.size() ? times[k] : "?", segment});
      ++k;
    }
  }
  return points;
}

std::string WithoutMetadata(std::string text) {
  const size_t from = text.find("<metadata>");
  if (from != std::string::npos) text.erase(from, text.find("</metadata>") - from);
  return text;
}

std::vector<std::string> CoordinateLines(const std::string& kml) {
  std::vector<std::string> track;
  bool inside = false;
  for (const std::string& line : Split(kml, '\n')) {
    if (line.find("</coordinates>") != std::string::npos) break;
    if (inside) track.push_back(line);
    if (line.find("<coordinates>") != std::string::npos) inside = true;
  }
  return track;
}

}  // namespace testing_support
