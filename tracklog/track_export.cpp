#include "tracklog/track_export.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "platform/os/os.h"
#include "platform/os/text_file.h"
#include "tracklog/export_writer.h"
#include "tracklog/stored_kml.h"
#include "tracklog/track_dates.h"

namespace {

std::vector<ExportSegment> Segments(const TrackModel& model, const std::vector<int64_t>& times) {
  std::vector<ExportSegment> segments;
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

// Nothing for a format no row has.
void AppendExport(TrackText& text, TrackFormat format, const ExportTrack& track) {
  const size_t index = static_cast<size_t>(format);
  if (index < TrackFormats().size()) TrackFormats()[index].write(text, track);
}

ExportResult Failed(std::string message, std::string output = {}) {
  ExportResult result;
  result.message = std::move(message);
  result.output = std::move(output);
  return result;
}

}  // namespace

const char* DateAnchorName(DateAnchorSource source) {
  switch (source) {
    case DateAnchorSource::kDate:
      return "date";
    case DateAnchorSource::kStamp:
      return "stamp";
    case DateAnchorSource::kModified:
      return "modified";
    case DateAnchorSource::kDownloadEnd:
      return "downloadEnd";
  }
  return "";
}

std::string ExportTrackName(const ExportTrack& track) {
  if (track.about == nullptr) return "";
  const std::string identity = IdentityText(track.about->tracker);
  return identity.empty() ? "" : "kw9 track, " + identity;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(platform::FsPath(a), platform::FsPath(b), ec) && !ec;
}

std::string DefaultExportPath(const std::string& input, TrackFormat format) {
  std::filesystem::path path = platform::NamePath(input);
  const size_t index = static_cast<size_t>(format);
  const char* extension = index < TrackFormats().size() ? TrackFormats()[index].extension : "";
  path.replace_extension(extension);
  return platform::Utf8(path);
}

void AppendTrackExport(TrackText& text, TrackFormat format, const TrackModel& model,
                       const std::vector<int64_t>& times, int64_t createdAt) {
  const std::vector<ExportSegment> segments = Segments(model, times);
  AppendExport(text, format, {model, times, segments, createdAt});
}

ExportResult WriteTrackFile(const std::string& path, TrackFormat format, const TrackModel& model,
                            const std::vector<int64_t>& times, int64_t createdAt,
                            const ExportAbout* about) {
  ExportResult result;
  result.output = path;
  if (times.size() != model.fixes.size()) return Failed("No dates for the track", path);
  TrackText text;
  // A KML 2.2 point takes the most room: about 200 characters.
  text.Reserve(1024 + model.fixes.size() * 200);
  const std::vector<ExportSegment> segments = Segments(model, times);
  AppendExport(text, format, {model, times, segments, createdAt, about});
  platform::TextOutFile out;
  bool written = out.OpenReplacing(path);
  if (written) out.Write(text.Text().data(), text.Text().size());
  written = written && out.Close();
  if (!written) {
    ExportResult failed = Failed("Cannot write " + path, path);
    failed.reason = out.Reason();
    return failed;
  }

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
  const StoredKml stored = ReadStoredKml(request.input, true);
  if (!stored.ok) {
    ExportResult failed = Failed(stored.message, output);
    failed.inputProblem = stored.problem;
    return failed;
  }
  // The rename would put the export where the only copy of the dump is.
  if (SameFile(request.input, output)) {
    return Failed("The export would replace " + request.input + " itself", output);
  }
  ExportAbout about;
  about.anchor = DateAnchorName(DateAnchorSource::kDate);
  if (stored.stamp) about.tracker = stored.stamp->tracker;
  TrackText dates;
  if (!request.date.empty()) {
    dates.Add("Dates from the first fix's UTC date given, ").Add(request.date);
  } else if (stored.stamp && stored.stamp->time) {
    // The file's own record of its download: a copy keeps it, whatever its
    // modification time says.
    anchor = DateAnchor::LatestMoment(*stored.stamp->time);
    about.anchor = DateAnchorName(DateAnchorSource::kStamp);
    dates.Add("Dates from the download time in the file, ").IsoTime(*stored.stamp->time);
    TrackText text;
    text.Add("Dates from the download time in ").Add(request.input).Add(" (");
    text.IsoTime(*stored.stamp->time).Add("), the end of its download\n");
    notice = text.Text();
  } else {
    std::error_code ec;
    const auto modified = std::filesystem::last_write_time(platform::FsPath(request.input), ec);
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
    about.anchor = DateAnchorName(DateAnchorSource::kModified);
    dates.Add("Dates from the file's modification time, ").IsoTime(moment);
    dates.Add(", taken as the end of its download");
  }
  about.dates = dates.Text();
  const std::vector<int64_t> times = DateFixes(stored.track, anchor);
  ExportResult result =
      WriteTrackFile(output, request.format, stored.track, times, UnixNow(), &about);
  result.leftOut += stored.linesLeftOut;
  result.notice = notice;
  result.anchor = !request.date.empty()                ? DateAnchorSource::kDate
                  : stored.stamp && stored.stamp->time ? DateAnchorSource::kStamp
                                                       : DateAnchorSource::kModified;
  result.tracker = about.tracker;
  return result;
}

ExportResult ExportDownloadedTrack(const TrackModel& track, int64_t downloadMoment,
                                   TrackFormat format, const std::string& output,
                                   const TrackerIdentity& tracker) {
  const std::vector<int64_t> times = DateFixes(track, DateAnchor::LatestMoment(downloadMoment));
  ExportAbout about;
  about.tracker = tracker;
  about.anchor = DateAnchorName(DateAnchorSource::kDownloadEnd);
  TrackText dates;
  dates.Add("Dates from the moment the download ended, ").IsoTime(downloadMoment);
  about.dates = dates.Text();
  ExportResult result = WriteTrackFile(output, format, track, times, UnixNow(), &about);
  result.anchor = DateAnchorSource::kDownloadEnd;
  result.tracker = tracker;
  TrackText text;
  text.Add("Dates inferred from the moment the download ended (").IsoTime(downloadMoment);
  text.Add(")\n");
  result.notice = text.Text();
  return result;
}
