// Read Flash and Clear Flash through the main window against the simulated
// tracker: the file a download leaves, the commands on the wire, the progress
// bar, the refusals while a worker owns the link, and how each fault ends.
#include "app/log_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/control_ids.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"
#include "tests/support/flash_records.h"
#include "tests/support/kml_lines.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/flash_image.h"
#include "tracklog/stored_kml.h"
#include "tracklog/track_export.h"

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing_support::DialogHarness;
using testing_support::FakeDevice;
using testing_support::FakeSerial;
using testing_support::FixLines;
using testing_support::kReadError;
using testing_support::Slurp;
using testing_support::SplitStamp;
using Ops = std::vector<std::string>;

namespace {

const char kBusy[] = "Please wait until the previous operation completes";
const char kDone[] = "Done Reading Flash";
const char kOld[] = "an older track\n";

const auto Press = [](ui::ScriptedWindow& w, int id) { ASSERT_TRUE(w.Click(id)) << id; };
const auto Enter = [](ui::ScriptedWindow& w, int id, const std::string& text) {
  ASSERT_TRUE(w.Type(id, text)) << id;
};

// Every write call as its bytes: "?", "J", "\x3F\xF8".
Ops Wire(const FakeDevice& device) {
  Ops ops;
  for (const auto& w : device.writes) ops.emplace_back(w.begin(), w.end());
  return ops;
}

// The request of one block: a 'J' alone, then its address alone (three
// bytes in the wide form, bit 16 as 0x04, else two).
Ops Request(int block, bool wide) {
  const int a = block * (wide ? 16 : 8);
  std::string address = {static_cast<char>(a >> 8 & 0xFF), static_cast<char>(a & 0xFF)};
  if (wide) address.insert(address.begin(), static_cast<char>(a >> 16 ? 0x04 : 0x00));
  return {"J", address};
}

// `blocks` requests from address 0; block `repeated` is asked for `times`
// times in a row.
Ops Requests(int blocks, bool wide, int repeated = -1, int times = 1) {
  Ops requests;
  for (int b = 0; b < blocks; ++b) {
    for (int n = 0; n < (b == repeated ? times : 1); ++n) {
      const Ops one = Request(b, wide);
      requests.insert(requests.end(), one.begin(), one.end());
    }
  }
  return requests;
}

// The requests of blocks first to end - 1.
Ops From(int first, int end, bool wide) {
  const Ops all = Requests(end, wide);
  return Ops(all.begin() + 2 * first, all.end());
}

void ExpectOps(const Ops& wire, const Ops& expected) {
  if (wire == expected) return;
  const auto at = std::mismatch(wire.begin(), wire.end(), expected.begin(), expected.end());
  ADD_FAILURE() << "the wire differs from write " << at.second - expected.begin() << " of "
                << expected.size() << " (" << wire.size() << " made)";
}

Ops Joined(std::initializer_list<Ops> parts) {
  Ops all;
  for (const Ops& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// head, then `blocks` requests from address 0, as Requests.
void ExpectWire(const Ops& wire, const Ops& head, int blocks, bool wide, int repeated = -1,
                int times = 1) {
  const Ops expected = Joined({head, Requests(blocks, wide, repeated, times)});
  if (wire == expected) return;
  const auto at = std::mismatch(wire.begin(), wire.end(), expected.begin(), expected.end());
  ADD_FAILURE() << "the wire differs from write " << at.second - expected.begin() << " of "
                << expected.size() << " (" << wire.size() << " made)";
}

// Faults with one member set: Fault(&sim::Faults::silent, {'J', 601}).
template <class T>
sim::Faults Fault(T sim::Faults::*member, T value) {
  sim::Faults faults;
  faults.*member = value;
  return faults;
}

// The native bar's step: past the top it starts over, the overshoot carried.
int Stepped(int low, int high, int position, int steps) {
  for (int i = 0; i < steps; ++i) {
    if (++position > high) position = low + (position - low) % (high - low);
  }
  return position;
}

void ExpectProgress(const ui::ScriptedWindow& w, int low, int high, int position) {
  const ui::ProgressState p = w.Progress(IDC_PROGRESS);
  EXPECT_EQ(std::tie(p.lower, p.upper, p.step, p.position),
            std::make_tuple(low, high, 1, position));
}

std::string Golden(const char* name) {
  return Slurp(std::string(KW9_GOLDEN_DIR) + "/" + name);
}

// The fixed clock of these tests: 2026-12-09T08:01:02Z.
int64_t TestClock() {
  return 1796803262;
}

// A downloaded file without its stamp line, which every download writes
// last: the rest stays the golden bytes.
std::string Downloaded(const std::string& file) {
  const testing_support::StampedKml split = SplitStamp(Slurp(file));
  EXPECT_EQ(split.stamp.rfind("<!-- kw9 download 2026-12-09T08:01:02Z", 0), 0u)
      << file << " has no stamp line";
  return split.body;
}

// What a download that got only the first `arrived` bytes of the golden
// memory writes: the golden file with only the fixes wholly among them (a
// prefix of its coordinate lines) and the dump of exactly those bytes, 16 a
// line of 50 characters. `arrived` must fall on a record boundary, or the sign
// bits of the record cut in two would be cleared in the golden dump but not in
// the download's.
std::string Cut(const std::string& golden, int arrived) {
  const size_t fixesAt = golden.find("<coordinates>\r\n") + 15;
  const size_t footerAt = golden.find("\r\n      </coordinates>");
  const size_t dumpAt = golden.find("<!-- KLXDATA\r\n") + 14;
  std::string fixes;
  for (size_t at = fixesAt; at < footerAt;) {
    const size_t end = std::min(golden.find("\r\n", at), footerAt);
    const std::string line = golden.substr(at, end - at);
    at = end + 2;
    if (std::stoi(line.substr(line.find("<!-- ") + 5)) + TrackRecord::kSize > arrived) break;
    fixes += (fixes.empty() ? "" : "\r\n") + line;
  }
  const size_t whole = static_cast<size_t>(arrived / 16) * 50, rest = 3 * (arrived % 16);
  return golden.substr(0, fixesAt) + fixes + golden.substr(footerAt, dumpAt - footerAt) +
         golden.substr(dumpAt, whole) +
         (rest != 0 ? golden.substr(dumpAt + whole, rest) + "\r\n" : "") + "-->\r\n";
}

void ExpectSameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return;
  const size_t at = static_cast<size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
      actual.begin());
  ADD_FAILURE() << "differs from byte " << at << ": \"" << actual.substr(at, 40) << "\" where \""
                << expected.substr(at, 40) << "\" was expected; sizes " << actual.size() << " / "
                << expected.size();
}

// xmllint's verdict where it is installed; without it the check is skipped.
void ExpectWellFormed(const std::string& path) {
  if (std::system("xmllint --version >/dev/null 2>&1") != 0) return;
  EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << path;
}

class LogDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    folder =
        fs::temp_directory_path() / ("kw9-dl-" + std::to_string(platform::ProcessId()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    path = (folder / "track.kml").string();
  }
  void TearDown() override {
    harness.reset();
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  // A new tracker on COM1 and the tool back at start; the save dialog picks
  // `chosen`, the confirmation answers `confirmAnswer`.
  FakeDevice& Fresh(int kbit = 64, sim::Faults faults = {}, const char* model = "KLX-TX3",
                    std::vector<uint8_t> image = {}) {
    harness.reset();  // closes the port, so the device may be replaced
    sim::Config config;
    config.sizeKbit = kbit;
    config.faults = faults;
    config.model = model;
    config.image = std::move(image);
    FakeDevice& device = serial.AddPort("COM1", config);
    harness.emplace();
    TheWindowState.clock = TestClock;
    chosen = path;
    harness->backend().AnswerFileDialogs([this](const ui::FileDialogRequest&) { return chosen; });
    harness->backend().SetScript(IDD_CLEAR_FLASH, [this](ui::ScriptedWindow& w) {
      confirmed.push_back(Messages().size());
      confirmPorts.push_back(w.Text(IDC_CLEAR_FLASH_PORT));
      Press(w, confirmAnswer);
    });
    return device;
  }
  void Run(const std::function<void(ui::ScriptedWindow&)>& script) { harness->Run(script); }
  bool Idle() {
    return harness->backend().WaitUntil([] { return workerBusy == 0; });
  }
  // The port shown in the combo box, and saved into the member as an earlier
  // exchange would have.
  static void UsePort(ui::ScriptedWindow& w, const std::string& port) {
    ASSERT_TRUE(w.Type(IDC_COM_PORT, port));
    static_cast<CTrackerDlg&>(w.Dialog()).portName = port;
  }
  void PressAndWait(ui::ScriptedWindow& w, int button = IDC_READ_FLASH) {
    UsePort(w, "COM1");
    Press(w, button);
    ASSERT_TRUE(Idle());
  }
  void WriteOld() { std::ofstream(path, std::ios::binary) << kOld; }
  // The folder's files: no left-over *.tmp may be among them.
  Ops Files() const {
    Ops names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  Ops Messages() const { return harness->Messages(); }

  FakeSerial serial;
  std::optional<DialogHarness> harness;
  fs::path folder;
  std::string path;
  std::optional<std::string> chosen;
  int confirmAnswer = IDOK;
  std::vector<size_t> confirmed;  // how many messages were shown at each confirmation
  Ops confirmPorts;               // the port line of each confirmation
};

// --- Read Flash -------------------------------------------------------------

// Catches a stamp that names a tracker no completed Read of the port shown
// found (another port's, or none), a stamp without its time, and Read Flash
// asking the tracker anything more for it.
TEST_F(LogDownloadTest, TheStampNamesTheTrackerTheLastReadOfItsPortFound) {
  const struct {
    const char* readPort;  // "" for no Read before the download
    const char* fields;    // of the stamp, after its time
  } rows[] = {{"", ""}, {"COM1", " model KLX-TX3 firmware 20 serial 2417"}, {"COM2", ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.readPort);
    FakeDevice& device = Fresh();
    serial.AddPort("COM2");
    size_t before = 0;
    Run([&](ui::ScriptedWindow& w) {
      if (*row.readPort != '\0') {
        UsePort(w, row.readPort);
        Press(w, IDC_READ);
      }
      before = device.writes.size();
      PressAndWait(w);
    });
    const Ops wire = Wire(device);
    ExpectWire(Ops(wire.begin() + static_cast<std::ptrdiff_t>(before), wire.end()), {"?", "V", "K"},
               2048, false);
    EXPECT_EQ(SplitStamp(Slurp(path)).stamp,
              std::string("<!-- kw9 download 2026-12-09T08:01:02Z") + row.fields + " -->");
  }
}

// Catches a byte of the file off, a block requested in one write or with the
// wrong address form, a block skipped or read past the end, a progress bar set
// up or stepped wrongly, a port closed after the download, a second message.
// Label and bar count the memory's own download: a label that stops short of
// 100 (the largest memory's scale on a small one), a bar that starts over or
// stops short of its top, a label that goes back.
TEST_F(LogDownloadTest, ReadFlashWritesTheGoldenFileForEveryMemorySize) {
  struct Case {
    int kbit;
    const char* golden;
    int blocks;
    std::string lastAddress;
  };
  const Case cases[] = {{64, "track64.kml", 2048, std::string("\x3F\xF8", 2)},
                        {128, "track128.kml", 2048, std::string("\x3F\xF8", 2)},
                        {1024, "track1024.kml", 8192, std::string("\x04\xFF\xF0", 3)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kbit);
    FakeDevice& device = Fresh(c.kbit);
    std::vector<std::string> labels;
    std::vector<int> positions;
    harness->backend().OnProgress([&](int, const ui::ProgressState& p) {
      positions.push_back(p.position);
      // Empty until the worker's first block.
      if (!harness->dialog().percentLabel.empty()) labels.push_back(harness->dialog().percentLabel);
    });
    Run([&](ui::ScriptedWindow& w) {
      PressAndWait(w);
      EXPECT_EQ(DeviceLink.portOpen, 1);
      ExpectProgress(w, 0, 50, 50);
    });
    ExpectSameBytes(Downloaded(path), Golden(c.golden));
    EXPECT_EQ(Files(), Ops{"track.kml"});
    EXPECT_EQ(harness->dialog().percentLabel, "100.00");
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the bar started over";
    std::vector<double> shown;
    for (const std::string& label : labels) {
      shown.push_back(std::atof(label.c_str()));
      char form[16];  // the label's "%4.2f" form
      std::snprintf(form, sizeof form, "%4.2f", shown.back());
      EXPECT_EQ(label, form);
    }
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << "the label went back";
    EXPECT_FALSE(shown.empty());
    const Ops wire = Wire(device);
    ExpectWire(wire, {"?", "V", "K"}, c.blocks, c.kbit == 1024);
    EXPECT_EQ(wire.empty() ? "" : wire.back(), c.lastAddress);
    EXPECT_THAT(Messages(), ElementsAre(kDone));
    const auto& dialogs = harness->backend().FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(std::tie(dialogs[0].open, dialogs[0].defaultExt, dialogs[0].flags),
              std::make_tuple(false, ".kml", OFN_OVERWRITEPROMPT));
    EXPECT_EQ(dialogs[0].filter, "KML Files (*.kml)|*.kml|All Files (*.*)|*.*||");
  }
}

// Catches a 'K' sent to the model that cannot be asked its size (it would be
// taken for another command), and a geometry changed without a size reply.
// Geometry 0/0 means the short form, 2048 blocks, no fix and an empty dump.
TEST_F(LogDownloadTest, WithoutASizeReplyTheGeometryStays) {
  struct Case {
    const char* model;
    LogMemoryGeometryState geometry;  // before and after
    Ops head;
    std::string file;
  };
  const std::string golden = Golden("track64.kml");
  const Case cases[] = {{"NXVLDQ", {64, 8180}, {"?", "V"}, golden},
                        {"NXVLDQ", {0, 0}, {"?", "V"}, Cut(golden, 0)}};
  EXPECT_THAT(cases[1].file, testing::EndsWith("</kml>\r\n\r\n\r\n<!-- KLXDATA\r\n-->\r\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.geometry.sizeCode);
    FakeDevice& device = Fresh(64, {}, c.model);
    Run([&](ui::ScriptedWindow& w) {
      Enter(w, IDC_COM_PORT, "COM1");
      Press(w, IDC_READ);
      EXPECT_EQ(modelString, c.model);
      device.writes.clear();
      LogMemoryGeometry = c.geometry;  // as an earlier download left it
      PressAndWait(w);
    });
    ExpectWire(Wire(device), c.head, 2048, false);
    EXPECT_EQ(std::tie(LogMemoryGeometry.sizeCode, LogMemoryGeometry.decodeLimit),
              std::tie(c.geometry.sizeCode, c.geometry.decodeLimit));
    ExpectSameBytes(Downloaded(path), c.file);
    EXPECT_THAT(Messages(), ElementsAre(kDone));
  }
}

// Catches a button that reaches the link while the download's worker still
// owns it (its last box open), a refusal that comes before the confirmation,
// and a refusal shown for a cancelled confirmation.
TEST_F(LogDownloadTest, EveryLinkButtonIsRefusedWhileTheDoneBoxIsOpen) {
  FakeDevice& device = Fresh();
  const std::thread::id uiThread = std::this_thread::get_id();
  std::atomic<bool> held{false}, released{false};
  harness->backend().OnMessage([&](const ui::MessageRecord& m) {
    // The busy boxes come on the user-interface thread, which must go on.
    if (std::this_thread::get_id() == uiThread || m.text != kDone) return;
    held = true;
    while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  const struct {
    int button, confirmation;
  } actions[] = {{IDC_READ_FLASH, IDOK}, {IDC_CLEAR_FLASH, IDOK}, {IDC_CLEAR_FLASH, IDCANCEL},
                 {IDC_READ, IDOK},       {IDC_FLASH_TEST, IDOK},  {IDC_GO, IDOK}};
  Run([&](ui::ScriptedWindow& w) {
    struct Release {
      std::atomic<bool>& released;
      ~Release() { released = true; }  // even after a failed assertion
    } release{released};
    UsePort(w, "COM1");
    Press(w, IDC_READ_FLASH);
    ASSERT_TRUE(harness->backend().WaitUntil([&] { return held.load(); }));
    const size_t writes = device.writes.size();
    for (const auto& a : actions) {
      SCOPED_TRACE(testing::Message() << a.button << (a.confirmation == IDOK ? "" : " cancelled"));
      confirmAnswer = a.confirmation;
      confirmed.clear();
      const size_t before = Messages().size();
      Press(w, a.button);
      const Ops shown = Messages();
      EXPECT_EQ(Ops(shown.begin() + static_cast<long>(before), shown.end()),
                a.confirmation == IDOK ? Ops{kBusy} : Ops{});
      if (a.button == IDC_CLEAR_FLASH) {
        EXPECT_THAT(confirmed, ElementsAre(before));  // asked first
      }
      EXPECT_EQ(device.writes.size(), writes);
      EXPECT_EQ(workerBusy, 1);
    }
    EXPECT_EQ(harness->backend().FileDialogs().size(), 1u);
    released = true;
    EXPECT_TRUE(Idle());
  });
  EXPECT_EQ(Files(), Ops{"track.kml"});
}

// Two trackers on two ports; A was read, B is the port the user then picked.
// Catches an operation that goes to the port the last exchange saved (the
// erase of a tracker the window does not show), one that saves the other
// fields on the way (a field's check message, a value taken), and an erase
// confirmation that does not name the port.
TEST_F(LogDownloadTest, EveryLinkButtonUsesThePortShown) {
  const struct {
    int button;
    Ops messages;
  } cases[] = {{IDC_READ_FLASH, {kDone}},
               {IDC_CLEAR_FLASH, {"Done Clearing Flash"}},
               {IDC_FLASH_TEST, {"I2C Read Test Passed"}},
               {IDC_GO, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    FakeDevice& a = Fresh();
    FakeDevice& b = serial.AddPort("COM2", sim::Config());
    confirmPorts.clear();
    size_t aWrites = 0;
    Run([&](ui::ScriptedWindow& w) {
      Enter(w, IDC_COM_PORT, "COM1");
      Press(w, IDC_READ);
      aWrites = a.writes.size();
      Enter(w, IDC_COM_PORT, "COM2");
      Enter(w, IDC_STORE_INTERVAL, "300");
      Press(w, c.button);
      ASSERT_TRUE(Idle());
    });
    EXPECT_EQ(Messages(), c.messages);
    EXPECT_EQ(a.writes.size(), aWrites) << "the tracker read before was reached";
    ASSERT_FALSE(b.writes.empty());
    EXPECT_EQ(Wire(b).front(), "?");
    EXPECT_EQ(harness->dialog().portName, "COM2");
    EXPECT_EQ(harness->dialog().storeInterval, 10u) << "the other fields were saved";
    if (c.button == IDC_CLEAR_FLASH) {
      EXPECT_EQ(confirmPorts, Ops{"Tracker on COM2"});
      EXPECT_EQ(b.tracker.EraseCount(), 1);
      EXPECT_EQ(a.tracker.EraseCount(), 0);
    }
  }
}

// --- Faults -----------------------------------------------------------------

// Catches bytes that never came written as data, a fix cut in two decoded, a
// broken file, success reported, the port left open for the late bytes, and
// a block given up before it was asked for twice more. The cut-offs fall on
// a record boundary (see Cut); a wide block's half reply is nine data bytes.
TEST_F(LogDownloadTest, ABrokenOffDownloadKeepsWhatArrived) {
  const struct {
    const char* what;
    int kbit;
    sim::Faults faults;
    int requested, arrived;  // blocks asked for, bytes that came
  } cases[] = {{"silent", 64, Fault(&sim::Faults::silent, {'J', 601}), 601, 600 * 8},
               {"short blocks", 64, Fault(&sim::Faults::shortBlock, {'J', 488}), 488, 487 * 8 + 4},
               {"short wide blocks", 1024, Fault(&sim::Faults::shortBlock, {'J', 1207}), 1207,
                1206 * 16 + 9}};
  ASSERT_EQ(Cut(Golden("track64.kml"), 8192), Golden("track64.kml"));  // all of the memory
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string golden = Golden(c.kbit == 1024 ? "track1024.kml" : "track64.kml");
    fs::remove(path);  // the file of the row before would be kept
    FakeDevice& device = Fresh(c.kbit, c.faults);
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
    EXPECT_THAT(Messages(), ElementsAre("Error reading flash"));
    EXPECT_EQ(DeviceLink.portOpen, 0);
    ExpectWire(Wire(device), {"?", "V", "K"}, c.requested, c.kbit == 1024, c.requested - 1, 3);
    const std::string written = Downloaded(path);
    EXPECT_THAT(written, testing::HasSubstr("sats:"));  // some fixes came
    ExpectSameBytes(written, Cut(golden, c.arrived));
    EXPECT_EQ(Files(), Ops{"track.kml"});
    ExpectWellFormed(path);
  }
}

// Catches a garbled block taken for data (the 1024 form's LF CR shows it), a
// download given up for one bad block, a block asked for again before the
// rest of a late reply was out of the way (every later block would then be
// one reply behind), and a block asked for again that was only slow.
TEST_F(LogDownloadTest, ABlockThatFailsIsAskedForAgain) {
  const auto late = [](int ms) {
    sim::Faults faults = Fault(&sim::Faults::late, {'J', 5});
    faults.lateMs = ms;
    return faults;
  };
  const struct {
    const char* what;
    int kbit;
    sim::Faults faults;
    int times;  // block 4 is asked for this often
  } cases[] = {
      {"garbled", 1024, Fault(&sim::Faults::garbage, {'J', 5}), 2},
      // Just past the read's time-out, into the wait for a quiet line.
      {"late", 64, late(2000 + 50), 2},
      {"slow, but within the time-out", 64, late(1900), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh(c.kbit, c.faults);
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
    EXPECT_THAT(Messages(), ElementsAre(kDone));
    ExpectSameBytes(Downloaded(path), Golden(c.kbit == 1024 ? "track1024.kml" : "track64.kml"));
    ExpectWire(Wire(device), {"?", "V", "K"}, c.kbit == 1024 ? 8192 : 2048, c.kbit == 1024, 4,
               c.times);
  }
}

// Catches a reply with bytes behind it or ahead of it taken for data: a short
// block has no line end to show it, only the bytes left over do. Catches,
// too, bytes found waiting as a block is asked for that do not send the
// block before it back to be read again (the reply they came behind was
// longer than its block), and a download given up for either.
TEST_F(LogDownloadTest, AReplyWithBytesLeftOverIsAskedForAgain) {
  const Ops head = {"?", "V", "K"};
  const struct {
    const char* what;
    int kbit;
    sim::Faults faults;
    int waitingAtBlock;  // bytes are on the line as this block is asked for
    Ops blocks;          // the requests after the head
  } cases[] = {
      {"noise after, 64", 64, Fault(&sim::Faults::noiseAfter, {'J', 5}), -1,
       Requests(2048, false, 4, 2)},
      {"noise before, 128", 128, Fault(&sim::Faults::noiseBefore, {'J', 5}), -1,
       Requests(2048, false, 4, 2)},
      {"noise after, 1024", 1024, Fault(&sim::Faults::noiseAfter, {'J', 5}), -1,
       Requests(8192, true, 4, 2)},
      {"noise before, 1024", 1024, Fault(&sim::Faults::noiseBefore, {'J', 5}), -1,
       Requests(8192, true, 4, 2)},
      {"found as the next block is asked for", 64, sim::Faults(), 6,
       Joined({Requests(7, false), Request(5, false), Request(6, false), From(7, 2048, false)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh(c.kbit, c.faults);
    device.onWrite = [&, js = 0](FakeDevice& d, const std::vector<uint8_t>& bytes) mutable {
      if (bytes == std::vector<uint8_t>{'J'} && js++ == c.waitingAtBlock) d.Inject("\x17\x42");
    };
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
    EXPECT_THAT(Messages(), ElementsAre(kDone));
    const char* golden = c.kbit == 1024  ? "track1024.kml"
                         : c.kbit == 128 ? "track128.kml"
                                         : "track64.kml";
    ExpectSameBytes(Downloaded(path), Golden(golden));
    ExpectOps(Wire(device), Joined({head, c.blocks}));
  }
}

// Catches noise that passes for data in a short block (it has no line end to
// check), a second pass that does not compare or keeps the read that
// differs, a block read again although its reads agreed, a second pass where
// none was asked for, and a block that never reads the same twice kept as
// data instead of ending the download there.
TEST_F(LogDownloadTest, ReadingTwiceKeepsOnlyBlocksThatAgree) {
  using Reads = WindowState::DownloadReads;
  const Ops head = {"?", "V", "K"};
  const std::string golden64 = Golden("track64.kml");
  const struct {
    const char* what;
    int kbit;
    Reads reads;
    sim::Faults faults;
    int flakyBlock;  // its first byte reads differently each time
    Ops blocks;      // the requests after the head
    const char* message;
    std::string file;
  } cases[] = {
      {"garbled once, read twice", 64, Reads::kTwice, Fault(&sim::Faults::garbage, {'J', 1000}), -1,
       Joined({Requests(2048, false), Requests(2048, false, 999, 2)}), kDone, golden64},
      {"garbled once, read twice without line ends", 64, Reads::kTwiceWithoutLineEnds,
       Fault(&sim::Faults::garbage, {'J', 1000}), -1,
       Joined({Requests(2048, false), Requests(2048, false, 999, 2)}), kDone, golden64},
      {"a wide block has its line end", 1024, Reads::kTwiceWithoutLineEnds, sim::Faults(), -1,
       Requests(8192, true), kDone, Golden("track1024.kml")},
      {"a block that never agrees", 64, Reads::kTwice, sim::Faults(), 8,
       Joined({Requests(2048, false), Requests(9, false, 8, 4)}), "Error reading flash",
       Cut(golden64, 64)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path);  // the file of the row before would be kept
    FakeDevice& device = Fresh(c.kbit, c.faults);
    TheWindowState.downloadReads = c.reads;
    const std::vector<uint8_t> flaky = {0, static_cast<uint8_t>(c.flakyBlock * 8)};
    device.onWrite = [&](FakeDevice& d, const std::vector<uint8_t>& bytes) {
      if (c.flakyBlock >= 0 && bytes == flaky) {
        ++d.tracker.LogMemory()[static_cast<size_t>(c.flakyBlock) * 8];
      }
    };
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
    TheWindowState.downloadReads = Reads::kOnce;
    EXPECT_THAT(Messages(), ElementsAre(c.message));
    ExpectSameBytes(Downloaded(path), c.file);
    ExpectOps(Wire(device), Joined({head, c.blocks}));
  }
}

// Catches a complete file replaced by a download that ended early (the line
// lost, or the user stopping it), what arrived not saved beside it or under
// another name, a message that does not say where it went, and a download
// to a name that holds no file put anywhere but there.
TEST_F(LogDownloadTest, ADownloadThatEndsEarlyNeverReplacesAFile) {
  const std::string golden = Golden("track64.kml");
  const struct {
    const char* what;
    bool old;  // the chosen file holds an older track
    sim::Faults faults;
    int stopAtBlock;  // the user stops the download as this block is asked for
    Ops files;
    const char* message;  // the box; empty: the status line says
    std::string status;
  } cases[] = {
      {"line lost",
       true,
       Fault(&sim::Faults::silent, {'J', 601}),
       -1,
       {"track.kml", "track.partial.kml"},
       "Error reading flash\n{path} is left as it was; what arrived is saved as {partial}",
       "Ready"},
      {"stopped",
       true,
       sim::Faults(),
       599,
       {"track.kml", "track.partial.kml"},
       "",
       "Download stopped; the fixes that arrived are kept in {partial}; {path} is left as it was"},
      {"line lost, no file there",
       false,
       Fault(&sim::Faults::silent, {'J', 601}),
       -1,
       {"track.kml"},
       "Error reading flash",
       "Ready"},
      {"stopped, no file there",
       false,
       sim::Faults(),
       599,
       {"track.kml"},
       "",
       "Download stopped; the fixes that arrived are kept"},
  };
  const std::string partial = (folder / "track.partial.kml").string();
  const auto named = [&](std::string text) {
    for (const auto& [from, to] : {std::pair{"{path}", path}, std::pair{"{partial}", partial}}) {
      const size_t at = text.find(from);
      if (at != std::string::npos) text.replace(at, std::string(from).size(), to);
    }
    return text;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path);
    fs::remove(partial);
    FakeDevice& device = Fresh(64, c.faults);
    if (c.old) WriteOld();
    device.onWrite = [&, js = 0](FakeDevice&, const std::vector<uint8_t>& bytes) mutable {
      if (bytes == std::vector<uint8_t>{'J'} && js++ == c.stopAtBlock) {
        harness->dialog().RequestWorkerStop();
      }
    };
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
    EXPECT_EQ(Messages(), *c.message == '\0' ? Ops{} : Ops{named(c.message)});
    EXPECT_EQ(harness->dialog().statusText, named(c.status));
    EXPECT_EQ(Files(), c.files);
    const std::string arrived = Cut(golden, 600 * 8);
    if (c.old) {
      EXPECT_EQ(Slurp(path), kOld);
      ExpectSameBytes(Downloaded(partial), arrived);
    } else {
      ExpectSameBytes(Downloaded(path), arrived);
    }
  }
}

// Catches an operation that hangs on a device that answers the ping, but
// never with "OK" (a modem, a GPS receiver on the wrong port), a ping that
// gives up much later than ten seconds, and an operation that does not end as
// after any failed ping. Each answer takes its line time, so ten seconds are
// some 1200 questions; should the ping not give up, the device says "OK"
// after many more. Catches, too, an operation that goes on after the ping
// gave up (more messages about a link already closed).
TEST_F(LogDownloadTest, ADeviceThatNeverSaysOkEndsEveryOperation) {
  const std::string nmea = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
  const struct {
    int button;
    std::string answer;
    Ops messages;
  } cases[] = {
      {IDC_READ_FLASH, "ERROR", {"Tracker not responding"}},
      {IDC_CLEAR_FLASH, nmea, {"Tracker not responding"}},
      {IDC_FLASH_TEST, "ERROR", {"Tracker not responding"}},
      {IDC_GO, "ERROR", {"Tracker not responding"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    FakeDevice& device = Fresh();
    sim::Config config;
    config.pace = true;
    config.faults.pingAnswer = c.answer;
    device.tracker = sim::Tracker(config);
    device.onWrite = [asked = 0](FakeDevice& d, const std::vector<uint8_t>&) mutable {
      if (++asked == 30000) d.Inject("OK\n\r");
    };
    WriteOld();
    const int64_t start = serial.now;
    Run([&](ui::ScriptedWindow& w) { PressAndWait(w, c.button); });
    EXPECT_GE(serial.now - start, 10'000'000);
    EXPECT_LT(serial.now - start, 10'200'000) << "more than one answer past the bound";
    EXPECT_EQ(Messages(), c.messages);
    const Ops wire = Wire(device);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "?"), static_cast<long>(wire.size()));
    EXPECT_EQ(DeviceLink.portOpen, 0);
    EXPECT_EQ(Slurp(path), kOld);
  }
}

TEST_F(LogDownloadTest, AFullDiskIsReported) {
  // Only the device: a regular file of that name would be renamed over.
  std::error_code ec;
  if (!fs::is_character_file("/dev/full", ec)) GTEST_SKIP() << "no /dev/full device here";
  Fresh();
  chosen = "/dev/full";
  Run([&](ui::ScriptedWindow& w) { PressAndWait(w); });
  EXPECT_THAT(Messages(), ElementsAre("Error writing file"));
}

// Catches a download that starts without a tracker, or on a reply that names
// no memory size (the geometry left at 0 would download nothing), and one
// whose first block never came: none may replace the file the user chose.
// The simulator answers 'K' only with 0, 1 or 2, so stale lines injected
// ahead answer the ping, the version and the size query instead.
TEST_F(LogDownloadTest, AFailedStartLeavesTheChosenFileAlone) {
  const std::string zero(2, '\0');
  const Ops head = {"?", "V", "K"}, thrice = {"?", "V", "K", "J", zero, "J", zero, "J", zero};
  // sim::Faults() and not {}: GCC 12 at -O2 takes the braces for a string
  // left uninitialised and warns.
  const struct {
    const char* port;
    sim::Faults faults;
    const char* stale;
    const char* message;
    Ops wire;
  } cases[] = {
      {"COM9", sim::Faults(), "", "Error opening com port", {}},
      {"COM1", Fault(&sim::Faults::silent, {'?', 1}), "", kReadError, {"?"}},
      {"COM1", sim::Faults(), "OK\n\r20\n\r3\n\r", "Error reading memory size", head},
      {"COM1", sim::Faults(), "OK\n\r20\n\rOK\n\r", "Error reading memory size", head},
      {"COM1", Fault(&sim::Faults::silent, {'J', 1}), "", "Error reading flash", thrice},
      {"COM1", Fault(&sim::Faults::shortBlock, {'J', 1}), "", "Error reading flash", thrice}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.message << " " << c.stale);
    FakeDevice& device = Fresh(64, c.faults);
    device.Inject(c.stale);
    WriteOld();
    Run([&](ui::ScriptedWindow& w) {
      UsePort(w, c.port);
      Press(w, IDC_READ_FLASH);
      ASSERT_TRUE(Idle());
    });
    EXPECT_THAT(Messages(), ElementsAre(c.message));
    EXPECT_EQ(Wire(device), c.wire);
    EXPECT_EQ(LogMemoryGeometry.sizeCode, c.wire.size() > 3 ? 64 : 0);
    EXPECT_EQ(Slurp(path), kOld);
    EXPECT_EQ(Files(), Ops{"track.kml"});
  }
}

// Catches a cancelled save dialog or confirmation that still reaches the
// tracker, and a cancelled save dialog that drops what the user typed.
TEST_F(LogDownloadTest, CancellingSendsNothing) {
  for (const int button : {IDC_READ_FLASH, IDC_CLEAR_FLASH}) {
    SCOPED_TRACE(button);
    FakeDevice& device = Fresh();
    chosen = std::nullopt;
    confirmAnswer = IDCANCEL;
    Run([&](ui::ScriptedWindow& w) {
      UsePort(w, "COM1");
      Enter(w, IDC_COM_PORT, "COM7");
      Enter(w, IDC_STORE_INTERVAL, "20");
      Press(w, button);
    });
    const bool save = button == IDC_READ_FLASH;
    EXPECT_EQ(harness->backend().FileDialogs().size(), save ? 1u : 0u);
    EXPECT_EQ(confirmed.size(), save ? 0u : 1u);
    EXPECT_TRUE(device.writes.empty());
    EXPECT_EQ(device.opens, 0);
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(harness->dialog().portName, save ? "COM7" : "COM1");
    EXPECT_EQ(harness->dialog().storeInterval, save ? 20u : 1u);
  }
}

enum class Close { kEsc, kCloseBox, kSysMenuClose, kEnter, kLogOut, kLogOutNow };

void CloseBy(ui::ScriptedWindow& w, Close how) {
  switch (how) {
    case Close::kEsc:
      return w.PressEscape();
    case Close::kCloseBox:
      return w.CloseBox();
    case Close::kSysMenuClose:
      return w.SystemCommand(SC_CLOSE);
    case Close::kEnter:
      ASSERT_TRUE(w.Type(IDC_STORE_INTERVAL, "1"));  // the focus in a field
      return w.PressEnter();
    case Close::kLogOut:
    case Close::kLogOutNow:
      // As the backends hand it on; a log-out that is let go ends the window.
      if (w.Dialog().OnQueryEndSession(how == Close::kLogOut)) w.End(IDCANCEL);
      return;
  }
}

// Every way of closing the window while a download runs, at its first, a
// middle and its last block, and while an erase runs. Catches a window that
// closes without asking (the download lost), a question when only the last
// message is left to read, a No that stops it anyway, a
// worker that outlives the window or is cut off mid-file (a broken file, a
// temporary file left), a stopped download that keeps more or less than the
// blocks that came, a log-out that cannot wait but is asked, and an erase
// that is waited for although it goes on in the tracker by itself.
TEST_F(LogDownloadTest, ClosingDuringAWorkerAsksAndKeepsWhatArrived) {
  const std::string stop = "A download is in progress. Stop it and keep what has arrived?";
  const std::string erase =
      "The tracker is erasing its memory and goes on by itself. Close anyway?";
  const char* stopped = "Download stopped; the fixes that arrived are kept";
  const int kAtItsLastMessage = -2;
  struct Case {
    const char* what;
    int kbit;
    int button;
    int atBlock;  // the close comes while this block is on its way (or at:)
    Close how;
    std::vector<bool> answers;  // to the questions, in order
    Ops questions;
    int arrived;  // bytes the file holds: -1 the whole golden file, 0 the old file
    int result;
    Ops messages;
    const char* status;
  };
  const Case cases[] = {
      {"Esc, first block",
       64,
       IDC_READ_FLASH,
       0,
       Close::kEsc,
       {true},
       {stop},
       8,
       IDCANCEL,
       {},
       stopped},
      {"close box, middle",
       64,
       IDC_READ_FLASH,
       700,
       Close::kCloseBox,
       {true},
       {stop},
       701 * 8,
       IDCANCEL,
       {},
       stopped},
      {"system menu, last block",
       64,
       IDC_READ_FLASH,
       2047,
       Close::kSysMenuClose,
       {true},
       {stop},
       -1,
       IDCANCEL,
       {kDone},
       "Ready"},
      {"system menu, its last message open",
       64,
       IDC_READ_FLASH,
       kAtItsLastMessage,
       Close::kSysMenuClose,
       {},
       {},
       -1,
       IDCANCEL,
       {kDone},
       "Ready"},
      {"Enter, middle",
       64,
       IDC_READ_FLASH,
       1000,
       Close::kEnter,
       {true},
       {stop},
       1001 * 8,
       IDOK,
       {},
       stopped},
      {"wide blocks, middle",
       1024,
       IDC_READ_FLASH,
       4000,
       Close::kEsc,
       {true},
       {stop},
       4001 * 16,
       IDCANCEL,
       {},
       stopped},
      {"No goes on",
       64,
       IDC_READ_FLASH,
       700,
       Close::kEsc,
       {false},
       {stop},
       -1,
       IDCANCEL,
       {kDone},
       "Ready"},
      {"log-out, asked",
       64,
       IDC_READ_FLASH,
       700,
       Close::kLogOut,
       {true},
       {stop},
       701 * 8,
       IDCANCEL,
       {},
       stopped},
      {"log-out refused",
       64,
       IDC_READ_FLASH,
       700,
       Close::kLogOut,
       {false},
       {stop},
       -1,
       IDCANCEL,
       {kDone},
       "Ready"},
      {"log-out that cannot wait",
       64,
       IDC_READ_FLASH,
       700,
       Close::kLogOutNow,
       {},
       {},
       701 * 8,
       IDCANCEL,
       {},
       stopped},
      {"erase, closed",
       64,
       IDC_CLEAR_FLASH,
       -1,
       Close::kEsc,
       {true},
       {erase},
       0,
       IDCANCEL,
       {},
       "Ready"},
      {"erase, kept open",
       64,
       IDC_CLEAR_FLASH,
       -1,
       Close::kCloseBox,
       {false, true},
       {erase, erase},
       0,
       IDCANCEL,
       {},
       "Ready"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice& device = Fresh(c.kbit, Fault(&sim::Faults::eraseMs, 600000));
    fs::remove(folder / "track.partial.kml");
    WriteOld();
    std::deque<bool> answers(c.answers.begin(), c.answers.end());
    std::atomic<bool> refused{false};
    std::atomic<bool> asked{false};
    harness->backend().AnswerQuestions([&](const ui::MessageRecord&) {
      asked = true;
      const bool yes = answers.empty() || answers.front();
      if (!answers.empty()) answers.pop_front();
      if (!yes) refused = true;
      return yes;
    });
    // The worker waits at the block until the close has been dealt with:
    // the stop asked for, or the question answered No.
    std::atomic<bool> atBlock{false};
    CTrackerDlg* dialog = nullptr;
    device.onWrite = [&, requests = -1](FakeDevice&, const std::vector<uint8_t>& bytes) mutable {
      if (bytes != std::vector<uint8_t>{'J'} || ++requests != c.atBlock) return;
      atBlock = true;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!refused && !dialog->WorkerStopRequested() &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    // The last message stays open until the close has been dealt with: a
    // question asked, or the window waiting for the message to be read.
    std::atomic<bool> telling{false};
    harness->backend().OnMessage([&](const ui::MessageRecord&) {
      if (c.atBlock != kAtItsLastMessage) return;
      telling = true;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
      while (!asked && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    int steps = 0;
    harness->backend().OnProgress([&](int, const ui::ProgressState&) { ++steps; });
    Run([&](ui::ScriptedWindow& w) {
      dialog = &static_cast<CTrackerDlg&>(w.Dialog());
      UsePort(w, "COM1");
      Press(w, c.button);
      steps = 0;  // from here on the worker's
      ASSERT_TRUE(harness->backend().WaitUntil([&] {
        return c.atBlock == -1 ? steps >= 5 : c.atBlock < 0 ? telling.load() : atBlock.load();
      }));
      CloseBy(w, c.how);
      if (refused) {
        EXPECT_FALSE(w.Ended()) << "No closed the window";
        if (c.button == IDC_READ_FLASH) {
          EXPECT_TRUE(Idle());
        }
      }
    });
    EXPECT_EQ(harness->backend().Questions(), c.questions);
    EXPECT_EQ(harness->dialog().GetWindow(), nullptr);
    EXPECT_EQ(workerBusy, 0);
    EXPECT_EQ(Messages(), c.messages);
    // The old file is kept whole; what arrived of a stopped download goes
    // beside it.
    const std::string partial = (folder / "track.partial.kml").string();
    const bool beside = c.arrived > 0;
    EXPECT_EQ(harness->dialog().statusText,
              beside ? std::string(c.status) + " in " + partial + "; " + path + " is left as it was"
                     : std::string(c.status));
    const Ops expectedFiles = beside ? Ops{"track.kml", "track.partial.kml"} : Ops{"track.kml"};
    EXPECT_EQ(Files(), expectedFiles) << "a temporary file was left";
    if (beside) {
      EXPECT_EQ(Slurp(path), kOld);
    }
    const std::string written = c.arrived == 0 ? Slurp(path) : Downloaded(beside ? partial : path);
    const std::string golden = Golden(c.kbit == 1024 ? "track1024.kml" : "track64.kml");
    if (c.arrived < 0) {
      ExpectSameBytes(written, golden);
    } else if (c.arrived == 0) {
      EXPECT_EQ(written, kOld);
    } else {
      ExpectWellFormed(partial);
      EXPECT_EQ(FixLines(written), FixLines(Cut(golden, c.arrived)));
      EXPECT_THAT(written, testing::EndsWith("-->\r\n"));
      char percent[16];
      std::snprintf(percent, sizeof percent, "%4.2f",
                    c.arrived * 100.0 / (c.kbit == 1024 ? 131072 : 16384));
      EXPECT_EQ(harness->dialog().percentLabel, percent);
    }
    if (c.button == IDC_CLEAR_FLASH) {
      EXPECT_EQ(Wire(device), Ops({"?", "K", "Z"}));
      EXPECT_EQ(device.tracker.EraseCount(), 0);
    }
  }
}

// --- Clear Flash ------------------------------------------------------------

// Catches a wrong command order, the bar's position reset or not stepped once
// per byte, the status shown before the worker set it, and the size reply
// overwriting the decode limit.
TEST_F(LogDownloadTest, ClearFlashErasesAndStepsOncePerByte) {
  constexpr int kEraseMs = 5000;  // 100 '.' then LF CR
  FakeDevice& device = Fresh(64, Fault(&sim::Faults::eraseMs, kEraseMs));
  Run([&](ui::ScriptedWindow& w) {
    PressAndWait(w);
    const int downloaded = w.Progress(IDC_PROGRESS).position;
    device.writes.clear();
    LogMemoryGeometry = {1024, 123};
    Press(w, IDC_CLEAR_FLASH);
    EXPECT_EQ(w.Text(IDC_STATUS), "Ready");  // loaded while the worker still waited
    ASSERT_TRUE(Idle());
    EXPECT_EQ(harness->dialog().statusText, "Done eraseing");
    EXPECT_EQ(w.Text(IDC_STATUS), "Ready");
    ExpectProgress(w, 0, 100, Stepped(0, 100, downloaded, kEraseMs / 50 + 2));
  });
  EXPECT_EQ(Wire(device), Ops({"?", "K", "Z"}));
  EXPECT_THAT(Messages(), ElementsAre(kDone, "Done Clearing Flash"));
  EXPECT_EQ(LogMemoryGeometry.sizeCode, 64);
  EXPECT_EQ(LogMemoryGeometry.decodeLimit, 123);
  EXPECT_EQ(device.tracker.EraseCount(), 1);
}

// Catches an erase that waits forever or takes CR LF for its end, and one
// that goes on without a size reply. With CR LF line ends the Ping's and the
// size query's own replies would fail already (ReadLine wants LF CR), so good
// ones are injected for them: the erase loop then reads "OK\r\n", "0\r\n", 30
// '.' and "\r\n", and gives up after six silent reads of 10 virtual seconds.
TEST_F(LogDownloadTest, ClearFlashGivesUpOnABadAnswer) {
  // clang-format off
  const struct {
    sim::Faults faults;
    const char* stale;
    Ops messages, wire;
    int steps;
  } cases[] = {
      {Fault(&sim::Faults::crlf, true), "OK\n\r0\n\r", {"Error clearing flash"}, {"?", "K", "Z"},
       4 + 3 + 30 + 2 + 6},
      {Fault(&sim::Faults::silent, {'K', 1}), "", {kReadError, "Error readimg memory size"},
       {"?", "K"}, 0},
      // A device that says OK to everything names no memory: nothing is erased.
      {Fault(&sim::Faults::okToEverything, true), "", {"Error readimg memory size"},
       {"?", "K"}, 0}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages.back());
    FakeDevice& device = Fresh(64, c.faults);
    device.Inject(c.stale);
    const int64_t start = serial.now;
    Run([&](ui::ScriptedWindow& w) {
      PressAndWait(w, IDC_CLEAR_FLASH);
      ExpectProgress(w, 0, 100, c.steps);
    });
    EXPECT_EQ(Messages(), c.messages);
    EXPECT_EQ(Wire(device), c.wire);
    EXPECT_EQ(harness->dialog().statusText, "Ready");
    EXPECT_GE(serial.now - start, c.faults.crlf ? 60 * 1000000 : 0);
  }
}

// Catches an erase whose ten-minute bound starts only after the ping and the
// size query: a tracker slow at those would get more than ten minutes.
TEST_F(LogDownloadTest, ClearFlashCountsItsBoundFromTheWorkersStart) {
  sim::Faults faults = Fault(&sim::Faults::late, {'?', 1});
  faults.lateMs = 9000;
  faults.eraseMs = 3600 * 1000;
  Fresh(64, faults);
  int64_t start = 0, end = 0;
  harness->backend().OnMessage([&](const ui::MessageRecord&) { end = serial.now; });
  Run([&](ui::ScriptedWindow& w) {
    start = serial.now;
    PressAndWait(w, IDC_CLEAR_FLASH);
  });
  EXPECT_THAT(Messages(), ElementsAre("Error clearing flash"));
  EXPECT_GE(end - start, 600 * 1000000LL);
  EXPECT_LT(end - start, 601 * 1000000LL);
}

// --- Reading until the log's end -------------------------------------------

// `records` fixes from address 0, each a little further on, then `then`; the
// tracker pads the rest of its memory with 0xFF.
std::vector<uint8_t> LogImage(int records, const std::vector<uint8_t>& then = {}) {
  std::vector<uint8_t> image;
  for (int i = 0; i < records; ++i) {
    std::vector<int> fix = testing_support::kWestFix;
    fix[TrackRecord::lonMinutes] = i % 60;
    fix[TrackRecord::latHundredths] = i % 97;
    fix[TrackRecord::utcMinutes] = i / 60 % 60;
    fix[TrackRecord::utcSeconds] = i % 60;
    image.insert(image.end(), fix.begin(), fix.end());
  }
  image.insert(image.end(), then.begin(), then.end());
  return image;
}

std::vector<uint8_t> Erased(int bytes) {
  return std::vector<uint8_t>(static_cast<size_t>(bytes), 0xFF);
}

std::vector<uint8_t> Then(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The same memory downloaded whole and until the log's end. Catches a block
// read past the one that completes the end (or the memory the file shows),
// an end missed or taken from the wrong bytes, a track that differs from the
// full download's, a dump that does not hold exactly the bytes read, a
// missing or wrong line that says how many, and a file that export does not
// read as the full download's. The last row is the miss --help tells of:
// records after a gap of erased memory.
TEST_F(LogDownloadTest, UntilTheEndReadsOnlyTheLog) {
  using End = LogEndWatch::End;
  const std::vector<uint8_t> k5A = {0x5A, 0x5A, 0x5A, 0x5A}, k00 = {0, 0, 0, 0};
  const struct {
    const char* what;
    int kbit;
    std::vector<uint8_t> image;  // empty: the built-in track
    End end;
    int bytesRead;
    bool sameTrack;
  } rows[] = {
      {"the built-in track", 64, {}, End::kEndMarker, 6968, true},
      {"1 % and an end marker", 1024, LogImage(87, k5A), End::kEndMarker, 1312, true},
      {"10 % and a 00 marker", 1024, LogImage(873, k00), End::kEndMarker, 13104, true},
      {"half, no marker", 128, LogImage(546), End::kErased, 8448, true},
      {"never written", 1024, Erased(1), End::kErased, 256, true},
      {"the marker in the last record", 1024, LogImage(8737, k5A), End::kEndMarker, 131072, true},
      {"full, no marker", 64, LogImage(546, {1, 2}), End::kNotYet, 8192, true},
      {"a gap one byte short of erased", 64,
       LogImage(10, Then({Erased(255), {1}, Erased(14), LogImage(9, k5A)})), End::kEndMarker, 560,
       true},
      {"records after a gap", 64, LogImage(10, Then({Erased(300), LogImage(10, k5A)})),
       End::kErased, 408, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeDevice& device = Fresh(row.kbit, {}, "KLX-TX3", row.image);
    const std::string full = (folder / "full.kml").string();
    size_t before = 0;
    Run([&](ui::ScriptedWindow& w) {
      chosen = full;
      PressAndWait(w);
      before = device.writes.size();
      chosen = path;
      TheWindowState.downloadUntilEnd = true;
      PressAndWait(w);
      TheWindowState.downloadUntilEnd = false;
    });
    EXPECT_EQ(TheWindowState.lastDownloadLogEnd, row.end);
    EXPECT_EQ(TheWindowState.lastDownloadBytesRead, row.bytesRead);
    EXPECT_EQ(harness->dialog().percentLabel, "100.00");
    EXPECT_THAT(Messages(), ElementsAre(kDone, kDone));
    const bool wide = row.kbit == 1024;
    const Ops wire = Wire(device);
    ExpectOps(Ops(wire.begin() + static_cast<std::ptrdiff_t>(before), wire.end()),
              Joined({{"?", "V", "K"}, Requests(row.bytesRead / (wide ? 16 : 8), wide)}));
    const std::string whole = Slurp(full);
    ExpectSameBytes(Downloaded(path), Cut(whole, row.bytesRead));
    EXPECT_EQ(SplitStamp(Slurp(path)).stamp, "<!-- kw9 download 2026-12-09T08:01:02Z read 0-" +
                                                 std::to_string(row.bytesRead - 1) + " of " +
                                                 std::to_string(row.kbit * 128) + " -->");
    // CSV: the track alone, no moment of writing in it.
    const std::string csv = (folder / "track.csv").string(),
                      fullCsv = (folder / "full.csv").string();
    ASSERT_TRUE(ExportStoredKml({path, TrackFormat::kCsv, "2026-03-01", csv}).ok);
    ASSERT_TRUE(ExportStoredKml({full, TrackFormat::kCsv, "2026-03-01", fullCsv}).ok);
    EXPECT_EQ(Slurp(csv) == Slurp(fullCsv), row.sameTrack);
  }
}

}  // namespace
