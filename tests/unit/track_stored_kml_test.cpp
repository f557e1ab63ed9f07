// Reading back a KML file Read Flash wrote: its dump must give its lines.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "tracklog/kml_writer.h"
#include "tracklog/stored_kml.h"

namespace {

std::string TempPath(const std::string& tag) {
  std::error_code ec;
  return (std::filesystem::temp_directory_path(ec) /
          ("kw9_stored_" + tag + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".kml"))
      .string();
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The file a download of these records writes, as the writer makes it.
std::string WrittenKml(const std::vector<std::pair<int, std::vector<int>>>& records,
                       int availableBytes = kFlashImageSize) {
  for (int32_t& v : FlashImage) v = 0;
  for (const auto& [offset, bytes] : records) {
    for (size_t i = 0; i < bytes.size(); ++i) FlashImage[offset + static_cast<int>(i)] = bytes[i];
  }
  LogMemoryGeometry = {64, 8180};
  const std::string path = TempPath("base");
  platform::TextOutFile out;
  EXPECT_TRUE(out.Open(path));
  WriteKmlHeader(out);
  WriteTrackCoordinates(out, availableBytes);
  WriteKmlFooter(out);
  WriteMemoryDump(out, availableBytes);
  EXPECT_TRUE(out.Close());
  const std::string bytes = ReadBytes(path);
  std::filesystem::remove(path);
  for (int32_t& v : FlashImage) v = 0;
  LogMemoryGeometry = {};
  return bytes;
}

void Replace(std::string& s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

const std::vector<int> kWestFix = {97, 7, 41, 0x80 + 23, 30, 27, 44, 56, 0, 2, 15, 8, 14, 5, 9};
const std::vector<int> kSouthFix = {10, 20, 30, 40, 50, 1, 2, 0x83, 0, 9, 5, 6, 7, 8, 9};
const std::vector<int> kErased(15, 0xFF);
const char kWestLine[] = "-97.123538,30.457427,00215 <!-- 15 sats:8 UTC 14:05:09 -->";
const char kSouthLine[] = "10.338400,-50.017005,00905 <!-- 45 sats:6 UTC 07:08:09 -->";

struct StoredCase {
  const char* what;
  std::function<void(std::string&)> edit;  // of the written file's bytes
  const char* message;                     // a part of it; "" when the file reads
  std::vector<int> offsets;                // of the fixes read
};
void PrintTo(const StoredCase& c, std::ostream* os) {
  *os << c.what;
}

class StoredFile : public testing::TestWithParam<StoredCase> {};

// Catches damaged or edited files taken as good, good files refused (line ends
// changed, a cut-short dump, the lines an earlier version wrote for erased
// memory), signs not taken from the lines, and files that are no track at all
// read as one.
TEST_P(StoredFile, DumpMustGiveTheLines) {
  const StoredCase& c = GetParam();
  std::string bytes = WrittenKml({{0, {0, 1, 0, 0}},
                                  {15, kWestFix},
                                  {30, {0, 0, 0, 9}},
                                  {45, kSouthFix},
                                  {60, {0x5A, 0x5A, 0x5A, 0x5A}}});
  c.edit(bytes);
  const std::string path = TempPath("case");
  WriteBytes(path, bytes);
  const StoredKml stored = ReadStoredKml(path);
  std::filesystem::remove(path);
  if (*c.message != '\0') {
    EXPECT_FALSE(stored.ok);
    EXPECT_NE(stored.message.find(c.message), std::string::npos) << stored.message;
    return;
  }
  ASSERT_TRUE(stored.ok) << stored.message;
  std::vector<int> offsets;
  for (const TrackFix& fix : stored.track.fixes) offsets.push_back(fix.offset);
  EXPECT_EQ(offsets, c.offsets);
  for (const TrackFix& fix : stored.track.fixes) {
    if (fix.offset == 15) {
      EXPECT_LT(fix.longitude, -97.1);
    }
    if (fix.offset == 45) {
      EXPECT_LT(fix.latitude, -50);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edits, StoredFile,
    testing::Values(
        StoredCase{"as written", [](std::string&) {}, "", {15, 45}},
        StoredCase{"line ends changed to LF",
                   [](std::string& s) {
                     std::string lf;
                     for (char ch : s) {
                       if (ch != '\r') lf += ch;
                     }
                     s = lf;
                   },
                   "",
                   {15, 45}},
        StoredCase{"a digit edited",
                   [](std::string& s) { Replace(s, "30.457427", "30.457428"); },
                   "does not agree with its memory dump at line 16",
                   {}},
        StoredCase{"an altitude edited",
                   [](std::string& s) { Replace(s, ",00905 ", ",00906 "); },
                   "does not agree with its memory dump at line 17",
                   {}},
        StoredCase{"a line removed",
                   [](std::string& s) { Replace(s, std::string(kSouthLine) + "\r\n", ""); },
                   "lacks the coordinate line of the record at offset 45",
                   {}},
        StoredCase{"a line doubled",
                   [](std::string& s) {
                     Replace(s, kSouthLine, std::string(kSouthLine) + "\r\n" + kSouthLine);
                   },
                   "does not agree with its memory dump at line 18",
                   {}},
        StoredCase{"a dump byte edited",
                   // The west fix's altitude: 02 at address 24, dump line 2.
                   [](std::string& s) { Replace(s, " 1B 2C 38 00 02 0F ", " 1B 2C 38 00 03 0F "); },
                   "does not agree with its memory dump at line 16",
                   {}},
        StoredCase{"a dump item that is no number",
                   [](std::string& s) { Replace(s, " 1B 2C 38 00 02 0F ", " 1B 2C 38 00 0x 0F "); },
                   "is damaged at line",
                   {}},
        StoredCase{"no dump",
                   [](std::string& s) { s.erase(s.find("<!-- KLXDATA")); },
                   "holds no memory dump",
                   {}},
        // Lines like these and no dump.
        StoredCase{"a track another program wrote",
                   [](std::string& s) {
                     s.erase(s.find("<!-- KLXDATA"));
                     Replace(s, " <!-- 15 sats:8 UTC 14:05:09 -->", "");
                   },
                   "holds no memory dump",
                   {}},
        StoredCase{"a dump without its end",
                   [](std::string& s) { s.erase(s.rfind("-->")); },
                   "damaged: it has no end",
                   {}},
        StoredCase{"not a KML file",
                   [](std::string& s) { s = "time,latitude,longitude\r\n"; },
                   "is not a KML file",
                   {}},
        StoredCase{"UTF-16",
                   [](std::string& s) {
                     std::string wide;
                     for (char ch : s) {
                       wide += ch;
                       wide += '\0';
                     }
                     s = wide;
                   },
                   "is not a KML file",
                   {}}),
    [](const testing::TestParamInfo<StoredCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (ch == ' ' || ch == '-') ch = '_';
      }
      return name;
    });

// A download that stopped early dumps only what arrived: the records wholly
// inside it are the track. Catches a short dump refused or read past its end.
TEST(StoredFileDump, CutShortGivesTheRecordsInside) {
  const std::string path = TempPath("short");
  WriteBytes(path, WrittenKml({{0, kSouthFix}, {15, kWestFix}, {30, kSouthFix}}, 40));
  const StoredKml stored = ReadStoredKml(path);
  std::filesystem::remove(path);
  ASSERT_TRUE(stored.ok) << stored.message;
  EXPECT_EQ(stored.dumpBytes, 40);
  ASSERT_EQ(stored.track.fixes.size(), 2u);
  EXPECT_EQ(stored.track.fixes[1].offset, 15);
}

// The dump's bytes in address order, as kw9cli hashes them and compares
// them with a download before it erases. Catches bytes out of order or cut
// at a line, an item that is no byte ("FFFFFFFF" of a block never filled)
// taken for one, and bytes handed out from a file that did not read.
TEST(StoredFileDump, BytesInAddressOrder) {
  std::vector<uint8_t> written(kSouthFix.begin(), kSouthFix.end());
  written[7] &= 0x7F;  // the writer clears the sign flags of what it writes
  written.resize(20);
  const struct {
    const char* what;
    std::string edit;  // of the second dump line, which holds bytes 16 to 19
    std::optional<std::vector<uint8_t>> bytes;
  } rows[] = {
      {"as written", "00 00 00 00 ", written},
      // Byte 19 belongs to no record wholly inside the dump: the file reads.
      {"an item that is no byte", "00 00 00 FFFFFFFF ", std::nullopt},
      {"a damaged dump", "00 00 0x 00 ", std::nullopt},
  };
  for (const auto& row : rows) {
    std::string bytes = WrittenKml({{0, kSouthFix}}, 20);
    Replace(bytes, "\r\n00 00 00 00 \r\n-->", "\r\n" + row.edit + "\r\n-->");
    const std::string path = TempPath("bytes");
    WriteBytes(path, bytes);
    const StoredKml stored = ReadStoredKml(path);
    std::filesystem::remove(path);
    EXPECT_EQ(DumpBytes(stored), row.bytes) << row.what << ": " << stored.message;
  }
}

// Earlier versions wrote erased memory as fixes at -259 degrees, with the sign
// flags of those records cleared in the dump. Such a file still reads; those
// lines must match their records too, and are left out of the track.
TEST(StoredFileDump, LinesOfAnEarlierVersionForErasedMemory) {
  std::string bytes =
      WrittenKml({{0, kSouthFix}, {15, kErased}, {30, kWestFix}, {45, {0, 0, 0, 0}}});
  // What the earlier version made of record 15: its line, and its flags cleared.
  const std::string old = "-259.292712,-259.292712,255255255 <!-- 15 sats:255 UTC 255:255:255 -->";
  Replace(bytes, "<!-- 0 sats:6 UTC 07:08:09 -->\r\n",
          "<!-- 0 sats:6 UTC 07:08:09 -->\r\n" + old + "\r\n");
  Replace(bytes, "\r\nFF FF FF FF FF FF FF FF FF FF FF FF FF FF 61 07 \r\n",
          "\r\nFF FF 7F FF FF FF 7F FF FF FF FF FF FF FF 61 07 \r\n");
  const std::string path = TempPath("old");
  WriteBytes(path, bytes);
  StoredKml stored = ReadStoredKml(path);
  EXPECT_TRUE(stored.ok) << stored.message;
  EXPECT_EQ(stored.track.fixes.size(), 2u);
  EXPECT_EQ(stored.linesLeftOut, 1);
  // The same line with a digit changed is an edit.
  Replace(bytes, old, "-259.292713" + old.substr(11));
  WriteBytes(path, bytes);
  stored = ReadStoredKml(path);
  std::filesystem::remove(path);
  EXPECT_FALSE(stored.ok);
}

}  // namespace
