// Reading back a KML file that Read Flash wrote, in this or any earlier
// version: its memory dump is decoded again and must give exactly the
// coordinate lines the file holds.
//
// The signs: decoding cleared bit 7 of bytes 3 and 7 (the west and south
// flags) of every written record before the dump was written, so the dump
// alone cannot tell west from east. Each fix takes its signs from its own
// coordinate line, the one whose comment names the record's offset; every
// other character of that line must be what the dump's bytes give, so a line
// whose sign was edited still passes only if nothing else changed. A flag the
// dump still shows set must agree with its line.
//
// The memory size follows from the dump's length: up to 8192 bytes 64 kbit,
// up to 16384 bytes 128 kbit, up to 131072 bytes 1024 kbit. A dump cut short
// (a download that stopped early) gives the records wholly inside it.
//
// Files of versions that wrote lines for records holding no place (longitude
// degrees above 180, latitude degrees above 90) are read too: such a line must
// match its record as well, and the fix is left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tracklog/download_stamp.h"
#include "tracklog/flash_image.h"
#include "tracklog/track_model.h"

// Why a file does not read, for callers that act on the cause.
enum class StoredKmlProblem {
  kNone,
  kUnreadable,  // it cannot be opened or read
  kNotKml,      // no KML file at all
  kNoDump,      // a KML file without the memory dump Read Flash writes
  kDamaged,     // the dump is broken or does not give the lines: damaged or edited
};

struct StoredKml {
  bool ok = false;
  StoredKmlProblem problem = StoredKmlProblem::kNone;
  std::string message;  // why not, for the user; empty when ok
  TrackModel track;     // the fixes, with the signs of the file's lines
  LogMemoryGeometryState geometry;
  int dumpBytes = 0;
  int linesLeftOut = 0;  // lines of records that hold no place
  // The dump's items in address order, as the file shows them (the sign
  // flags of written records cleared); empty unless ok.
  std::vector<int32_t> dump;
  // The download's stamp line after the dump; none in files of versions
  // that wrote none, and in those of other programs.
  std::optional<DownloadStamp> stamp;
};

// stopOnInterrupt: an interrupt (CatchInterrupts) ends the reading as a
// failed read.
StoredKml ReadStoredKml(const std::string& path, bool stopOnInterrupt = false);

// The dump of a file that read as bytes; nothing when it did not read or an
// item is no byte (a value a download never filled).
std::optional<std::vector<uint8_t>> DumpBytes(const StoredKml& stored);
