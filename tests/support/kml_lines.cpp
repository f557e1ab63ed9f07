#include "tests/support/kml_lines.h"

#include <algorithm>

namespace testing_support {

std::vector<std::string> FixLines(const std::string& kml) {
  std::vector<std::string> lines;
  const size_t from = kml.find("<coordinates>\r\n"), to = kml.find("</coordinates>");
  if (from == std::string::npos || to == std::string::npos) return lines;
  for (size_t at = from + 15; at < to;) {
    const size_t end = std::min(kml.find("\r\n", at), to);
    const std::string line = kml.substr(at, end - at);
    if (line.find("<!-- ") != std::string::npos) lines.push_back(line);
    at = end + 2;
  }
  return lines;
}

}  // namespace testing_support
