// CSV: a header line, then one line per fix; segments leave no mark.
#include "tracklog/export_writer.h"

void AppendCsv(TrackText& t, const ExportTrack& track) {
  t.Add("time,latitude,longitude,altitude,satellites,offset\n");
  for (const ExportSegment& segment : track.segments) {
    ForEachPoint(track, segment, [&](const TrackFix& fix, size_t i) {
      if (track.times[i] != kNoTime) t.IsoTime(track.times[i]);
      t.Add(',').Fixed6(fix.latitude).Add(',').Fixed6(fix.longitude).Add(',');
      t.Int(static_cast<int64_t>(fix.altitude)).Add(',').Int(fix.satellites).Add(',');
      t.Int(fix.offset).Add('\n');
    });
  }
}
