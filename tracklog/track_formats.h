// The export formats, one row each. Adding a format is a writer of its own
// (export_<name>.cpp, declared in export_writer.h) and its row in
// track_formats.cpp: kw9cli's --to and download options, its help and the
// track benchmark read the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "tracklog/track_text.h"

struct ExportTrack;

// A format is its row's place in TrackFormats(). The names are for code that
// means one format; a format added later needs none.
enum class TrackFormat : uint8_t { kGpx, kCsv, kGeoJson, kKml22, kSvg };

struct TrackFormatSpec {
  const char* name;       // --to's value and the reports' format: "gpx"
  const char* extension;  // replaces the input's for the default output name
  const char* option;     // the download's option that also writes it: "--gpx"
  const char* title;      // as the download option's help names it: "GPX 1.1"
  const char* carries;    // what it keeps of the track, for help
  void (*write)(TrackText& text, const ExportTrack& track);
};

std::span<const TrackFormatSpec> TrackFormats();

// The format of TrackFormats()[index].
TrackFormat TrackFormatAt(size_t index);

// A row's name; nothing for any other.
std::optional<TrackFormat> TrackFormatNamed(std::string_view name);
// "" for a format no row has.
const char* TrackFormatName(TrackFormat format);
