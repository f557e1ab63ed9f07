// Reading back a KML file Read Flash wrote: its dump must give its lines.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/flash_records.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/stored_kml.h"

using testing_support::kWestFix;
namespace {

using Edit = std::function<void(std::string&)>;

void Replace(std::string& s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

Edit Replacing(const std::string& from, const std::string& to) {
  return [=](std::string& s) { Replace(s, from, to); };
}

// The file a download of the first availableBytes of these records writes,
// edited, then read back.
StoredKml ReadBack(const testing_support::Records& records, const Edit& edit,
                   int availableBytes = kFlashImageSize) {
  testing_support::ScratchDir dir;
  testing_support::LoadFlashImage(records, {64, 8180});
  EXPECT_TRUE(testing_support::WriteDownloadKml(dir / "t.kml", availableBytes));
  std::string bytes = testing_support::Slurp(dir / "t.kml");
  edit(bytes);
  testing_support::Spill(dir / "t.kml", bytes);
  return ReadStoredKml(dir / "t.kml");
}

const std::vector<int> kStoredSouthFix = {10, 20, 30, 40, 50, 1, 2, 0x83, 0, 9, 5, 6, 7, 8, 9};
const std::string kSouthLine = "10.338400,-50.017005,00905 <!-- 45 sats:6 UTC 07:08:09 -->";

// Catches damaged or edited files taken as good, good files refused (line ends
// changed), signs not taken from the lines, and files that are no track at all
// read as one.
TEST(StoredFile, DumpMustGiveTheLines) {
  const struct {
    const char* what;
    Edit edit;            // of the written file's bytes
    const char* message;  // a part of it; "" when the file reads
  } cases[] = {
      {"as written", [](std::string&) {}, ""},
      {"line ends changed to LF", [](std::string& s) { std::erase(s, '\r'); }, ""},
      {"a digit edited", Replacing("30.457427", "30.457428"),
       "does not agree with its memory dump at line 16"},
      {"an altitude edited", Replacing(",00905 ", ",00906 "),
       "does not agree with its memory dump at line 17"},
      {"a line removed", Replacing(kSouthLine + "\r\n", ""),
       "lacks the coordinate line of the record at offset 45"},
      {"a line doubled", Replacing(kSouthLine, kSouthLine + "\r\n" + kSouthLine),
       "does not agree with its memory dump at line 18"},
      // The west fix's altitude: 02 at address 24, dump line 2.
      {"a dump byte edited", Replacing(" 1B 2C 38 00 02 0F ", " 1B 2C 38 00 03 0F "),
       "does not agree with its memory dump at line 16"},
      {"a dump item that is no number", Replacing(" 1B 2C 38 00 02 0F ", " 1B 2C 38 00 0x 0F "),
       "is damaged at line"},
      {"no dump", [](std::string& s) { s.erase(s.find("<!-- KLXDATA")); }, "holds no memory dump"},
      {"a dump without its end", [](std::string& s) { s.erase(s.rfind("-->")); },
       "damaged: it has no end"},
      {"not a KML file", [](std::string& s) { s = "time,latitude,longitude\r\n"; },
       "is not a KML file"},
      {"UTF-16",
       [](std::string& s) {
         std::string wide;
         for (char ch : s) wide += {ch, '\0'};
         s = wide;
       },
       "is not a KML file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const StoredKml stored = ReadBack({{0, {0, 1, 0, 0}},
                                       {15, kWestFix},
                                       {30, {0, 0, 0, 9}},
                                       {45, kStoredSouthFix},
                                       {60, {0x5A, 0x5A, 0x5A, 0x5A}}},
                                      c.edit);
    EXPECT_EQ(stored.ok, *c.message == '\0');
    EXPECT_NE(stored.message.find(c.message), std::string::npos) << stored.message;
    if (!stored.ok) continue;
    ASSERT_EQ(stored.track.fixes.size(), 2u);
    EXPECT_EQ(stored.track.fixes[0].offset, 15);
    EXPECT_LT(stored.track.fixes[0].longitude, -97.1);
    EXPECT_EQ(stored.track.fixes[1].offset, 45);
    EXPECT_LT(stored.track.fixes[1].latitude, -50);
  }
}

// The dump's bytes in address order, as kw9cli hashes them and compares
// them with a download before it erases. The dump is cut short, as after a
// download that stopped early (whose records inside it, exported: the "line
// lost" row of Kw9cliDownload.ExportsBesideTheKml). Catches bytes out of order or cut
// at a line, an item that is no byte ("FFFFFFFF" of a block never filled)
// taken for one, and bytes handed out from a file that did not read.
TEST(StoredFileDump, BytesInAddressOrder) {
  std::vector<uint8_t> written(kStoredSouthFix.begin(), kStoredSouthFix.end());
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
    const StoredKml stored =
        ReadBack({{0, kStoredSouthFix}},
                 Replacing("\r\n00 00 00 00 \r\n-->", "\r\n" + row.edit + "\r\n-->"), 20);
    EXPECT_EQ(DumpBytes(stored), row.bytes) << row.what << ": " << stored.message;
  }
}

// Earlier versions wrote erased memory as fixes at -259 degrees, with the sign
// flags of those records cleared in the dump. Such a file still reads; those
// lines must match their records too (a digit changed is an edit), and are
// left out of the track.
TEST(StoredFileDump, LinesOfAnEarlierVersionForErasedMemory) {
  const std::string old = "-259.292712,-259.292712,255255255 <!-- 15 sats:255 UTC 255:255:255 -->";
  for (const std::string& line : {old, "-259.292713" + old.substr(11)}) {
    SCOPED_TRACE(line);
    // What the earlier version made of record 15: its line, and its flags
    // cleared.
    const StoredKml stored =
        ReadBack({{0, kStoredSouthFix},
                  {15, std::vector<int>(15, 0xFF)},
                  {30, kWestFix},
                  {45, {0, 0, 0, 0}}},
                 [&](std::string& s) {
                   Replace(s, "UTC 07:08:09 -->\r\n", "UTC 07:08:09 -->\r\n" + line + "\r\n");
                   Replace(s, "\r\nFF FF FF FF FF FF FF FF FF FF FF FF FF FF 61 07 \r\n",
                           "\r\nFF FF 7F FF FF FF 7F FF FF FF FF FF FF FF 61 07 \r\n");
                 });
    EXPECT_EQ(stored.ok, line == old) << stored.message;
    if (line == old) {
      EXPECT_EQ(stored.track.fixes.size(), 2u);
      EXPECT_EQ(stored.linesLeftOut, 1);
    }
  }
}

}  // namespace
