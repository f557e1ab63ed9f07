// The log commands of kw9cli (download, erase, flash test, go, fix-kml)
// against the trackersim program over a real pseudo-terminal.
#include <errno.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/external_tool.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/track_readers.h"
#include "tests/support/trackersim_process.h"

using testing::HasSubstr;
using testing_support::CliRun;
using testing_support::CoordinateLines;
using testing_support::HaveTool;
using testing_support::Kw9cli;
using testing_support::RunTool;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;
using testing_support::ToolRun;
using testing_support::TrackersimProcess;

namespace {

std::string Golden(int sizeKbit) {
  return Slurp(std::string(KW9_GOLDEN_DIR) + "/track" + std::to_string(sizeKbit) + ".kml");
}

// The points a reader sees; none when it fails.
size_t PointsSeen(const std::string& command, bool unicsv) {
  const ToolRun run = RunTool(command + " 2>/dev/null");
  if (run.status != 0) return 0;
  return (unicsv ? testing_support::FromUnicsv(run.output)
                 : testing_support::FromOgrinfo(run.output))
      .size();
}

struct SizeCase {
  int sizeKbit;
  const char* percent;
};
void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.sizeKbit << " kbit";
}

class DownloadOverPty : public testing::TestWithParam<SizeCase> {};

// Catches a download that loses, reorders or misdecodes bytes on a real line
// (block address bytes, 8- against 16-byte blocks, a wrong memory size), a
// wrong percentage, and a file the KML readers do not take point for point.
// With standard error on a file no progress bar may be drawn into it.
TEST_P(DownloadOverPty, FileEqualsTheGoldenTrack) {
  const SizeCase& c = GetParam();
  ScratchDir dir;
  const std::string output = dir / "track.kml";
  {
    TrackersimProcess sim({"--size", std::to_string(c.sizeKbit)});
    ASSERT_TRUE(sim.Running());
    const CliRun run = Kw9cli(dir, "download --port " + sim.Device() + " --output " + output);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "kw9: Done Reading Flash\n");
    EXPECT_THAT(run.out, HasSubstr(std::string("\npercentLabel=") + c.percent + "\n"));
  }
  const std::string golden = Golden(c.sizeKbit);
  ASSERT_FALSE(golden.empty());
  EXPECT_TRUE(Slurp(output) == golden) << "differs from track" << c.sizeKbit << ".kml";
  const size_t points = CoordinateLines(golden).size();
  ASSERT_GT(points, 10u);
  for (const char* reader : {"gpsbabel", "ogrinfo"}) {
    if (!HaveTool(reader)) GTEST_SKIP() << reader << " is not installed";
  }
  EXPECT_EQ(PointsSeen("gpsbabel -t -i kml -f '" + output + "' -o unicsv -F -", true), points);
  EXPECT_EQ(PointsSeen("ogrinfo -ro -al '" + output + "'", false), points);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DownloadOverPty,
                         testing::Values(SizeCase{64, "12.49"}, SizeCase{128, "12.49"},
                                         SizeCase{1024, "99.99"}),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                           return "kbit" + std::to_string(info.param.sizeKbit);
                         });

// Catches a download cut short by a lost line or half replies that goes on
// decoding garbage, loses the whole file, or leaves it unclosed XML: the
// points that arrived whole stay, in order, and nothing after them.
TEST(DownloadFaultsOverPty, BrokenLineKeepsTheTrackThatArrived) {
  struct Case {
    int sizeKbit;
    std::vector<std::string> fault;
  };
  const Case cases[] = {
      {64, {"--drop-after", "J:500"}},
      {64, {"--short-block-after", "J:500"}},
      {1024, {"--short-block-after", "J:3000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sizeKbit) + " kbit " + c.fault[0]);
    ScratchDir dir;
    const std::string output = dir / "track.kml";
    std::vector<std::string> options = {"--size", std::to_string(c.sizeKbit)};
    options.insert(options.end(), c.fault.begin(), c.fault.end());
    TrackersimProcess sim(options);
    ASSERT_TRUE(sim.Running());
    const CliRun run = Kw9cli(dir, "download --port " + sim.Device() + " --output " + output);
    EXPECT_EQ(run.status, 6);
    EXPECT_EQ(run.err, "kw9: Error reading flash\n");
    const ToolRun lint = RunTool("xmllint --noout '" + output + "' 2>&1");
    EXPECT_EQ(lint.status, 0) << lint.output;
    const std::vector<std::string> got = CoordinateLines(Slurp(output));
    const std::vector<std::string> golden = CoordinateLines(Golden(c.sizeKbit));
    ASSERT_GT(got.size(), 0u);
    ASSERT_LT(got.size(), golden.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), golden.begin()));
  }
}

// Catches noise in a block written into the track as fixes, and a download
// that gives up on one garbled block instead of asking for it again.
TEST(DownloadFaultsOverPty, AGarbledBlockIsAskedForAgain) {
  ScratchDir dir;
  const std::string output = dir / "track.kml";
  TrackersimProcess sim({"--size", "1024", "--garbage-after", "J:5"});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(dir, "download --port " + sim.Device() + " --output " + output);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "kw9: Done Reading Flash\n");
  EXPECT_TRUE(Slurp(output) == Golden(1024)) << "differs from track1024.kml";
}

// Catches a full disk reported as success.
TEST(DownloadFaultsOverPty, FullDiskIsReported) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "64"});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(dir, "download --port " + sim.Device() + " --output /dev/full");
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.err, "kw9: Error writing file\n");
}

// Catches a download that truncates the user's existing file, or leaves its
// temporary file behind, before it knows that the tracker answers. (A ping
// never answered "OK": LogDownloadTest.ADeviceThatNeverSaysOkEndsEveryOperation.)
TEST(DownloadFaultsOverPty, NoAnswerLeavesTheOldFileAlone) {
  struct Case {
    const char* what;
    std::vector<std::string> fault;  // empty: no tracker at all
    const char* message;
    int status;
  };
  const Case cases[] = {
      {"port that does not exist", {}, "kw9: Error opening com port", 3},
      {"line lost at the ping", {"--drop-after", "?:1"}, "kw9: Serial Port Error", 4},
      {"line lost at the size query",
       {"--drop-after", "K:1"},
       "kw9: Error reading memory size\n",
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string output = dir / "track.kml";
    const std::string old = "<kml>yesterday's track</kml>\r\n";
    Spill(output, old);
    std::optional<TrackersimProcess> sim;
    std::string port = "/dev/pts/99999";
    if (!c.fault.empty()) {
      std::vector<std::string> options = {"--size", "64"};
      options.insert(options.end(), c.fault.begin(), c.fault.end());
      sim.emplace(options);
      ASSERT_TRUE(sim->Running());
      port = sim->Device();
    }
    const CliRun run = Kw9cli(dir, "download --port " + port + " --output " + output);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, testing::Not(HasSubstr("Done Reading Flash")));
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_EQ(Slurp(output), old);
    EXPECT_THAT(dir.Names(), testing::ElementsAre("track.kml"));
  }
}

// Catches a command that presses Read first (a Read may rewrite the ID
// string during what was asked to be a download or an erase), an erase that
// runs although CLEAR was not answered, and wrong completion reports.
TEST(LogCommandsOverPty, SendOnlyTheirOwnCommands) {
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin";
  const auto sent = [&](const std::string& arguments, CliRun& run) {
    std::filesystem::remove(transcript);
    TrackersimProcess sim({"--size", "64", "--erase-ms", "300", "--transcript", transcript});
    if (!sim.Running()) return std::string("(no trackersim)");
    run = Kw9cli(dir, arguments + " --port " + sim.Device());
    sim.Stop();
    return Slurp(transcript);
  };
  struct Case {
    std::string arguments;
    int status;
    std::string err;
    std::string outLine;
    std::string bytes;  // the first bytes the tracker got
  };
  const Case cases[] = {
      {"erase --yes", 0, "kw9: Done Clearing Flash\n", "statusText=Done eraseing", "?KZ"},
      {"erase", 1, "kw9cli: not erased: only --yes answers CLEAR\n", "statusText=Ready", ""},
      {"flash-test", 0, "kw9: I2C Read Test Passed\n", "statusText=Ready", "?KJ"},
      {"go", 0, "", "statusText=TX running, Enter a command to stop", "?G"},
      {"download --output t.kml", 0, "kw9: Done Reading Flash\n", "percentLabel=12.49", "?VKJ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    CliRun run{};
    const std::string bytes = sent(c.arguments, run);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_THAT(run.out, HasSubstr("\n" + c.outLine + "\n"));
    EXPECT_EQ(bytes.substr(0, c.bytes.size()), c.bytes);
    if (c.bytes.find('J') == std::string::npos) {  // block reads go on past the row's bytes
      EXPECT_EQ(bytes, c.bytes);
    }
  }
}

// Catches a Flash Test that leaves its pattern over the first record of the
// user's log: a download afterwards must find the log as it was.
TEST(LogCommandsOverPty, FlashTestLeavesTheLogAsItWas) {
  ScratchDir dir;
  const std::string output = dir / "track.kml";
  TrackersimProcess sim({"--size", "64"});
  ASSERT_TRUE(sim.Running());
  const CliRun test = Kw9cli(dir, "flash-test --port " + sim.Device());
  EXPECT_EQ(test.status, 0);
  EXPECT_EQ(test.err, "kw9: I2C Read Test Passed\n");
  const CliRun download = Kw9cli(dir, "download --port " + sim.Device() + " --output " + output);
  EXPECT_EQ(download.status, 0);
  EXPECT_TRUE(Slurp(output) == Golden(64)) << "differs from track64.kml";
}

// Catches an in-place repair that reads the file it has already truncated,
// keeps LF line ends, or misses a blank after a comma.
TEST(LogCommandsOverPty, FixKmlRepairsInPlace) {
  ScratchDir dir;
  const std::string file = dir / "blanks.kml";
  Spill(file, "<coordinates>, 1.5, 2.5, 100\n3.5,  4.5, 7\n</coordinates>\n");
  const CliRun run = Kw9cli(dir, "fix-kml " + file + " " + file);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "kw9: First select an input file\nkw9: Now select an output file\n"
            "kw9: KML file fixed\n");
  EXPECT_EQ(Slurp(file), "<coordinates>1.5,2.5,100\r\n3.5, 4.5,7\r\n</coordinates>\r\n");
  EXPECT_THAT(dir.Names(), testing::ElementsAre("blanks.kml"));
}

// Runs kw9cli with standard error on a pseudo-terminal of our own and returns
// all that reached it.
std::optional<CliRun> Kw9cliOnTerminal(const ScratchDir& dir,
                                       const std::vector<std::string>& args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return std::nullopt;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return std::nullopt;
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);  // the bytes as written: no LF to CR LF
  tcsetattr(slave, TCSANOW, &raw);
  const std::string out = dir / "cli.out";
  const pid_t pid = testing_support::StartKw9cli(args, out, "", slave);
  close(slave);
  CliRun run{-1, "", ""};
  // Read as it comes, or the bar fills the terminal's buffer and blocks it;
  // EIO once the program has closed its end.
  char buf[4096];
  pollfd p{master, POLLIN, 0};
  while (pid > 0 && poll(&p, 1, 60000) > 0) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.err.append(buf, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  run.out = Slurp(out);
  return run;
}

// Catches a bar that is not drawn on a terminal, is not redrawn in place, or
// is not cleared before the final message (which would end up on its line).
TEST(DownloadOverPty, ProgressBarOnATerminal) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "64"});
  ASSERT_TRUE(sim.Running());
  const std::optional<CliRun> run =
      Kw9cliOnTerminal(dir, {"download", "--port", sim.Device(), "--output", dir / "track.kml"});
  ASSERT_TRUE(run.has_value()) << "no pseudo-terminal";
  EXPECT_EQ(run->status, 0);
  size_t redraws = 0;
  for (size_t at = run->err.find("\r["); at != std::string::npos;
       at = run->err.find("\r[", at + 1)) {
    ++redraws;
  }
  EXPECT_GT(redraws, 10u);
  EXPECT_THAT(run->err, testing::EndsWith("\r\033[Kkw9: Done Reading Flash\n"));
}

}  // namespace
