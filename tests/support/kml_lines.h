// The fix lines of a KML file kw9 wrote, for the tests that compare tracks;
// free of the product, so the Windows window driver takes it too.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The fix lines of a KML file's track as kw9 writes them (each with its
// "<!-- offset" note), in order.
std::vector<std::string> FixLines(const std::string& kml);

}  // namespace testing_support
