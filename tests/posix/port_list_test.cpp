// The Linux port list, read from a system tree of the test's own: sysfs laid
// out as the kernel does it for a USB adapter, an ACM device, a real UART and
// a placeholder ttyS, their device nodes, and /proc with a program holding
// one of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/serial/serial_posix.h"
#include "tests/support/dialog_harness.h"

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

class FakeSystem {
 public:
  FakeSystem() : root_(fs::temp_directory_path() / ("kw9_ports_" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1";
    // The root hub has ids too: a walk that goes past the adapter finds these.
    UsbDevice(usb, "1d6b", "0002", "xHCI Host Controller");
    UsbDevice(usb + "/1-1", "0403", "6001", "FT232R USB UART");
    UsbDevice(usb + "/1-2", "2341", "0043", "Arduino Uno");
    // usb-serial hangs the tty on a port below the interface, cdc-acm on the
    // interface itself.
    Tty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0", "../../../ttyUSB0");
    Tty("ttyACM0", usb + "/1-2/1-2:1.0", "../../../1-2:1.0");
    Tty("ttyS0", "sys/devices/platform/serial8250", "../../../serial8250");
    Tty("ttyS1", "sys/devices/platform/serial8250", "../../../serial8250");
    File("sys/devices/platform/serial8250/tty/ttyS0/type", "4\n");
    File("sys/devices/platform/serial8250/tty/ttyS1/type", "0\n");  // no UART behind it
    for (const char* node : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0", "null"}) {
      File(std::string("dev/") + node, "");
    }
    // A modem prober has the ACM device open; another program only /dev/null.
    File("proc/4242/comm", "ModemManager\n");
    Link("proc/4242/fd/9", Path("dev/ttyACM0"));
    Link("proc/4243/fd/0", Path("dev/null"));
    Link("proc/self/fd/3", Path("dev/ttyUSB0"));  // not a process id
  }
  ~FakeSystem() { fs::remove_all(root_); }

  platform::SystemRoots Roots() const { return {Path("sys"), Path("dev"), Path("proc")}; }
  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

 private:
  void File(const std::string& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }
  void Link(const std::string& relative, const std::string& target) {
    fs::create_directories((root_ / relative).parent_path());
    fs::create_symlink(target, root_ / relative);
  }
  void UsbDevice(const std::string& dir, const char* vendor, const char* product,
                 const char* name) {
    File(dir + "/idVendor", std::string(vendor) + "\n");
    File(dir + "/idProduct", std::string(product) + "\n");
    File(dir + "/product", std::string(name) + "\n");
  }
  // class/tty/NAME links to the tty's own directory under its parent device,
  // whose "device" link leads back up to that parent.
  void Tty(const std::string& name, const std::string& parent, const std::string& deviceLink) {
    const std::string own = parent + "/tty/" + name;
    fs::create_directories(root_ / own);
    Link(own + "/device", deviceLink);
    Link("sys/class/tty/" + name, "../../" + own.substr(4));
  }

  fs::path root_;
};

std::string Row(const platform::PortInfo& p) {
  return p.name + "|" + p.devicePath + "|" + p.description + "|" + p.vidPid +
         (p.busy ? "|busy" : "");
}

// Catches a placeholder ttyS listed, the list out of COM order, a product or
// id read from the wrong level of sysfs (the root hub's), and a holder missed.
TEST(PortList, NamesDescribesAndFindsHoldersInTheSystemTree) {
  const FakeSystem system;
  std::vector<std::string> rows;
  for (const platform::PortInfo& p : platform::ListPortsUnder(system.Roots())) {
    rows.push_back(Row(p));
  }
  EXPECT_THAT(rows,
              ElementsAre("ttyS0|" + system.Path("dev/ttyS0") + "||",
                          "ttyUSB0|" + system.Path("dev/ttyUSB0") + "|FT232R USB UART|0403:6001",
                          "ttyACM0|" + system.Path("dev/ttyACM0") + "|Arduino Uno|2341:0043|busy"));
}

// Catches a short name not opened in /dev, COMn counted otherwise than the
// list, and a relative path let through.
TEST(PortList, NamesStandForDevices) {
  const FakeSystem system;
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"COM1", system.Path("dev/ttyS0")},
      {"com2", system.Path("dev/ttyUSB0")},
      {"COM3", system.Path("dev/ttyACM0")},
      {"COM4", ""},
      {"ttyUSB0", system.Path("dev/ttyUSB0")},
      {"/dev/pts/3", "/dev/pts/3"},
      {"pts/3", ""},
      {"..", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::DevicePathUnder(system.Roots(), c.name), c.path) << c.name;
  }
}

// The system tree behind the window's port list.
class TreeSerial final : public platform::SerialSystem {
 public:
  explicit TreeSerial(platform::SystemRoots roots) : roots_(std::move(roots)) {
    platform::UseSerial(this);
  }
  ~TreeSerial() override { platform::UseSerial(nullptr); }
  std::unique_ptr<platform::SerialPort> Open(const std::string&, platform::OpenError&) override {
    return nullptr;
  }
  bool PortExists(const std::string&) override { return false; }
  std::vector<platform::PortInfo> ListPorts() override { return ListPortsUnder(roots_); }

 private:
  platform::SystemRoots roots_;
};

// Catches descriptions lost on the way to the drop-down, or put into the
// field with the name when an item is picked.
TEST(PortList, DropDownShowsWhatEachPortIs) {
  const FakeSystem system;
  TreeSerial serial(system.Roots());
  testing_support::DialogHarness harness;
  harness.Run([](ui::ScriptedWindow& w) {
    ASSERT_TRUE(w.DropDown(1013));
    EXPECT_THAT(w.Items(1013), ElementsAre("ttyACM0", "ttyS0", "ttyUSB0"));
    EXPECT_THAT(w.ItemDescriptions(1013),
                ElementsAre("Arduino Uno (2341:0043)", "", "FT232R USB UART (0403:6001)"));
    ASSERT_TRUE(w.Pick(1013, 2));
    EXPECT_EQ(w.Text(1013), "ttyUSB0");
  });
}

}  // namespace
