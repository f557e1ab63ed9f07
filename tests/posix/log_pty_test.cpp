// The log commands of kw9cli against the trackersim program over a real
// pseudo-terminal, where one run is not enough to tell (the single runs are
// folders of tests/cases).
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
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/kml_lines.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/trackersim_process.h"

using testing_support::CliRun;
using testing_support::Kw9cli;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::SplitStamp;
using testing_support::TrackersimProcess;

namespace {

std::string Golden(int sizeKbit) {
  return Slurp(std::string(KW9_GOLDEN_DIR) + "/track" + std::to_string(sizeKbit) + ".kml");
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
  EXPECT_TRUE(SplitStamp(Slurp(output)).body == Golden(64)) << "differs from track64.kml";
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
  CliRun run;
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

// Catches a line that is not drawn on a terminal, is not redrawn in place,
// leaves the end of a longer one behind, or is not cleared before the final
// message (which would end up on its line).
TEST(DownloadOverPty, ProgressLineOnATerminal) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "64"});
  ASSERT_TRUE(sim.Running());
  const std::optional<CliRun> run =
      Kw9cliOnTerminal(dir, {"download", "--port", sim.Device(), "--output", dir / "track.kml"});
  ASSERT_TRUE(run.has_value()) << "no pseudo-terminal";
  EXPECT_EQ(run->status, 0);
  const std::regex line(R"(\r *\d+% \d+\.\d/16\.4 kB( \d+\.\d\d kB/s \d+:\d\d left)?\x1b\[K)");
  const auto redraws =
      std::distance(std::sregex_iterator(run->err.begin(), run->err.end(), line), {});
  EXPECT_GT(redraws, 10);
  EXPECT_EQ(run->err.find('\n'), run->err.size() - 1) << "one line until the end";
  EXPECT_THAT(run->err, testing::HasSubstr("\r 100% 16.4/16.4 kB "));
  EXPECT_THAT(run->err, testing::EndsWith("\r\033[Kkw9: Done Reading Flash\n"));
}

// Catches a log that gets nothing while a download runs, or a line for every
// step of the window's bar; and --quiet or -q that still writes.
TEST(DownloadOverPty, ProgressLinesInALog) {
  const struct {
    const char* option;
    size_t lines;
  } rows[] = {{"", 10}, {" --quiet", 0}, {" -q", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.option);
    ScratchDir dir;
    TrackersimProcess sim({"--size", "64"});
    ASSERT_TRUE(sim.Running());
    const CliRun run = Kw9cli(dir, "download --port " + sim.Device() + " -o t.kml" + row.option);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "kw9: Done Reading Flash\n");
    // At most one a tenth; readings ten times a second may skip one.
    const auto lines =
        static_cast<size_t>(std::count(run.progress.begin(), run.progress.end(), '\n'));
    EXPECT_LE(lines, row.lines);
    EXPECT_GE(lines, row.lines / 2);
    if (row.lines == 0) continue;
    EXPECT_TRUE(std::regex_search(
        run.progress, std::regex(R"( 100% 16\.4/16\.4 kB \d+\.\d\d kB/s 0:00 left\n$)")))
        << run.progress;
  }
}

}  // namespace
