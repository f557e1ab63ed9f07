#include "tracklog/track_export.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "kw9_version.h"
#include "platform/os/text_file.h"
#include "tracklog/stored_kml.h"
#include "tracklog/track_dates.h"

namespace {

// A run of fixes with no gap of more than kSegmentGapSeconds, as indexes into
// the model; fixes off the globe inside it are skipped.
struct Segment {
  size_t begin;
  size_t end;
  int points;
};

bool OnGlobe(const TrackFix& fix) {
  return fix.latitude >= -90 && fix.latitude <= 90 && fix.longitude >= -180 && fix.longitude <= 180;
}

std::vector<Segment> Segments(const TrackModel& model, const std::vector<int64_t>& times) {
  std::vector<Segment> segments;
  int64_t lastTime = kNoTime;
  for (size_t i = 0; i < model.fixes.size(); ++i) {
    if (!OnGlobe(model.fixes[i])) continue;
    const int64_t t = times[i];
    const bool gap = t != kNoTime && lastTime != kNoTime && t - lastTime > kSegmentGapSeconds;
    if (segments.empty() || gap) segments.push_back({i, i, 0});
    segments.back().end = i + 1;
    ++segments.back().points;
    if (t != kNoTime) lastTime = t;
  }
  return segments;
}

template <typename Visit>
void ForEachPoint(const TrackModel& model, const Segment& segment, Visit&& visit) {
  for (size_t i = segment.begin; i < segment.end; ++i) {
    if (OnGlobe(model.fixes[i])) visit(model.fixes[i], i);
  }
}

// GPX wants -180 <= lon < 180; 180 east is the same meridian as 180 west.
double GpxLongitude(double lon) {
  return lon == 180 ? -180 : lon;
}

void AppendGpx(TrackText& t, const TrackModel& model, const std::vector<int64_t>& times,
               const std::vector<Segment>& segments, int64_t createdAt) {
  t.Add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  t.Add("<gpx version=\"1.1\" creator=\"kw9 " KW9_VERSION "\"");
  t.Add(" xmlns=\"http://www.topografix.com/GPX/1/1\"");
  t.Add(" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"");
  t.Add(" xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1");
  t.Add(" http://www.topografix.com/GPX/1/1/gpx.xsd\">\n");
  t.Add("  <metadata>\n    <time>").IsoTime(createdAt).Add("</time>\n  </metadata>\n");
  t.Add("  <trk>\n");
  for (const Segment& segment : segments) {
    t.Add("    <trkseg>\n");
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t i) {
      t.Add("      <trkpt lat=\"").Fixed6(fix.latitude).Add("\" lon=\"");
      t.Fixed6(GpxLongitude(fix.longitude)).Add("\">");
      // The schema's order: ele, time, ..., sat.
      t.Add("<ele>").Int(static_cast<int64_t>(fix.altitude)).Add("</ele>");
      if (times[i] != kNoTime) t.Add("<time>").IsoTime(times[i]).Add("</time>");
      t.Add("<sat>").Int(fix.satellites).Add("</sat></trkpt>\n");
    });
    t.Add("    </trkseg>\n");
  }
  t.Add("  </trk>\n</gpx>\n");
}

void AppendCsv(TrackText& t, const TrackModel& model, const std::vector<int64_t>& times,
               const std::vector<Segment>& segments) {
  t.Add("time,latitude,longitude,altitude,satellites,offset\n");
  for (const Segment& segment : segments) {
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t i) {
      if (times[i] != kNoTime) t.IsoTime(times[i]);
      t.Add(',').Fixed6(fix.latitude).Add(',').Fixed6(fix.longitude).Add(',');
      t.Int(static_cast<int64_t>(fix.altitude)).Add(',').Int(fix.satellites).Add(',');
      t.Int(fix.offset).Add('\n');
    });
  }
}

void AppendPosition(TrackText& t, const TrackFix& fix) {
  t.Add('[').Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  t.Int(static_cast<int64_t>(fix.altitude)).Add(']');
}

void AppendGeoJson(TrackText& t, const TrackModel& model, const std::vector<int64_t>& times,
                   const std::vector<Segment>& segments) {
  t.Add("{\"type\":\"FeatureCollection\",\"features\":[");
  bool firstFeature = true;
  for (const Segment& segment : segments) {
    t.Add(firstFeature ? "\n" : ",\n");
    firstFeature = false;
    // A LineString needs two positions: a lone fix is a Point.
    const bool line = segment.points > 1;
    t.Add("{\"type\":\"Feature\",\"geometry\":{\"type\":\"");
    t.Add(line ? "LineString\",\"coordinates\":[" : "Point\",\"coordinates\":");
    bool first = true;
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t) {
      if (line) t.Add(first ? "\n" : ",\n");
      first = false;
      AppendPosition(t, fix);
    });
    t.Add(line ? "]},\n" : "},\n");
    t.Add("\"properties\":{\"coordTimes\":[");
    first = true;
    ForEachPoint(model, segment, [&](const TrackFix&, size_t i) {
      if (!first) t.Add(',');
      first = false;
      if (times[i] == kNoTime) {
        t.Add("null");
      } else {
        t.Add('"').IsoTime(times[i]).Add('"');
      }
    });
    t.Add("],\"satellites\":[");
    first = true;
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t) {
      if (!first) t.Add(',');
      first = false;
      t.Int(fix.satellites);
    });
    t.Add("]}}");
  }
  t.Add("\n]}\n");
}

void AppendKmlCoordinates(TrackText& t, const TrackFix& fix) {
  t.Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  t.Int(static_cast<int64_t>(fix.altitude));
}

void AppendKml22(TrackText& t, const TrackModel& model, const std::vector<int64_t>& times,
                 const std::vector<Segment>& segments) {
  t.Add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  t.Add("<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n");
  t.Add("  <name>kw9 track</name>\n");
  t.Add("  <Style id=\"track\"><LineStyle><color>ff00ffff</color><width>4</width></LineStyle>");
  t.Add("</Style>\n");
  t.Add("  <Placemark>\n    <name>Track</name>\n    <styleUrl>#track</styleUrl>\n");
  t.Add("    <MultiGeometry>\n");
  for (const Segment& segment : segments) {
    // A LineString needs two positions: a lone fix is a Point.
    const bool line = segment.points > 1;
    t.Add(line ? "      <LineString>" : "      <Point>");
    t.Add("<altitudeMode>absolute</altitudeMode><coordinates>\n");
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t) {
      AppendKmlCoordinates(t, fix);
      t.Add('\n');
    });
    t.Add(line ? "      </coordinates></LineString>\n" : "      </coordinates></Point>\n");
  }
  t.Add("    </MultiGeometry>\n  </Placemark>\n");
  // One placemark per fix, so that a map viewer's time slider plays the track.
  t.Add("  <Folder>\n    <name>Fixes</name>\n");
  for (const Segment& segment : segments) {
    ForEachPoint(model, segment, [&](const TrackFix& fix, size_t i) {
      t.Add("    <Placemark>");
      if (times[i] != kNoTime)
        t.Add("<TimeStamp><when>").IsoTime(times[i]).Add("</when></TimeStamp>");
      t.Add("<Point><altitudeMode>absolute</altitudeMode><coordinates>");
      AppendKmlCoordinates(t, fix);
      t.Add("</coordinates></Point></Placemark>\n");
    });
  }
  t.Add("  </Folder>\n</Document>\n</kml>\n");
}

ExportResult Failed(std::string message, std::string output = {}) {
  ExportResult result;
  result.message = std::move(message);
  result.output = std::move(output);
  return result;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::optional<TrackFormat> TrackFormatNamed(std::string_view name) {
  for (const TrackFormat f :
       {TrackFormat::kGpx, TrackFormat::kCsv, TrackFormat::kGeoJson, TrackFormat::kKml22}) {
    if (name == TrackFormatName(f)) return f;
  }
  return std::nullopt;
}

const char* TrackFormatName(TrackFormat format) {
  switch (format) {
    case TrackFormat::kGpx:
      return "gpx";
    case TrackFormat::kCsv:
      return "csv";
    case TrackFormat::kGeoJson:
      return "geojson";
    case TrackFormat::kKml22:
      return "kml22";
  }
  return "";
}

std::string DefaultExportPath(const std::string& input, TrackFormat format) {
  std::filesystem::path path(input);
  const char* extension = format == TrackFormat::kKml22     ? ".kml22.kml"
                          : format == TrackFormat::kGeoJson ? ".geojson"
                          : format == TrackFormat::kCsv     ? ".csv"
                                                            : ".gpx";
  path.replace_extension(extension);
  return path.string();
}

namespace {

void AppendExport(TrackText& text, TrackFormat format, const TrackModel& model,
                  const std::vector<int64_t>& times, const std::vector<Segment>& segments,
                  int64_t createdAt) {
  switch (format) {
    case TrackFormat::kGpx:
      AppendGpx(text, model, times, segments, createdAt);
      break;
    case TrackFormat::kCsv:
      AppendCsv(text, model, times, segments);
      break;
    case TrackFormat::kGeoJson:
      AppendGeoJson(text, model, times, segments);
      break;
    case TrackFormat::kKml22:
      AppendKml22(text, model, times, segments);
      break;
  }
}

}  // namespace

void AppendTrackExport(TrackText& text, TrackFormat format, const TrackModel& model,
                       const std::vector<int64_t>& times, int64_t createdAt) {
  AppendExport(text, format, model, times, Segments(model, times), createdAt);
}

ExportResult WriteTrackFile(const std::string& path, TrackFormat format, const TrackModel& model,
                            const std::vector<int64_t>& times, int64_t createdAt) {
  ExportResult result;
  result.output = path;
  if (times.size() != model.fixes.size()) return Failed("No dates for the track", path);
  TrackText text;
  // A KML 2.2 point takes the most room: about 200 characters.
  text.Reserve(1024 + model.fixes.size() * 200);
  const std::vector<Segment> segments = Segments(model, times);
  AppendExport(text, format, model, times, segments, createdAt);
  platform::TextOutFile out;
  if (!out.OpenReplacing(path)) return Failed("Cannot write " + path, path);
  out.Write(text.Text().data(), text.Text().size());
  if (!out.Close()) return Failed("Cannot write " + path, path);

  result.segments = static_cast<int>(segments.size());
  for (size_t i = 0; i < model.fixes.size(); ++i) {
    if (!OnGlobe(model.fixes[i])) {
      ++result.leftOut;
    } else {
      ++result.points;
      if (times[i] == kNoTime) ++result.untimed;
    }
  }
  result.ok = true;
  return result;
}

int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

ExportResult ExportStoredKml(const StoredExportRequest& request) {
  const std::string output =
      request.output.empty() ? DefaultExportPath(request.input, request.format) : request.output;
  DateAnchor anchor;
  std::string notice;
  if (!request.date.empty()) {
    const std::optional<int64_t> days = ParseIsoDate(request.date);
    if (!days) return Failed("Not a date: " + request.date + " (YYYY-MM-DD)", output);
    anchor = DateAnchor::FirstFixDate(*days);
  }
  const StoredKml stored = ReadStoredKml(request.input);
  if (!stored.ok) {
    ExportResult failed = Failed(stored.message, output);
    failed.inputProblem = stored.problem;
    return failed;
  }
  // The rename would put the export where the only copy of the dump is.
  if (SameFile(request.input, output)) {
    return Failed("The export would replace " + request.input + " itself", output);
  }
  if (request.date.empty()) {
    std::error_code ec;
    const auto modified = std::filesystem::last_write_time(request.input, ec);
    if (ec) return Failed("Cannot read the modification time of " + request.input, output);
    const int64_t moment = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::file_clock::to_sys(modified).time_since_epoch())
                               .count();
    anchor = DateAnchor::LatestMoment(moment);
    TrackText text;
    text.Add("Dates inferred from the modification time of ").Add(request.input).Add(" (");
    text.IsoTime(moment).Add("), taken as the end of its download; ");
    text.Add("--date YYYY-MM-DD gives the first fix's UTC date instead\n");
    notice = text.Text();
  }
  const std::vector<int64_t> times = DateFixes(stored.track, anchor);
  ExportResult result = WriteTrackFile(output, request.format, stored.track, times, UnixNow());
  result.leftOut += stored.linesLeftOut;
  result.notice = notice;
  return result;
}

ExportResult ExportDownloadedTrack(const TrackModel& track, int64_t downloadMoment,
                                   TrackFormat format, const std::string& output) {
  const std::vector<int64_t> times = DateFixes(track, DateAnchor::LatestMoment(downloadMoment));
  ExportResult result = WriteTrackFile(output, format, track, times, UnixNow());
  TrackText text;
  text.Add("Dates inferred from the moment the download ended (").IsoTime(downloadMoment);
  text.Add(")\n");
  result.notice = text.Text();
  return result;
}
