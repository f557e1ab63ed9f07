#include "tracklog/track_formats.h"

#include <array>

#include "tracklog/export_writer.h"

namespace {

// KML 2.2 takes a double extension: ".kml" alone would be the input's name.
constexpr std::array<TrackFormatSpec, 5> kFormats = {{
    {"gpx", ".gpx", "--gpx", "GPX 1.1", "times, altitudes, satellites, segments", AppendGpx},
    {"csv", ".csv", "--csv", "CSV", "times, altitudes, satellites, log offsets; no segments",
     AppendCsv},
    {"geojson", ".geojson", "--geojson", "GeoJSON", "times, altitudes, satellites, segments",
     AppendGeoJson},
    {"kml22", ".kml22.kml", "--kml22", "KML 2.2", "times, altitudes, segments", AppendKml22},
    {"svg", ".svg", "--svg", "an SVG picture",
     "the line by segments, first and last times, distance, altitude profile", AppendSvg},
}};

constexpr bool RowIs(TrackFormat format, std::string_view name) {
  return name == kFormats[static_cast<size_t>(format)].name;
}
static_assert(RowIs(TrackFormat::kGpx, "gpx") && RowIs(TrackFormat::kCsv, "csv") &&
                  RowIs(TrackFormat::kGeoJson, "geojson") && RowIs(TrackFormat::kKml22, "kml22") &&
                  RowIs(TrackFormat::kSvg, "svg"),
              "a named format is its row's place");

}  // namespace

std::span<const TrackFormatSpec> TrackFormats() {
  return kFormats;
}

TrackFormat TrackFormatAt(size_t index) {
  return static_cast<TrackFormat>(index);
}

std::optional<TrackFormat> TrackFormatNamed(std::string_view name) {
  for (size_t i = 0; i < kFormats.size(); ++i) {
    if (name == kFormats[i].name) return TrackFormatAt(i);
  }
  return std::nullopt;
}

const char* TrackFormatName(TrackFormat format) {
  const size_t index = static_cast<size_t>(format);
  return index < kFormats.size() ? kFormats[index].name : "";
}
