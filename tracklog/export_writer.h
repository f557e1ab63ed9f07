// What the export writers share: the fixes cut into segments, the walk over
// those on the globe, and each writer's entry point for its row in
// track_formats.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tracklog/download_stamp.h"
#include "tracklog/track_dates.h"
#include "tracklog/track_model.h"
#include "tracklog/track_text.h"

// A run of fixes with no gap of more than kSegmentGapSeconds, as indexes into
// the model; fixes off the globe inside it are skipped.
struct ExportSegment {
  size_t begin;
  size_t end;
  int points;
};

// What a file says of its track where the format has a place for it: the
// tracker, and where the dates came from.
struct ExportAbout {
  TrackerIdentity tracker;
  std::string anchor;  // the JSON word of DateAnchorName (track_export.h)
  std::string dates;   // where the dates came from, one sentence
};

struct ExportTrack {
  const TrackModel& model;
  const std::vector<int64_t>& times;  // seconds since 1970 of each fix; kNoTime for none
  const std::vector<ExportSegment>& segments;
  int64_t createdAt;                   // the moment the file is made
  const ExportAbout* about = nullptr;  // none: the file says nothing of either
};

// "kw9 track, KLX-TX3 serial 2417 firmware 20"; empty without an identity.
std::string ExportTrackName(const ExportTrack& track);

inline bool OnGlobe(const TrackFix& fix) {
  return fix.latitude >= -90 && fix.latitude <= 90 && fix.longitude >= -180 && fix.longitude <= 180;
}

template <typename Visit>
void ForEachPoint(const ExportTrack& track, const ExportSegment& segment, Visit&& visit) {
  for (size_t i = segment.begin; i < segment.end; ++i) {
    if (OnGlobe(track.model.fixes[i])) visit(track.model.fixes[i], i);
  }
}

void AppendGpx(TrackText& t, const ExportTrack& track);
void AppendCsv(TrackText& t, const ExportTrack& track);
void AppendGeoJson(TrackText& t, const ExportTrack& track);
void AppendKml22(TrackText& t, const ExportTrack& track);
void AppendSvg(TrackText& t, const ExportTrack& track);
