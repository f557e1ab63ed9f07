// What kw9cli shows of a download while it runs: the share of the memory
// read, the bytes, the rate and the time left, as one line.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// How far a download has got at a moment on a monotonic clock.
struct ProgressReading {
  int64_t micros = 0;
  int64_t bytes = 0;
};

// "  43% 56.3/131.1 kB 0.65 kB/s 1:55 left" for now, with the rate measured
// from first; without a rate yet (no time or no byte since first) the line
// ends after the bytes. kB are 1000 bytes; the time left is rounded up, and
// counts hours past the hour ("1:02:03 left").
std::string ProgressLine(ProgressReading first, ProgressReading now, int64_t totalBytes);

// How standard error shows progress.
enum class ProgressShow {
  kNone,    // --quiet
  kRedraw,  // a terminal: one line, drawn over in place
  kLines,   // a log: a line of its own at every tenth
};

// Turns each reading of a download into what standard error gets, if
// anything: the line itself to draw over the last one, or a plain line when
// the reading passes another tenth.
class ProgressMeter {
 public:
  explicit ProgressMeter(ProgressShow show) : show_(show) {}
  // A download starting: readings count from here.
  void Start(int64_t micros);
  // The text to write for the reading (without "\r" or line end); "" for
  // nothing. Without a total (an erase), a terminal's line tells the time
  // since the start.
  std::string Line(ProgressReading now, int64_t totalBytes);

 private:
  ProgressShow show_;
  ProgressReading first_;
  bool started_ = false;
  int tenthsShown_ = 0;
};

}  // namespace cli
