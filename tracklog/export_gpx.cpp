// GPX 1.1: one track, a track segment per segment, each point with its
// elevation, time and satellites.
#include "kw9_version.h"
#include "tracklog/export_writer.h"

namespace {

// GPX wants -180 <= lon < 180; 180 east is the same meridian as 180 west.
double GpxLongitude(double lon) {
  return lon == 180 ? -180 : lon;
}

}  // namespace

void AppendGpx(TrackText& t, const ExportTrack& track) {
  t.Add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  t.Add("<gpx version=\"1.1\" creator=\"kw9 " KW9_VERSION "\"");
  t.Add(" xmlns=\"http://www.topografix.com/GPX/1/1\"");
  t.Add(" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"");
  t.Add(" xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1");
  t.Add(" http://www.topografix.com/GPX/1/1/gpx.xsd\">\n");
  const std::string name = ExportTrackName(track);
  // The schema's order: name, desc, ..., time.
  t.Add("  <metadata>\n");
  if (!name.empty()) t.Add("    <name>").Xml(name).Add("</name>\n");
  if (track.about != nullptr) t.Add("    <desc>").Xml(track.about->dates).Add("</desc>\n");
  t.Add("    <time>").IsoTime(track.createdAt).Add("</time>\n  </metadata>\n");
  t.Add("  <trk>\n");
  if (!name.empty()) t.Add("    <name>").Xml(name).Add("</name>\n");
  for (const ExportSegment& segment : track.segments) {
    t.Add("    <trkseg>\n");
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t i) {
      t.Add("      <trkpt lat=\"").Fixed6(fix.latitude).Add("\" lon=\"");
      t.Fixed6(GpxLongitude(fix.longitude)).Add("\">");
      // The schema's order: ele, time, ..., sat.
      t.Add("<ele>").Int(static_cast<int64_t>(fix.altitude)).Add("</ele>");
      if (track.times[i] != kNoTime) t.Add("<time>").IsoTime(track.times[i]).Add("</time>");
      t.Add("<sat>").Int(fix.satellites).Add("</sat></trkpt>\n");
    });
    t.Add("    </trkseg>\n");
  }
  t.Add("  </trk>\n</gpx>\n");
}
