// Dated tracks in the formats other programs read (the rows of
// track_formats.h), written from the fixes of a stored KML file or of a
// download. Each file replaces its name only once complete, and every number
// has '.' as its decimal point whatever the locale.
//
// Dates: the log holds only the time of day of each fix. Fixes are in log
// order, so a time earlier than the one before starts the next UTC day; a gap
// of more than 24 hours between two fixes cannot be seen. A fix whose stored
// time no clock shows is written without a time.
//
// A new segment starts wherever two timed fixes lie more than 10 minutes
// apart. A fix whose position lies off the globe (latitude beyond 90 degrees,
// longitude beyond 180, which minute bytes above 59 can give) is left out;
// GPX, whose schema takes longitudes from -180 up to but not including 180,
// writes 180 east as -180, the same meridian.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "tracklog/stored_kml.h"
#include "tracklog/track_formats.h"
#include "tracklog/track_model.h"
#include "tracklog/track_text.h"

struct ExportAbout;  // export_writer.h

// The input's name with the format's extension (".gpx", or ".kml22.kml" for
// KML 2.2, which must not take the input's own name).
std::string DefaultExportPath(const std::string& input, TrackFormat format);

// Fixes more than this far apart lie in different segments.
inline constexpr int64_t kSegmentGapSeconds = 10 * 60;

// What fixed an export's dates, in the order a stored file's export looks
// for it: the date given, the download time the file's stamp holds, the
// file's modification time; a download's exports take the moment it ended.
enum class DateAnchorSource { kDate, kStamp, kModified, kDownloadEnd };
// The word JSON and the custody log give it: "date", "stamp", "modified",
// "downloadEnd".
const char* DateAnchorName(DateAnchorSource source);

// The whole text of an export, "\n" for each line end. times holds the
// seconds since 1970 of each fix of the model (kNoTime for none); createdAt
// is the moment the file is made (GPX metadata).
void AppendTrackExport(TrackText& text, TrackFormat format, const TrackModel& model,
                       const std::vector<int64_t>& times, int64_t createdAt);

struct ExportResult {
  bool ok = false;
  std::string message;     // why not, for the user; empty when ok
  std::error_code reason;  // the system's, when the output could not be written
  std::string notice;      // where the dates came from, when they were inferred
  std::string output;      // the file written (or that would have been)
  int points = 0;          // fixes written
  int untimed = 0;         // of those, fixes without a time
  int segments = 0;
  int leftOut = 0;  // fixes off the globe, and lines of records holding no place
  // Why the input of a stored file's export did not read; kNone when it did
  // (or the export had none), so a failure lies with the output.
  StoredKmlProblem inputProblem = StoredKmlProblem::kNone;
  DateAnchorSource anchor = DateAnchorSource::kDate;
  TrackerIdentity tracker;  // the file's stamp's, or the download's
};

// True when a and b name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Writes the export to path (CR LF line ends), replacing it only when complete.
// about, when given, is what the file says of the tracker and its dates.
ExportResult WriteTrackFile(const std::string& path, TrackFormat format, const TrackModel& model,
                            const std::vector<int64_t>& times, int64_t createdAt,
                            const ExportAbout* about = nullptr);

// Seconds since 1970-01-01 00:00 UTC, now.
int64_t UnixNow();

struct StoredExportRequest {
  std::string input;  // a KML file Read Flash wrote
  TrackFormat format = TrackFormat::kGpx;
  // "YYYY-MM-DD", the UTC date of the first fix; empty: the download time
  // the input's stamp holds, else its modification time, which the
  // download's end set.
  std::string date;
  std::string output;  // empty: DefaultExportPath
};

// Exports a stored KML file. Nothing is written when the file cannot be read,
// holds no dump, or its dump does not give its coordinate lines.
ExportResult ExportStoredKml(const StoredExportRequest& request);

// Exports the fixes of a download (DecodeFlashImage before the KML writer ran:
// the fixes that arrived), dated by the moment it ended.
ExportResult ExportDownloadedTrack(const TrackModel& track, int64_t downloadMoment,
                                   TrackFormat format, const std::string& output,
                                   const TrackerIdentity& tracker = {});
