// The last line of a KML file a download wrote: when it ended and which
// tracker it read, so that a copy keeps both whatever its file time says.
//   <!-- kw9 download 2026-12-09T08:01:02Z model KLX-TX3 firmware 20 serial 2417 -->
// Each field is left out when unknown; a download that read only part of
// the memory adds "read 0-N of M". Files of earlier versions have no line,
// or one of the read range alone ("<!-- kw9 download read 0-191 of 131072
// -->"). The line stands after the dump's "-->", where readers of the dump
// no longer look.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Which tracker, as a Read or kw9cli's identification found it.
struct TrackerIdentity {
  std::string model;  // empty: unknown
  std::optional<int> firmwareVersion;
  std::optional<uint32_t> serialNumber;
  std::string battery;  // volts as the window shows them ("4.02"); not in the stamp
};

struct DownloadStamp {
  std::optional<int64_t> time;  // seconds since 1970 UTC, when the download ended
  TrackerIdentity tracker;
  // A download that read bytes 0 to bytesRead - 1 of memoryBytes; none for a
  // download of the whole memory.
  std::optional<int> bytesRead;
  int memoryBytes = 0;
};

// The line with its line end.
std::string DownloadStampLine(const DownloadStamp& stamp);

// The stamp a line holds, in this version's form or an earlier one's;
// nothing for any other line.
std::optional<DownloadStamp> ParseDownloadStamp(std::string_view line);

// "KLX-TX3 serial 2417 firmware 20", the fields known; empty when none is.
std::string IdentityText(const TrackerIdentity& tracker);
