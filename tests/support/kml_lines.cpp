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

StampedKml SplitStamp(const std::string& kml) {
  const size_t end =
      kml.size() >= 2 && kml.compare(kml.size() - 2, 2, "\r\n") == 0 ? kml.size() - 2 : kml.size();
  const size_t start = kml.rfind('\n', end == 0 ? 0 : end - 1);
  const size_t at = start == std::string::npos ? 0 : start + 1;
  const std::string last = kml.substr(at, end - at);
  if (last.rfind("<!-- kw9 download ", 0) != 0) return {kml, ""};
  return {kml.substr(0, at), last};
}

std::string StampPattern(const std::string& fields) {
  return "<!-- kw9 download 20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z" +
         (fields.empty() ? std::string() : " " + fields) + " -->";
}

}  // namespace testing_support
