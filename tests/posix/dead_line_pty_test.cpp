// A tracker that falls silent in the middle of a paced download, over a real
// pseudo-terminal: kw9cli must say so within seconds, not minutes.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/kw9cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace {

using testing_support::ScratchDir;
using testing_support::TrackersimProcess;

// Catches a block read that waits its old 5 s a byte requested (95 s a
// block, tripled by the retries) for a tracker that is gone.
TEST(DeadLineOverPty, ADownloadWhoseTrackerFallsSilentEndsWithinSeconds) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "1024", "--pace", "--silent-after", "J:101"});
  ASSERT_TRUE(sim.Running());
  const auto start = std::chrono::steady_clock::now();
  const testing_support::CliRun run =
      testing_support::Kw9cli(dir, "download --output t.kml --port " + sim.Device());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_EQ(run.err, "kw9: Error reading flash\n");
  // 100 blocks of 22 bytes at 9600 baud and a 1 ms pause each: 2.4 s at
  // the earliest. The bound leaves room for a loaded machine (the pacing
  // itself runs late there) and still catches the old wait of minutes.
  const double silentAt = 100 * (22 * 10.0 / 9600 + 0.001);
  EXPECT_LT(seconds - silentAt, 30.0) << "gave up " << seconds - silentAt << " s after the silence";
}

}  // namespace
