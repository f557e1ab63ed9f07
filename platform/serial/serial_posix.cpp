// Serial ports on Linux (and other POSIX systems) with the Win32 time-out rules.
//
// Port names: a name that starts with "/" is a device path, so a
// pseudo-terminal can be typed in. "COMn" (any case) is the n-th serial device
// that exists, counted as Wine counts them: the real ttyS ports first (those
// with a UART behind them), then ttyUSB, then ttyACM, each by number. Any
// other name without a "/" is a device in /dev ("ttyUSB0"), as the port list
// shows them.
//
// Held exclusively as on Windows: an open fails while another process has
// the device open (as far as /proc shows), holds its lock, or has set the
// exclusive flag, whoever runs the tool.
#include "platform/serial/serial_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/serial/serial.h"

namespace platform {

namespace {

struct BaudEntry {
  uint32_t baud;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool SpeedFor(uint32_t baud, speed_t& speed) {
  for (const auto& e : kBauds) {
    if (e.baud == baud) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

uint32_t BaudFor(speed_t speed) {
  for (const auto& e : kBauds) {
    if (e.speed == speed) return e.baud;
  }
  return 0;
}

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

struct Holder {
  long pid = 0;  // 0: nobody seen
  std::string program;
};

// For each device, the first process /proc shows holding it open, leaving
// out our own descriptor ownFd. Processes of other users stay hidden from an
// ordinary user; their locks and exclusive flags still count.
std::vector<Holder> FindHolders(const std::string& procRoot, const std::vector<std::string>& paths,
                                int ownFd) {
  std::vector<std::string> targets;
  for (const std::string& path : paths) targets.push_back(CanonicalPath(path));
  std::vector<Holder> holders(paths.size());
  DIR* proc = opendir(procRoot.c_str());
  if (proc == nullptr) return holders;
  const long self = static_cast<long>(getpid());
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string fdDir = procRoot + "/" + entry->d_name + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (dirent* fd = readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      if (pid == self && std::atoi(fd->d_name) == ownFd) continue;
      char link[PATH_MAX];
      const ssize_t n = readlink((fdDir + "/" + fd->d_name).c_str(), link, sizeof link);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof link) continue;
      const std::string target(link, static_cast<size_t>(n));
      for (size_t i = 0; i < targets.size(); ++i) {
        if (holders[i].pid != 0 || target != targets[i]) continue;
        holders[i] = {pid, ReadSmallFile(procRoot + "/" + entry->d_name + "/comm")};
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return holders;
}

OpenError Busy(const SystemRoots& roots, const std::string& path, int ownFd) {
  OpenError error;
  error.reason = OpenFailure::kBusy;
  const Holder holder = FindHolders(roots.proc, {path}, ownFd)[0];
  error.holder = holder.program;
  error.holderPid = holder.pid;
  return error;
}

// The group to join, when joining one would let the user in.
std::string GroupThatMayUse(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
  std::vector<char> buf(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(st.st_gid, &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(st.st_gid);
}

OpenError FromErrno(int err, const SystemRoots& roots, const std::string& path) {
  OpenError error;
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EIO:  // a ttyS without a UART behind it
      error.reason = OpenFailure::kNoDevice;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      error.reason = OpenFailure::kPermission;
      error.group = GroupThatMayUse(path);
      break;
    case EBUSY:  // another program's exclusive flag
      return Busy(roots, path, -1);
    case EISDIR:
      error.reason = OpenFailure::kNotSerial;
      break;
    default:
      error.reason = OpenFailure::kOther;
      error.systemText = std::strerror(err);
      break;
  }
  return error;
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
  const std::vector<Holder> holders = FindHolders(roots.proc, paths, -1);
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

namespace {

// The slave side of a pseudo-terminal (a simulated tracker, say).
bool IsPseudoTerminal(int fd) {
#if defined(__linux__)
  struct stat st {};
  // Linux numbers the slaves of its pseudo-terminals with these majors.
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
#else
  (void)fd;
  return false;
#endif
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(int fd, bool setExclusive) : fd_(fd), setExclusive_(setExclusive) {}
  ~PosixSerialPort() override {
    // A pseudo-terminal keeps TIOCEXCL past the last close, which would lock
    // every later open by an ordinary user out of it. Another program's flag
    // is not ours to clear.
    if (setExclusive_) ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    close(fd_);
  }

  bool GetState(LineSettings& settings) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    settings.baudRate = BaudFor(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        settings.byteSize = 5;
        break;
      case CS6:
        settings.byteSize = 6;
        break;
      case CS7:
        settings.byteSize = 7;
        break;
      default:
        settings.byteSize = 8;
        break;
    }
    settings.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 1 : 2) : 0;
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    return true;
  }

  bool SetState(const LineSettings& settings) override {
    termios tio{};
    speed_t speed;
    if (tcgetattr(fd_, &tio) != 0 || !SpeedFor(settings.baudRate, speed)) return false;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    switch (settings.byteSize) {
      case 5:
        tio.c_cflag |= CS5;
        break;
      case 6:
        tio.c_cflag |= CS6;
        break;
      case 7:
        tio.c_cflag |= CS7;
        break;
      case 8:
        tio.c_cflag |= CS8;
        break;
      default:
        return false;
    }
    if (settings.parity == 1) tio.c_cflag |= PARENB | PARODD;
    if (settings.parity == 2) tio.c_cflag |= PARENB;
    if (settings.parity > 2) return false;
    if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    byteMicros_ =
        (1 + settings.byteSize + (settings.parity ? 1 : 0) + (settings.stopBits ? 2 : 1)) *
        1000000LL / settings.baudRate;
    return true;
  }

  bool RaiseDtr() override {
    int bits = TIOCM_DTR;
    // A pseudo-terminal has no modem lines and answers ENOTTY; the caller
    // does not depend on the outcome.
    return ioctl(fd_, TIOCMBIS, &bits) == 0;
  }

  bool GetTimeouts(Timeouts& timeouts) override {
    timeouts = timeouts_;
    return true;
  }

  bool SetTimeouts(const Timeouts& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }

  bool Read(uint8_t* data, size_t n, size_t& got) override {
    got = 0;
    if (gone_) return false;
    if (n == 0) return true;
    KeepTimersPrecise();
    const Timeouts& t = timeouts_;
    const bool totalLimit = t.readTotalMultiplier != 0 || t.readTotalConstant != 0;
    // Win32: an interval of MAXDWORD with no total time-out returns at once
    // with whatever has arrived.
    const bool immediate = t.readInterval == kMaxDword && !totalLimit;
    const int64_t totalDeadline =
        totalLimit ? Deadline(t.readTotalMultiplier, n, t.readTotalConstant) : kForever;
    const int64_t interval = static_cast<int64_t>(t.readInterval) * 1000;
    int64_t lastByte = 0;
    bool polledForFirst = false;  // waited in poll before any byte of this read came
    bool sleptForWhole = false;   // slept until the whole reply was due
    for (;;) {
      ssize_t k = read(fd_, data + got, n - got);
      if (k > 0) {
        if (got == 0 && polledForFirst && n >= 2) {
          // How a reply starts to come tells how the next one will: bit by
          // bit at the line's pace, or all at once.
          pacedReplies_ = static_cast<size_t>(k) < n;
        }
        got += static_cast<size_t>(k);
        lastByte = MonotonicMicros();
        if (got == n) return true;
      } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
        return Gone();  // hung up, or the other end of a pseudo-terminal closed (EIO)
      }
      if (immediate) return true;
      const int64_t now = MonotonicMicros();
      int64_t deadline = totalDeadline;
      if (got > 0 && interval != 0) deadline = std::min(deadline, lastByte + interval);
      if (now >= deadline) return true;
      const int64_t wait = deadline - now;
      if (got == 0 && n >= 2 && pacedReplies_ && !sleptForWhole) {
        // A tracker that answers at the line's pace cannot have the whole
        // reply here before the request has left and the reply's own bytes
        // have followed it. Sleeping until then takes it in one wake-up,
        // where waking for its first byte would cost a second one.
        sleptForWhole = true;
        const int64_t whole =
            lineFree_ + static_cast<int64_t>(n) * byteMicros_ + kWholeMarginMicros;
        if (whole > now && whole < deadline) {
          SleepUntil(std::min(whole, now + kLongestSleepMicros));
          continue;
        }
      }
      if (got > 0 && n - got >= 2) {
        // Once a reply is coming, the line cannot deliver the rest faster
        // than its baud rate: sleep until the last byte is due (a little
        // after, so one wake-up finds them all) instead of waking for each.
        // A last straggler is waited for in poll, which wakes as it comes,
        // and so is the rest of a reply that is late: sleeping until a time
        // that has passed would only spin.
        const int64_t due =
            lastByte + static_cast<int64_t>(n - got) * byteMicros_ + kDueMarginMicros;
        if (due > now && due < deadline) {
          SleepUntil(std::min(due, now + kLongestSleepMicros));
          continue;
        }
      }
      if (got == 0) polledForFirst = true;
      if (!WaitFor(POLLIN, wait)) return Gone();
    }
  }

  // Like a synchronous WriteFile, this returns once the bytes have left, so
  // a pause after it is a pause on the line, and a line that cannot send
  // (flow control holding it) fails at the write time-out.
  bool Write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (gone_) return false;
    KeepTimersPrecise();
    const int64_t start = MonotonicMicros();
    const Timeouts& t = timeouts_;
    const bool limit = t.writeTotalMultiplier != 0 || t.writeTotalConstant != 0;
    const int64_t deadline =
        limit ? Deadline(t.writeTotalMultiplier, n, t.writeTotalConstant) : kForever;
    while (written < n) {
      ssize_t k = write(fd_, data + written, n - written);
      if (k > 0) {
        written += static_cast<size_t>(k);
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && errno != EAGAIN) return Gone();
      const int64_t now = MonotonicMicros();
      if (now >= deadline) return false;
      if (!WaitFor(POLLOUT, deadline - now)) return Gone();
    }
    // A pseudo-terminal has no transmitter: nothing stays queued to wait for.
    int queued = 0;
    while (!pseudoTerminal_ && ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
      const int64_t now = MonotonicMicros();
      if (now >= deadline) return false;
      SleepUntil(now + std::min<int64_t>(queued * byteMicros_, deadline - now));
    }
    // Where the line really runs at its baud rate, the tracker hears the
    // last of these bytes only then.
    lineFree_ = std::max(std::max(lineFree_, start) + static_cast<int64_t>(n) * byteMicros_,
                         MonotonicMicros());
    return true;
  }

 private:
  static constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
  static constexpr int64_t kForever = INT64_MAX;

  // now + multiplier * n + constant milliseconds, in microseconds, saturated
  // far below overflow (a few centuries out is forever enough).
  static int64_t Deadline(uint32_t multiplier, size_t n, uint32_t constant) {
    const double ms = static_cast<double>(multiplier) * static_cast<double>(n) + constant;
    return MonotonicMicros() + static_cast<int64_t>(std::min(ms, 1e13) * 1000.0);
  }

  // How late after its due time the rest of a reply is read, how late after
  // the earliest time it can be whole a paced reply is first looked for, and
  // the longest sleep before the device is looked at again.
  static constexpr int64_t kDueMarginMicros = 400;
  static constexpr int64_t kWholeMarginMicros = 400;
  static constexpr int64_t kLongestSleepMicros = 50000;

  static void SleepUntil(int64_t monotonicMicros) {
    timespec at{static_cast<time_t>(monotonicMicros / 1000000),
                static_cast<long>(monotonicMicros % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
  }

  // Waits up to wait microseconds for events; false when the device is gone.
  bool WaitFor(short events, int64_t wait) {
    pollfd p{fd_, events, 0};
    timespec ts{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
    int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) return errno == EINTR;
    return r == 0 || (p.revents & events) != 0;  // POLLHUP or POLLERR alone: gone
  }

  bool Gone() {
    gone_ = true;
    return false;
  }

  int fd_;
  bool setExclusive_;
  bool pseudoTerminal_ = IsPseudoTerminal(fd_);
  Timeouts timeouts_;
  int64_t byteMicros_ = 1042;  // one 8N1 byte at 9600 baud until SetState says otherwise
  // When the bytes written last have all gone out at the baud rate.
  int64_t lineFree_ = 0;
  // The last reply of several bytes came at the line's pace, not all at once
  // (as a pseudo-terminal with no pacing behind it delivers).
  bool pacedReplies_ = false;
  bool gone_ = false;
};

// Everything that touches bytes goes through unchanged: no echo, no CR/LF
// translation, no XON/XOFF; the modem lines do not stop reception.
bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CLOCAL | CREAD;
  // VMIN 1: a non-blocking read with nothing there says EAGAIN, never 0,
  // so 0 keeps meaning hang-up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

class PosixSerialSystem final : public SerialSystem {
 public:
  std::unique_ptr<SerialPort> Open(const std::string& name, OpenError& error) override {
    error = {};
    const std::string path = DevicePathUnder(roots_, name);
    if (path.empty()) {
      error.reason = OpenFailure::kNoDevice;
      return nullptr;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = FromErrno(errno, roots_, path);
      return nullptr;
    }
    error = Claim(fd, path);
    if (error.reason != OpenFailure::kUnknown) {
      close(fd);
      return nullptr;
    }
    // Other programs' opens now fail at once, but root's: those see the flag
    // as Claim does.
    const bool setExclusive = ioctl(fd, TIOCEXCL) == 0;
    // A fresh open starts with empty buffers, as on Windows: nothing left over
    // from the last program may pass for a reply.
    tcflush(fd, TCIOFLUSH);
    return std::make_unique<PosixSerialPort>(fd, setExclusive);
  }

  bool PortExists(const std::string& name) override {
    int n = ComNumber(name);
    return n >= 1 && static_cast<size_t>(n) <= ComNames(roots_).size();
  }

  std::vector<PortInfo> ListPorts() override { return ListPortsUnder(roots_); }

 private:
  // Makes the freshly opened fd the only user of a serial device in raw mode;
  // kUnknown when it is.
  OpenError Claim(int fd, const std::string& path) {
    OpenError error;
    if (!isatty(fd)) {
      error.reason = OpenFailure::kNotSerial;
      return error;
    }
    // Root opens past the exclusive flag, so ask for it.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) return Busy(roots_, path, fd);
    // A program that opened the device without a lock or flag (a terminal
    // program, cat, a modem prober) shows only here.
    const OpenError busy = Busy(roots_, path, fd);
    if (busy.holderPid != 0) return busy;
    // The lock stops every program that asks for one, root's too, also
    // where /proc does not show it.
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK) return busy;
    if (!locked || !MakeRaw(fd)) {
      error.reason = OpenFailure::kOther;
      error.systemText = std::strerror(errno);
    }
    return error;
  }

  SystemRoots roots_;
};

}  // namespace

SerialSystem& NativeSerial() {
  static PosixSerialSystem system;
  return system;
}

}  // namespace platform
