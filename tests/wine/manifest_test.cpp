// The manifest both programs carry, read out of the built .exe files as
// Windows reads it at start-up (resource type 24, id 1): a missing or
// misspelt entry is silently ignored there, so only reading it back shows it.
// Their version blocks too, as the file's Properties read them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "kw9_version.h"

namespace {

// program: its path in the build tree, which KW9_BUILD names.
std::string PathOf(const char* program) {
  const char* build = std::getenv("KW9_BUILD");
  return build == nullptr ? "" : std::string(build) + "/" + program;
}

std::string ManifestOf(const char* program) {
  const std::string exe = PathOf(program);
  if (exe.empty()) return "";
  const HMODULE module = LoadLibraryExA(exe.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return "";
  std::string text;
  if (const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const HGLOBAL loaded = LoadResource(module, found);
    const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data != nullptr) text.assign(data, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

// Each entry and what is lost without it.
const char* const kEntries[] = {
    // visual styles: without it the controls look twenty years old
    R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
    // sharp at 125-200 %: without it the window is a stretched bitmap
    ">true/pm</dpiAware>",
    ">PerMonitorV2, PerMonitor</dpiAwareness>",
    // names past 260 characters and outside the code page for any ...A call
    ">true</longPathAware>",
    ">UTF-8</activeCodePage>",
    // Windows 10 and 11, 8.1, 8, 7: the system's own behaviour, not an old one's
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    R"(level="asInvoker")",
};

class Manifest : public testing::TestWithParam<const char*> {};

TEST_P(Manifest, HasEveryEntry) {
  const std::string manifest = ManifestOf(GetParam());
  ASSERT_FALSE(manifest.empty()) << GetParam() << ": no manifest resource";
  for (const char* entry : kEntries) {
    EXPECT_NE(manifest.find(entry), std::string::npos) << GetParam() << " lacks " << entry;
  }
}

std::string Dotted(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

// "1, 0, 0, 1" as "1.0.0.1".
std::string WithDots(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  std::replace(text.begin(), text.end(), ',', '.');
  return text;
}

// Both numbers and both strings say the version --version and the About box
// show; a program without a block, or with numbers of its own, fails.
TEST_P(Manifest, VersionBlockSaysTheProjectVersion) {
  const std::string exe = PathOf(GetParam());
  DWORD handle = 0;
  std::vector<char> block(GetFileVersionInfoSizeA(exe.c_str(), &handle));
  ASSERT_FALSE(block.empty()) << GetParam() << ": no version block";
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), KW9_VERSION);
  EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), KW9_VERSION);
  for (const char* name : {"FileVersion", "ProductVersion"}) {
    char* value = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    ASSERT_TRUE(VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &size))
        << GetParam() << " has no " << name;
    EXPECT_EQ(WithDots(value), KW9_VERSION) << GetParam() << " " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, Manifest, testing::Values("app/kw9.exe", "cli/kw9cli.exe"));

}  // namespace
