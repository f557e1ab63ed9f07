#include "tests/support/flash_records.h"

#include <algorithm>

#include "platform/os/text_file.h"
#include "tracklog/kml_writer.h"

namespace testing_support {

void LoadFlashImage(const Records& records, LogMemoryGeometryState geometry) {
  for (int32_t& v : FlashImage) v = 0;
  for (const auto& [offset, bytes] : records) {
    for (size_t i = 0; i < bytes.size(); ++i) FlashImage[offset + static_cast<int>(i)] = bytes[i];
  }
  LogMemoryGeometry = geometry;
}

bool WriteDownloadKml(const std::string& path, int availableBytes) {
  platform::TextOutFile out;
  const bool opened = out.Open(path);
  if (opened) {
    WriteKmlHeader(out);
    WriteTrackCoordinates(out, availableBytes);
    WriteKmlFooter(out);
    WriteMemoryDump(out, availableBytes);
  }
  const bool written = opened && out.Close();
  for (int32_t& v : FlashImage) v = 0;
  LogMemoryGeometry = {};
  return written;
}

}  // namespace testing_support
