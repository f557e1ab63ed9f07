// The one decoder of fix records, as the KML writer and the exports use it.
#include "tracklog/track_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/flash_records.h"

using testing_support::kWestFix;
namespace {

// A fix as its KML line shows it: offset, "%f" of longitude and latitude,
// altitude, satellites, second of the day.
std::string Shown(const TrackFix& fix) {
  char text[160];
  std::snprintf(text, sizeof text, "%d %f %f %g %d %d", fix.offset, fix.longitude, fix.latitude,
                fix.altitude, fix.satellites, SecondOfDay(fix));
  return text;
}

const std::vector<int> kSouthFix = {10, 20, 30, 40, 50, 1, 2, 0x83, 1, 100, 5, 6, 23, 59, 59};
const std::vector<int> kEnd = {0xA5, 0xA5, 0xA5, 0xA5};

// Catches altitudes that do not read as the KML line writes them (either
// form, three-digit bytes), signs, offsets, satellites and times taken from
// the wrong byte, and records that reach past the bytes that arrived. (End
// markers, skipped records and decodeLimit: the KML writer's tests.)
TEST(Decoder, FixesAsTheKmlLinesShowThem) {
  const struct {
    const char* what;
    std::vector<std::pair<int, std::vector<int>>> records;  // offset, bytes
    int availableBytes;
    std::vector<std::string> fixes;
  } cases[] = {
      {"west and south",
       {{0, kSouthFix}, {15, {0, 1}}, {30, kWestFix}, {45, kEnd}},
       16384,
       {"0 10.338400 -50.017005 110005 6 86399", "30 -97.123538 30.457427 215 8 50709"}},
      {"negative altitude form",
       {{0, {253, 0, 0, 0, 1, 0, 0, 0}}, {15, kWestFix}, {30, kSouthFix}, {45, kEnd}},
       16384,
       {"15 -97.123538 30.457427 -215 8 50709", "30 10.338400 -50.017005 -10005 6 86399"}},
      {"record cut short by the download",
       {{0, kSouthFix}, {15, kWestFix}},
       29,
       {"0 10.338400 -50.017005 110005 6 86399"}},
      {"record wholly arrived",
       {{0, kSouthFix}, {15, kWestFix}},
       30,
       {"0 10.338400 -50.017005 110005 6 86399", "15 -97.123538 30.457427 215 8 50709"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int32_t> image(16384, 0);
    for (const auto& [offset, bytes] : c.records) {
      for (size_t i = 0; i < bytes.size(); ++i) image[static_cast<size_t>(offset) + i] = bytes[i];
    }
    const std::vector<int32_t> before = image;
    const TrackModel model =
        DecodeTrack(image.data(), static_cast<int>(image.size()), c.availableBytes, {64, 16380});
    EXPECT_EQ(image, before) << "decoding leaves the image alone";
    std::vector<std::string> fixes;
    for (const TrackFix& fix : model.fixes) fixes.push_back(Shown(fix));
    EXPECT_EQ(fixes, c.fixes);
  }
}

}  // namespace
