// KML 2.2: the track as one placemark of a line per segment, then a folder
// of one timed placemark per fix.
#include "tracklog/export_writer.h"

namespace {

void AppendKmlCoordinates(TrackText& t, const TrackFix& fix) {
  t.Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  t.Int(static_cast<int64_t>(fix.altitude));
}

}  // namespace

void AppendKml22(TrackText& t, const ExportTrack& track) {
  t.Add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  t.Add("<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n");
  const std::string name = ExportTrackName(track);
  t.Add("  <name>").Xml(name.empty() ? "kw9 track" : name).Add("</name>\n");
  if (track.about != nullptr) {
    t.Add("  <description>").Xml(track.about->dates).Add("</description>\n");
  }
  t.Add("  <Style id=\"track\"><LineStyle><color>ff00ffff</color><width>4</width></LineStyle>");
  t.Add("</Style>\n");
  t.Add("  <Placemark>\n    <name>Track</name>\n    <styleUrl>#track</styleUrl>\n");
  t.Add("    <MultiGeometry>\n");
  for (const ExportSegment& segment : track.segments) {
    // A LineString needs two positions: a lone fix is a Point.
    const bool line = segment.points > 1;
    t.Add(line ? "      <LineString>" : "      <Point>");
    t.Add("<altitudeMode>absolute</altitudeMode><coordinates>\n");
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t) {
      AppendKmlCoordinates(t, fix);
      t.Add('\n');
    });
    t.Add(line ? "      </coordinates></LineString>\n" : "      </coordinates></Point>\n");
  }
  t.Add("    </MultiGeometry>\n  </Placemark>\n");
  // One placemark per fix, so that a map viewer's time slider plays the track.
  t.Add("  <Folder>\n    <name>Fixes</name>\n");
  for (const ExportSegment& segment : track.segments) {
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t i) {
      t.Add("    <Placemark>");
      if (track.times[i] != kNoTime)
        t.Add("<TimeStamp><when>").IsoTime(track.times[i]).Add("</when></TimeStamp>");
      t.Add("<Point><altitudeMode>absolute</altitudeMode><coordinates>");
      AppendKmlCoordinates(t, fix);
      t.Add("</coordinates></Point></Placemark>\n");
    });
  }
  t.Add("  </Folder>\n</Document>\n</kml>\n");
}
