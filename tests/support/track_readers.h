// What the track readers of the machine print (gpsbabel's unicsv, GDAL's
// ogrinfo), parsed into points, and the coordinate lines of a KML file as
// kw9 writes them. POSIX only.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ReadPoint {
  std::string lat, lon;  // "%.6f"
  double alt = 0;
  std::string time;  // "YYYY-MM-DDThh:mm:ssZ"; "" for none
  int segment = 0;
};

std::string SixDecimals(double v);

// gpsbabel's unicsv: a header naming the columns, then one line a point.
// (A Segment column, which gpsbabel does not write, gives the segment.)
std::vector<ReadPoint> FromUnicsv(const std::string& csv);

// ogrinfo -al: each feature's "  name (Type) = value" fields and its
// geometry. A point's time is the field timeField, or its entry in a GeoJSON
// coordTimes list; its segment the GPX track_seg_id, else the feature.
std::vector<ReadPoint> FromOgrinfo(const std::string& text, const std::string& timeField = "");

// The text without its GPX metadata, which holds the moment the file was made.
std::string WithoutMetadata(std::string text);

// The lines between a KML file's coordinates tags.
std::vector<std::string> CoordinateLines(const std::string& kml);

}  // namespace testing_support
