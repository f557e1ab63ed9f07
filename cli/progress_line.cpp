#include "cli/progress_line.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace cli {

namespace {

std::string Kilobytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1000.0);
  return text;
}

std::string Clock(int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  }
  return text;
}

}  // namespace

std::string ProgressLine(ProgressReading first, ProgressReading now, int64_t totalBytes) {
  const int64_t total = totalBytes > 0 ? totalBytes : 1;
  const int64_t done = now.bytes < 0 ? 0 : now.bytes > total ? total : now.bytes;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%4d%%", static_cast<int>(done * 100 / total));
  std::string line = std::string(percent) + " " + Kilobytes(done) + "/" + Kilobytes(total) + " kB";
  const int64_t micros = now.micros - first.micros;
  const int64_t gained = done - first.bytes;
  if (micros <= 0 || gained <= 0) return line;
  const double perSecond = static_cast<double>(gained) * 1e6 / static_cast<double>(micros);
  char rate[32];
  std::snprintf(rate, sizeof rate, " %.2f kB/s ", perSecond / 1000.0);
  // Whole seconds, rounded up: "0:00 left" only once nothing is left (less
  // a hair for the rounding of the division).
  const int64_t left =
      static_cast<int64_t>(std::ceil(static_cast<double>(total - done) / perSecond - 1e-6));
  return line + rate + Clock(left) + " left";
}

void ProgressMeter::Start(int64_t micros) {
  first_ = {micros, 0};
  started_ = true;
  tenthsShown_ = 0;
}

std::string ProgressMeter::Line(ProgressReading now, int64_t totalBytes) {
  if (show_ == ProgressShow::kNone) return "";
  if (!started_) Start(now.micros);
  if (totalBytes <= 0) {
    // An erase: its end is the tracker's to tell, so only the time it takes.
    if (show_ != ProgressShow::kRedraw) return "";
    return "  erasing " + Clock((now.micros - first_.micros) / 1000000);
  }
  if (show_ == ProgressShow::kRedraw) return ProgressLine(first_, now, totalBytes);
  const int tenths = totalBytes > 0 ? static_cast<int>(now.bytes * 10 / totalBytes) : 0;
  if (tenths <= tenthsShown_) return "";
  tenthsShown_ = tenths;
  return ProgressLine(first_, now, totalBytes);
}

}  // namespace cli
