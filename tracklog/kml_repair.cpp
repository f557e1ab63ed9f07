#include "tracklog/kml_repair.h"

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string RepairKmlLine(const std::string& line) {
  std::string text = line;
  ReplaceAll(text, ", ", ",");
  ReplaceAll(text, ">,", ">");
  return text;
}
