// Reads back a KML file a download wrote: how many track points it holds
// and the log-memory bytes its dump shows. Just enough for kw9cli to check a
// download on disk before it lets the tracker be erased.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct KmlReadback {
  bool readable = false;  // the file opened
  int fixes = 0;          // coordinate lines of the track
  // The dump's bytes in address order; nullopt when the file has no
  // well-formed dump (an item that is no byte, a dump that never ends).
  std::optional<std::vector<uint8_t>> dump;
};

KmlReadback ParseKmlText(const std::string& text);
KmlReadback ReadBackKml(const std::string& path);

}  // namespace cli
