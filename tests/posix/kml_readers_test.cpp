// The track files read back by independent KML readers: gpsbabel, GDAL's
// ogrinfo and xmllint must all accept what a download writes and see the same
// points that the log memory holds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/os/text_file.h"
#include "sim/tracker.h"
#include "tests/support/external_tool.h"
#include "tests/support/track_readers.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_writer.h"

using testing_support::FromOgrinfo;
using testing_support::FromUnicsv;
using testing_support::ReadPoint;
using testing_support::RunTool;
using testing_support::SixDecimals;
using testing_support::ToolRun;

namespace {

struct Point {
  double lon;
  double lat;
  double alt;
};

// The points the log memory holds, decoded here on their own terms (plain
// degrees + minutes / 60), not by the writer under test.
std::vector<Point> PointsInMemory(const std::vector<int>& image, int decodeLimit) {
  std::vector<Point> points;
  const bool negativeAltitude = image[0] == 253;
  for (int o = 0; o < decodeLimit; o += 15) {
    const int* r = image.data() + o;
    bool end = false;
    for (int marker : {0x5A, 0xA5, 0x00}) {
      end = end || (r[0] == marker && r[1] == marker && r[2] == marker && r[3] == marker);
    }
    if (end) break;
    if (r[0] == 0) continue;
    auto coordinate = [](const int* b) {
      const double v = b[0] + (b[1] + b[2] / 100.0 + (b[3] & 0x7F) / 10000.0) / 60.0;
      return (b[3] & 0x80) != 0 ? -v : v;
    };
    const double alt =
        negativeAltitude ? -(r[9] * 100.0 + r[10]) : r[8] * 10000.0 + r[9] * 100.0 + r[10];
    points.push_back({coordinate(r), coordinate(r + 4), alt});
  }
  return points;
}

void ExpectSamePoints(const char* reader, const std::vector<ReadPoint>& actual,
                      const std::vector<Point>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << reader;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].lon, SixDecimals(expected[i].lon)) << reader << " point " << i;
    EXPECT_EQ(actual[i].lat, SixDecimals(expected[i].lat)) << reader << " point " << i;
    EXPECT_DOUBLE_EQ(actual[i].alt, expected[i].alt) << reader << " point " << i;
  }
}

struct TrackCase {
  int sizeKbit;
  int decodeLimit;
  int downloadBytes;
};
void PrintTo(const TrackCase& c, std::ostream* os) {
  *os << c.sizeKbit << " kbit";
}

class KmlReaders : public testing::TestWithParam<TrackCase> {
 protected:
  void SetUp() override {
    const TrackCase& c = GetParam();
    const std::vector<uint8_t> memory = sim::RealisticTrack(c.sizeKbit);
    ASSERT_FALSE(memory.empty());
    for (int32_t& v : FlashImage) v = 0;
    // As the download fills it: the 64-kbit memory answers its upper half
    // wrapped.
    for (int k = 0; k < c.downloadBytes; ++k) FlashImage[k] = memory[k % memory.size()];
    image_.assign(FlashImage, FlashImage + kFlashImageSize);
    LogMemoryGeometry = {c.sizeKbit, c.decodeLimit};

    std::error_code ec;
    path_ = (std::filesystem::temp_directory_path(ec) /
             ("kw9_readers_" + std::to_string(c.sizeKbit) + "_" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".kml"))
                .string();
    platform::TextOutFile out;
    ASSERT_TRUE(out.Open(path_));
    WriteKmlHeader(out);
    WriteTrackCoordinates(out);
    WriteKmlFooter(out);
    WriteMemoryDump(out);
    // And the stamp every download ends with: the readers pass over it.
    DownloadStamp stamp;
    stamp.time = 1796803262;
    stamp.tracker = {"KLX-TX3", 20, 2417, ""};
    WriteDownloadStamp(out, stamp);
    ASSERT_TRUE(out.Close());
    expected_ = PointsInMemory(image_, c.decodeLimit);
    // A track the readers could agree on by being empty would prove nothing.
    ASSERT_GT(expected_.size(), 10u);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    for (int32_t& v : FlashImage) v = 0;
    LogMemoryGeometry = {};
  }

  std::vector<int> image_;
  std::string path_;
  std::vector<Point> expected_;
};

// Catches a file that is not well-formed XML (an unclosed tag, a "--" inside
// a comment, a stray byte).
TEST_P(KmlReaders, XmllintFindsItWellFormed) {
  const ToolRun run = RunTool("xmllint --noout '" + path_ + "' 2>&1");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
}

// Catches coordinates that a reader parses differently: swapped longitude and
// latitude, lost signs, blanks in tuples, altitudes that do not read as
// numbers, points merged or dropped.
TEST_P(KmlReaders, GpsbabelSeesEveryPoint) {
  const ToolRun run = RunTool("gpsbabel -t -i kml -f '" + path_ + "' -o unicsv -F - 2>/dev/null");
  ASSERT_EQ(run.status, 0);
  ExpectSamePoints("gpsbabel", FromUnicsv(run.output), expected_);
}

TEST_P(KmlReaders, OgrinfoSeesEveryPoint) {
  const ToolRun run = RunTool("ogrinfo -ro -al '" + path_ + "' 2>/dev/null");
  ASSERT_EQ(run.status, 0);
  ExpectSamePoints("ogrinfo", FromOgrinfo(run.output), expected_);
}

INSTANTIATE_TEST_SUITE_P(Sizes, KmlReaders,
                         testing::Values(TrackCase{64, 8180, 16384}, TrackCase{128, 16380, 16384},
                                         TrackCase{1024, 131056, 131072}),
                         [](const testing::TestParamInfo<TrackCase>& info) {
                           return "kbit" + std::to_string(info.param.sizeKbit);
                         });

}  // namespace
