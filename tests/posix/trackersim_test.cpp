// The simulated tracker on a real pseudo-terminal: the in-process transport
// and the trackersim program, talked to as a serial terminal would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_transport.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// The client's end of the line, in raw mode as any serial program sets it.
class Client {
 public:
  explicit Client(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }

  bool Send(const Bytes& b) {
    return write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
  }

  // Up to n bytes, or what arrived within ms.
  Bytes Read(size_t n, int ms) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[256];
      const ssize_t r = read(fd_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  // Bytes up to and including the first LF CR, or what arrived within ms.
  Bytes ReadLine(int ms) {
    Bytes got;
    while (got.size() < 2 || got[got.size() - 2] != '\n' || got.back() != '\r') {
      const Bytes b = Read(1, ms);
      if (b.empty()) break;
      got.push_back(b[0]);
    }
    return got;
  }

  // True when the line hangs up within ms: a hang-up event, end of file or EIO.
  bool HangsUp(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    uint8_t b;
    return read(fd_, &b, 1) <= 0;
  }

 private:
  int fd_ = -1;
};

// trackersim as a child process with its standard output on a pipe.
class Program {
 public:
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Starts it and reads the device path from its first line.
  bool Start(const std::vector<std::string>& args) {
    int p[2];
    if (pipe(p) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, p[1], 1);
    posix_spawn_file_actions_addclose(&actions, p[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all = {KW9_TRACKERSIM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, KW9_TRACKERSIM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(p[1]);
    out_ = p[0];
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    char c;
    pollfd fd{out_, POLLIN, 0};
    while (poll(&fd, 1, 5000) > 0 && read(out_, &c, 1) == 1) {
      if (c == '\n') return !path.empty();
      path += c;
    }
    return false;
  }

  // The exit status, or -1 when it is still running after ms.
  int Wait(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  void Signal(int sig) { kill(pid_, sig); }

  std::string path;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

std::string TempFile(const char* name) {
  return testing::TempDir() + "trackersim_" + std::to_string(getpid()) + "_" + name;
}

Bytes SlurpBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Trackersim, OptionsShapeTheAnswers) {
  const std::string image = TempFile("image.bin");
  {
    std::ofstream out(image, std::ios::binary);
    out << "0123456789abcdefXY";
  }
  const Bytes track = sim::RealisticTrack(1024);
  struct Case {
    std::vector<std::string> args;
    Bytes send;
    Bytes reply;
    int quietMs = 0;  // how long nothing may arrive first
  };
  const Case cases[] = {
      {{}, B("?"), B("OK\n\r")},
      {{"--size", "64"}, B("K"), B("0\n\r")},
      {{"--size", "128"}, B("K"), B("1\n\r")},
      {{"--model", "XT-9"}, B("M"), B("XT-9\n\r")},
      {{"--version", "31"}, B("V"), B("31\n\r")},
      // 4321 is 0x10E1: settings bytes 128 and 129.
      {{"--serial", "4321"}, {'y', 128, 'y', 129}, B("OK\n\r\x10\n\rOK\n\r\xE1\n\r")},
      {{"--crlf"}, B("?"), B("OK\r\n")},
      {{"--overlong"}, B("?"), B("OK" + std::string(68, '.') + "\n\r")},
      {{"--image", image}, {'J', 0, 0, 0}, B("0123456789abcdef\n\r")},
      {{"--erase-ms", "0"}, B("Z"), B("\n\r")},
      {{"--silent-after", "?:2"}, B("??"), B("OK\n\r")},
      {{"--silent-after", "any:2"}, B("?V"), B("OK\n\r")},
      {{"--short-block-after", "J:1"}, {'J', 0, 0, 0}, Bytes(track.begin(), track.begin() + 9)},
      {{"--ping-answer", "ERROR"}, B("?"), B("ERROR\n\r")},
      {{"--late-after", "V:1", "--late-ms", "700"}, B("V"), B("20\n\r"), 500},
  };
  for (const Case& c : cases) {
    const std::string what = c.args.empty() ? "defaults" : c.args[0];
    Program sim;
    ASSERT_TRUE(sim.Start(c.args)) << what;
    Client client(sim.path);
    ASSERT_TRUE(client.Ok()) << sim.path;
    ASSERT_TRUE(client.Send(c.send));
    if (c.quietMs > 0) {
      EXPECT_TRUE(client.Read(1, c.quietMs).empty()) << what << ": came early";
    }
    EXPECT_EQ(client.Read(c.reply.size(), 3000), c.reply) << what;
    EXPECT_TRUE(client.Read(1, 100).empty()) << what << ": more than the reply";
  }
  std::remove(image.c_str());
}

TEST(Trackersim, RefusesBadOptions) {
  const std::vector<std::string> cases[] = {
      {"--size", "256"},
      {"--silent-after", "?"},
      {"--drop-after", "ab:1"},
      {"--drop-after", "?:0"},
      {"--version"},
      {"--serial", "65536"},
      {"--serial", "-1"},
      {"--bogus"},
      {"--image", "/nonexistent/image.bin"},
  };
  for (const auto& args : cases) {
    Program sim;
    EXPECT_FALSE(sim.Start(args)) << args[0];
    EXPECT_EQ(sim.Wait(3000), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
  Program help;
  help.Start({"--help"});
  EXPECT_EQ(help.Wait(3000), 0);
}

// The tool closes the port after a Read and opens it again for the next
// operation: the line must survive its client going away.
TEST(Trackersim, ServesAClientThatClosesAndReopens) {
  Program sim;
  ASSERT_TRUE(sim.Start({}));
  for (int round = 0; round < 3; ++round) {
    Client client(sim.path);
    ASSERT_TRUE(client.Send(B("?")));
    EXPECT_EQ(client.Read(4, 3000), B("OK\n\r")) << round;
  }
}

TEST(Trackersim, DropHangsUpTheClientAndEnds) {
  Program sim;
  ASSERT_TRUE(sim.Start({"--drop-after", "V:1"}));
  Client client(sim.path);
  ASSERT_TRUE(client.Send(B("?")));
  EXPECT_EQ(client.Read(4, 3000), B("OK\n\r"));
  ASSERT_TRUE(client.Send(B("V")));
  EXPECT_TRUE(client.HangsUp(2000));
  EXPECT_EQ(sim.Wait(3000), 0);
}

TEST(Trackersim, SignalsEndItWithTheTranscriptWritten) {
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string transcript = TempFile("transcript.bin");
    Program sim;
    ASSERT_TRUE(sim.Start({"--transcript", transcript}));
    Client client(sim.path);
    const Bytes sent = {'?', 'y', 0x0A, 'x', 'A', 'T', '\r', 0x00, 0xFF};
    ASSERT_TRUE(client.Send(sent));
    EXPECT_EQ(client.Read(4 + 7 + 4, 3000).size(), 15u);
    sim.Signal(sig);
    EXPECT_EQ(sim.Wait(3000), 0) << sig;
    EXPECT_EQ(SlurpBytes(transcript), sent) << sig;
    std::remove(transcript.c_str());
  }
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(PtyTransport, PacedBlockTakesItsLineTime) {
  sim::Config config;
  config.pace = true;
  sim::PtyTransport pty;
  ASSERT_TRUE(pty.Start(config));
  Client client(pty.DevicePath());
  const auto start = Clock::now();
  ASSERT_TRUE(client.Send({'J', 0, 0, 0}));
  EXPECT_EQ(client.Read(18, 3000).size(), 18u);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  // Four bytes out and eighteen back at 1.0417 ms each.
  EXPECT_GE(ms, 22 * sim::kByteMicros / 1000);
}

TEST(PtyTransport, ServesWhileTestsInspectTheTracker) {
  sim::PtyTransport pty;
  ASSERT_TRUE(pty.Start({}));
  pty.WithTracker([](sim::Tracker& t) { t.SettingsMemory()[33] = 0x0D; });
  Client client(pty.DevicePath());
  ASSERT_TRUE(client.Send({'y', 33}));
  EXPECT_EQ(client.Read(7, 3000), B("OK\n\r\r\n\r")) << "no byte translated on the way";
  Bytes transcript;
  pty.WithTracker([&](sim::Tracker& t) { transcript = t.Transcript(); });
  EXPECT_EQ(transcript, Bytes({'y', 33}));
  pty.Stop();
  pty.Stop();
  EXPECT_FALSE(pty.Dropped());
}

TEST(PtyTransport, DropClosesTheLineAndTellsTheOwner) {
  sim::Config config;
  config.faults.drop = {'?', 1};
  sim::PtyTransport pty;
  std::atomic<int> told{0};
  pty.OnDrop([&] { ++told; });
  ASSERT_TRUE(pty.Start(config));
  Client client(pty.DevicePath());
  ASSERT_TRUE(client.Send(B("?")));
  EXPECT_TRUE(client.HangsUp(2000));
  pty.Stop();
  EXPECT_TRUE(pty.Dropped());
  EXPECT_EQ(told, 1);
}

// Waiting for a client (the line then reads as hung up), for the host or for
// the erase answer's next byte must not spin.
TEST(PtyTransport, WaitingCostsNoCpu) {
  sim::Config config;
  config.faults.eraseMs = 400;
  sim::PtyTransport pty;
  ASSERT_TRUE(pty.Start(config));
  const double before = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Client client(pty.DevicePath());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(client.Send(B("Z")));
  const Bytes answer = client.ReadLine(1000);
  ASSERT_GE(answer.size(), 2u);
  EXPECT_EQ(Bytes(answer.end() - 2, answer.end()), B("\n\r"));
  EXPECT_LT(CpuSeconds() - before, 0.1);
}

}  // namespace
