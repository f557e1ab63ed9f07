// The fix lines of a KML file kw9 wrote, for the tests that compare tracks;
// free of the product, so the Windows window driver takes it too.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The fix lines of a KML file's track as kw9 writes them (each with its
// "<!-- offset" note), in order.
std::vector<std::string> FixLines(const std::string& kml);

// A KML file a download wrote, cut before its last line, the download's
// stamp ("<!-- kw9 download ... -->"): what stays byte for byte as ever, and
// the stamp line without its line end (empty when the last line is no stamp;
// body is then the whole file).
struct StampedKml {
  std::string body;
  std::string stamp;
};
StampedKml SplitStamp(const std::string& kml);

// The form of a stamp line with any time, for a test's regular expression:
// the stamp's fields after the time, as in "model KLX-TX3 firmware 20
// serial 2417" (empty: none).
std::string StampPattern(const std::string& fields);

}  // namespace testing_support
