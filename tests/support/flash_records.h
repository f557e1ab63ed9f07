// Log memory images made of records, and the KML file a download of one
// writes, for the tests of what reads such a file back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/kml_lines.h"
#include "tracklog/flash_image.h"

namespace testing_support {

// Bytes at their offsets: {{0, {2, 0, 0, 0, 51, ...}}, {15, {...}}}.
using Records = std::vector<std::pair<int, std::vector<int>>>;

// A fix west of Greenwich and north of the equator, as a record holds it.
inline const std::vector<int> kWestFix = {97, 7, 41, 0x80 + 23, 30, 27, 44, 56,
                                          0,  2, 15, 8,         14, 5,  9};

// FlashImage holds the records and 0 elsewhere, in a memory of this geometry.
void LoadFlashImage(const Records& records, LogMemoryGeometryState geometry);

// Writes to path what Read Flash writes for the first availableBytes of the
// loaded image (header, track, footer and dump), then clears the image and
// its geometry. False when the file could not be written.
bool WriteDownloadKml(const std::string& path, int availableBytes = kFlashImageSize);

}  // namespace testing_support
