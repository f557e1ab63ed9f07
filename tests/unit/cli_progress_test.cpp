// The download's progress line: what a user waiting minutes reads from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/progress_line.h"

namespace {

using cli::ProgressLine;
using cli::ProgressMeter;
using cli::ProgressReading;
using cli::ProgressShow;

// Catches a rate taken from the clock's origin instead of the first reading,
// a percentage rounded up to 100 before the end, time left rounded down to
// "0:00" while bytes are still due, minutes past the hour not carried into
// hours, and a rate made up before any time has passed.
TEST(CliProgress, LineFromReadings) {
  const struct {
    ProgressReading first, now;
    int64_t total;
    const char* line;
  } rows[] = {
      {{0, 0}, {86769231, 56400}, 131072, "  43% 56.4/131.1 kB 0.65 kB/s 1:55 left"},
      {{1000000, 1000}, {3000000, 3000}, 10000, "  30% 3.0/10.0 kB 1.00 kB/s 0:07 left"},
      {{0, 0}, {2000000, 16383}, 16384, "  99% 16.4/16.4 kB 8.19 kB/s 0:01 left"},
      {{0, 0}, {2000000, 16384}, 16384, " 100% 16.4/16.4 kB 8.19 kB/s 0:00 left"},
      {{0, 0}, {1200000000, 32768}, 131072, "  25% 32.8/131.1 kB 0.03 kB/s 1:00:00 left"},
      {{5000000, 0}, {5000000, 0}, 16384, "   0% 0.0/16.4 kB"},
      {{0, 4000}, {9000000, 4000}, 16384, "  24% 4.0/16.4 kB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(ProgressLine(row.first, row.now, row.total), row.line);
  }
}

// Catches a log flooded with a line per reading, a tenth skipped when one
// reading jumps past two, and --quiet that still writes.
TEST(CliProgress, ShownAsTheStreamWants) {
  const struct {
    ProgressShow show;
    std::vector<int> percents;  // readings of a 1000-byte download
    std::vector<std::string> lines;
  } rows[] = {
      {ProgressShow::kLines,
       {3, 9, 10, 14, 36, 100},
       {"  10% 0.1/1.0 kB", "  36% 0.4/1.0 kB", " 100% 1.0/1.0 kB"}},
      {ProgressShow::kRedraw, {3, 9}, {"   3% 0.0/1.0 kB", "   9% 0.1/1.0 kB"}},
      {ProgressShow::kNone, {10, 100}, {}},
  };
  for (const auto& row : rows) {
    ProgressMeter meter(row.show);
    meter.Start(0);
    std::vector<std::string> lines;
    for (int percent : row.percents) {
      // Every reading at the start's moment: no rate, so the lines are exact.
      const std::string line = meter.Line({0, percent * 10}, 1000);
      if (!line.empty()) lines.push_back(line);
    }
    EXPECT_EQ(lines, row.lines);
  }
}

}  // namespace
