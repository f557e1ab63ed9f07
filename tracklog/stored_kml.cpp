#include "tracklog/stored_kml.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/os/os.h"
#include "platform/os/text_file.h"
#include "tracklog/kml_writer.h"
#include "tracklog/track_text.h"

namespace {

struct CoordinateLine {
  int number;  // in the file, from 1
  int32_t offset;
  std::string text;
};

StoredKml Failure(StoredKmlProblem problem, std::string message) {
  StoredKml result;
  result.problem = problem;
  result.message = std::move(message);
  return result;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The record offset a coordinate line names in "<!-- N sats:", or -1.
int32_t OffsetOfLine(std::string_view line) {
  const size_t comment = line.find(" <!-- ");
  if (comment == std::string_view::npos) return -1;
  const char* first = line.data() + comment + 6;
  const char* last = line.data() + line.size();
  int32_t offset = -1;
  const auto [end, ec] = std::from_chars(first, last, offset);
  if (ec != std::errc() || end == last || *end != ' ' || offset < 0) return -1;
  return offset;
}

// One dump line's items ("%02X " each) appended to bytes; false for anything
// that is not hexadecimal digits and blanks.
bool AppendDumpItems(std::string_view line, std::vector<int32_t>& bytes) {
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(line.data() + i, line.data() + line.size(), value, 16);
    const size_t used = static_cast<size_t>(end - (line.data() + i));
    // "%02X " of an int makes at most 8 digits.
    if (ec != std::errc() || used > 8 || (end != line.data() + line.size() && *end != ' ')) {
      return false;
    }
    if (bytes.size() == static_cast<size_t>(kFlashImageSize)) return false;
    bytes.push_back(static_cast<int32_t>(value));
    i += used;
  }
  return true;
}

LogMemoryGeometryState GeometryOfDump(size_t bytes) {
  if (bytes == 0) return {0, 0};
  // The reader stops at the largest memory: a longer dump is read as one.
  const MemoryGeometry* g = GeometryOfDumpBytes(bytes);
  if (g == nullptr) g = &kMemoryGeometries[std::size(kMemoryGeometries) - 1];
  return {g->sizeCode, g->decodeLimit};
}

// The fix with the signs its line shows.
TrackFix WithSignsOfLine(TrackFix fix, std::string_view line) {
  const size_t comma = line.find(',');
  const bool west = !line.empty() && line[0] == '-';
  const bool south =
      comma != std::string_view::npos && comma + 1 < line.size() && line[comma + 1] == '-';
  // A flag the dump still shows set stays set: a line that lost it then differs.
  fix.west = fix.west || west;
  fix.south = fix.south || south;
  fix.longitude = std::fabs(fix.longitude);
  fix.latitude = std::fabs(fix.latitude);
  if (fix.west) fix.longitude = fix.longitude * -1;
  if (fix.south) fix.latitude = fix.latitude * -1;
  return fix;
}

}  // namespace

StoredKml ReadStoredKml(const std::string& path, bool stopOnInterrupt) {
  // The largest track Read Flash writes is about 1.1 MB; a file far larger
  // is something else and is not read into memory line by line.
  constexpr uint64_t kLargest = 64u << 20;
  const std::string tooLarge =
      path + " is larger than 64 MB, far more than any track Read Flash writes: not read";
  platform::TextInFile in;
  if (!in.Open(path, kLargest))
    return Failure(StoredKmlProblem::kUnreadable, "Cannot open " + path);
  if (stopOnInterrupt) in.StopOnInterrupt();
  std::error_code ec;
  if (std::filesystem::file_size(platform::FsPath(path), ec) > kLargest && !ec) {
    return Failure(StoredKmlProblem::kNotKml, tooLarge);
  }

  enum class Part { kHeader, kCoordinates, kFooter, kDump, kAfterDump };
  Part part = Part::kHeader;
  bool sawKml = false;
  bool sawDump = false;
  std::vector<CoordinateLine> lines;
  std::vector<int32_t> dump;
  std::optional<DownloadStamp> stamp;
  dump.reserve(static_cast<size_t>(kFlashImageSize));
  std::string raw;
  int number = 0;
  int foreignLine = 0;  // the first coordinate line that names no record
  // CR LF as kw9 writes it, and LF as a file copied through another system
  // may have it, both end a line.
  while (in.ReadLine(raw)) {
    if (raw.back() == '\n') raw.pop_back();
    ++number;
    if (raw.find('\0') != std::string::npos) {
      return Failure(StoredKmlProblem::kNotKml, path + " is not a KML file");
    }
    std::string_view line = raw;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view bare = Trimmed(line);
    switch (part) {
      case Part::kHeader:
        if (bare.find("<kml") != std::string_view::npos) sawKml = true;
        if (bare == "<coordinates>" && sawKml) part = Part::kCoordinates;
        break;
      case Part::kCoordinates:
        if (bare == "</coordinates>") {
          part = Part::kFooter;
        } else if (!bare.empty()) {
          const int32_t offset = OffsetOfLine(line);
          // Told only once the file shows a dump: a track that some other
          // program wrote has lines like these and no dump.
          if (offset < 0 && foreignLine == 0) foreignLine = number;
          if (offset >= 0) lines.push_back({number, offset, std::string(line)});
        }
        break;
      case Part::kFooter:
        if (bare == "<!-- KLXDATA") {
          part = Part::kDump;
          sawDump = true;
        }
        break;
      case Part::kDump:
        if (bare == "-->") {
          part = Part::kAfterDump;
        } else if (!AppendDumpItems(bare, dump)) {
          return Failure(
              StoredKmlProblem::kDamaged,
              "The memory dump of " + path + " is damaged at line " + std::to_string(number));
        }
        break;
      case Part::kAfterDump:
        if (!stamp) stamp = ParseDownloadStamp(bare);
        break;
    }
  }
  if (in.TooLong()) return Failure(StoredKmlProblem::kNotKml, tooLarge);
  if (in.Error()) return Failure(StoredKmlProblem::kUnreadable, "Cannot read " + path);
  if (!sawKml) return Failure(StoredKmlProblem::kNotKml, path + " is not a KML file");
  if (!sawDump) {
    return Failure(StoredKmlProblem::kNoDump,
                   path + " holds no memory dump: only a track that Read Flash wrote can be read");
  }
  if (part != Part::kAfterDump) {
    return Failure(StoredKmlProblem::kDamaged,
                   "The memory dump of " + path + " is damaged: it has no end");
  }
  if (foreignLine != 0) {
    return Failure(StoredKmlProblem::kDamaged, path + ", line " + std::to_string(foreignLine) +
                                                   ": a coordinate line that no download wrote");
  }

  StoredKml result;
  result.dumpBytes = static_cast<int>(dump.size());
  result.geometry = GeometryOfDump(dump.size());
  const int size = static_cast<int>(dump.size());
  result.track = DecodeTrack(dump.data(), size, size, result.geometry);
  const bool negativeAltitude = result.track.negativeAltitude;

  // Where the decoder stopped: records from here on were never written.
  int decodedUpTo = std::min(result.geometry.decodeLimit, size - TrackRecord::kSize + 1);
  for (int o = 0; o < decodedUpTo; o += TrackRecord::kSize) {
    if (IsEndMarker(dump.data() + o)) decodedUpTo = o;
  }

  auto mismatch = [&path](int lineNumber) {
    return Failure(StoredKmlProblem::kDamaged,
                   path + " does not agree with its memory dump at line " +
                       std::to_string(lineNumber) + ": the file is damaged or was edited");
  };
  TrackText expected;
  expected.Reserve(160);
  std::vector<TrackFix>& fixes = result.track.fixes;
  size_t next = 0;  // the next fix that needs its line
  int32_t previous = -1;
  for (const CoordinateLine& line : lines) {
    // The writer goes through the memory once, from address 0.
    if (line.offset <= previous) return mismatch(line.number);
    previous = line.offset;
    TrackFix fix;
    if (next < fixes.size() && fixes[next].offset == line.offset) {
      fix = WithSignsOfLine(fixes[next], line.text);
      fixes[next] = fix;
      ++next;
    } else if ((next == fixes.size() || line.offset < fixes[next].offset) &&
               line.offset % TrackRecord::kSize == 0 && line.offset < decodedUpTo &&
               dump[static_cast<size_t>(line.offset)] != 0 &&
               !IsFixRecord(dump.data() + line.offset)) {
      // An earlier version wrote records that hold no place as fixes.
      fix = WithSignsOfLine(DecodeRecord(dump.data(), line.offset, negativeAltitude), line.text);
      ++result.linesLeftOut;
    } else {
      return mismatch(line.number);
    }
    expected.Clear();
    AppendKmlLine(expected, fix, negativeAltitude);
    if (expected.Text() != line.text) return mismatch(line.number);
  }
  if (next != fixes.size()) {
    return Failure(StoredKmlProblem::kDamaged,
                   path + " lacks the coordinate line of the record at offset " +
                       std::to_string(fixes[next].offset) +
                       " of its memory dump: the file is damaged or was edited");
  }
  result.ok = true;
  result.dump = std::move(dump);
  result.stamp = stamp;
  return result;
}

std::optional<std::vector<uint8_t>> DumpBytes(const StoredKml& stored) {
  if (!stored.ok) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(stored.dump.size());
  for (const int32_t item : stored.dump) {
    if (item < 0 || item > 255) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(item));
  }
  return bytes;
}
