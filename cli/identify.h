// Which tracker is on the port, asked before a download, an erase, Flash
// Test or Go!: the model, firmware version, serial number and battery with
// read-only commands. Unlike the window's Read it checks no ID string and
// repairs nothing, writes nothing and shows no message; a tracker that does
// not answer is left to the operation that follows, which tells the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tracklog/download_stamp.h"

namespace cli {

struct Identification {
  std::optional<TrackerIdentity> tracker;  // nothing when it failed
  std::string why;                         // what failed, for the note
};

// Opens port, asks, and closes it again.
Identification IdentifyTracker(const std::string& port);

// track-SERIAL-YYYYMMDDTHHMMSSZ.kml, or track-YYYYMMDDTHHMMSSZ.kml without a
// serial number: the name a download without --output writes.
std::string DefaultDownloadName(std::optional<uint32_t> serialNumber, int64_t unixSeconds);

}  // namespace cli
