// kw9cli's port list as scripts read it: the lines and the JSON array. The
// list itself comes from the system (its own tests give it a made-up sysfs);
// here it is given, so every kind of entry can be.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/report.h"
#include "config/json.h"
#include "platform/os/os.h"

namespace {

// Catches an unknown field that closes up so the next one takes its place, a
// tab inside a description that adds a field, and a busy port not told. With
// --json: one array of one object per port, unknown texts null; a usage error
// keeps the object every command answers with, so a script can read its exit
// code.
TEST(CliReport, PortsAsLinesOfFiveFieldsAndAsOneJsonArray) {
  cli::Outcome o;
  o.invocation.command = cli::Command::kPorts;
  o.invocation.commandKnown = true;
  o.ports = {
      {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "0403:6001", false},
      {"ttyS0", "/dev/ttyS0", "", "", false},
      {"ttyACM0", "/dev/ttyACM0", "", "1546:01a8", true},
      {"ttyUSB1", "/dev/ttyUSB1", "Dual\tRS232 \\ adapter", "067b:2303", false},
  };
  EXPECT_EQ(cli::TextReport(o),
            "ttyUSB0\t/dev/ttyUSB0\tFT232R USB UART\t0403:6001\t\n"
            "ttyS0\t/dev/ttyS0\t\t\t\n"
            "ttyACM0\t/dev/ttyACM0\t\t1546:01a8\tbusy\n"
            "ttyUSB1\t/dev/ttyUSB1\tDual\\tRS232 \\\\ adapter\t067b:2303\t\n");
  EXPECT_EQ(cli::JsonReport(o),
            "[{\"name\":\"ttyUSB0\",\"devicePath\":\"/dev/ttyUSB0\",\"description\":\"FT232R USB "
            "UART\",\"vidPid\":\"0403:6001\",\"busy\":false},"
            "{\"name\":\"ttyS0\",\"devicePath\":\"/dev/ttyS0\",\"description\":null,\"vidPid\":"
            "null,\"busy\":false},"
            "{\"name\":\"ttyACM0\",\"devicePath\":\"/dev/ttyACM0\",\"description\":null,"
            "\"vidPid\":\"1546:01a8\",\"busy\":true},"
            "{\"name\":\"ttyUSB1\",\"devicePath\":\"/dev/ttyUSB1\",\"description\":\"Dual\\tRS232 "
            "\\\\ adapter\",\"vidPid\":\"067b:2303\",\"busy\":false}]\n");
  o.ports.clear();
  EXPECT_EQ(cli::JsonReport(o), "[]\n");
  o.exitCode = cli::kExitUsage;
  const config::JsonParse usage = config::ParseJson(cli::JsonReport(o));
  ASSERT_TRUE(usage.value);
  EXPECT_EQ(usage.value->kind, config::JsonValue::Kind::kObject);
}

// Catches a Windows path printed with doubled backslashes (it could not be
// pasted back), a backslash of a Linux name left alone (it would read as an
// escape), and a text that breaks its line escaped only in part.
TEST(CliReport, PlainValuesAreEscapedOnlyWhereTheyMustBe) {
  const bool windows = platform::BackslashSeparatesFolders();
  const struct {
    const char* text;
    const char* onLinux;
    const char* onWindows;
  } rows[] = {
      {"/tmp/track.kml", "/tmp/track.kml", "/tmp/track.kml"},
      {"C:\\tracks\\new.kml", "C:\\\\tracks\\\\new.kml", "C:\\tracks\\new.kml"},
      {"\\\\.\\COM12", "\\\\\\\\.\\\\COM12", "\\\\.\\COM12"},
      {"Error opening com port\nC:\\x", "Error opening com port\\nC:\\\\x",
       "Error opening com port\\nC:\\\\x"},
      {"a\tb\rc", "a\\tb\\rc", "a\\tb\\rc"},
      {"", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(cli::Escaped(row.text), windows ? row.onWindows : row.onLinux);
  }
}

// Catches a box's closing line end shown as "\n", a text of two lines kept
// on one, a CR of a CR LF left at a line's end, and an empty line between
// two dropped.
TEST(CliReport, MessageBoxesAsLines) {
  const struct {
    const char* text;
    std::vector<std::string> lines;
  } rows[] = {
      {"Calibration Mode Enabled\n", {"Calibration Mode Enabled"}},
      {"Error opening com port\nNo such device", {"Error opening com port", "No such device"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\tb\rc", {"a\tb\rc"}},
      {"", {""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(cli::MessageLines(row.text), row.lines);
  }
}

// Catches the window's empty values printed after a failure that left them
// so, a failure whose status line is lost, and a label printed after Update
// with the value it showed before it.
TEST(CliReport, PlainWindowLinesAfterFailuresAndUpdates) {
  const std::vector<cli::WindowValue> window = {
      {"modelLabel", "Model: KLX-TX3", false},
      {"hopChannelLabel", "Hop Chan 3", false},
      {"vendorIdLabel", "Vendor ID 7FFF", false},
      {"radioHP", "3", false},
      {"radioID", "1234", false},
      {"statusText", "Read Complete", false},
  };
  const struct {
    cli::Command command;
    cli::ExitCode code;
    const char* status;
    const char* text;
  } rows[] = {
      {cli::Command::kRead, cli::kExitOk, "Read Complete",
       "modelLabel=Model: KLX-TX3\nhopChannelLabel=Hop Chan 3\nvendorIdLabel=Vendor ID 7FFF\n"
       "radioHP=3\nradioID=1234\nstatusText=Read Complete\n"},
      {cli::Command::kUpdate, cli::kExitOk, "Read Complete",
       "modelLabel=Model: KLX-TX3\nhopChannelLabel=Hop Chan 3\nradioHP=3\nradioID=1234\n"
       "statusText=Read Complete\n"},
      {cli::Command::kRead, cli::kExitPort, "Read Failed", "statusText=Read Failed\n"},
      {cli::Command::kDownload, cli::kExitFile, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    cli::Outcome o;
    o.invocation.command = row.command;
    o.invocation.commandKnown = true;
    o.exitCode = row.code;
    o.window = window;
    o.window.back().text = row.status;
    EXPECT_EQ(cli::TextReport(o), row.text);
  }
}

}  // namespace

// Catches a custody line that names a key twice (readers keep one of the two
// at will): an export's tracker is its file's, and a download's the tracker's.
TEST(CliReport, CustodyLinesNameEachKeyOnce) {
  cli::Outcome exported;
  exported.invocation.command = cli::Command::kExport;
  exported.invocation.commandKnown = true;
  exported.invocation.operands = {"track.kml"};
  exported.exported.emplace();
  exported.exported->format = "gpx";
  exported.exported->tracker.model = "KLX-TX3";
  exported.exported->tracker.serialNumber = 2418;
  cli::Outcome downloaded;
  downloaded.invocation.command = cli::Command::kDownload;
  downloaded.invocation.commandKnown = true;
  downloaded.identity.emplace();
  downloaded.identity->model = "KLX-TX3";
  downloaded.identity->serialNumber = 2417;
  downloaded.download.emplace();
  downloaded.download->exports.emplace_back().tracker.serialNumber = 2417;
  for (const auto& [o, serial] : {std::pair{&exported, 2418}, std::pair{&downloaded, 2417}}) {
    const config::JsonParse line = config::ParseJson(cli::CustodyLine(*o, "2026-12-09T08:00:00Z"));
    ASSERT_TRUE(line.value) << line.problem;
    int found = 0;
    for (const config::JsonMember& m : line.value->members) {
      if (m.name != "serialNumber") continue;
      ++found;
      EXPECT_EQ(m.value.Integer(), serial);
    }
    EXPECT_EQ(found, 1);
  }
}
