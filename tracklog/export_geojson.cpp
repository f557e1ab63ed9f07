// GeoJSON: a feature per segment, its times and satellites as properties
// beside the positions.
#include "tracklog/export_writer.h"

namespace {

void AppendPosition(TrackText& t, const TrackFix& fix) {
  t.Add('[').Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  t.Int(static_cast<int64_t>(fix.altitude)).Add(']');
}

void AppendJsonString(TrackText& t, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  t.Add('"');
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      t.Add('\\').Add(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      t.Add("\\u00").Add(kHex[(c >> 4) & 0xF]).Add(kHex[c & 0xF]);
    } else {
      t.Add(c);
    }
  }
  t.Add('"');
}

// Each feature's properties name the tracker and where its dates came from.
void AppendAbout(TrackText& t, const ExportAbout& about) {
  t.Add(",\"dateAnchor\":");
  AppendJsonString(t, about.anchor);
  t.Add(",\"dates\":");
  AppendJsonString(t, about.dates);
  if (!about.tracker.model.empty()) {
    t.Add(",\"model\":");
    AppendJsonString(t, about.tracker.model);
  }
  if (about.tracker.firmwareVersion) {
    t.Add(",\"firmwareVersion\":").Int(*about.tracker.firmwareVersion);
  }
  if (about.tracker.serialNumber) t.Add(",\"serialNumber\":").Int(*about.tracker.serialNumber);
}

}  // namespace

void AppendGeoJson(TrackText& t, const ExportTrack& track) {
  t.Add("{\"type\":\"FeatureCollection\",\"features\":[");
  bool firstFeature = true;
  for (const ExportSegment& segment : track.segments) {
    t.Add(firstFeature ? "\n" : ",\n");
    firstFeature = false;
    // A LineString needs two positions: a lone fix is a Point.
    const bool line = segment.points > 1;
    t.Add("{\"type\":\"Feature\",\"geometry\":{\"type\":\"");
    t.Add(line ? "LineString\",\"coordinates\":[" : "Point\",\"coordinates\":");
    bool first = true;
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t) {
      if (line) t.Add(first ? "\n" : ",\n");
      first = false;
      AppendPosition(t, fix);
    });
    t.Add(line ? "]},\n" : "},\n");
    t.Add("\"properties\":{\"coordTimes\":[");
    first = true;
    ForEachPoint(track, segment, [&](const TrackFix&, size_t i) {
      if (!first) t.Add(',');
      first = false;
      if (track.times[i] == kNoTime) {
        t.Add("null");
      } else {
        t.Add('"').IsoTime(track.times[i]).Add('"');
      }
    });
    t.Add("],\"satellites\":[");
    first = true;
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t) {
      if (!first) t.Add(',');
      first = false;
      t.Int(fix.satellites);
    });
    t.Add(']');
    if (track.about != nullptr) AppendAbout(t, *track.about);
    t.Add("}}");
  }
  t.Add("\n]}\n");
}
