// Serial ports on Linux (and other POSIX systems) with the Win32 time-out rules.
//
// Port names: a name that starts with "/" is a device path, so a
// pseudo-terminal can be typed in. "COMn" (any case) is the n-th serial device
// that exists, counted as Wine counts them: the real ttyS ports first (those
// with a UART behind them), then ttyUSB, then ttyACM, each by number. Any
// other name does not exist.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
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

std::string ReadSmallFile(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return text;
  char buf[64];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  text.assign(buf, n);
  return text;
}

// The numbered devices "prefix<N>" in /dev, by number.
std::vector<int> DeviceNumbers(const char* prefix) {
  std::vector<int> numbers;
  DIR* dir = opendir("/sys/class/tty");
  if (dir == nullptr) return numbers;
  const size_t len = std::strlen(prefix);
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, prefix, len) != 0 || name[len] == '\0') continue;
    char* end = nullptr;
    long n = std::strtol(name + len, &end, 10);
    if (*end == '\0' && n >= 0) numbers.push_back(static_cast<int>(n));
  }
  closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// Every serial device in COM order (COM1 first).
std::vector<std::string> ComDevices() {
  std::vector<std::string> devices;
  for (int n : DeviceNumbers("ttyS")) {
    // Most ttyS entries are placeholders without a UART: their type is 0.
    std::string type = ReadSmallFile("/sys/class/tty/ttyS" + std::to_string(n) + "/type");
    if (std::atoi(type.c_str()) == 0) continue;
    devices.push_back("/dev/ttyS" + std::to_string(n));
  }
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (int n : DeviceNumbers(prefix))
      devices.push_back("/dev/" + std::string(prefix) + std::to_string(n));
  }
  return devices;
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

std::string DevicePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  int n = ComNumber(name);
  if (n < 1) return {};
  std::vector<std::string> devices = ComDevices();
  if (static_cast<size_t>(n) > devices.size()) return {};
  return devices[n - 1];
}

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(int fd) : fd_(fd) {}
  ~PosixSerialPort() override {
    // A pseudo-terminal keeps TIOCEXCL past the last close, which would lock
    // every later open by an ordinary user out of it.
    ioctl(fd_, TIOCNXCL);
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
    const Timeouts& t = timeouts_;
    const bool totalLimit = t.readTotalMultiplier != 0 || t.readTotalConstant != 0;
    // Win32: an interval of MAXDWORD with no total time-out returns at once
    // with whatever has arrived.
    const bool immediate = t.readInterval == kMaxDword && !totalLimit;
    const int64_t totalDeadline =
        totalLimit ? Deadline(t.readTotalMultiplier, n, t.readTotalConstant) : kForever;
    const int64_t interval = static_cast<int64_t>(t.readInterval) * 1000;
    int64_t lastByte = 0;
    for (;;) {
      ssize_t k = read(fd_, data + got, n - got);
      if (k > 0) {
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
      if (got > 0 && n - got >= 2) {
        // Once a reply is coming, the line cannot deliver the rest faster
        // than its baud rate: sleep until the last byte is due (a little
        // after, so one wake-up finds them all) instead of waking for each.
        // A last straggler is waited for in poll, which wakes as it comes.
        const int64_t due =
            lastByte + static_cast<int64_t>(n - got) * byteMicros_ + kDueMarginMicros;
        if (due < deadline) {
          SleepUntil(std::min(due, now + kLongestSleepMicros));
          continue;
        }
      }
      if (!WaitFor(POLLIN, wait)) return Gone();
    }
  }

  // Like a synchronous WriteFile, this returns once the bytes have left, so
  // a pause after it is a pause on the line, and a line that cannot send
  // (flow control holding it) fails at the write time-out.
  bool Write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (gone_) return false;
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
    for (;;) {
      int queued = 0;
      // A pseudo-terminal has no transmitter and reports nothing queued.
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
      const int64_t now = MonotonicMicros();
      if (now >= deadline) return false;
      const int64_t lineTime = std::max<int64_t>(queued * byteMicros_, 1000);
      SleepMs(
          static_cast<unsigned>(std::max<int64_t>(std::min(lineTime, deadline - now) / 1000, 1)));
    }
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

  // How late after its due time the rest of a reply is read, and the longest
  // sleep before the device is looked at again.
  static constexpr int64_t kDueMarginMicros = 400;
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
  Timeouts timeouts_;
  int64_t byteMicros_ = 1042;  // one 8N1 byte at 9600 baud until SetState says otherwise
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
  std::unique_ptr<SerialPort> Open(const std::string& name) override {
    std::string path = DevicePath(name);
    if (path.empty()) return nullptr;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // TIOCEXCL alone does not stop root from opening the port a second time;
    // the lock does, for every program that asks for one.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || !MakeRaw(fd)) {
      close(fd);
      return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    // A fresh open starts with empty buffers, as on Windows: nothing left over
    // from the last program may pass for a reply.
    tcflush(fd, TCIOFLUSH);
    return std::make_unique<PosixSerialPort>(fd);
  }

  bool PortExists(const std::string& name) override {
    int n = ComNumber(name);
    return n >= 1 && static_cast<size_t>(n) <= ComDevices().size();
  }
};

}  // namespace

SerialSystem& NativeSerial() {
  static PosixSerialSystem system;
  return system;
}

}  // namespace platform
