// The window's log tools: Fix KML (the repair of one piece and the whole
// copy between two chosen files), Flash Test and Go!.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "link/device_link.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/flash_image.h"
#include "tracklog/kml_repair.h"

using testing::ElementsAre;
using testing_support::DialogHarness;
using testing_support::FakeDevice;
using testing_support::FakeSerial;
using testing_support::kReadError;
using testing_support::Slurp;
using Ops = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char kFirst[] = "First select an input file", kNow[] = "Now select an output file",
           kFixed[] = "KML file fixed", kFilter[] = "KML Files (*.kml)|*.kml|All Files (*.*)|*.*||";

void SetBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Catches a pass skipped, a pass that rescans what it put in, and the passes
// run in the other order.
TEST(RepairKmlLine, TakesTheBlankOutOfCommasAndTheCommaOutOfTagEnds) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.5, 2.5, 100", "1.5,2.5,100"},
      {",  x", ", x"},
      {"<coordinates>, 7.1, 50.2, 300", "<coordinates>7.1,50.2,300"},
      {">,,", ">,"},
      {">, ", ">"},
      {"  <name>gps</name>\n", "  <name>gps</name>\n"},
  };
  for (auto [line, repaired] : cases) EXPECT_EQ(RepairKmlLine(line), repaired) << line;
}

// --- Fix KML ----------------------------------------------------------------

class FixKmlTest : public testing::Test {
 protected:
  FixKmlTest() {
    dir = fs::temp_directory_path() /
          ("kw9_fixkml_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
  }
  ~FixKmlTest() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // Presses Fix KML, answering the file dialogs in turn (nullopt cancels);
  // returns the messages.
  Ops Fix(std::vector<std::optional<fs::path>> answers) {
    DialogHarness harness;
    size_t next = 0;
    harness.backend().AnswerFileDialogs([&](const ui::FileDialogRequest&) {
      const std::optional<fs::path> a = next < answers.size() ? answers[next++] : std::nullopt;
      return a ? std::optional<std::string>(a->string()) : std::nullopt;
    });
    harness.Run([](ui::ScriptedWindow& w) { ASSERT_TRUE(w.Click(IDC_FIX_KML)); });
    dialogs = harness.backend().FileDialogs();
    return harness.Messages();
  }
  // The names in the folder, to catch a temporary file left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir;
  std::vector<ui::FileDialogRequest> dialogs;
};

// Catches a line end left LF, an empty or unterminated last line dropped, a
// ", " missed where it straddles two reads of a long line, and a wrong dialog
// request.
TEST_F(FixKmlTest, CopiesLineByLineRepairingEachLine) {
  const std::string golden = Slurp((fs::path(KW9_GOLDEN_DIR) / "track64.kml").string());
  ASSERT_FALSE(golden.empty());
  // The ", " at 126..127 falls between the first 127 characters and the rest.
  const std::string a122(122, 'a');
  std::string tuples, fixedTuples;  // one line of 300 tuples, 4500 characters
  for (int i = 0; i < 300; ++i) {
    tuples += ">, 7.1, 50.2, 300 ";
    fixedTuples += ">7.1,50.2,300 ";
  }
  const struct {
    const char* what;
    std::string input, output;
  } cases[] = {
      {"golden, already fixed", golden, golden},
      {"LF only", "<a>, 1, 2\n>,b\n", "<a>1,2\r\n>b\r\n"},
      {"empty lines", "\n\r\n\nx\n", "\r\n\r\n\r\nx\r\n"},
      {"last line without end", "x\r\n<coordinates>, 7.1, 50.2, 300",
       "x\r\n<coordinates>7.1,50.2,300"},
      {"long line", "1, 2" + a122 + ", 3, 4\n", "1,2" + a122 + ",3,4\r\n"},
      {"one line of coordinates", "<c>" + tuples + "</c>\n", "<c>" + fixedTuples + "</c>\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetBytes(dir / "in.kml", c.input);
    EXPECT_THAT(Fix({dir / "in.kml", dir / "out.kml"}), ElementsAre(kFirst, kNow, kFixed));
    EXPECT_EQ(Slurp((dir / "out.kml").string()), c.output);
    EXPECT_EQ(Slurp((dir / "in.kml").string()), c.input);
    EXPECT_THAT(Names(), ElementsAre("in.kml", "out.kml"));
  }
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_TRUE(dialogs[0].open);
  EXPECT_FALSE(dialogs[1].open);
  for (const auto& d : dialogs) {
    EXPECT_EQ(d.defaultExt, ".kml");
    EXPECT_EQ(d.filter, kFilter);
  }
  EXPECT_EQ(dialogs[0].flags, 0u);
  EXPECT_EQ(dialogs[1].flags, 2u);  // OFN_OVERWRITEPROMPT
}

// A file with NUL bytes, as UTF-16 has one in every other byte: the copy
// of its lines as text keeps only scraps.
const std::string kUtf16("<\0k\0m\0l\0>\0,\0 \0\r\0\n\0", 18);

// Catches an in-place repair that reads what it has just written over, and
// one that replaces the only copy of a file it cannot read as text.
TEST_F(FixKmlTest, InputAsOutputIsRepairedInPlace) {
  const struct {
    std::string input, output;
    const char* message;
  } cases[] = {{"<c>, 1, 2\n", "<c>1,2\r\n", kFixed},
               {kUtf16, kUtf16, "Error reading file"},
               {"<c>, 1\n" + kUtf16, "<c>, 1\n" + kUtf16, "Error reading file"}};
  for (const auto& c : cases) {
    SetBytes(dir / "t.kml", c.input);
    EXPECT_THAT(Fix({dir / "t.kml", dir / "t.kml"}), ElementsAre(kFirst, kNow, c.message));
    EXPECT_EQ(Slurp((dir / "t.kml").string()), c.output);
    EXPECT_THAT(Names(), ElementsAre("t.kml"));
  }
}

// Catches a failure that still writes, replaces the old output, leaves a
// temporary file, says nothing or says the wrong thing.
TEST_F(FixKmlTest, FailuresWriteNothingAndSaySo) {
  const std::string old = "old\r\n";
  const struct {
    const char* what;
    std::optional<fs::path> input, output;
    Ops messages;
    std::string content = "a, b\n";  // of in.kml
  } cases[] = {
      {"open cancelled", std::nullopt, dir / "out.kml", {kFirst, kNow}},
      {"save cancelled", dir / "in.kml", std::nullopt, {kFirst, kNow}},
      {"missing input", dir / "none.kml", dir / "out.kml", {kFirst, "Error opening file"}},
      {"output folder missing",
       dir / "in.kml",
       dir / "no" / "out.kml",
       {kFirst, kNow, "Error opening output filefile"}},
      {"NUL bytes", dir / "in.kml", dir / "out.kml", {kFirst, kNow, "Error reading file"}, kUtf16},
#ifndef _WIN32
      {"disk full", dir / "in.kml", "/dev/full", {kFirst, kNow, "Error writing file"}},
      // Refused before it is opened: fopen of a folder succeeds on Linux, and
      // /dev/zero never ends.
      {"input is a folder",
       dir,
       dir / "out.kml",
       {kFirst, "Error opening file\n" + dir.string() + " is a folder, not a file: not read"}},
      {"input is a device",
       "/dev/zero",
       dir / "out.kml",
       {kFirst, "Error opening file\n/dev/zero is a device, not a file: not read"}},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetBytes(dir / "in.kml", c.content);
    SetBytes(dir / "out.kml", old);
    EXPECT_EQ(Fix({c.input, c.output}), c.messages);
    EXPECT_EQ(Slurp((dir / "out.kml").string()), old);
    EXPECT_THAT(Names(), ElementsAre("in.kml", "out.kml"));
  }
}

// --- Flash Test and Go! -----------------------------------------------------

class ServiceButtonTest : public testing::Test {
 protected:
  // Runs the window on a tracker at COM1 (if sizeKbit is not 0) and presses
  // button with the port member set to port.
  Ops Press(int sizeKbit, int button, const std::string& port = "COM1",
            const std::function<void(FakeDevice&)>& setUp = {}) {
    harness.reset();
    if (sizeKbit != 0) {
      sim::Config config;
      config.sizeKbit = sizeKbit;
      device = &serial.AddPort("COM1", config);
      if (setUp) setUp(*device);
    }
    harness.emplace();
    harness->Run([&](ui::ScriptedWindow& w) {
      ASSERT_TRUE(w.Type(IDC_COM_PORT, port));
      ASSERT_TRUE(w.Click(button));
    });
    return harness->Messages();
  }

  FakeSerial serial;
  FakeDevice* device = nullptr;
  std::optional<DialogHarness> harness;
};

using WireBytes = std::vector<std::vector<uint8_t>>;

// Bytes 0 to 15 read: one wide block, or two short ones.
WireBytes ReadsOfTheTestBytes(bool wide) {
  return wide ? WireBytes{{'J'}, {0, 0, 0}} : WireBytes{{'J'}, {0, 0}, {'J'}, {0, 8}};
}

// The first `count` of 16 bytes written to addresses 0 to 15, one byte a write.
WireBytes WritesOf(const std::vector<uint8_t>& bytes, size_t count = 16) {
  WireBytes w;
  for (uint8_t i = 0; i < count; ++i) {
    for (uint8_t b : {uint8_t{'I'}, uint8_t{0}, i, bytes[i]}) w.push_back({b});
  }
  return w;
}

WireBytes operator+(WireBytes a, const WireBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<uint8_t> kPattern = {9,  10, 11, 12, 13, 14, 15, 16,
                                       17, 18, 19, 20, 21, 22, 23, 24};

// Catches a wrong address, pattern or read form, a size reply mapped wrongly,
// a difference missed in either half, the wrong entry reported, a value shown
// in decimal, a port closed after the test, and the first record of the log
// left overwritten or its restore not checked, and a pattern written over a
// record whose two reads disagree (it would be "restored" as noise). The
// tracker's memory changes as the `atRead`-th reading of the 16 bytes starts
// (1 and 2: the record saved, read twice, 3: the pattern read back, 4: the
// record read again).
TEST_F(ServiceButtonTest, FlashTestWritesThePatternAndReadsItBack) {
  const struct {
    int sizeKbit;
    std::map<int, uint8_t> corrupt;
    int atRead;
    Ops messages;
  } cases[] = {
      {1024, {}, 0, {"I2C Read Test Passed"}},
      {128, {}, 0, {"I2C Read Test Passed"}},
      {64, {}, 0, {"I2C Read Test Passed"}},
      {1024, {{3, 0xFF}, {7, 0}}, 3, {"Data Read Error", "Read: ff, Expected: c"}},
      {128, {{15, 0x42}}, 3, {"Data Read Error", "Read: 42, Expected: 18"}},
      {1024, {{15, 0}}, 3, {"Data Read Error", "Read: 0, Expected: 18"}},
      {1024, {{5, 0x77}}, 4, {"I2C Read Test Passed", "Error restoring flash"}},
      {64, {{12, 0x77}}, 4, {"I2C Read Test Passed", "Error restoring flash"}},
      {1024, {{9, 0x33}}, 2, {"Error reading flash"}},
      {64, {{14, 0x33}}, 2, {"Error reading flash"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sizeKbit << " at read " << c.atRead);
    const bool wide = c.sizeKbit == 1024;
    std::vector<uint8_t> record;
    const Ops messages = Press(c.sizeKbit, IDC_FLASH_TEST, "COM1", [&](FakeDevice& d) {
      record.assign(d.tracker.LogMemory().begin(), d.tracker.LogMemory().begin() + 16);
      d.onWrite = [&, reads = 0](FakeDevice& dev, const std::vector<uint8_t>& bytes) mutable {
        if (bytes != std::vector<uint8_t>{'J'} || ++reads != (c.atRead - 1) * (wide ? 1 : 2) + 1) {
          return;
        }
        for (auto [at, value] : c.corrupt) dev.tracker.LogMemory()[at] = value;
      };
    });
    EXPECT_EQ(messages, c.messages);
    const WireBytes reads = ReadsOfTheTestBytes(wide);
    const WireBytes head = {{'?'}, {'K'}};
    if (c.atRead == 2) {
      // The two reads disagreed: nothing was written.
      EXPECT_EQ(device->writes, head + reads + reads);
      continue;
    }
    EXPECT_EQ(device->writes,
              head + reads + reads + WritesOf(kPattern) + reads + WritesOf(record) + reads);
    std::vector<uint8_t> after(device->tracker.LogMemory().begin(),
                               device->tracker.LogMemory().begin() + 16);
    if (c.atRead == 4) {
      for (auto [at, value] : c.corrupt) record[at] = value;
    }
    EXPECT_EQ(after, record) << "the first record of the log is not as it was";
    EXPECT_EQ(LogMemoryGeometry.sizeCode, c.sizeKbit);
    EXPECT_TRUE(device->open);
    EXPECT_EQ(DeviceLink.portOpen, 1);
  }
}

// Catches a test that goes on after the tracker stayed silent (before the
// first record was saved it must write nothing; a write that was not
// acknowledged must end it at once), talks to a port it could not open, or
// keeps quiet about a restore that did not happen.
TEST_F(ServiceButtonTest, FlashTestStopsWithoutAReply) {
  const std::vector<uint8_t> track = sim::RealisticTrack(1024);
  const std::vector<uint8_t> record(track.begin(), track.begin() + 16);
  const WireBytes head = {{'?'}, {'K'}}, reads = ReadsOfTheTestBytes(true);
  const struct {
    const char* what;
    sim::Trigger silent;
    Ops messages;
    WireBytes wire;
    int sizeCode;
  } cases[] = {
      {"from the start", {0, 1}, {kReadError}, {{'?'}}, 0},
      {"from the first block read", {'J', 1}, {kReadError}, head + reads, 1024},
      {"from the second block read", {'J', 2}, {kReadError}, head + reads + reads, 1024},
      // A write went out: part of the pattern may stand in the log.
      {"from the first write",
       {'I', 1},
       {kReadError, "Error restoring flash"},
       head + reads + reads + WritesOf(kPattern, 1),
       1024},
      {"from the restore",
       {'I', 17},
       {"I2C Read Test Passed", kReadError, "Error restoring flash"},
       head + reads + reads + WritesOf(kPattern) + reads + WritesOf(record, 1),
       1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Ops messages = Press(1024, IDC_FLASH_TEST, "COM1", [&](FakeDevice& d) {
      sim::Config config;
      config.faults.silent = c.silent;
      d.tracker = sim::Tracker(config);
    });
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(device->writes, c.wire);
    EXPECT_EQ(LogMemoryGeometry.sizeCode, c.sizeCode);
    EXPECT_EQ(DeviceLink.portOpen, 0);
  }
  EXPECT_THAT(Press(0, IDC_FLASH_TEST, "COM9"), ElementsAre("Error opening com port"));
}

// Catches Go! reopening the port a Write left open, leaving it open, not
// loading the window from the members, or claiming success without a port.
TEST_F(ServiceButtonTest, GoStartsTheTransmitterOnTheOpenPort) {
  FakeDevice& d = serial.AddPort("COM1");
  harness.emplace();
  harness->Run([&](ui::ScriptedWindow& w) {
    ASSERT_TRUE(w.Type(IDC_COM_PORT, "COM1"));
    ASSERT_TRUE(w.Click(IDC_READ));
    ASSERT_TRUE(w.Type(IDC_STORE_INTERVAL, "20"));
    ASSERT_TRUE(w.Click(IDC_WRITE));
    ASSERT_EQ(DeviceLink.portOpen, 1);
    const int opens = d.opens;
    d.writes.clear();
    ASSERT_TRUE(w.Type(IDC_STORE_INTERVAL, "42"));  // after the last save
    ASSERT_TRUE(w.Click(IDC_GO));
    EXPECT_EQ(d.opens, opens);
    EXPECT_EQ(d.writes, (std::vector<std::vector<uint8_t>>{{'?'}, {'G'}}));
    EXPECT_FALSE(d.open);
    EXPECT_EQ(DeviceLink.portOpen, 0);
    EXPECT_TRUE(d.tracker.Transmitting());
    EXPECT_EQ(w.Text(IDC_STATUS), "TX running, Enter a command to stop");
    EXPECT_EQ(w.Text(IDC_STORE_INTERVAL), "20");
  });
  EXPECT_TRUE(harness->Messages().empty());
  EXPECT_THAT(Press(0, IDC_GO, "COM9"), ElementsAre("Error opening com port"));
  EXPECT_EQ(harness->dialog().statusText, "Ready");
}

}  // namespace
