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

namespace {

// An image of `fill` 0xFF-free bytes (no record of them starts with a
// marker), then what follows from `at` on.
std::vector<int32_t> LogThen(int fill, int at, const std::vector<int>& then, int size = 4096) {
  std::vector<int32_t> image(static_cast<size_t>(size), 0xFF);
  for (int k = 0; k < fill; ++k) image[static_cast<size_t>(k)] = 1 + k % 200;
  for (size_t i = 0; i < then.size(); ++i) image[static_cast<size_t>(at) + i] = then[i];
  return image;
}

// Catches a marker taken off a record boundary or past decodeLimit, a marker
// kind missed, a run of 0xFF taken for erased memory when it does not start
// at a record boundary or is one byte short, the end told before the block
// that completes it or after, and an end that survives the bytes it was seen
// in being read again.
TEST(LogEndWatch, FindsTheEndInTheBlockThatCompletesIt) {
  using End = LogEndWatch::End;
  const std::vector<int> ff(300, 0xFF);
  const struct {
    const char* what;
    std::vector<int32_t> image;
    int decodeLimit;
    End end;
    int endsAt;
    int arrivedWhenSeen;  // reading 16-byte blocks; 0 when never
  } rows[] = {
      {"0x5A at 0", LogThen(0, 0, {0x5A, 0x5A, 0x5A, 0x5A, 0xFF}, 64), 8180, End::kEndMarker, 0,
       16},
      {"0xA5 across two blocks", LogThen(45, 45, {0xA5, 0xA5, 0xA5, 0xA5}), 8180, End::kEndMarker,
       45, 64},
      {"0x00 in one block", LogThen(60, 60, {0, 0, 0, 0}), 8180, End::kEndMarker, 60, 64},
      {"a marker off a record boundary is data", LogThen(31, 31, {0, 0, 0, 0}), 8180, End::kErased,
       45, 304},
      {"a marker at decodeLimit is past the log", LogThen(1005, 1005, {0, 0, 0, 0}, 1024), 1005,
       End::kNotYet, 0, 0},
      {"erased from 0", LogThen(0, 0, {}), 8180, End::kErased, 0, 256},
      {"erased after the log", LogThen(1500, 0, {}), 8180, End::kErased, 1500, 1760},
      {"a run one byte short is no erased memory", LogThen(1500, 1755, {1}), 8180, End::kErased,
       1770, 2032},
      {"a run that starts off a boundary counts from the next", LogThen(1, 0, {}), 8180,
       End::kErased, 15, 272},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    LogEndWatch watch(row.decodeLimit);
    int seen = 0;
    const int size = static_cast<int>(row.image.size());
    for (int arrived = 16; arrived <= size && seen == 0; arrived += 16) {
      if (watch.Look(row.image.data(), arrived) != End::kNotYet) seen = arrived;
    }
    EXPECT_EQ(watch.Found(), row.end);
    EXPECT_EQ(seen, row.arrivedWhenSeen);
    if (row.end != End::kNotYet) {
      EXPECT_EQ(watch.EndsAt(), row.endsAt);
    }
  }
}

// A block read again (its reply had bytes behind it) may hold other bytes:
// catches an end kept from the bytes it replaced, and one lost that the
// bytes before them still show.
TEST(LogEndWatch, BytesReadAgainAreLookedAtAgain) {
  using End = LogEndWatch::End;
  std::vector<int32_t> image = LogThen(60, 60, {0x5A, 0x5A, 0x5A, 0x5A});
  LogEndWatch watch(8180);
  ASSERT_EQ(watch.Look(image.data(), 64), End::kEndMarker);
  watch.Back(64);  // the block after it: the marker stands
  EXPECT_EQ(watch.Look(image.data(), 64), End::kEndMarker);
  watch.Back(48);
  image[62] = 7;  // read again, the marker is no marker
  EXPECT_EQ(watch.Look(image.data(), 64), End::kNotYet);
  // The 0xFF that follows then ends the log, from the next record boundary.
  EXPECT_EQ(watch.Look(image.data(), 336), End::kErased);
  EXPECT_EQ(watch.EndsAt(), 75);
  watch.Back(320);
  image[330] = 1;
  EXPECT_EQ(watch.Look(image.data(), 336), End::kNotYet) << "the run is broken at 330";
}

}  // namespace
