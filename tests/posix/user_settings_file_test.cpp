// The user's settings file on Linux: where it lives by the XDG rule, and what
// a damaged one gives. Every case points HOME and XDG_CONFIG_HOME at a
// scratch folder, never at the user's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/os/user_settings.h"
#include "tests/support/scratch_dir.h"

using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;

namespace {

// Catches a damaged file taken for settings (or its garbage returned), a
// line end from another system kept in the value, and a damaged file that
// stops the next save.
TEST(UserSettingsFile, DamagedFiles) {
  const struct {
    const char* name;
    std::string content;
    std::optional<std::string> lastPort;
  } rows[] = {
      {"missing", "", std::nullopt},
      {"garbage",
       std::string("\x7F"
                   "ELF\0\x01=lastPort\xFF\n",
                   16),
       std::nullopt},
      {"lines without a name", "no equals sign\n=COM9\nlastPort=COM3\n", "COM3"},
      {"Windows line ends", "lastPort=COM3\r\n", "COM3"},
      {"given twice", "lastPort=COM3\nlastPort=COM4", "COM4"},
      {"larger than any settings", "lastPort=COM3\n" + std::string(70000, 'x'), std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScratchDir dir;
    platform::SetUserSettingsFolder(dir.Path());
    if (!row.content.empty()) {
      std::filesystem::create_directory(dir / "kw9");
      Spill(dir / "kw9/settings", row.content);
    }
    EXPECT_EQ(platform::LoadUserSetting("lastPort"), row.lastPort);
    ASSERT_TRUE(platform::SaveUserSetting("folder.readFlash", "/tmp"));
    EXPECT_EQ(platform::LoadUserSetting("folder.readFlash"), "/tmp");
    EXPECT_EQ(platform::LoadUserSetting("lastPort"), row.lastPort) << "kept by the save";
  }
  platform::SetUserSettingsFolder("");
}

// Catches $XDG_CONFIG_HOME ignored, a relative one taken (the XDG rule
// ignores it), and the ~/.config fallback missing.
TEST(UserSettingsFile, XdgConfigFolder) {
  const ScratchDir dir;
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
  platform::SetUserSettingsFolder("");
  setenv("HOME", (dir / "home").c_str(), 1);
  const struct {
    const char* xdg;  // nullptr: unset
    const char* file;
  } rows[] = {
      {"{dir}/xdg", "xdg/kw9/settings"},
      {"relative/xdg", "home/.config/kw9/settings"},
      {nullptr, "home/.config/kw9/settings"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.xdg ? row.xdg : "unset");
    std::filesystem::remove_all(dir / "xdg");
    std::filesystem::remove_all(dir / "home");
    if (row.xdg) {
      std::string value = row.xdg;
      if (value.rfind("{dir}", 0) == 0) value = dir.Path() + value.substr(5);
      setenv("XDG_CONFIG_HOME", value.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    ASSERT_TRUE(platform::SaveUserSetting("lastPort", "ttyUSB0"));
    EXPECT_EQ(Slurp(dir / row.file), "lastPort=ttyUSB0\n");
  }
  setenv("HOME", savedHome.c_str(), 1);
  if (savedXdg) {
    setenv("XDG_CONFIG_HOME", savedXdg->c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
