#include "tools/cli/kml_readback.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace cli {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "5A 00 ... " of one dump line; false for anything but two-digit items.
bool AppendDumpLine(const std::string& line, std::vector<uint8_t>& bytes) {
  std::istringstream items(line);
  for (std::string item; items >> item;) {
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return false;
    bytes.push_back(static_cast<uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
  }
  return true;
}

}  // namespace

KmlReadback ParseKmlText(const std::string& text) {
  KmlReadback result;
  result.readable = true;
  enum { kBefore, kTrack, kBetween, kDump, kDone } where = kBefore;
  std::vector<uint8_t> bytes;
  bool dumpOk = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    switch (where) {
      case kBefore:
        if (line.find("<coordinates>") != std::string::npos) where = kTrack;
        break;
      case kTrack:
        if (line.find("</coordinates>") != std::string::npos) {
          where = kBetween;
        } else if (!line.empty()) {
          ++result.fixes;
        }
        break;
      case kBetween:
        if (line == "<!-- KLXDATA") where = kDump;
        break;
      case kDump:
        if (line == "-->") {
          dumpOk = true;
          where = kDone;
        } else if (!AppendDumpLine(line, bytes)) {
          where = kDone;
        }
        break;
      case kDone:
        break;
    }
  }
  if (dumpOk) result.dump = std::move(bytes);
  return result;
}

KmlReadback ReadBackKml(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return {};
  return ParseKmlText(text);
}

}  // namespace cli
