// The Win32 serial layer. Win32Serial needs no device; Com1 needs Wine's COM1
// linked to a running trackersim with --size 1024 and the image named by
// KW9_COM1_IMAGE, which com1_test.sh sets up before it runs that suite.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/serial/port_list.h"
#include "platform/serial/serial.h"

namespace {

using platform::LineSettings;
using platform::MonotonicMicros;
using platform::NativeSerial;
using platform::SerialPort;
using platform::SleepMs;
using platform::Timeouts;

constexpr LineSettings k9600_8N1{9600, 8, 0, 0};
constexpr Timeouts kLinkTimeouts{5000, 5000, 5000, 5000, 5000};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<SerialPort> Open(const std::string& name) {
  platform::OpenError why;
  return NativeSerial().Open(name, why);
}

// Catches a failed open that does not say why, or says the wrong thing. A
// file another program holds stands in for a port in use: Wine does not
// enforce share mode 0 on a serial device.
TEST(Win32Serial, OpenSaysWhyItFails) {
  char dir[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
  const std::string held = std::string(dir) + "kw9_held_" + std::to_string(GetCurrentProcessId());
  HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const struct {
    std::string name;
    platform::OpenFailure reason;
  } cases[] = {
      {"", platform::OpenFailure::kNoDevice},  // the device "\\.\" itself
      {"COM60", platform::OpenFailure::kNoDevice},
      {"NOSUCHPORT", platform::OpenFailure::kNoDevice},
      {held, platform::OpenFailure::kBusy},
      // Devices that open, or fail to, as no port: as Linux says of /dev/null.
      {"NUL", platform::OpenFailure::kNotSerial},
      {"con", platform::OpenFailure::kNotSerial},
      {"CONOUT$", platform::OpenFailure::kNotSerial},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::OpenError why;
    EXPECT_EQ(NativeSerial().Open(c.name, why), nullptr);
    EXPECT_EQ(why.reason, c.reason);
  }
  CloseHandle(holder);
}

// A port the device installer knows, made in the Wine prefix for the test
// and removed again.
class InstalledPort {
 public:
  InstalledPort(const wchar_t* portName, const wchar_t* friendlyName, const wchar_t* hardwareIds,
                size_t idsBytes) {
    set_ = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    device_.cbSize = sizeof device_;
    made_ = SetupDiCreateDeviceInfoW(set_, L"KW9TESTPORT", &kPortsClass, nullptr, nullptr,
                                     DICD_GENERATE_ID, &device_) &&
            SetupDiRegisterDeviceInfo(set_, &device_, 0, nullptr, nullptr, nullptr);
    if (!made_) return;
    SetupDiSetDeviceRegistryPropertyW(
        set_, &device_, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendlyName),
        static_cast<DWORD>((wcslen(friendlyName) + 1) * sizeof(wchar_t)));
    SetupDiSetDeviceRegistryPropertyW(set_, &device_, SPDRP_HARDWAREID,
                                      reinterpret_cast<const BYTE*>(hardwareIds),
                                      static_cast<DWORD>(idsBytes));
    const HKEY key =
        SetupDiCreateDevRegKeyW(set_, &device_, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    made_ = key != INVALID_HANDLE_VALUE;
    if (!made_) return;
    RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                   static_cast<DWORD>((wcslen(portName) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  ~InstalledPort() {
    if (made_) SetupDiRemoveDevice(set_, &device_);
    SetupDiDestroyDeviceInfoList(set_);
  }
  InstalledPort(const InstalledPort&) = delete;
  InstalledPort& operator=(const InstalledPort&) = delete;
  bool Made() const { return made_; }

 private:
  static constexpr GUID kPortsClass = {
      0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  HDEVINFO set_;
  SP_DEVINFO_DATA device_{};
  bool made_ = false;
};

// Catches the walk over the device installer missing a port, its friendly
// name, its ids or its number above COM9; and, once it knows none again, the
// list no longer falling back to the COM names that answer.
TEST(Win32Serial, PortsByTheirDeviceManagerNames) {
  const std::vector<platform::PortInfo> before = NativeSerial().ListPorts();
  {
    const wchar_t ids[] = L"USB\\VID_0403&PID_6001&REV_0600\0USB\\VID_0403&PID_6001\0";
    const InstalledPort port(L"COM17", L"USB Serial Port (COM17)", ids, sizeof ids);
    ASSERT_TRUE(port.Made()) << GetLastError();
    std::vector<std::string> rows;
    for (const platform::PortInfo& p : NativeSerial().ListPorts()) {
      rows.push_back(p.name + "|" + p.devicePath + "|" + p.description + "|" + p.vidPid +
                     (p.busy ? "|busy" : ""));
    }
    EXPECT_EQ(rows,
              std::vector<std::string>{"COM17|\\\\.\\COM17|USB Serial Port (COM17)|0403:6001"});
  }
  EXPECT_EQ(NativeSerial().ListPorts().size(), before.size());
  if (UnderWine()) {
    // Wine's installer knows no port; Wine answers for COM1 to COM9.
    ASSERT_EQ(before.size(), 9u);
    EXPECT_EQ(before.front().name, "COM1");
  }
}

class Com1 : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = Open("COM1");
    ASSERT_NE(port_, nullptr) << "COM1 did not open; com1_test.sh links it to trackersim";
    ASSERT_TRUE(port_->SetState(k9600_8N1));
    port_->RaiseDtr();  // refused on a pseudo-terminal, and the link does not look either
    ASSERT_TRUE(port_->SetTimeouts(kLinkTimeouts));
  }

  void Send(std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> data(bytes);
    size_t written = 0;
    EXPECT_TRUE(port_->Write(data.data(), data.size(), written));
    EXPECT_EQ(written, data.size());
  }

  // Reads n bytes in one call; the count is what the call reported.
  std::vector<uint8_t> ReadOnce(size_t n) {
    std::vector<uint8_t> data(n, 0xEE);
    size_t got = 0;
    EXPECT_TRUE(port_->Read(data.data(), n, got));
    data.resize(got);
    return data;
  }

  std::unique_ptr<SerialPort> port_;
};

// Each field lands where Windows keeps it: distinct values read back in place.
TEST_F(Com1, SettingsAndTimeoutsReadBackAsApplied) {
  // A pseudo-terminal keeps only 8 data bits and no parity, so those two stay.
  for (const LineSettings& s : {LineSettings{19200, 8, 0, TWOSTOPBITS}, k9600_8N1}) {
    SCOPED_TRACE(s.baudRate);
    ASSERT_TRUE(port_->SetState(s));
    LineSettings back{};
    ASSERT_TRUE(port_->GetState(back));
    EXPECT_EQ(back.baudRate, s.baudRate);
    EXPECT_EQ(back.byteSize, s.byteSize);
    EXPECT_EQ(back.parity, s.parity);
    EXPECT_EQ(back.stopBits, s.stopBits);
  }
  for (const Timeouts& t : {Timeouts{1, 2, 3, 4, 5}, kLinkTimeouts}) {
    SCOPED_TRACE(t.readInterval);
    ASSERT_TRUE(port_->SetTimeouts(t));
    Timeouts back{};
    ASSERT_TRUE(port_->GetTimeouts(back));
    EXPECT_EQ(back.readInterval, t.readInterval);
    EXPECT_EQ(back.readTotalMultiplier, t.readTotalMultiplier);
    EXPECT_EQ(back.readTotalConstant, t.readTotalConstant);
    EXPECT_EQ(back.writeTotalMultiplier, t.writeTotalMultiplier);
    EXPECT_EQ(back.writeTotalConstant, t.writeTotalConstant);
  }
}

// The reply-line reader takes one byte per read and relies on LF CR arriving
// untranslated, with nothing after it.
TEST_F(Com1, PingAnswerArrivesOneByteAtATime) {
  Send({'?'});
  for (const uint8_t expected : std::initializer_list<uint8_t>{'O', 'K', 0x0A, 0x0D}) {
    EXPECT_EQ(ReadOnce(1), std::vector<uint8_t>{expected});
  }
  ASSERT_TRUE(port_->SetTimeouts({0, 0, 200, 5000, 5000}));
  EXPECT_TRUE(ReadOnce(1).empty()) << "a byte beyond the answer";
}

// The 1024-form block read: "J", a 1 ms pause, three address bytes in one
// write, then 16 memory bytes and LF CR in one read. The image holds every
// byte value, so a line that eats XON/XOFF or translates CR or LF shows here.
TEST_F(Com1, BlockReadsCarryEveryByteValue) {
  const char* imagePath = std::getenv("KW9_COM1_IMAGE");
  ASSERT_NE(imagePath, nullptr) << "KW9_COM1_IMAGE names trackersim's log image";
  std::ifstream in(imagePath, std::ios::binary);
  ASSERT_TRUE(in) << imagePath;
  const std::vector<uint8_t> image{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  ASSERT_GE(image.size(), 512u);

  const int64_t start = MonotonicMicros();
  int blocks = 0;
  // 0x10 first: the block the download asks for second, with XON and XOFF in it.
  std::vector<size_t> addresses{0x10};
  for (size_t a = 0; a < 512; a += 16) {
    if (a != 0x10) addresses.push_back(a);
  }
  for (const size_t address : addresses) {
    SCOPED_TRACE(address);
    Send({'J'});
    SleepMs(1);
    Send({0x00, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)});
    std::vector<uint8_t> expected(image.begin() + address, image.begin() + address + 16);
    expected.insert(expected.end(), {0x0A, 0x0D});
    ASSERT_EQ(ReadOnce(18), expected);
    ++blocks;
  }
  std::printf("block read round trip: %.2f ms over %d blocks\n",
              static_cast<double>(MonotonicMicros() - start) / 1000.0 / blocks, blocks);
}

// A time-out ends a read with a short count and success, never an error; the
// interval time-out ends it well before the total one would.
TEST_F(Com1, TimeoutsEndReadsWithAShortCount) {
  struct Case {
    const char* what;
    bool ping;  // "OK" LF CR on the line first
    Timeouts timeouts;
    size_t request;
    size_t got;
    int64_t minMs;
    int64_t maxMs;
  };
  const Case cases[] = {
      {"gap after the answer", true, {300, 1000, 0, 5000, 5000}, 10, 4, 250, 3000},
      {"silence, total time-out", false, {0, 100, 200, 5000, 5000}, 3, 0, 450, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(port_->SetTimeouts(c.timeouts));
    if (c.ping) Send({'?'});
    const int64_t start = MonotonicMicros();
    EXPECT_EQ(ReadOnce(c.request).size(), c.got);
    const int64_t ms = (MonotonicMicros() - start) / 1000;
    EXPECT_GE(ms, c.minMs);
    EXPECT_LE(ms, c.maxMs);
  }
}

// An answer nobody read (an erase's progress bytes, say) must not reach the
// next program that opens the port as its first reply.
TEST_F(Com1, OpenDiscardsWhatAnEarlierProgramLeft) {
  Send({'?'});
  SleepMs(300);  // "OK" LF CR is on the line now
  port_.reset();
  port_ = Open("COM1");
  ASSERT_NE(port_, nullptr);
  ASSERT_TRUE(port_->SetTimeouts({0, 0, 300, 5000, 5000}));
  EXPECT_TRUE(ReadOnce(4).empty()) << "the new open read the old answer";
  Send({'?'});
  EXPECT_EQ(ReadOnce(4), (std::vector<uint8_t>{'O', 'K', 0x0A, 0x0D}));
}

TEST_F(Com1, PortIsHeldExclusively) {
  const bool secondOpened = Open("COM1") != nullptr;
  port_.reset();
  EXPECT_NE(Open("COM1"), nullptr) << "closing did not release the port";
  if (secondOpened && UnderWine()) {
    GTEST_SKIP() << "Wine does not enforce share mode 0 on a serial device";
  }
  EXPECT_FALSE(secondOpened) << "a second open of a port in use succeeded";
}

// The port list probes COM1 to COM63 this way. (Wine answers yes for COM1 to
// COM9 whatever is there, so only the two ends are asked.)
TEST_F(Com1, PortExistsForAPortThatIsThereOnly) {
  struct Case {
    const char* name;
    bool exists;
  };
  for (const Case c : {Case{"COM1", true}, Case{"COM60", false}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NativeSerial().PortExists(c.name), c.exists);
  }
}

}  // namespace
