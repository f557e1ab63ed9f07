// The Linux port list, read from a system tree of the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "platform/serial/port_list_linux.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

// sysfs laid out as the kernel does it for a USB adapter (usb-serial hangs
// its tty on a port below the interface), an ACM device (on the interface
// itself), a real UART and a placeholder ttyS; their device nodes; and /proc
// with a modem prober holding the ACM device.
class FakeSystem {
 public:
  FakeSystem() {
    const std::string usb = "sys/devices/pci0000:00/usb1/",
                      uart = "sys/devices/platform/serial8250/";
    const std::string adapter = usb + "1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0",
                      acm = usb + "1-2/1-2:1.0/tty/ttyACM0";
    const std::pair<std::string, std::string> files[] = {
        // The root hub has ids too: a walk past the adapter finds these.
        {usb + "idVendor", "1d6b"},
        {usb + "idProduct", "0002"},
        {usb + "product", "xHCI Host"},
        {usb + "1-1/idVendor", "0403"},
        {usb + "1-1/idProduct", "6001"},
        {usb + "1-1/product", "FT232R USB UART"},
        {usb + "1-2/idVendor", "2341"},
        {usb + "1-2/idProduct", "0043"},
        {usb + "1-2/product", "Arduino Uno"},
        {uart + "tty/ttyS0/type", "4"},
        {uart + "tty/ttyS1/type", "0"},  // 0: no UART
        {"dev/ttyS0", ""},
        {"dev/ttyUSB0", ""},
        {"dev/ttyACM0", ""},
        {"dev/null", ""},
        {"proc/4242/comm", "ModemManager"}};
    for (const auto& [path, text] : files) {
      fs::create_directories((root_ / path).parent_path());
      std::ofstream(root_ / path) << text << "\n";
    }
    const std::pair<std::string, std::string> links[] = {
        {adapter + "/device", "../../../ttyUSB0"},
        {"sys/class/tty/ttyUSB0", "../../" + adapter.substr(4)},
        {acm + "/device", "../../../1-2:1.0"},
        {"sys/class/tty/ttyACM0", "../../" + acm.substr(4)},
        {uart + "tty/ttyS0/device", "../../../serial8250"},
        {"sys/class/tty/ttyS0", "../../" + uart.substr(4) + "tty/ttyS0"},
        {uart + "tty/ttyS1/device", "../../../serial8250"},
        {"sys/class/tty/ttyS1", "../../" + uart.substr(4) + "tty/ttyS1"},
        {"proc/4242/fd/9", Path("dev/ttyACM0")},
        {"proc/4243/fd/0", Path("dev/null")},
        {"proc/self/fd/3", Path("dev/ttyUSB0")}};  // not a process id
    for (const auto& [path, target] : links) {
      fs::create_directories((root_ / path).parent_path());
      fs::create_symlink(target, root_ / path);
    }
  }
  ~FakeSystem() { fs::remove_all(root_); }

  platform::SystemRoots Roots() const { return {Path("sys"), Path("dev"), Path("proc")}; }
  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

 private:
  const fs::path root_ = fs::temp_directory_path() / ("kw9_ports_" + std::to_string(getpid()));
};

// Catches a placeholder ttyS listed, the list out of COM order, a product or
// id read from the wrong level of sysfs (the root hub's), a holder missed, a
// short name not opened in /dev, COMn counted otherwise than the list, and a
// relative path let through.
TEST(PortList, FromTheSystemTree) {
  const FakeSystem system;
  std::vector<std::string> rows;
  for (const platform::PortInfo& p : platform::ListPortsUnder(system.Roots())) {
    rows.push_back(p.name + "|" + p.devicePath + "|" + p.description + "|" + p.vidPid +
                   (p.busy ? "|busy" : ""));
  }
  EXPECT_THAT(rows,
              ElementsAre("ttyS0|" + system.Path("dev/ttyS0") + "||",
                          "ttyUSB0|" + system.Path("dev/ttyUSB0") + "|FT232R USB UART|0403:6001",
                          "ttyACM0|" + system.Path("dev/ttyACM0") + "|Arduino Uno|2341:0043|busy"));
  const std::pair<const char*, std::string> names[] = {{"COM1", system.Path("dev/ttyS0")},
                                                       {"com2", system.Path("dev/ttyUSB0")},
                                                       {"COM3", system.Path("dev/ttyACM0")},
                                                       {"COM4", ""},
                                                       {"ttyUSB0", system.Path("dev/ttyUSB0")},
                                                       {"/dev/pts/3", "/dev/pts/3"},
                                                       {"pts/3", ""},
                                                       {"..", ""},
                                                       {"", ""}};
  for (const auto& [name, path] : names) {
    EXPECT_EQ(platform::DevicePathUnder(system.Roots(), name), path) << name;
  }
}

// Catches descriptions lost on the way to the drop-down, or put into the
// field with the name when an item is picked.
TEST(PortList, DropDownShowsWhatEachPortIs) {
  const FakeSystem system;
  testing_support::FakeSerial serial;
  serial.listed = platform::ListPortsUnder(system.Roots());
  testing_support::DialogHarness harness;
  harness.Run([](ui::ScriptedWindow& w) {
    ASSERT_TRUE(w.DropDown(IDC_COM_PORT));
    EXPECT_THAT(w.Items(IDC_COM_PORT), ElementsAre("ttyACM0", "ttyS0", "ttyUSB0"));
    EXPECT_THAT(w.ItemDescriptions(IDC_COM_PORT),
                ElementsAre("Arduino Uno (2341:0043)", "", "FT232R USB UART (0403:6001)"));
    ASSERT_TRUE(w.Pick(IDC_COM_PORT, 2));
    EXPECT_EQ(w.Text(IDC_COM_PORT), "ttyUSB0");
  });
}

}  // namespace
