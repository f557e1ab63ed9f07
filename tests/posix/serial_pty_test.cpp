// The POSIX serial layer under the link, on a real pseudo-terminal: the test
// holds the master side and plays the tracker's end of the line.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "tests/support/fake_serial.h"
#include "tracklog/flash_image.h"

using testing::ElementsAre;
using testing_support::MessageRecorder;
using Bytes = std::vector<uint8_t>;

namespace {

std::unique_ptr<platform::SerialPort> OpenNative(const std::string& name) {
  platform::OpenError why;
  return platform::NativeSerial().Open(name, why);
}

constexpr uid_t kNobody = 65534;

// Turns this forked process into an ordinary user's program: no groups, and
// dumpable as a program the user started, so its /proc entries are the
// user's to read.
bool BecomeNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
         prctl(PR_SET_DUMPABLE, 1) == 0;
}

// OpenPort(name) in a process of its own, as root or as nobody: "result
// portOpen" ("0 0": failed, closed), then "|" and each message it showed.
std::string OpenPortAs(bool nobody, const std::string& name) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    if (nobody && !BecomeNobody()) _exit(2);
    MessageRecorder messages;
    const int opened = OpenPort(name);
    std::string all = std::to_string(opened) + " " + std::to_string(DeviceLink.portOpen);
    for (const std::string& text : messages.texts) all += "|" + text;
    _exit(write(out[1], all.data(), all.size()) == static_cast<ssize_t>(all.size()) ? 0 : 3);
  }
  close(out[1]);
  std::string all;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) all.append(buf, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? all : "the child failed: " + all;
}

enum class Hold { kPlain, kExclusive, kLock, kExclusiveLeft };

// Another program with the device open: a process named "holder" that opens
// it as hold says (as nobody when asked) and keeps it until destroyed; with
// kExclusiveLeft it sets the exclusive flag and ends at once. It closes
// dropFd (the master side it inherits), unless that is -1: it then holds the
// terminal as its creator does.
struct Holder {
  Holder(const std::string& path, Hold hold, bool nobody, int dropFd) {
    int ready[2];
    if (pipe(ready) != 0) return;
    if ((pid = fork()) != 0) {
      close(ready[1]);
      char c = 'n';
      ok = pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
      close(ready[0]);
      return;
    }
    prctl(PR_SET_NAME, "holder");
    if (dropFd >= 0) close(dropFd);
    const int fd = !nobody || BecomeNobody() ? open(path.c_str(), O_RDWR | O_NOCTTY) : -1;
    const bool held =
        fd >= 0 && (hold == Hold::kPlain ||
                    (hold == Hold::kLock ? flock(fd, LOCK_EX) : ioctl(fd, TIOCEXCL)) == 0);
    if (write(ready[1], held ? "y" : "n", 1) == 1 && hold != Hold::kExclusiveLeft) pause();
    _exit(0);
  }
  ~Holder() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
  bool ok = false;
};

class PtyTest : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::ResetLinkState();
    NewPty();
  }
  // A fresh pseudo-terminal in master_ and path_.
  void NewPty() {
    if (master_ >= 0) close(master_);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    path_ = ptsname(master_);
  }
  void TearDown() override {
    testing_support::ResetLinkState();
    if (master_ >= 0) close(master_);
  }

  // Everything the master side receives within the time given.
  Bytes Drain(int ms) {
    Bytes got;
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
      uint8_t buf[256];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  int master_ = -1;
  std::string path_;
  MessageRecorder messages;
};

TEST_F(PtyTest, RawModeLetsEveryByteThroughBothWays) {
  ASSERT_EQ(OpenPort(path_), 1) << path_;
  // NUL, LF, CR, XON and XOFF are the bytes a cooked terminal would eat,
  // translate or act on.
  const Bytes special = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x0D, 0x0A, 0x7F, 0x03, 0x1A, 0xFF};
  ASSERT_EQ(write(master_, special.data(), special.size()), static_cast<ssize_t>(special.size()));
  Bytes got(special.size());
  EXPECT_EQ(ReadPort(got.data(), got.size()), special.size());
  EXPECT_EQ(got, special);
  EXPECT_TRUE(Drain(50).empty()) << "the terminal echoed what it received";

  ASSERT_TRUE(WritePort(special.data(), special.size()));
  EXPECT_EQ(Drain(100), special);
}

TEST_F(PtyTest, ReplyLinesAndCommandsOverThePty) {
  ASSERT_EQ(OpenPort(path_), 1);
  std::thread tracker([this] {
    // Answer "?" with a line whose text holds the bytes a cooked line would change.
    uint8_t byte = 0;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 5000) > 0 && read(master_, &byte, 1) == 1 && byte == '?') {
      const char reply[] = "OK\r\x11\n\r";
      (void)!write(master_, reply, sizeof reply - 1);
    }
  });
  EXPECT_EQ(Ping(), 1);
  tracker.join();
  EXPECT_TRUE(messages.texts.empty());
}

// Bytes a previous program left unread must not pass for the next reply.
TEST_F(PtyTest, OpenStartsWithEmptyBuffers) {
  {
    auto earlier = OpenNative(path_);
    ASSERT_TRUE(earlier);
    ASSERT_EQ(write(master_, "stale", 5), 5);
    Drain(20);
  }
  ASSERT_EQ(OpenPort(path_), 1);
  ASSERT_EQ(write(master_, "OK\n\r", 4), 4);
  uint8_t buffer[kReplyBufferSize];
  ASSERT_EQ(ReadLine(buffer), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "OK");
}

TEST_F(PtyTest, PortIsHeldExclusively) {
  ASSERT_EQ(OpenPort(path_), 1);
  EXPECT_EQ(OpenNative(path_), nullptr);
  // Another process is refused too.
  pid_t child = fork();
  if (child == 0) _exit(OpenNative(path_) == nullptr ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a second process opened the port";

  // And once it is closed, it opens again.
  ClosePort();
  EXPECT_NE(OpenNative(path_), nullptr);
}

// Root passes the exclusive flag by; an ordinary user must still be able to
// open the port again once the tool closed it (Read, then Write).
TEST_F(PtyTest, OrdinaryUserReopensAfterClose) {
  pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0) {
      if (chmod(path_.c_str(), 0666) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    }
    const int first = OpenPort(path_);
    ClosePort();
    const int second = OpenPort(path_);
    _exit(first == 1 && second == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << (WEXITSTATUS(status) == 2 ? "could not drop privileges" : "the second open failed");
}

// The two special time-out settings of the Win32 rules.
TEST_F(PtyTest, SpecialTimeoutSettings) {
  auto port = OpenNative(path_);
  ASSERT_TRUE(port);
  uint8_t buffer[4];
  size_t got = 0;

  // Interval MAXDWORD and no totals: return at once with what is there.
  ASSERT_TRUE(port->SetTimeouts({0xFFFFFFFFu, 0, 0, 0, 0}));
  int64_t start = platform::MonotonicMicros();
  EXPECT_TRUE(port->Read(buffer, 4, got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(platform::MonotonicMicros() - start, 100'000);

  // All zero: no time-out at all, the read waits for every byte.
  ASSERT_TRUE(port->SetTimeouts({0, 0, 0, 0, 0}));
  std::thread tracker([this] {
    (void)!write(master_, "ab", 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    (void)!write(master_, "cd", 2);
  });
  EXPECT_TRUE(port->Read(buffer, 4, got));
  tracker.join();
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "abcd");
}

const std::string kFailed = "0 0|Error opening com port\n";
const std::string kNoDevice =
    kFailed + "No such device: check the port name and that the device is plugged in.";
const std::string kNotSerial = kFailed + "Not a serial device: choose a serial port from the list.";

std::string Busy(pid_t holder) {
  return kFailed + "The port is busy: another program " +
         (holder != 0 ? "(holder, process " + std::to_string(holder) + ") " : "") +
         "has it open; close that program and try again.";
}

// Catches a failed open that does not say why, or says the wrong thing: the
// cause made real on a pseudo-terminal, a directory and a file.
TEST_F(PtyTest, OpenSaysWhyItFails) {
  ASSERT_EQ(geteuid(), 0u) << "plays root and an ordinary user: run it as root";
  const std::string dir = testing::TempDir() + "kw9_serial_" + std::to_string(getpid());
  const std::string file = dir + "/plain";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::ofstream(file) << "no terminal";
  const group* dialout = getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  const struct {
    std::string name;
    mode_t mode;  // of the pseudo-terminal, when name is it
    gid_t group;
    bool nobody;
    std::string message;
  } cases[] = {
      {"", 0, 0, false, kNoDevice},
      {"/no/such/device", 0, 0, false, kNoDevice},
      {"COM0", 0, 0, false, kNoDevice},
      {"COM99999999999", 0, 0, false, kNoDevice},
      {"ttyKW9none", 0, 0, false, kNoDevice},
      {"pts/0", 0, 0, false, kNoDevice},  // a path must start with "/"
      {dir, 0, 0, false, kNotSerial},
      {file, 0, 0, false, kNotSerial},
      {"/dev/null", 0, 0, false, kNotSerial},
      {"null", 0, 0, false, kNotSerial},  // a short name is a device in /dev
      {path_, 0000, 0, true,
       kFailed + "Permission denied: the device's group may not use it either; ask your "
                 "administrator for access."},
      {path_, 0660, dialout->gr_gid, true,
       kFailed + "Permission denied: the device belongs to the group dialout; add your user to "
                 "that group and log in again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + (c.nobody ? " as nobody" : ""));
    if (c.name == path_) {
      ASSERT_EQ(chown(path_.c_str(), 0, c.group), 0);
      ASSERT_EQ(chmod(path_.c_str(), c.mode), 0);
    }
    EXPECT_EQ(OpenPortAs(c.nobody, c.name), c.message);
  }
  std::remove(file.c_str());
  rmdir(dir.c_str());
  EXPECT_FALSE(platform::NativeSerial().PortExists("COM0"));
  EXPECT_FALSE(platform::NativeSerial().PortExists("COM64000"));
  EXPECT_FALSE(platform::NativeSerial().PortExists(path_));  // paths are no COM names
}

// Catches a second program on the line: one that holds the device without a
// lock, with the exclusive flag or with a lock, against the tool run as root
// (which opens past the flag) and as an ordinary user (to whom /proc shows
// only the user's own programs). The holder is named where /proc shows it.
TEST_F(PtyTest, PortHeldByAnotherProgramIsBusy) {
  ASSERT_EQ(geteuid(), 0u) << "plays root and an ordinary user: run it as root";
  const struct {
    const char* what;
    Hold hold;
    bool holderNobody;
    bool nobody;
    bool named;
  } cases[] = {
      {"plain open, root", Hold::kPlain, false, false, true},
      {"plain open, user", Hold::kPlain, true, true, true},
      {"exclusive flag, root", Hold::kExclusive, false, false, true},
      {"exclusive flag, user", Hold::kExclusive, true, true, true},
      {"lock, root", Hold::kLock, false, false, true},
      {"lock, user", Hold::kLock, true, true, true},
      {"root's exclusive flag, user", Hold::kExclusive, false, true, false},
      {"root's lock, user", Hold::kLock, false, true, false},
      // A pseudo-terminal keeps the flag after the program that set it.
      {"exclusive flag left behind, root", Hold::kExclusiveLeft, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NewPty();
    ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
    const Holder holder(path_, c.hold, c.holderNobody, master_);
    ASSERT_TRUE(holder.ok);
    EXPECT_EQ(OpenPortAs(c.nobody, path_), Busy(c.named ? holder.pid : 0));
    if (c.hold == Hold::kExclusiveLeft) {
      // Another program's flag is not the tool's to clear.
      const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY);
      int exclusive = 0;
      EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 1);
      close(fd);
    }
  }
}

// Catches a pseudo-terminal refused as busy because its own creator holds it
// (socat serving a remote port, a tracker emulator), and a second client of
// it let through.
TEST_F(PtyTest, ATerminalsOwnCreatorIsNoCompetitor) {
  {
    const Holder owner(path_, Hold::kPlain, false, -1);  // master and slave
    ASSERT_TRUE(owner.ok);
    EXPECT_EQ(OpenPortAs(false, path_), "1 1");
    const Holder client(path_, Hold::kPlain, false, master_);
    ASSERT_TRUE(client.ok);
    EXPECT_EQ(OpenPortAs(false, path_), Busy(client.pid));
  }
  const std::string link = testing::TempDir() + "kw9_socat_" + std::to_string(getpid());
  const pid_t socat = fork();
  if (socat == 0) {
    close(master_);
    execlp("socat", "socat", ("pty,link=" + link + ",raw,echo=0").c_str(), "pty,raw,echo=0",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  struct stat st {};
  for (int i = 0; i < 100 && stat(link.c_str(), &st) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(OpenPortAs(false, link), "1 1") << "socat's own pseudo-terminal";
  kill(socat, SIGTERM);
  waitpid(socat, nullptr, 0);
}

// One real silent read: the Win32 rules give up after 5000 x 1 + 5000 ms.
TEST_F(PtyTest, SilentTrackerTimesOutAfterTenSeconds) {
  ASSERT_EQ(OpenPort(path_), 1);
  uint8_t buffer[kReplyBufferSize];
  const int64_t start = platform::MonotonicMicros();
  const int64_t cpuStart = platform::ProcessCpuMicros();
  EXPECT_EQ(ReadLine(buffer), 0);
  const double seconds = (platform::MonotonicMicros() - start) / 1e6;
  const double cpu = (platform::ProcessCpuMicros() - cpuStart) / 1e6;
  std::printf("silent one-byte read returned after %.3f s, %.4f s CPU\n", seconds, cpu);
  EXPECT_GE(seconds, 9.99);
  EXPECT_LT(seconds, 10.5);
  EXPECT_LT(cpu, 0.1) << "waiting must not burn CPU";
  EXPECT_THAT(messages.texts,
              ElementsAre("Serial Port Error: Read returned 0 chars. Closing com port"));
  EXPECT_EQ(DeviceLink.portOpen, 0);
}

TEST_F(PtyTest, IntervalTimeoutEndsAShortRead) {
  ASSERT_EQ(OpenPort(path_), 1);
  ASSERT_EQ(write(master_, "abcd", 4), 4);
  uint8_t buffer[10];
  const int64_t start = platform::MonotonicMicros();
  const int64_t cpuStart = platform::ProcessCpuMicros();
  EXPECT_EQ(ReadPort(buffer, sizeof buffer), 4u);
  const double seconds = (platform::MonotonicMicros() - start) / 1e6;
  // Four bytes, then the 5000 ms gap rule, long before 5000 x 10 + 5000 ms.
  EXPECT_GE(seconds, 4.99);
  EXPECT_LT(seconds, 5.5);
  // The rest never comes; waiting for it must not spin.
  EXPECT_LT((platform::ProcessCpuMicros() - cpuStart) / 1e6, 0.1);
}

// Catches a block read that, once it has seen replies come at the line's pace
// and sleeps until the next one can be whole, returns short when a reply
// comes late or slower than the line, or takes a reply that came at once for
// anything but whole. The tracker's side answers each request with 16 bytes
// and LF CR, spaced as the row says.
TEST_F(PtyTest, BlockReadsTakePacedRepliesWholeHoweverTheyCome) {
  ASSERT_EQ(OpenPort(path_), 1);
  LogMemoryGeometry.sizeCode = 1024;
  const struct {
    const char* how;
    int lateMs;
    int spacingMicros;  // between two bytes of the reply
  } rows[] = {
      {"at the line's pace", 0, 1042},   {"late", 40, 1042},
      {"slower than the line", 0, 3000}, {"at once", 0, 0},
      {"at the pace again", 0, 1042},
  };
  int address = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    Bytes reply;
    for (int i = 0; i < 16; ++i) reply.push_back(static_cast<uint8_t>(address + i * 7));
    reply.push_back(0x0A);
    reply.push_back(0x0D);
    std::thread tracker([&] {
      Bytes request;
      pollfd p{master_, POLLIN, 0};
      while (request.size() < 4 && poll(&p, 1, 2000) > 0) {
        uint8_t buf[4];
        const ssize_t n = read(master_, buf, 4 - request.size());
        if (n <= 0) return;
        request.insert(request.end(), buf, buf + n);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(row.lateMs));
      for (size_t i = 0; i < reply.size(); i += row.spacingMicros == 0 ? reply.size() : 1) {
        const size_t n = row.spacingMicros == 0 ? reply.size() : 1;
        if (write(master_, reply.data() + i, n) != static_cast<ssize_t>(n)) return;
        std::this_thread::sleep_for(std::chrono::microseconds(row.spacingMicros));
      }
    });
    int32_t block[16] = {};
    int entries = 0;
    const int64_t start = platform::MonotonicMicros();
    EXPECT_TRUE(ReadFlashBlock(address, block, &entries));
    const double seconds = (platform::MonotonicMicros() - start) / 1e6;
    tracker.join();
    EXPECT_EQ(entries, 16);
    EXPECT_EQ(Bytes(block, block + 16), Bytes(reply.begin(), reply.begin() + 16));
    // Far below the 5 s gap after which a read gives up.
    EXPECT_LT(seconds, 1.0);
    address += 16;
  }
  EXPECT_TRUE(messages.texts.empty());
}

TEST_F(PtyTest, VanishedDeviceIsNoticedAtOnce) {
  ASSERT_EQ(OpenPort(path_), 1);
  std::thread hangUp([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    close(master_);
    master_ = -1;
  });
  uint8_t buffer[kReplyBufferSize];
  const int64_t start = platform::MonotonicMicros();
  EXPECT_EQ(ReadLine(buffer), 0);
  const double seconds = (platform::MonotonicMicros() - start) / 1e6;
  hangUp.join();
  EXPECT_LT(seconds, 2.0) << "waited out the time-out on a device that is gone";
  EXPECT_EQ(DeviceLink.portOpen, 0);
  EXPECT_EQ(messages.texts.size(), 1u);
}

}  // namespace

namespace {

// The tracker needs a pause between "J" and its address bytes; measured on
// the tracker's side of the line, where it matters.
TEST_F(PtyTest, BlockReadPausesBeforeTheAddress) {
  ASSERT_EQ(OpenPort(path_), 1);
  LogMemoryGeometry.sizeCode = 1024;
  constexpr int kBlocks = 200;
  std::vector<int64_t> pauses;
  std::thread tracker([this, &pauses] {
    pollfd p{master_, POLLIN, 0};
    for (int i = 0; i < kBlocks; ++i) {
      uint8_t request[4];
      size_t have = 0;
      int64_t commandAt = 0;
      while (have < 4 && poll(&p, 1, 5000) > 0) {
        ssize_t n = read(master_, request + have, 4 - have);
        if (n <= 0) return;
        if (have == 0) commandAt = platform::MonotonicMicros();
        have += static_cast<size_t>(n);
        if (have == 1) continue;
        if (have > 1 && pauses.size() == static_cast<size_t>(i)) {
          pauses.push_back(platform::MonotonicMicros() - commandAt);
        }
      }
      uint8_t reply[18] = {};
      reply[16] = 0x0A;  // a wide block ends like a reply line
      reply[17] = 0x0D;
      if (write(master_, reply, sizeof reply) != sizeof reply) return;
    }
  });
  int32_t block[16];
  int complete = 0;
  for (int i = 0; i < kBlocks; ++i) complete += ReadFlashBlock(i * 16, block) ? 1 : 0;
  tracker.join();
  ASSERT_EQ(pauses.size(), static_cast<size_t>(kBlocks));
  EXPECT_EQ(complete, kBlocks);
  int64_t sum = 0;
  for (int64_t us : pauses) sum += us;
  std::sort(pauses.begin(), pauses.end());
  const int64_t median = pauses[kBlocks / 2];
  std::printf("pause between J and the address: mean %.3f ms, median %.3f ms over %d blocks\n",
              sum / 1000.0 / kBlocks, median / 1000.0, kBlocks);
  // Seen from this side a late wake-up for "J" can make single pauses look
  // short on a busy machine; with no pause at all the median is a few us.
  EXPECT_GE(median, 900) << "the address came before the tracker's 1 ms";
}

}  // namespace
