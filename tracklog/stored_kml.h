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

#include <string>

#include "tracklog/flash_image.h"
#include "tracklog/track_model.h"

struct StoredKml {
  bool ok = false;
  std::string message;  // why not, for the user; empty when ok
  TrackModel track;     // the fixes, with the signs of the file's lines
  LogMemoryGeometryState geometry;
  int dumpBytes = 0;
  int linesLeftOut = 0;  // lines of records that hold no place
};

StoredKml ReadStoredKml(const std::string& path);
