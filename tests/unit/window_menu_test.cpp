// The window's settings profiles and what it remembers, through the scripted
// backend: Save and Load Settings Profile, the name Read Flash suggests, the
// remembered port and folders, and the user's settings seam itself.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/track_menu.h"
#include "app/window_memory.h"
#include "config/profile.h"
#include "platform/os/user_settings.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"
#include "tests/support/scratch_dir.h"
#include "tracklog/track_export.h"

using testing_support::DialogHarness;
using testing_support::FakeSerial;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;

namespace {

const char kReadFirst[] = "Please issue a read command before attempting a write";

// Answers the file dialogs in turn with names in dir (nullopt cancels).
void AnswerFiles(DialogHarness& harness, const ScratchDir& dir,
                 std::vector<std::optional<std::string>> answers) {
  auto next = std::make_shared<size_t>(0);
  harness.backend().AnswerFileDialogs(
      [&dir, answers, next](const ui::FileDialogRequest&) -> std::optional<std::string> {
        const std::optional<std::string> a = *next < answers.size() ? answers[(*next)++] : "";
        return a ? std::optional<std::string>(dir / *a) : std::nullopt;
      });
}

// Catches a profile saved without a completed Read, with the members instead
// of what the fields show, with identity in it, or a cancelled dialog that
// still writes.
TEST(ProfileMenu, Save) {
  const struct {
    const char* name;
    bool read;
    std::optional<std::string> chosen;
    const char* message;  // the one message, or nullptr
  } rows[] = {
      {"before a Read", false, "p.json", kReadFirst},
      {"after a Read", true, "p.json", nullptr},
      {"cancelled", true, std::nullopt, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScratchDir dir;
    FakeSerial serial;
    serial.AddPort("COM1");
    DialogHarness harness;
    AnswerFiles(harness, dir, {row.chosen});
    std::string shownStore;
    harness.Run([&](ui::ScriptedWindow& w) {
      w.Type(IDC_COM_PORT, "COM1");
      if (row.read) w.Click(IDC_READ);
      w.Type(IDC_STORE_INTERVAL, "7");  // typed, not yet written
      w.SystemCommand(IDM_SAVE_PROFILE);
    });
    const std::vector<std::string> messages = harness.Messages();
    ASSERT_EQ(messages.size(), row.message ? 1u : 0u);
    if (row.message) {
      EXPECT_EQ(messages[0], row.message);
    }
    const bool written = row.read && row.chosen;
    EXPECT_EQ(dir.Names(),
              written ? std::vector<std::string>{"p.json"} : std::vector<std::string>{});
    if (!written) continue;
    const std::string text = Slurp(dir / "p.json");
    const config::ProfileRead back = config::ParseProfile(text, "p.json");
    ASSERT_TRUE(back.profile) << back.problem;
    EXPECT_EQ(back.profile->values.size(), config::ProfileFields().size());
    EXPECT_EQ(back.profile->model, "KLX-TX3");
    EXPECT_NE(text.find("\"storeInterval\": 7,"), std::string::npos) << text;
    EXPECT_EQ(text.find("serial"), std::string::npos) << "no identity: " << text;
    EXPECT_EQ(harness.dialog().statusText, "Profile saved");
  }
}

// Catches a field the profile does not name overwritten, a count that counts
// unchanged fields, radio values put into hidden fields, anything sent to the
// tracker, and a malformed profile that does not say where and why.
TEST(ProfileMenu, Load) {
  const char* const kGood =
      "{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 1, \"transmitInterval\": 9,\n"
      " \"wrapMemory\": true}, \"radio\": {\"radioHP\": \"5\"}}\n";
  const struct {
    const char* name;
    const char* commandLine;
    const char* content;  // of p.json; nullptr: the folder itself is chosen
    const char* status;
    const char* message;  // the one message, or nullptr
    const char* transmitInterval;
    const char* radioHP;
  } rows[] = {
      {"normal mode", "kw9", kGood, "Profile loaded: 2 fields changed", nullptr, "9", ""},
      {"calibration mode", "kw9 -tamsk", kGood, "Profile loaded: 3 fields changed",
       "Calibration Mode Enabled", "9", "5"},
      {"nothing differs", "kw9", "{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 1}}",
       "Profile loaded: 0 fields changed", nullptr, "1", ""},
      {"malformed", "kw9", "{\"kw9-profile\": 1,\n\"settings\": {\"storeInterval\": \"x\"}}",
       "Ready", "p.json:2: wrong type: storeInterval must be a whole number", "1", ""},
      {"a folder", "kw9", nullptr, "Ready", " is a folder, not a file: not read", "1", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScratchDir dir;
    if (row.content) Spill(dir / "p.json", row.content);
    FakeSerial serial;
    serial.AddPort("COM1");
    DialogHarness harness(row.commandLine);
    AnswerFiles(harness, dir, {row.content ? "p.json" : "."});
    harness.Run([&](ui::ScriptedWindow& w) {
      w.Type(IDC_COM_PORT, "COM1");
      w.Type(IDC_TRANSMIT_SLOT, "5");  // typed by the user, not in the profile
      w.SystemCommand(IDM_LOAD_PROFILE);
      EXPECT_EQ(w.Text(IDC_STATUS), row.status);
      EXPECT_EQ(w.Text(IDC_TRANSMIT_INTERVAL), row.transmitInterval);
      EXPECT_EQ(w.Text(IDC_RADIO_HP), row.radioHP);
      EXPECT_EQ(w.Check(IDC_WRAP_MEMORY), row.content == kGood ? 1 : 0);
      EXPECT_EQ(w.Text(IDC_TRANSMIT_SLOT), "5");
    });
    EXPECT_TRUE(serial.Port("COM1").writes.empty()) << "a load sends nothing";
    const std::vector<std::string> messages = harness.Messages();
    ASSERT_EQ(messages.size(), row.message ? 1u : 0u);
    if (row.message) {
      EXPECT_NE(messages[0].find(row.message), std::string::npos) << messages[0];
    }
  }
}

// Catches a day taken in local time or off by one before 1970, the serial
// number left out after a Read or put in without one.
TEST(WindowMemory, TrackFileNames) {
  const struct {
    std::optional<uint32_t> serial;
    int64_t unixSeconds;
    const char* name;
  } rows[] = {
      {std::nullopt, 0, "track-19700101.kml"},       {std::nullopt, -1, "track-19691231.kml"},
      {2417, 1772406005, "track-2417-20260301.kml"}, {0, 86399, "track-0-19700101.kml"},
      {65535, 86400, "track-65535-19700102.kml"},
  };
  for (const auto& row : rows) EXPECT_EQ(TrackFileName(row.serial, row.unixSeconds), row.name);
}

// The window program's memory, in a scratch settings folder: the port of a
// completed Read comes back at the next start, each dialog opens where it
// last chose, Read Flash names the file after the tracker read on the port
// shown. Catches a port or folder not kept, a serial number from another
// port, and the window remembering when it was not asked to (kw9cli, tests).
TEST(WindowMemory, PortFoldersAndSuggestedName) {
  const ScratchDir dir;
  platform::SetUserSettingsFolder(dir / "config");
  std::filesystem::create_directory(dir / "profiles");
  Spill(dir / "profiles/p.json", "{\"kw9-profile\": 1}");
  FakeSerial serial;
  serial.AddPort("COM1");
  serial.AddPort("COM2");
  const auto today = [] { return TrackFileName(std::nullopt, UnixNow()); };
  {
    DialogHarness quiet;  // as kw9cli runs the window
    quiet.Run([](ui::ScriptedWindow& w) {
      w.Type(IDC_COM_PORT, "COM1");
      w.Click(IDC_READ);
    });
    EXPECT_FALSE(std::filesystem::exists(dir / "config")) << "nothing kept unless asked";
  }
  std::vector<ui::FileDialogRequest> requests;
  {
    DialogHarness first;
    TheWindowState.keepsUserSettings = true;
    AnswerFiles(first, dir, {std::nullopt, std::nullopt, "profiles/p.json"});
    first.Run([](ui::ScriptedWindow& w) {
      w.Type(IDC_COM_PORT, "COM1");
      w.Click(IDC_READ);
      w.Click(IDC_READ_FLASH);
      w.Type(IDC_COM_PORT, "COM2");
      w.Click(IDC_READ_FLASH);
      w.SystemCommand(IDM_LOAD_PROFILE);
    });
    requests = first.backend().FileDialogs();
  }
  ASSERT_EQ(requests.size(), 3u);
  const std::string date = today().substr(6);  // "YYYYMMDD.kml"
  EXPECT_EQ(requests[0].fileName, "track-2417-" + date);
  EXPECT_EQ(requests[1].fileName, "track-" + date) << "COM2 was not read";
  EXPECT_EQ(requests[2].folder, "");
  {
    DialogHarness second;
    TheWindowState.keepsUserSettings = true;
    AnswerFiles(second, dir, {std::nullopt, std::nullopt});
    second.Run([](ui::ScriptedWindow& w) {
      EXPECT_EQ(w.Text(IDC_COM_PORT), "COM1");
      w.Click(IDC_READ_FLASH);
      w.SystemCommand(IDM_LOAD_PROFILE);
    });
    requests = second.backend().FileDialogs();
  }
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].fileName, "track-" + date) << "no Read in this run";
  EXPECT_EQ(requests[0].folder, "") << "Read Flash's folder is its own";
  EXPECT_TRUE(std::filesystem::equivalent(requests[1].folder, dir / "profiles"));
  platform::SetUserSettingsFolder("");
}

// The seam on every platform (the registry under Windows): catches a value
// not read back, a second save that adds instead of replacing, one name's
// save that loses another's, and a text with a line end kept cut.
TEST(UserSettings, RoundTrip) {
  const ScratchDir dir;
  platform::SetUserSettingsFolder(dir.Path());
  EXPECT_EQ(platform::LoadUserSetting("lastPort"), std::nullopt) << "nothing saved yet";
  const struct {
    const char* name;
    std::string text;
    bool kept;
  } saves[] = {
      {"lastPort", "COM3", true},
      {"folder.readFlash",
       "/home/a b/Gr\xC3\xBC\xC3\x9F"
       "e=x",
       true},
      {"lastPort", "/dev/ttyUSB0", true},
      {"lastPort", "two\nlines", false},
      {"folder.empty", "", true},
  };
  for (const auto& s : saves)
    EXPECT_EQ(platform::SaveUserSetting(s.name, s.text), s.kept) << s.name;
  EXPECT_EQ(platform::LoadUserSetting("lastPort"), "/dev/ttyUSB0");
  EXPECT_EQ(platform::LoadUserSetting("folder.readFlash"), saves[1].text);
  EXPECT_EQ(platform::LoadUserSetting("folder.empty"), "");
  EXPECT_EQ(platform::LoadUserSetting("folder.other"), std::nullopt);
  platform::SetUserSettingsFolder("");
}

}  // namespace
