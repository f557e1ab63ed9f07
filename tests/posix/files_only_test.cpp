// Outputs and inputs are files: the tracker's port, a terminal, a FIFO or a
// socket is refused as an output before anything reaches it, and a device or
// a FIFO as an input before it is read; an interrupt leaves no temporary
// file. Against trackersim on a pseudo-terminal, whose transcript shows that
// not a byte went to the tracker.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/file_checks.h"
#include "platform/os/os.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace {

using testing::HasSubstr;
using testing_support::CliRun;
using testing_support::Kw9cli;
using testing_support::Replaced;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;
using testing_support::TrackersimProcess;

const std::string kGolden = std::string(KW9_GOLDEN_DIR) + "/track64.kml";

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A pseudo-terminal's slave side, as a serial port looks to the system.
struct Pty {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  std::string slave = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                          ? std::string(ptsname(master))
                          : std::string();
  ~Pty() {
    if (master >= 0) close(master);
  }
};

// A refusal costs one start of kw9cli, about a second under the sanitizers
// on a busy machine; what it replaces blocked for ever.
constexpr double kRefusalSeconds = 10.0;

// A wrong answer here lets a KML file go to a device as commands, or refuses
// the discard and /dev/full (a disk that is full) that must stay writable.
TEST(FilesOnly, KindOfPath) {
  using platform::PathKind;
  ScratchDir dir;
  Spill(dir / "file", "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "fifo", dir / "link-to-fifo");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir / "sock";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  const struct {
    std::string path;
    PathKind kind;
  } rows[] = {
      {dir / "file", PathKind::kFile},         {dir / "none", PathKind::kMissing},
      {dir.Path(), PathKind::kFolder},         {dir / "fifo", PathKind::kPipe},
      {dir / "link-to-fifo", PathKind::kPipe}, {socketPath, PathKind::kPipe},
      {pty.slave, PathKind::kTerminal},        {"/dev/tty", PathKind::kTerminal},
      {"/dev/null", PathKind::kDiscard},       {"/dev/full", PathKind::kDevice},
      {"/dev/zero", PathKind::kDevice},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(platform::KindOfPath(row.path), row.kind);
  }
  close(sock);
  // A link to the port is the port, told as such.
  std::filesystem::create_symlink(pty.slave, dir / "tracker");
  EXPECT_THAT(OutputRefusal(dir / "tracker", pty.slave), HasSubstr("is the tracker's port"));
  EXPECT_THAT(OutputRefusal(pty.slave, ""), HasSubstr("terminal or serial device"));
  EXPECT_EQ(OutputRefusal("/dev/null", pty.slave), "");
  EXPECT_EQ(OutputRefusal(dir / "file", pty.slave), "");
}

// Every writing command with the port (or a FIFO, or a file in a folder that
// does not exist) as its output: refused with the reason and exit 5, and the
// tracker received nothing.
// Before, a GPX export to the port erased the tracker's log with the "Z"s of
// its timestamps.
TEST(FilesOnly, TheTrackerIsNoOutput) {
  const struct {
    const char* what;
    std::string args;  // {port} and {fifo} stand for the paths
    int status;
    const char* says;
  } rows[] = {
      {"download", "download --port {port} --output {port}", 5, "is the tracker's port"},
      {"download export", "download --port {port} --output t.kml --gpx {port}", 5,
       "is the tracker's port"},
      {"export", "export walk.kml --to gpx --output {port}", 5, "terminal or serial device"},
      {"fix-kml", "fix-kml walk.kml {port}", 5, "terminal or serial device"},
      {"profile save", "profile save --port {port} --output {port}", 5, "is the tracker's port"},
      {"custody log", "read --port {port} --log {port}", 5, "is the tracker's port"},
      {"export to a FIFO", "export walk.kml --to csv --output {fifo}", 5, "a pipe or socket"},
      {"fix-kml to a FIFO", "fix-kml walk.kml {fifo}", 5, "a pipe or socket"},
      {"the discard", "export walk.kml --to gpx --date 2026-03-01 --output /dev/null", 0, ""},
      // A folder that does not exist, before the minutes a download takes.
      {"download export", "download --port {port} --output t.kml --gpx no/t.gpx", 5,
       "the folder of no/t.gpx does not exist"},
      {"profile save", "profile save --port {port} --output no/p.json", 5, "the folder of no/"},
      {"custody log", "read --port {port} --log no/c.log", 5, "the folder of no/c.log"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir, aside;
    Spill(dir / "walk.kml", Slurp(kGolden));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string transcript = aside / "transcript";
    TrackersimProcess sim({"--size", "64", "--transcript", transcript});
    ASSERT_TRUE(sim.Running());
    const std::string args =
        Replaced(Replaced(row.args, "{port}", sim.Device()), "{fifo}", dir / "fifo");
    const auto start = std::chrono::steady_clock::now();
    const CliRun run = Kw9cli(dir, args);
    EXPECT_LT(Seconds(start), kRefusalSeconds);
    sim.Stop();
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.says));
    EXPECT_EQ(Slurp(transcript), "") << "bytes reached the tracker";
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fifo", "walk.kml"}));
  }
}

// A device or a FIFO as an input: exit 2 at once, nothing written.
// Before, /dev/zero grew without end and a FIFO blocked for ever.
TEST(FilesOnly, NoFileIsNoInput) {
  const struct {
    const char* what;
    std::string args;
    const char* says;
  } rows[] = {
      {"export of /dev/zero", "export /dev/zero --to gpx --output t.gpx", "is a device"},
      {"export of a FIFO", "export {fifo} --to gpx --output t.gpx", "is a pipe or socket"},
      {"fix-kml of /dev/zero", "fix-kml /dev/zero t.kml", "is a device"},
      {"fix-kml of a FIFO", "fix-kml {fifo} t.kml", "is a pipe or socket"},
      {"profile of /dev/zero", "profile apply /dev/zero --port none", "is a device"},
      {"profile of a FIFO", "profile apply {fifo} --port none", "is a pipe or socket"},
      {"profile of a folder", "profile apply . --port none", "is a folder"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    const CliRun run = Kw9cli(dir, Replaced(row.args, "{fifo}", dir / "fifo"));
    EXPECT_LT(Seconds(start), kRefusalSeconds);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.says));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fifo"}));
  }
}

// Fix KML stops reading at its bound: a file past it replaces nothing. The
// file is sparse, so the test costs little disk.
TEST(FilesOnly, FixKmlStopsPastItsBound) {
  ScratchDir dir;
  Spill(dir / "out.kml", "kept\n");
  {
    std::FILE* f = std::fopen((dir / "huge.kml").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("<kml>\n", f);
    std::fclose(f);
  }
  std::filesystem::resize_file(dir / "huge.kml", kFixKmlInputLimit + 4096);
  const CliRun run = Kw9cli(dir, "fix-kml huge.kml out.kml");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("larger than 256 MB"));
  EXPECT_EQ(Slurp(dir / "out.kml"), "kept\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"huge.kml", "out.kml"}));
}

// Waits up to five seconds for a temporary file to appear in dir.
bool TemporaryFileAppears(const ScratchDir& dir) {
  for (int i = 0; i < 500; ++i) {
    for (const std::string& name : dir.Names()) {
      if (name.find(".tmp") != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// SIGTERM while a temporary file is open: once ends the command cleanly, a
// second one ends the process at once; neither leaves the temporary file.
// Before, fix-kml read on through the first and the second left its .tmp.
TEST(FilesOnly, InterruptsLeaveNoTemporaryFile) {
  const struct {
    const char* what;
    std::vector<std::string> sim;  // none: no tracker
    std::vector<std::string> args;
    int signals;
    int exitStatus;  // -1: ended by the signal
    int settleMs;    // from the temporary file to the first signal
  } rows[] = {
      {"fix-kml, once", {}, {"fix-kml", "big.kml", "out.kml"}, 1, 130, 0},
      // Silent from the first block on, the tracker holds the download in its
      // two-second waits for a reply, far past the 100 ms between the signals:
      // the second one, not the stop, must end it. The exchange before the
      // first block is let through first: a stop taken there ends at once.
      {"download, twice",
       {"--size", "64", "--silent-after", "J:1"},
       {"download", "--output", "out.kml", "--port"},
       2,
       -1,
       300},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir, aside;
    Spill(dir / "out.kml", "yesterday's track\n");
    std::optional<TrackersimProcess> sim;
    std::vector<std::string> args = row.args;
    for (std::string& a : args) {
      if (a.find('.') != std::string::npos) a = dir / a;
    }
    if (!row.sim.empty()) {
      sim.emplace(row.sim);
      ASSERT_TRUE(sim->Running());
      args.push_back(sim->Device());
    } else {
      // Long enough to be copied for a second or more.
      std::string line = "<coordinates>" + std::string(60, '1') + "</coordinates>\n";
      std::string text;
      for (int i = 0; i < 4096; ++i) text += line;
      std::FILE* f = std::fopen((dir / "big.kml").c_str(), "wb");
      ASSERT_NE(f, nullptr);
      for (int i = 0; i < 130; ++i) std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    const pid_t pid = testing_support::StartKw9cli(args, aside / "out", aside / "err");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(TemporaryFileAppears(dir));
    std::this_thread::sleep_for(std::chrono::milliseconds(row.settleMs));
    for (int i = 0; i < row.signals; ++i) {
      kill(pid, SIGTERM);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (row.exitStatus < 0) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exitStatus) << status;
    }
    std::vector<std::string> left = dir.Names();
    std::erase(left, "big.kml");
    EXPECT_EQ(left, (std::vector<std::string>{"out.kml"}));
    EXPECT_EQ(Slurp(dir / "out.kml"), "yesterday's track\n");
  }
}

}  // namespace
