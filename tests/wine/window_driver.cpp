// kw9.exe driven from outside, as an automation client would drive it: the
// tests start the program, find its windows, read their controls, type,
// press buttons with window messages and answer the message boxes.
//   KW9_EXE        the program (a Windows path)
//   KW9_PORT       when set, a port with a simulated tracker on it
//   KW9_SCREENSHOT when set, where the main window's picture goes (PNG)
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "kw9_version.h"
#include "tests/support/kml_lines.h"

namespace {

using testing_support::FixLines;

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string Text(HWND hwnd) {
  char text[1024] = {};
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                      5000, nullptr);
  return text;
}

std::string ClassName(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

bool Visible(HWND hwnd) {
  return (GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Waits up to ms for found() to give a window.
template <class F>
HWND WaitFor(F found, int ms = 15000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (HWND hwnd = found()) return hwnd;
    Sleep(20);
  }
  return nullptr;
}

struct Search {
  DWORD pid;
  bool (*accept)(HWND);
  HWND found;
};

// A dialog window of the process that accept takes.
HWND FindDialog(DWORD pid, bool (*accept)(HWND)) {
  Search search{pid, accept, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner != s->pid || ClassName(hwnd) != "#32770" || !s->accept(hwnd)) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsMainWindow(HWND hwnd) {
  return Text(hwnd) == "kw9" && GetDlgItem(hwnd, IDC_READ) != nullptr && IsWindowVisible(hwnd);
}
bool IsMessageBox(HWND hwnd) {
  return Text(hwnd) == "kw9" && GetDlgItem(hwnd, IDC_READ) == nullptr && IsWindowVisible(hwnd);
}
bool IsAboutBox(HWND hwnd) {
  return Text(hwnd) == "About kw9" && IsWindowVisible(hwnd);
}

// The texts of a dialog's static controls, in creation order.
std::vector<std::string> StaticTexts(HWND dialog) {
  std::vector<std::string> texts;
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    const bool icon = (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    if (ClassName(c) == "Static" && !icon && !Text(c).empty()) texts.push_back(Text(c));
  }
  return texts;
}

void Press(HWND dialog, int id) {
  // Posted: a handler that opens a message box must not hold this program up.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Key(HWND control, UINT key) {
  PostMessageA(control, WM_KEYDOWN, key, 1);
  PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

class Kw9 {
 public:
  explicit Kw9(const std::string& arguments = "") {
    const char* exe = Env("KW9_EXE");
    if (exe == nullptr) return;
    std::string line = std::string(exe) + (arguments.empty() ? "" : " " + arguments);
    // Every start is a first start: a port or folder an earlier test's
    // window remembered must not show here.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\kw9");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi_)) {
      pi_ = {};
    }
  }
  ~Kw9() {
    if (pi_.hProcess == nullptr) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 9);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool Started() const { return pi_.hProcess != nullptr; }
  HWND Main() {
    return WaitFor([this] { return VisibleMain(); });
  }
  HWND VisibleMain() { return FindDialog(pi_.dwProcessId, IsMainWindow); }
  HWND Find(bool (*accept)(HWND)) {
    return WaitFor([&] { return FindDialog(pi_.dwProcessId, accept); });
  }
  // The next message box's text, answered with OK; empty when none came.
  std::string Answer(int ms = 15000) {
    HWND box = WaitFor([this] { return FindDialog(pi_.dwProcessId, IsMessageBox); }, ms);
    if (box == nullptr) return {};
    lastOwner_ = GetWindow(box, GW_OWNER);
    return Close(box, IDOK);
  }
  // The next box's text, a Yes/No question answered Yes or No and any other
  // box with OK; empty when none came.
  std::string AnswerQuestion(bool yes, int ms = 15000) {
    HWND box = WaitFor([this] { return FindDialog(pi_.dwProcessId, IsMessageBox); }, ms);
    if (box == nullptr) return {};
    return Close(box, GetDlgItem(box, IDYES) == nullptr ? IDOK : yes ? IDYES : IDNO);
  }
  // The exit code, or -1 when the program still runs after ms.
  long Exit(int ms = 10000) {
    if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }
  // The window that owned the last message box answered.
  HWND LastOwner() const { return lastOwner_; }
  // The focus moves back only once the box's window is gone and the main
  // window is active again, so it is waited for; the last one seen is given.
  HWND Focus(HWND expected) {
    HWND focus = nullptr;
    WaitFor(
        [&] {
          GUITHREADINFO info{};
          info.cbSize = sizeof info;
          GetGUIThreadInfo(pi_.dwThreadId, &info);
          focus = info.hwndFocus;
          return focus == expected ? focus : nullptr;
        },
        5000);
    return focus;
  }

 private:
  // A box's last text, once the button pressed has closed it.
  static std::string Close(HWND box, int button) {
    std::vector<std::string> texts = StaticTexts(box);
    Press(box, button);
    WaitFor([box] { return IsWindow(box) ? nullptr : box; });
    return texts.empty() ? "" : texts.back();
  }

  PROCESS_INFORMATION pi_{};
  HWND lastOwner_ = nullptr;
};

#define START_KW9(name, ...)                                                \
  if (!Env("KW9_EXE")) GTEST_SKIP() << "KW9_EXE is not set";                \
  if (!Env("DISPLAY")) GTEST_SKIP() << "no X display (DISPLAY) to draw on"; \
  Kw9 name{__VA_ARGS__};                                                    \
  ASSERT_TRUE(name.Started())

// Writes the window's picture as an 8-bit RGB PNG of stored (uncompressed)
// deflate blocks: no image library needed.
class Png {
 public:
  static bool Write(const char* path, int w, int h, const std::vector<unsigned char>& rgb) {
    std::string raw;
    for (int y = 0; y < h; ++y) {
      raw.push_back('\0');  // no filter
      raw.append(reinterpret_cast<const char*>(&rgb[static_cast<size_t>(y) * w * 3]),
                 static_cast<size_t>(w) * 3);
    }
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
      const size_t n = std::min<size_t>(65535, raw.size() - at);
      z.push_back(at + n >= raw.size() ? 1 : 0);
      for (unsigned v : {static_cast<unsigned>(n), static_cast<unsigned>(~n & 0xFFFF)}) {
        z.push_back(static_cast<char>(v & 0xFF));
        z.push_back(static_cast<char>(v >> 8));
      }
      z.append(raw, at, n);
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
      a = (a + c) % 65521;
      b = (b + a) % 65521;
    }
    z += Be((b << 16) | a);
    std::string ihdr = Be(static_cast<uint32_t>(w)) + Be(static_cast<uint32_t>(h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) +
                            Chunk("IDAT", z) + Chunk("IEND", "");
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  static std::string Be(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
  }
  static std::string Chunk(const char* type, const std::string& data) {
    std::string body = std::string(type) + data;
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : body) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return Be(static_cast<uint32_t>(data.size())) + body + Be(~crc);
  }
};

bool Screenshot(HWND hwnd, const char* path) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  for (int y = 0; y < h; ++y) {
    const auto* row = static_cast<const unsigned char*>(bits) + y * stride;
    for (int x = 0; x < w; ++x) {
      for (int k = 0; k < 3; ++k)
        rgb[(static_cast<size_t>(y) * w + x) * 3 + k] = row[x * 3 + 2 - k];
    }
  }
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return Png::Write(path, w, h, rgb);
}

const int kCalibrationOnly[] = {
    IDC_SERIAL_NUMBER, IDC_RADIO_HP,     IDC_RADIO_MK,     IDC_RADIO_DT,     IDC_RADIO_ID,
    IDC_RADIO_RN,      IDC_RADIO_RR,     IDC_RADIO_RO,     IDC_UPDATE,       IDC_SERIAL_NUMBER_TAG,
    IDC_RADIO_HP_TAG,  IDC_RADIO_MK_TAG, IDC_RADIO_DT_TAG, IDC_RADIO_ID_TAG, IDC_RADIO_RO_TAG,
    IDC_RADIO_RN_TAG,  IDC_RADIO_RR_TAG};

TEST(Kw9Window, StartsInNormalModeWithTheInitialValues) {
  START_KW9(kw9);
  HWND main = kw9.Main();
  ASSERT_NE(main, nullptr) << "no main window";
  for (int id : kCalibrationOnly) EXPECT_FALSE(Visible(GetDlgItem(main, id))) << id;
  EXPECT_FALSE(Visible(GetDlgItem(main, IDC_G_SWITCH_ENABLE)));  // never shown
  EXPECT_FALSE(Visible(GetDlgItem(main, IDC_STORE_HMS)));
  for (int id : {IDC_READ, IDC_WRITE, IDC_READ_FLASH, IDC_CLEAR_FLASH, IDC_GO, IDC_FLASH_TEST,
                 IDC_FIX_KML}) {
    EXPECT_TRUE(Visible(GetDlgItem(main, id))) << id;
  }
  // Every control's text at start: the bound ones show their members.
  const struct {
    int id;
    const char* text;
  } initial[] = {
      {IDC_STATUS, "Ready"},
      {IDC_STORE_INTERVAL, "1"},
      {IDC_TRANSMIT_INTERVAL, "1"},
      {IDC_TRANSMIT_SLOT, "0"},
      {IDC_SERIAL_NUMBER, "0"},
      {IDC_SHUTDOWN_VOLTAGE, ""},
      {IDC_COM_PORT, ""},
      {IDC_MODEL_LABEL, "Model:"},
      {IDC_VERSION_LABEL, "Version:"},
      {IDC_BATTERY_LABEL, "vBattery"},
      {IDC_HOP_CHANNEL_LABEL, "Hopping Channel:"},
      {IDC_RADIO_SERIAL_LABEL, "Serial No:"},
      {IDC_VENDOR_ID_LABEL, "Vendor ID"},
      {IDC_ADDRESS_MASK_LABEL, "Address Mask"},
      {IDC_PERCENT_LABEL, ""},
      {IDC_PROGRAM_VERSION_LABEL, "Version 020 8/09/2013"},
      {IDC_SERIAL_NUMBER_LABEL, "serial #"},
      {IDC_DESTINATION_LABEL, "Dest:"},
      {IDC_RADIO_HP, ""},
      {IDC_RADIO_ID, ""},
      {IDC_RADIO_MK, ""},
      {IDC_RADIO_DT, ""},
      {IDC_RADIO_RO, ""},
      {IDC_RADIO_RN, ""},
      {IDC_RADIO_RR, ""},
      {IDC_READ, "Read"},
      {IDC_WRITE, "Write"},
      {IDC_UPDATE, "Update"},
      {IDC_READ_FLASH, "Read Flash"},
      {IDC_CLEAR_FLASH, "Clear Flash"},
      {IDC_GO, "Go!"},
      {IDC_FLASH_TEST, "Flash Test"},
      {IDC_FIX_KML, "Fix KML"},
      {IDC_WRAP_MEMORY, "Wrap Mem"},
      {IDC_ENABLE_TX_SENTENCE, "Enable $KLXTX"},
      {IDC_SERIAL_NUMBER_TAG, "Ser#"},
      {IDC_RADIO_RR_TAG, "ATRR"},
  };
  for (const auto& c : initial) EXPECT_EQ(Text(GetDlgItem(main, c.id)), c.text) << c.id;
  for (int id :
       {IDC_WRAP_MEMORY, IDC_G_SWITCH_ENABLE, IDC_ENABLE_NMEA, IDC_ENABLE_TX_SENTENCE,
        IDC_LOW_VOLTAGE_SHUTDOWN, IDC_ENABLE_DATA_LOGGING, IDC_METERS_TO_FEET, IDC_STORE_HMS}) {
    EXPECT_EQ(SendMessageA(GetDlgItem(main, id), BM_GETCHECK, 0, 0), BST_UNCHECKED) << id;
  }
  EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_COM_PORT), CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(kw9.Focus(GetDlgItem(main, IDC_READ)), GetDlgItem(main, IDC_READ))
      << "Read has the focus";
  EXPECT_TRUE(GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  // Esc closes without a word, invalid values or not.
  SetWindowTextA(GetDlgItem(main, IDC_STORE_INTERVAL), "abc");
  Key(GetDlgItem(main, IDC_STORE_INTERVAL), VK_ESCAPE);
  EXPECT_EQ(kw9.Exit(), 0);
}

TEST(Kw9Window, CalibrationSwitchShowsItsMessageFirstThenTheHiddenControls) {
  START_KW9(kw9, "-tamsk");
  ASSERT_NE(kw9.Find(IsMessageBox), nullptr) << "no message box";
  EXPECT_EQ(kw9.VisibleMain(), nullptr) << "the window shows only after the message";
  EXPECT_EQ(kw9.Answer(), "Calibration Mode Enabled\n");
  HWND main = kw9.Main();
  ASSERT_NE(main, nullptr);
  for (int id : kCalibrationOnly) EXPECT_TRUE(Visible(GetDlgItem(main, id))) << id;
  EXPECT_FALSE(Visible(GetDlgItem(main, IDC_G_SWITCH_ENABLE)));
  EXPECT_FALSE(Visible(GetDlgItem(main, IDC_STORE_HMS)));
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

TEST(Kw9Window, AboutBoxFromTheSystemMenuAndEnterThatValidates) {
  START_KW9(kw9);
  HWND main = kw9.Main();
  ASSERT_NE(main, nullptr);
  PostMessageA(main, WM_SYSCOMMAND, 16, 0);
  HWND about = kw9.Find(IsAboutBox);
  ASSERT_NE(about, nullptr) << "no About box";
  const std::vector<std::string> lines = StaticTexts(about);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "kw9 Version " KW9_VERSION);
  HWND icon = GetWindow(about, GW_CHILD);
  EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0) << "the About box shows the icon";
  Press(about, IDOK);
  EXPECT_EQ(WaitFor([about] { return IsWindow(about) ? nullptr : about; }), about);
  // Enter in a field: an invalid value keeps the window, valid ones end it.
  HWND store = GetDlgItem(main, IDC_STORE_INTERVAL);
  SetWindowTextA(store, "300");
  Key(store, VK_RETURN);
  EXPECT_EQ(kw9.Answer(), "Please enter an integer between 1 and 255.");
  EXPECT_EQ(kw9.LastOwner(), main) << "message boxes belong to the main window";
  EXPECT_EQ(kw9.Exit(300), -1) << "the window stays";
  EXPECT_EQ(kw9.Focus(store), store);
  SetWindowTextA(store, "12");
  Key(store, VK_RETURN);
  EXPECT_EQ(kw9.Exit(), 0);
}

// The program file itself: icon, string and version block as the resource
// compiler put them there.
TEST(Kw9Program, CarriesItsIconStringAndVersionBlock) {
  const char* exe = Env("KW9_EXE");
  if (exe == nullptr) GTEST_SKIP() << "KW9_EXE is not set";
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << exe;
  char text[64] = {};
  LoadStringA(module, 101, text, sizeof text);
  EXPECT_STREQ(text, "&About kw9...");
  HRSRC group =
      FindResourceA(module, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr) << "no icon 128";
  const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
  // Every size Windows asks for at 100-200 % scaling; 0 stands for 256.
  const BYTE sides[] = {16, 24, 32, 48, 0};
  ASSERT_EQ(static_cast<size_t>(dir[4]), std::size(sides)) << "images";
  for (size_t i = 0; i < std::size(sides); ++i) {
    const BYTE* entry = dir + 6 + 14 * i;  // width, height, colours, 0, planes, bits, ...
    EXPECT_EQ(entry[0], sides[i]) << i;
    EXPECT_EQ(entry[1], sides[i]) << i;
    EXPECT_EQ(entry[6] | entry[7] << 8, 32) << i << ": colour with transparency";
  }
  FreeLibrary(module);

  DWORD handle = 0;
  std::vector<char> block(GetFileVersionInfoSizeA(exe, &handle));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoA(exe, 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &size));
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);
  const struct {
    const char* name;
    const char* value;
  } strings[] = {
      {"FileVersion", "1, 0, 0, 1"},   {"ProductVersion", "1, 0, 0, 1"},   {"InternalName", "kw9"},
      {"OriginalFilename", "kw9.EXE"}, {"ProductName", "kw9 Application"}, {"CompanyName", ""},
      {"LegalTrademarks", ""}};
  for (const auto& entry : strings) {
    char* value = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + entry.name;
    ASSERT_TRUE(VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &size))
        << entry.name;
    EXPECT_STREQ(size > 0 ? value : "", entry.value) << entry.name;
  }
}

bool IsFileDialog(HWND hwnd);
// Types a Windows path into the open or save dialog that comes up, and
// confirms it.
bool ChooseFile(Kw9& kw9, std::string path);

TEST(Kw9Window, FixKmlRepairsTheChosenFileThroughTheTwoDialogs) {
  START_KW9(kw9);
  HWND main = kw9.Main();
  ASSERT_NE(main, nullptr);
  char folder[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  const std::string input =
      std::string(folder) + "kw9-fix-in-" + std::to_string(GetCurrentProcessId()) + ".kml";
  const std::string output = input.substr(0, input.size() - 4) + "-out.kml";
  FILE* f = std::fopen(input.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("<coordinates>, 7.1, 50.2\n", f);
  std::fclose(f);
  Press(main, IDC_FIX_KML);
  EXPECT_EQ(kw9.Answer(), "First select an input file");
  ASSERT_TRUE(ChooseFile(kw9, input));
  EXPECT_EQ(kw9.Answer(), "Now select an output file");
  ASSERT_TRUE(ChooseFile(kw9, output));
  EXPECT_EQ(kw9.Answer(), "KML file fixed");
  std::string repaired;
  if (FILE* in = std::fopen(output.c_str(), "rb")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, in) != nullptr) repaired = line;
    std::fclose(in);
  }
  EXPECT_EQ(repaired, "<coordinates>7.1,50.2\r\n");
  DeleteFileA(input.c_str());
  DeleteFileA(output.c_str());
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

// The tracker tests share one simulated tracker and run in this order: the
// download comes before the tests that overwrite or erase its log memory.
class Kw9Tracker : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = Env("KW9_PORT");
    if (port_ == nullptr) GTEST_SKIP() << "KW9_PORT is not set";
  }
  // Starts kw9 and reads the tracker, as every session with it begins.
  HWND StartAndRead(Kw9& kw9) {
    HWND main = kw9.Main();
    if (main == nullptr) return nullptr;
    SetWindowTextA(GetDlgItem(main, IDC_COM_PORT), port_);
    Press(main, IDC_READ);
    return WaitForStatus(main, "Read Complete") ? main : nullptr;
  }
  static bool WaitForStatus(HWND main, const char* text) {
    HWND status = GetDlgItem(main, IDC_STATUS);
    return WaitFor([&] { return Text(status) == text ? status : nullptr; }) != nullptr;
  }
  const char* port_ = nullptr;
};

bool IsFileDialog(HWND hwnd) {
  return IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDC_READ) == nullptr &&
         (GetDlgItem(hwnd, 1152) != nullptr || GetDlgItem(hwnd, 1148) != nullptr);
}
bool IsClearFlashDialog(HWND hwnd) {
  return IsWindowVisible(hwnd) && Text(hwnd) == "Dialog";
}

bool ChooseFile(Kw9& kw9, std::string path) {
  HWND dialog = kw9.Find(IsFileDialog);
  if (dialog == nullptr) return false;
  for (char& c : path) {
    if (c == '/') c = '\\';  // as a user types a Windows path
  }
  HWND name =
      GetDlgItem(dialog, 1152) != nullptr ? GetDlgItem(dialog, 1152) : GetDlgItem(dialog, 1148);
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  Press(dialog, IDOK);
  return WaitFor([dialog] { return IsWindow(dialog) ? nullptr : dialog; }) != nullptr;
}

std::string FileContents(const std::string& path) {
  std::string data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.append(buffer, n);
    std::fclose(f);
  }
  return data;
}

TEST_F(Kw9Tracker, ReadShowsTheTrackerOnTheChosenPort) {
  START_KW9(kw9);
  HWND main = kw9.Main();
  ASSERT_NE(main, nullptr);
  HWND combo = GetDlgItem(main, IDC_COM_PORT);
  // The list offers the port once it drops down.
  SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
  EXPECT_GE(SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(port_)),
            0);
  SetWindowTextA(combo, port_);
  Press(main, IDC_READ);
  ASSERT_TRUE(WaitForStatus(main, "Read Complete")) << Text(GetDlgItem(main, IDC_STATUS));
  EXPECT_EQ(Text(GetDlgItem(main, IDC_MODEL_LABEL)), "Model: KLX-TX3");
  if (const char* shot = Env("KW9_SCREENSHOT")) {
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    EXPECT_TRUE(Screenshot(main, shot)) << shot;
  }
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

TEST_F(Kw9Tracker, ReadFlashSavesTheGoldenTrackThroughTheSaveDialog) {
  const char* work = Env("KW9_WORK");
  const char* golden = Env("KW9_GOLDEN");
  if (work == nullptr || golden == nullptr) GTEST_SKIP() << "KW9_WORK, KW9_GOLDEN not set";
  START_KW9(kw9);
  HWND main = StartAndRead(kw9);
  ASSERT_NE(main, nullptr);
  Press(main, IDC_READ_FLASH);
  // Typed without its extension: the dialog adds .kml.
  const std::string typed = std::string(work) + "/window-track";
  ASSERT_TRUE(ChooseFile(kw9, typed)) << "no save dialog";
  EXPECT_EQ(kw9.Answer(60000), "Done Reading Flash");
  EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 50);
  const std::string written = FileContents(typed + ".kml");
  EXPECT_FALSE(written.empty()) << typed << ".kml";
  // The golden bytes, then the download's stamp naming the tracker just read.
  const testing_support::StampedKml split = testing_support::SplitStamp(written);
  EXPECT_TRUE(split.body == FileContents(golden)) << "the file differs from " << golden;
  EXPECT_EQ(split.stamp.rfind("<!-- kw9 download 20", 0), 0u) << split.stamp;
  EXPECT_NE(split.stamp.find("Z model KLX-TX3 firmware 20 serial 2417 -->"), std::string::npos)
      << split.stamp;
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

enum class CloseBy { kEsc, kSysClose, kWmClose, kLogOff, kLogOffNow };

// Closing while a worker runs, at the first block, the middle and near the
// end of a download and during an erase: Esc, the close box (the system
// menu's Close and Alt+F4 come as the same SC_CLOSE), WM_CLOSE, and a
// log-off that asks (refused: the No row) or that cannot wait. Catches a
// close that does not ask, a No that closes or stops the download, a
// download lost or cut off mid-file, a temporary file left, a log-off that
// cannot wait being asked, and a program that does not end with 0.
TEST_F(Kw9Tracker, ClosingDuringAWorkerAsksAndKeepsWhatArrived) {
  const char* work = Env("KW9_WORK");
  const char* golden = Env("KW9_GOLDEN");
  if (work == nullptr || golden == nullptr) GTEST_SKIP() << "KW9_WORK, KW9_GOLDEN not set";
  const std::string stop = "A download is in progress. Stop it and keep what has arrived?";
  const std::string erase =
      "The tracker is erasing its memory and goes on by itself. Close anyway?";
  const std::vector<std::string> goldenFixes = FixLines(FileContents(golden));
  ASSERT_FALSE(goldenFixes.empty());
  const struct {
    const char* what;
    bool download;  // else an erase
    int barAt;      // the close comes once the bar (0..50) reached this
    CloseBy how;
    bool yes;
  } cases[] = {
      {"Esc, first block", true, 0, CloseBy::kEsc, true},
      {"close box, middle", true, 12, CloseBy::kSysClose, true},
      {"WM_CLOSE, near the end", true, 49, CloseBy::kWmClose, true},
      {"log-off, asked and refused", true, 12, CloseBy::kLogOff, false},
      {"log-off that cannot wait", true, 12, CloseBy::kLogOffNow, true},
      {"erase", false, 0, CloseBy::kSysClose, true},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    START_KW9(kw9);
    HWND main = StartAndRead(kw9);
    ASSERT_NE(main, nullptr);
    const std::string target = std::string(work) + "/closed-" + std::to_string(++row) + ".kml";
    if (c.download) {
      Press(main, IDC_READ_FLASH);
      ASSERT_TRUE(ChooseFile(kw9, target));
    } else {
      Press(main, IDC_CLEAR_FLASH);
      HWND confirm = kw9.Find(IsClearFlashDialog);
      ASSERT_NE(confirm, nullptr) << "no erase confirmation";
      Press(confirm, IDOK);
      Sleep(300);
    }
    HWND bar = GetDlgItem(main, IDC_PROGRESS);
    ASSERT_NE(
        WaitFor([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) >= c.barAt ? bar : nullptr; },
                60000),
        nullptr)
        << "the download never got there";
    LRESULT endSession = -1;
    std::thread logOff;
    switch (c.how) {
      case CloseBy::kEsc:
        Key(GetDlgItem(main, IDC_STORE_INTERVAL), VK_ESCAPE);
        break;
      case CloseBy::kSysClose:
        PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
      case CloseBy::kWmClose:
        PostMessageA(main, WM_CLOSE, 0, 0);
        break;
      case CloseBy::kLogOff:
      case CloseBy::kLogOffNow: {
        const LPARAM how = ENDSESSION_LOGOFF | (c.how == CloseBy::kLogOffNow ? 0x40000000 : 0);
        logOff = std::thread([&endSession, main, how] {
          DWORD_PTR answer = 0;
          SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, how, SMTO_NORMAL, 60000, &answer);
          endSession = static_cast<LRESULT>(answer);
        });
        break;
      }
    }
    if (c.barAt >= 49) {
      // The download may be done before the close is taken (then only its
      // last message is open, and the window closes once it is read), or
      // finish while the question is open: each box is answered as it comes.
      std::vector<std::string> told;
      for (std::string t; told.size() < 3 && !(t = kw9.AnswerQuestion(c.yes, 5000)).empty();) {
        told.push_back(t);
      }
      EXPECT_FALSE(told.empty());
      for (const std::string& t : told) EXPECT_TRUE(t == stop || t == "Done Reading Flash") << t;
    } else if (c.how != CloseBy::kLogOffNow) {
      EXPECT_EQ(kw9.AnswerQuestion(c.yes), c.download ? stop : erase);
    }
    if (logOff.joinable()) {
      logOff.join();
      EXPECT_EQ(endSession, c.yes ? TRUE : FALSE) << "the log-off's answer";
      if (c.yes) {
        // The session's end, then the window closed with nothing running.
        SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                            nullptr);
        EXPECT_EQ(kw9.Exit(300), -1) << "the window stays until it is closed";
        PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
    }
    if (!c.yes) {
      EXPECT_EQ(kw9.Exit(300), -1) << "No closed the window";
      EXPECT_EQ(kw9.Answer(60000), "Done Reading Flash");
      PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    EXPECT_EQ(kw9.Exit(30000), 0);
    if (!c.download) {
      Sleep(2000);  // the tracker finishes its erase before the next row reads it
      continue;
    }
    WIN32_FIND_DATAA found;
    int files = 0;
    HANDLE search = FindFirstFileA((target + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do ++files;
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
    EXPECT_EQ(files, 1) << "no file, or a temporary file beside it";
    const std::string written = FileContents(target);
    EXPECT_NE(written.find("</kml>\r\n"), std::string::npos);
    EXPECT_EQ(written.substr(written.size() - std::min<size_t>(written.size(), 5)), "-->\r\n");
    const std::vector<std::string> fixes = FixLines(written);
    EXPECT_LE(fixes.size(), goldenFixes.size());
    EXPECT_TRUE(std::equal(fixes.begin(), fixes.end(), goldenFixes.begin()))
        << "the fixes are no beginning of the golden track's";
    if (!c.yes) {
      EXPECT_EQ(fixes.size(), goldenFixes.size()) << "No stopped the download";
    }
    DeleteFileA(target.c_str());
  }
}

TEST_F(Kw9Tracker, WriteRefusesAnInvalidFieldAndWritesAValidOne) {
  START_KW9(kw9);
  HWND main = StartAndRead(kw9);
  ASSERT_NE(main, nullptr);
  HWND store = GetDlgItem(main, IDC_STORE_INTERVAL);
  SetWindowTextA(store, "300");
  Press(main, IDC_WRITE);
  EXPECT_EQ(kw9.Answer(), "Please enter an integer between 1 and 255.");
  EXPECT_EQ(kw9.Focus(store), store);
  EXPECT_EQ(Text(GetDlgItem(main, IDC_STATUS)), "Read Complete") << "nothing was written";
  SetWindowTextA(store, "33");
  Press(main, IDC_WRITE);
  EXPECT_TRUE(WaitForStatus(main, "Write Complete"));
  SetWindowTextA(store, "1");
  Press(main, IDC_READ);
  EXPECT_TRUE(WaitForStatus(main, "Read Complete"));
  EXPECT_EQ(Text(store), "33") << "the tracker kept the written value";
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

TEST_F(Kw9Tracker, UpdateInCalibrationModeCommitsTheRadioAndTheSerialNumber) {
  START_KW9(kw9, "-tamsk");
  EXPECT_EQ(kw9.Answer(), "Calibration Mode Enabled\n");
  HWND main = StartAndRead(kw9);
  ASSERT_NE(main, nullptr);
  SetWindowTextA(GetDlgItem(main, IDC_RADIO_ID), "1234");       // ATID
  SetWindowTextA(GetDlgItem(main, IDC_SERIAL_NUMBER), "4321");  // serial number
  Press(main, IDC_UPDATE);
  EXPECT_EQ(kw9.Answer(), "Committing Data\n");
  SetWindowTextA(GetDlgItem(main, IDC_RADIO_ID), "");
  SetWindowTextA(GetDlgItem(main, IDC_SERIAL_NUMBER), "0");
  Press(main, IDC_READ);
  EXPECT_TRUE(WaitForStatus(main, "Read Complete"));
  // The identity written reads back whole.
  EXPECT_EQ(Text(GetDlgItem(main, IDC_VENDOR_ID_LABEL)), "Vendor ID 1234");
  EXPECT_EQ(Text(GetDlgItem(main, IDC_SERIAL_NUMBER_LABEL)), "Serial #: 4321");
  EXPECT_EQ(Text(GetDlgItem(main, IDC_SERIAL_NUMBER)), "4321");
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

TEST_F(Kw9Tracker, FlashTestGoAndClearFlash) {
  START_KW9(kw9);
  HWND main = StartAndRead(kw9);
  ASSERT_NE(main, nullptr);
  Press(main, IDC_FLASH_TEST);
  EXPECT_EQ(kw9.Answer(), "I2C Read Test Passed");
  Press(main, IDC_CLEAR_FLASH);
  HWND confirm = kw9.Find(IsClearFlashDialog);
  ASSERT_NE(confirm, nullptr) << "no erase confirmation";
  Press(confirm, IDOK);  // CLEAR
  EXPECT_EQ(kw9.Answer(60000), "Done Clearing Flash");
  Press(main, IDC_GO);
  EXPECT_TRUE(WaitForStatus(main, "TX running, Enter a command to stop"));
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kw9.Exit(), 0);
}

}  // namespace
