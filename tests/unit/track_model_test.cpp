// The one decoder of fix records, as the KML writer and the exports use it.
#include "tracklog/track_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Expected {
  int offset;
  const char* lon;  // "%f"
  const char* lat;
  double altitude;
  int satellites;
  int secondOfDay;
};

struct DecodeCase {
  const char* what;
  std::vector<std::pair<int, std::vector<int>>> records;  // offset, bytes
  int availableBytes;
  int decodeLimit;
  std::vector<Expected> fixes;
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.what;
}

std::string F(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

const std::vector<int> kWestFix = {97, 7, 41, 0x80 + 23, 30, 27, 44, 56, 0, 2, 15, 8, 14, 5, 9};
const std::vector<int> kSouthFix = {10, 20, 30, 40, 50, 1, 2, 0x83, 1, 100, 5, 6, 23, 59, 59};
const std::vector<int> kEnd = {0xA5, 0xA5, 0xA5, 0xA5};

class Decoder : public testing::TestWithParam<DecodeCase> {};

// Catches altitudes that do not read as the KML line writes them (either
// form, three-digit bytes), signs, offsets, satellites and times taken from
// the wrong byte, and records that reach past the bytes that arrived. (End
// markers, skipped records and decodeLimit: the KML writer's tests.)
TEST_P(Decoder, FixesAsTheKmlLinesShowThem) {
  const DecodeCase& c = GetParam();
  std::vector<int32_t> image(16384, 0);
  for (const auto& [offset, bytes] : c.records) {
    for (size_t i = 0; i < bytes.size(); ++i) image[static_cast<size_t>(offset) + i] = bytes[i];
  }
  const std::vector<int32_t> before = image;
  const TrackModel model = DecodeTrack(image.data(), static_cast<int>(image.size()),
                                       c.availableBytes, {64, c.decodeLimit});
  EXPECT_EQ(image, before) << "decoding leaves the image alone";
  ASSERT_EQ(model.fixes.size(), c.fixes.size());
  for (size_t i = 0; i < c.fixes.size(); ++i) {
    const TrackFix& fix = model.fixes[i];
    const Expected& e = c.fixes[i];
    EXPECT_EQ(fix.offset, e.offset) << i;
    EXPECT_EQ(F(fix.longitude), e.lon) << i;
    EXPECT_EQ(F(fix.latitude), e.lat) << i;
    EXPECT_EQ(fix.altitude, e.altitude) << i;
    EXPECT_EQ(fix.satellites, e.satellites) << i;
    EXPECT_EQ(SecondOfDay(fix), e.secondOfDay) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, Decoder,
    testing::Values(
        DecodeCase{"west and south",
                   {{0, kSouthFix}, {15, {0, 1}}, {30, kWestFix}, {45, kEnd}},
                   16384,
                   16380,
                   {{0, "10.338400", "-50.017005", 110005, 6, 86399},
                    {30, "-97.123538", "30.457427", 215, 8, 14 * 3600 + 5 * 60 + 9}}},
        DecodeCase{"negative altitude form",
                   {{0, {253, 0, 0, 0, 1, 0, 0, 0}}, {15, kWestFix}, {30, kSouthFix}, {45, kEnd}},
                   16384,
                   16380,
                   {{15, "-97.123538", "30.457427", -215, 8, 50709},
                    {30, "10.338400", "-50.017005", -10005, 6, 86399}}},
        DecodeCase{"record cut short by the download",
                   {{0, kSouthFix}, {15, kWestFix}},
                   29,
                   16380,
                   {{0, "10.338400", "-50.017005", 110005, 6, 86399}}},
        DecodeCase{"record wholly arrived",
                   {{0, kSouthFix}, {15, kWestFix}},
                   30,
                   16380,
                   {{0, "10.338400", "-50.017005", 110005, 6, 86399},
                    {15, "-97.123538", "30.457427", 215, 8, 50709}}}),
    [](const testing::TestParamInfo<DecodeCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

}  // namespace
