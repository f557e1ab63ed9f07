#include "tracklog/kml_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "sim/tracker.h"
#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/flash_image.h"

using testing_support::Slurp;

using testing_support::kWestFix;
namespace {

using platform::TextOutFile;

std::string TempPath() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("kw9_") + info->test_suite_name() + "_" + info->name() + "_" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                     ".kml";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::error_code ec;
  return (std::filesystem::temp_directory_path(ec) / name).string();
}

// "\n" as the file has it.
std::string OnDisk(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Runs writers into a fresh file and returns the file's bytes.
std::string Written(std::initializer_list<void (*)(TextOutFile&)> writers) {
  const std::string path = TempPath();
  TextOutFile out;
  EXPECT_TRUE(out.Open(path));
  for (auto* writer : writers) writer(out);
  EXPECT_TRUE(out.Close());
  std::string bytes = Slurp(path);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return bytes;
}

void ResetLogMemory() {
  for (int32_t& v : FlashImage) v = 0;
  LogMemoryGeometry = {};
}

void SetBytes(int offset, const std::vector<int>& bytes) {
  for (int b : bytes) FlashImage[offset++] = b;
}

class KmlWriter : public testing::Test {
 protected:
  void SetUp() override { ResetLogMemory(); }
  void TearDown() override { ResetLogMemory(); }
};

// --- The whole file --------------------------------------------------------

// Catches any change to the fixed text and its CR LF line ends: a tracker with
// an unknown geometry gives the header, the empty line that stands for no
// coordinates, the footer and an empty dump.
TEST_F(KmlWriter, EmptyGeometryGivesTheFixedFrame) {
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<kml xmlns=\"http://earth.google.com/kml/2.0\">\r\n"
      "<Placemark>\r\n"
      "  <name>gps</name>\r\n"
      "  <Style id=\"khStyle690\">\r\n"
      "    <LineStyle id=\"khLineStyle694\">\r\n"
      "       <color>ff00ffff</color>\r\n"
      "       <width>4</width>\r\n"
      "    </LineStyle>\r\n"
      "  </Style>\r\n"
      "<MultiGeometry id=\"khMultiGeometry697\">\r\n"
      "<LineString id=\"khLineString698\">\r\n"
      "<tessellate>1</tessellate>\r\n"
      "<altitudeMode>absolute</altitudeMode>\r\n"
      "<coordinates>\r\n"
      "\r\n"
      "      </coordinates>\r\n"
      "    </LineString>\r\n"
      "  </MultiGeometry>\r\n"
      "</Placemark>\r\n"
      "</kml>\r\n\r\n\r\n"
      "<!-- KLXDATA\r\n"
      "-->\r\n";
  // A record that decodeLimit 0 must keep out of the file.
  SetBytes(0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58});
  EXPECT_EQ(Written({WriteKmlHeader, WriteTrackCoordinates, WriteKmlFooter, WriteMemoryDump}),
            expected);
}

// --- Coordinate lines ------------------------------------------------------

struct CoordinateCase {
  const char* what;
  std::vector<std::pair<int, std::vector<int>>> records;  // offset, bytes
  int decodeLimit;
  std::string lines;  // what WriteTrackCoordinates writes, "\n" as line end
};
void PrintTo(const CoordinateCase& c, std::ostream* os) {
  *os << c.what;
}

class CoordinateLines : public KmlWriter, public testing::WithParamInterface<CoordinateCase> {};

const std::vector<int> kFixAtZero = {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 23, 59, 58};
const std::vector<int> kLonZeroA = {0, 1, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
const std::vector<int> kLonZeroB = {0, 0, 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
const std::vector<int> kLonAbove180 = {181, 0, 0, 0x80, 10, 0, 0, 0x80, 1, 1, 1, 1, 1, 1, 1};
const std::vector<int> kLatAbove90 = {1, 0, 0, 0x80, 91, 0, 0, 0x80, 1, 1, 1, 1, 1, 1, 1};
const std::vector<int> kErased(15, 0xFF);
const std::vector<int> kEnd5A = {0x5A, 0x5A, 0x5A, 0x5A};
const std::vector<int> kEndA5 = {0xA5, 0xA5, 0xA5, 0xA5};
const std::vector<int> kEnd00 = {0, 0, 0, 0};

const char kWestLine[] = "-97.123538,30.457427,00215 <!-- 30 sats:8 UTC 14:05:09 -->";
const char kZeroLine[] = "2.000000,51.500000,10203 <!-- 0 sats:4 UTC 23:59:58 -->";

// Catches wrong arithmetic or rounding, swapped longitude and latitude, sign
// flags read from the wrong byte or after masking, the line form taken from
// the record instead of address 0, a dropped "0" of altitudeHigh, skipped
// records that write a line end, records examined past an end marker or at
// decodeLimit, and end markers tested after the masking.
TEST_P(CoordinateLines, DecodeAsTheFileFormatSays) {
  const CoordinateCase& c = GetParam();
  for (const auto& [offset, bytes] : c.records) {
    for (size_t i = 0; i < bytes.size(); ++i) FlashImage[offset + static_cast<int>(i)] = bytes[i];
  }
  LogMemoryGeometry.decodeLimit = c.decodeLimit;
  EXPECT_EQ(Written({WriteTrackCoordinates}), OnDisk(c.lines));
}

INSTANTIATE_TEST_SUITE_P(
    Records, CoordinateLines,
    testing::Values(
        CoordinateCase{"west fix at offset 30",
                       {{0, kLonZeroA}, {15, kLonZeroB}, {30, kWestFix}, {45, kEnd5A}},
                       16380,
                       kWestLine},
        // Address 0 holds 253, which is also the longitude degrees of record
        // 0: no place, so that record is no fix, yet it picks the form.
        CoordinateCase{"negative altitude form",
                       {{0, {253, 30, 0, 0x80, 10, 0, 0, 0x80, 7, 1, 2, 3, 4, 5, 6}},
                        {15, kLonZeroB},
                        {30, kWestFix},
                        {45, kEnd5A}},
                       16380,
                       "-97.123538,30.457427,-0215 <!-- 30 sats:8  UTC 14:05:09 -->"},
        CoordinateCase{"fix at offset 0", {{0, kFixAtZero}, {15, kEndA5}}, 16380, kZeroLine},
        CoordinateCase{"south fix",
                       {{0, {10, 20, 30, 40, 50, 1, 2, 0x83, 0, 9, 5, 6, 7, 8, 9}}, {15, kEnd00}},
                       8180,
                       "10.338400,-50.017005,00905 <!-- 0 sats:6 UTC 07:08:09 -->"},
        CoordinateCase{
            "bytes out of range add in",
            {{0, {180, 99, 99, 127, 90, 250, 255, 255, 1, 100, 5, 12, 100, 7, 61}}, {15, kEnd00}},
            8180,
            "181.666712,-94.209378,110005 <!-- 0 sats:12 UTC 100:07:61 -->"},
        CoordinateCase{"longitude degrees above 180 are no fix",
                       {{0, kFixAtZero}, {15, kLonAbove180}, {30, kWestFix}, {45, kEndA5}},
                       8180,
                       std::string(kZeroLine) + "\n" + kWestLine},
        CoordinateCase{"latitude degrees above 90 are no fix",
                       {{0, kFixAtZero}, {15, kLatAbove90}, {30, kWestFix}, {45, kEndA5}},
                       8180,
                       std::string(kZeroLine) + "\n" + kWestLine},
        CoordinateCase{"erased record is no fix",
                       {{0, kErased}, {15, kFixAtZero}, {30, kErased}, {45, kEnd00}},
                       8180,
                       "2.000000,51.500000,10203 <!-- 15 sats:4 UTC 23:59:58 -->"},
        CoordinateCase{"skipped record leaves one line end",
                       {{0, kFixAtZero}, {15, kLonZeroA}, {30, kWestFix}, {45, kEndA5}},
                       8180,
                       std::string(kZeroLine) + "\n" + kWestLine},
        CoordinateCase{"end marker 00 first", {{15, kFixAtZero}}, 8180, ""},
        CoordinateCase{"end marker 5A first", {{0, kEnd5A}, {15, kFixAtZero}}, 8180, ""},
        CoordinateCase{"end marker A5 first", {{0, kEndA5}, {15, kFixAtZero}}, 8180, ""},
        CoordinateCase{"nothing after the end marker",
                       {{0, kFixAtZero}, {15, kEnd5A}, {30, kWestFix}},
                       8180,
                       kZeroLine},
        // Bit 7 of byte 3 belongs to the end test: A5 A5 A5 25 and 5A 5A 5A DA
        // are fixes, not markers.
        CoordinateCase{"A5 marker needs bit 7",
                       {{0, {0xA5, 0xA5, 0xA5, 0x25, 1, 0, 0, 0}}, {15, kEnd00}},
                       8180,
                       "167.777562,1.000000,00000 <!-- 0 sats:0 UTC 00:00:00 -->"},
        CoordinateCase{"5A marker tested before masking",
                       {{0, {0x5A, 0x5A, 0x5A, 0xDA, 1, 0, 0, 0}}, {15, kEnd00}},
                       8180,
                       "-91.515150,1.000000,00000 <!-- 0 sats:0 UTC 00:00:00 -->"},
        CoordinateCase{"record at decodeLimit not examined",
                       {{0, kLonZeroA}, {15, kLonZeroA}, {30, kWestFix}},
                       30,
                       ""},
        CoordinateCase{"record just below decodeLimit examined",
                       {{0, kLonZeroA}, {15, kLonZeroA}, {30, kWestFix}},
                       31,
                       kWestLine},
        CoordinateCase{"decodeLimit 0", {{0, kFixAtZero}}, 0, ""},
        CoordinateCase{"negative decodeLimit", {{0, kFixAtZero}}, -15, ""}),
    [](const testing::TestParamInfo<CoordinateCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

// Catches sign flags cleared in a copy instead of the image, in records that
// are no fix (lonDegrees 0, or degrees no place has), records past the end
// marker being touched, and an image entry 0 that decoding changes.
TEST_F(KmlWriter, DecodingClearsTheSignFlagsOfWrittenRecordsOnly) {
  SetBytes(0, {253, 30, 0, 0x80, 10, 0, 0, 0x80, 7, 1, 2, 3, 4, 5, 6});
  SetBytes(15, kWestFix);
  SetBytes(30, {0, 1, 0, 0x81, 0, 0, 0, 0x82});  // skipped
  SetBytes(45, kEnd5A);
  SetBytes(60, kWestFix);
  LogMemoryGeometry.decodeLimit = 8180;
  Written({WriteTrackCoordinates});
  EXPECT_EQ(FlashImage[0], 253);
  EXPECT_EQ(FlashImage[3], 0x80);
  EXPECT_EQ(FlashImage[7], 0x80);
  EXPECT_EQ(FlashImage[15 + 3], 23);
  EXPECT_EQ(FlashImage[15 + 7], 56);
  EXPECT_EQ(FlashImage[30 + 3], 0x81);
  EXPECT_EQ(FlashImage[30 + 7], 0x82);
  EXPECT_EQ(FlashImage[60 + 3], 0x80 + 23);
}

struct MemorySize {
  int sizeCode;
  int decodeLimit;
  int records;  // records examined at most
};
void PrintTo(const MemorySize& m, std::ostream* os) {
  *os << m.sizeCode << " kbit";
}

class FullMemory : public KmlWriter, public testing::WithParamInterface<MemorySize> {};

// A memory of 0xFF bytes but for the degrees holds no end marker: every record
// below decodeLimit is a west and south fix. Catches an end test that takes
// 0xFF for a marker and an off-by-one at decodeLimit. The same memory erased
// through and through holds no fix at all and keeps every byte.
TEST_P(FullMemory, EveryRecordBelowTheLimitIsWritten) {
  const MemorySize& m = GetParam();
  for (int32_t& v : FlashImage) v = 0xFF;
  LogMemoryGeometry = {m.sizeCode, m.decodeLimit};
  EXPECT_EQ(Written({WriteTrackCoordinates}), "");
  for (int k = 0; k < kFlashImageSize; ++k) ASSERT_EQ(FlashImage[k], 0xFF) << k;

  for (int o = 0; o + 15 <= kFlashImageSize; o += 15) {
    FlashImage[o + TrackRecord::lonDegrees] = 179;
    FlashImage[o + TrackRecord::latDegrees] = 89;
  }
  std::string expected;
  for (int i = 0; i < m.records; ++i) {
    if (i != 0) expected += "\r\n";
    expected += "-183.292712,-93.292712,255255255 <!-- " + std::to_string(15 * i) +
                " sats:255 UTC 255:255:255 -->";
  }
  EXPECT_EQ(Written({WriteTrackCoordinates}), expected);
  const int last = 15 * (m.records - 1);
  EXPECT_EQ(FlashImage[last + 3], 0x7F);
  EXPECT_EQ(FlashImage[last + 7], 0x7F);
  if (last + 15 + 3 < kFlashImageSize) {
    EXPECT_EQ(FlashImage[last + 15 + 3], 0xFF);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FullMemory,
                         testing::Values(MemorySize{64, 8180, 546}, MemorySize{128, 16380, 1092},
                                         MemorySize{1024, 131056, 8738}),
                         [](const testing::TestParamInfo<MemorySize>& info) {
                           return "kbit" + std::to_string(info.param.sizeCode);
                         });

struct EndCase {
  std::vector<int> first4;
  int isEnd;
};
void PrintTo(const EndCase& c, std::ostream* os) {
  for (int b : c.first4) *os << b << ' ';
}

class EndOfLog : public KmlWriter, public testing::WithParamInterface<EndCase> {};

// Catches markers compared after masking, 0xFF taken for a marker, and a test
// of fewer than four bytes.
TEST_P(EndOfLog, FourEqualMarkerBytes) {
  const EndCase& c = GetParam();
  for (int32_t& v : FlashImage) v = 0x11;
  for (size_t i = 0; i < c.first4.size(); ++i) FlashImage[30 + static_cast<int>(i)] = c.first4[i];
  EXPECT_EQ(IsEndOfLogRecord(30), c.isEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, EndOfLog,
    testing::Values(EndCase{{0x00, 0x00, 0x00, 0x00}, 1}, EndCase{{0x5A, 0x5A, 0x5A, 0x5A}, 1},
                    EndCase{{0xA5, 0xA5, 0xA5, 0xA5}, 1}, EndCase{{0xFF, 0xFF, 0xFF, 0xFF}, 0},
                    EndCase{{0x5A, 0x5A, 0x5A, 0xA5}, 0}, EndCase{{0xA5, 0xA5, 0xA5, 0x25}, 0},
                    EndCase{{0x00, 0x00, 0x00, 0x80}, 0}, EndCase{{0x00, 0x00, 0x00, 0x01}, 0},
                    EndCase{{0x01, 0x00, 0x00, 0x00}, 0}, EndCase{{0x5A, 0x5A, 0x5A}, 0}));

// --- Dump ------------------------------------------------------------------

struct DumpCase {
  int sizeCode;
  int lines;
};
void PrintTo(const DumpCase& c, std::ostream* os) {
  *os << c.sizeCode << " kbit";
}

class MemoryDump : public KmlWriter, public testing::WithParamInterface<DumpCase> {};

// Catches a wrong length, a wrong lookup table (each item is checked against
// printf's own "%02X "), lines of other than 16 items and a missing blank or
// line end.
TEST_P(MemoryDump, SixteenItemsALine) {
  const DumpCase& c = GetParam();
  for (int k = 0; k < kFlashImageSize; ++k) FlashImage[k] = (k * 7 + k / 256) & 0xFF;
  LogMemoryGeometry.sizeCode = c.sizeCode;
  std::string expected = "<!-- KLXDATA\r\n";
  char item[16];
  for (int k = 0; k < c.lines * 16; ++k) {
    std::snprintf(item, sizeof item, "%02X ", static_cast<unsigned>(FlashImage[k]));
    expected += item;
    if ((k + 1) % 16 == 0) expected += "\r\n";
  }
  expected += "-->\r\n";
  const std::string dump = Written({WriteMemoryDump});
  EXPECT_EQ(dump.size(), 14 + static_cast<size_t>(c.lines) * 50 + 5);
  EXPECT_EQ(dump, expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MemoryDump,
                         testing::Values(DumpCase{0, 0}, DumpCase{64, 512}, DumpCase{128, 1024},
                                         DumpCase{1024, 8192}),
                         [](const testing::TestParamInfo<DumpCase>& info) {
                           return "kbit" + std::to_string(info.param.sizeCode);
                         });

// The item of byte k in a file that ends with a dump of full 50-byte lines.
std::string DumpItem(const std::string& file, int k) {
  const size_t start = file.find("<!-- KLXDATA\r\n");
  if (start == std::string::npos) return "no dump";
  return file.substr(start + 14 + static_cast<size_t>(k / 16) * 50 + (k % 16) * 3, 3);
}

// Catches a dump taken before decoding cleared the flags.
TEST_F(KmlWriter, DumpShowsTheClearedSignFlag) {
  SetBytes(0, kLonZeroA);
  SetBytes(15, kLonZeroB);
  SetBytes(30, kWestFix);
  SetBytes(45, kEnd5A);
  LogMemoryGeometry = {64, 8180};
  const std::string file = Written({WriteTrackCoordinates, WriteKmlFooter, WriteMemoryDump});
  EXPECT_EQ(DumpItem(file, 30), "61 ");
  EXPECT_EQ(DumpItem(file, 33), "17 ");
  EXPECT_EQ(DumpItem(file, 37), "38 ");
}

// Catches a lookup table that turns values outside a byte into something else
// than "%02X " does; a block that never arrived may leave such values.
TEST_F(KmlWriter, DumpFormatsValuesOutsideAByteAsPrintfDoes) {
  SetBytes(0, {-1, 256, 0x7F, 4096});
  LogMemoryGeometry.sizeCode = 64;
  const std::string dump = Written({WriteMemoryDump});
  std::string firstLine = "<!-- KLXDATA\r\nFFFFFFFF 100 7F 1000 ";
  for (int i = 0; i < 12; ++i) firstLine += "00 ";
  firstLine += "\r\n00 ";
  EXPECT_EQ(dump.substr(0, firstLine.size()), firstLine);
}

#if defined(__linux__)
// A full disk must reach the caller through the file, though the writers do not
// look at single writes.
TEST_F(KmlWriter, FullDiskIsSeenAtClose) {
  LogMemoryGeometry = {1024, 131056};
  TextOutFile out;
  ASSERT_TRUE(out.Open("/dev/full"));
  WriteKmlHeader(out);
  WriteTrackCoordinates(out);
  WriteKmlFooter(out);
  WriteMemoryDump(out);
  EXPECT_TRUE(out.Failed());
  EXPECT_FALSE(out.Close());
}
#endif

// --- Golden files ----------------------------------------------------------

struct GoldenCase {
  int sizeKbit;
  int decodeLimit;
  int downloadBytes;  // what the download reads: the 64-kbit memory wraps
  const char* file;
};
void PrintTo(const GoldenCase& c, std::ostream* os) {
  *os << c.file;
}

class GoldenKml : public KmlWriter, public testing::WithParamInterface<GoldenCase> {};

// The whole file for the simulator's built-in track, byte for byte. With
// KW9_UPDATE_GOLDEN=1 the test writes the golden file instead; check the
// difference by hand before committing it.
TEST_P(GoldenKml, MatchesByteForByte) {
  const GoldenCase& c = GetParam();
  const std::vector<uint8_t> memory = sim::RealisticTrack(c.sizeKbit);
  ASSERT_EQ(memory.size(), static_cast<size_t>(c.sizeKbit) * 128);
  for (int k = 0; k < c.downloadBytes; ++k) FlashImage[k] = memory[k % memory.size()];
  LogMemoryGeometry = {c.sizeKbit, c.decodeLimit};

  const std::string goldenPath = std::string(KW9_GOLDEN_DIR) + "/" + c.file;
  const char* update = std::getenv("KW9_UPDATE_GOLDEN");
  const bool updating = update != nullptr && std::string(update) == "1";
  const std::string path = updating ? goldenPath : TempPath();
  TextOutFile out;
  ASSERT_TRUE(out.Open(path));
  WriteKmlHeader(out);
  WriteTrackCoordinates(out);
  WriteKmlFooter(out);
  WriteMemoryDump(out);
  ASSERT_TRUE(out.Close());
  if (updating) GTEST_SKIP() << "wrote " << goldenPath;

  const std::string actual = Slurp(path);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  const std::string golden = Slurp(goldenPath);
  ASSERT_FALSE(golden.empty()) << "missing " << goldenPath;
  if (actual == golden) return;
  // Point at the first line that differs rather than dumping 400 KB.
  size_t at = 0;
  while (at < actual.size() && at < golden.size() && actual[at] == golden[at]) ++at;
  const size_t lineStart = golden.rfind('\n', at == 0 ? 0 : at - 1);
  const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
  const size_t line = static_cast<size_t>(std::count(golden.begin(), golden.begin() + from, '\n'));
  FAIL() << c.file << " differs at byte " << at << ", line " << line + 1
         << "\n  golden: " << golden.substr(from, golden.find('\n', from) - from)
         << "\n  actual: " << actual.substr(from, actual.find('\n', from) - from) << "\n  sizes "
         << golden.size() << " / " << actual.size();
}

INSTANTIATE_TEST_SUITE_P(Sizes, GoldenKml,
                         testing::Values(GoldenCase{64, 8180, 16384, "track64.kml"},
                                         GoldenCase{128, 16380, 16384, "track128.kml"},
                                         GoldenCase{1024, 131056, 131072, "track1024.kml"}),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                           return "kbit" + std::to_string(info.param.sizeKbit);
                         });

}  // namespace
