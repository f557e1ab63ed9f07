// Serial ports on POSIX systems with the Win32 time-out rules: termios I/O,
// raw mode, DTR, the time-outs in poll(). What a port name stands for, the
// port list and who holds a device come from port_list.h, one file per
// system.
//
// Held exclusively as on Windows: an open fails while another process has
// the device open (as far as the system shows), holds its lock, or has set
// the exclusive flag, whoever runs the tool.
#include <fcntl.h>
#include <grp.h>
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
#include <cstring>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/serial/port_list.h"
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

OpenError Busy(const std::string& path, int ownFd) {
  OpenError error;
  error.reason = OpenFailure::kBusy;
  const DeviceHolder holder = FindDeviceHolder(path, ownFd);
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

OpenError FromErrno(int err, const std::string& path) {
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
      return Busy(path, -1);
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
    const std::string path = SystemDevicePath(name);
    if (path.empty()) {
      error.reason = OpenFailure::kNoDevice;
      return nullptr;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = FromErrno(errno, path);
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

  bool PortExists(const std::string& name) override { return ComPortExists(name); }

  std::vector<PortInfo> ListPorts() override { return ListSystemPorts(); }

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
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) return Busy(path, fd);
    // A program that opened the device without a lock or flag (a terminal
    // program, cat, a modem prober) shows only here.
    const OpenError busy = Busy(path, fd);
    if (busy.holderPid != 0) return busy;
    // The lock stops every program that asks for one, root's too, also
    // where the holder lookup does not see it.
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK) return busy;
    if (!locked || !MakeRaw(fd)) {
      error.reason = OpenFailure::kOther;
      error.systemText = std::strerror(errno);
    }
    return error;
  }
};

}  // namespace

SerialSystem& NativeSerial() {
  static PosixSerialSystem system;
  return system;
}

}  // namespace platform
