// GeoJSON: a feature per segment, its times and satellites as properties
// beside the positions.
#include "tracklog/export_writer.h"

namespace {

void AppendPosition(TrackText& t, const TrackFix& fix) {
  t.Add('[').Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  t.Int(static_cast<int64_t>(fix.altitude)).Add(']');
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
    t.Add("]}}");
  }
  t.Add("\n]}\n");
}
