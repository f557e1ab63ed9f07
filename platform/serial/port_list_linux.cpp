// The Linux port list: the serial devices sysfs knows, what a port name
// stands for, and who holds a device as /proc shows it.
//
// Port names: a name that starts with "/" is a device path, so a
// pseudo-terminal can be typed in. "COMn" (any case) is the n-th serial device
// that exists, counted as Wine counts them: the real ttyS ports first (those
// with a UART behind them), then ttyUSB, then ttyACM, each by number. Any
// other name without a "/" is a device in /dev ("ttyUSB0"), as the port list
// shows them.
#include "platform/serial/port_list_linux.h"

#include <dirent.h>
#include <limits.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/serial/port_list.h"
#include "platform/serial/serial.h"

namespace platform {

namespace {

// The first line of a small sysfs or proc file, without its line end.
std::string ReadSmallFile(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return text;
  char buf[256];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  text.assign(buf, n);
  text.erase(std::min(text.find('\n'), text.size()));
  return text;
}

// The numbered devices "prefix<N>" sysfs knows, by number.
std::vector<int> DeviceNumbers(const std::string& classTty, const char* prefix) {
  std::vector<int> numbers;
  DIR* dir = opendir(classTty.c_str());
  if (dir == nullptr) return numbers;
  const size_t len = std::strlen(prefix);
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, prefix, len) != 0 || name[len] < '0' || name[len] > '9') continue;
    char* end = nullptr;
    long n = std::strtol(name + len, &end, 10);
    if (*end == '\0' && n >= 0 && n <= INT_MAX) numbers.push_back(static_cast<int>(n));
  }
  closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// Every serial device's name in COM order (COM1 first).
std::vector<std::string> ComNames(const SystemRoots& roots) {
  const std::string classTty = roots.sys + "/class/tty";
  std::vector<std::string> names;
  for (int n : DeviceNumbers(classTty, "ttyS")) {
    // Most ttyS entries are placeholders without a UART: their type is 0.
    const std::string name = "ttyS" + std::to_string(n);
    if (std::atoi(ReadSmallFile(classTty + "/" + name + "/type").c_str()) == 0) continue;
    names.push_back(name);
  }
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (int n : DeviceNumbers(classTty, prefix)) names.push_back(prefix + std::to_string(n));
  }
  return names;
}

// "COM7" -> 7; 0 when the name is not a COM name.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || strncasecmp(name.c_str(), "COM", 3) != 0) return 0;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::string CanonicalPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string canonical = real;
  std::free(real);
  return canonical;
}

// The USB device's product string and ids: sysfs hangs the tty on a USB
// interface (or a port below it), and the device sits a level or two above.
void DescribeUsb(const SystemRoots& roots, const std::string& name, PortInfo& port) {
  std::string dir = CanonicalPath(roots.sys + "/class/tty/" + name + "/device");
  for (int up = 0; up < 4; ++up) {
    const std::string vendor = ReadSmallFile(dir + "/idVendor");
    if (!vendor.empty()) {
      port.vidPid = vendor + ":" + ReadSmallFile(dir + "/idProduct");
      port.description = ReadSmallFile(dir + "/product");
      return;
    }
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    dir.erase(slash);
  }
}

// The pseudo-terminal a descriptor of /dev/ptmx is the master side of, from
// its fdinfo's tty-index; -1 when it is none.
long PtyIndexOfMaster(const std::string& fdInfoPath) {
  std::string info;
  if (FILE* f = std::fopen(fdInfoPath.c_str(), "r")) {
    char buf[1024];
    info.assign(buf, std::fread(buf, 1, sizeof buf, f));
    std::fclose(f);
  }
  const size_t at = info.find("tty-index:");
  if (at == std::string::npos) return -1;
  char* end = nullptr;
  const long index = std::strtol(info.c_str() + at + 10, &end, 10);
  return end != info.c_str() + at + 10 ? index : -1;
}

// For each device, the first process /proc shows holding it open, leaving
// out our own descriptor ownFd. Processes of other users stay hidden from an
// ordinary user; their locks and exclusive flags still count. A process that
// holds the master side of a pseudo-terminal is its owner, not a competitor
// (socat serving a remote port, a tracker emulator): its own hold on the
// terminal does not count.
std::vector<DeviceHolder> FindHolders(const std::string& procRoot,
                                      const std::vector<std::string>& paths, int ownFd) {
  std::vector<std::string> targets;
  for (const std::string& path : paths) targets.push_back(CanonicalPath(path));
  std::vector<DeviceHolder> holders(paths.size());
  DIR* proc = opendir(procRoot.c_str());
  if (proc == nullptr) return holders;
  const long self = static_cast<long>(getpid());
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string pidDir = procRoot + "/" + entry->d_name;
    DIR* fds = opendir((pidDir + "/fd").c_str());
    if (fds == nullptr) continue;
    std::vector<size_t> held;        // indexes into targets
    std::vector<std::string> owned;  // the pseudo-terminals it is master of
    while (dirent* fd = readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      if (pid == self && std::atoi(fd->d_name) == ownFd) continue;
      char link[PATH_MAX];
      const ssize_t n = readlink((pidDir + "/fd/" + fd->d_name).c_str(), link, sizeof link);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof link) continue;
      const std::string target(link, static_cast<size_t>(n));
      if (target == "/dev/ptmx" || target == "/dev/pts/ptmx") {
        const long index = PtyIndexOfMaster(pidDir + "/fdinfo/" + fd->d_name);
        if (index >= 0) owned.push_back("/dev/pts/" + std::to_string(index));
        continue;
      }
      for (size_t i = 0; i < targets.size(); ++i) {
        if (holders[i].pid == 0 && target == targets[i]) held.push_back(i);
      }
    }
    closedir(fds);
    for (size_t i : held) {
      if (std::find(owned.begin(), owned.end(), targets[i]) != owned.end()) continue;
      if (holders[i].pid == 0) holders[i] = {pid, ReadSmallFile(pidDir + "/comm")};
    }
  }
  closedir(proc);
  return holders;
}

}  // namespace

std::vector<PortInfo> ListPortsUnder(const SystemRoots& roots) {
  std::vector<PortInfo> ports;
  std::vector<std::string> paths;
  for (const std::string& name : ComNames(roots)) {
    PortInfo port;
    port.name = name;
    port.devicePath = roots.dev + "/" + name;
    DescribeUsb(roots, name, port);
    ports.push_back(port);
    paths.push_back(port.devicePath);
  }
  const std::vector<DeviceHolder> holders = FindHolders(roots.proc, paths, -1);
  for (size_t i = 0; i < ports.size(); ++i) ports[i].busy = holders[i].pid != 0;
  return ports;
}

std::string DevicePathUnder(const SystemRoots& roots, const std::string& name) {
  if (name.empty()) return {};
  if (name[0] == '/') return name;
  if (const int n = ComNumber(name); n >= 1) {
    const std::vector<std::string> names = ComNames(roots);
    return static_cast<size_t>(n) <= names.size() ? roots.dev + "/" + names[n - 1] : "";
  }
  // A name from the list; anything with a path in it must be typed as a path.
  if (name.find('/') != std::string::npos || name == "." || name == "..") return {};
  return roots.dev + "/" + name;
}

std::vector<PortInfo> ListSystemPorts() {
  return ListPortsUnder(SystemRoots{});
}

std::string SystemDevicePath(const std::string& name) {
  return DevicePathUnder(SystemRoots{}, name);
}

bool ComPortExists(const std::string& name) {
  const int n = ComNumber(name);
  return n >= 1 && static_cast<size_t>(n) <= ComNames(SystemRoots{}).size();
}

DeviceHolder FindDeviceHolder(const std::string& path, int ownFd) {
  return FindHolders(SystemRoots{}.proc, {path}, ownFd)[0];
}

}  // namespace platform
