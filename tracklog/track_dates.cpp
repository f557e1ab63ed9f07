#include "tracklog/track_dates.h"

#include <chrono>

namespace chr = std::chrono;

std::optional<int64_t> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int digits[8];
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 4 || i == 7) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    digits[n++] = text[i] - '0';
  }
  const chr::year_month_day date{
      chr::year{digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3]},
      chr::month{static_cast<unsigned>(digits[4] * 10 + digits[5])},
      chr::day{static_cast<unsigned>(digits[6] * 10 + digits[7])}};
  if (!date.ok()) return std::nullopt;
  return chr::sys_days{date}.time_since_epoch().count();
}

std::vector<int64_t> DateFixes(const TrackModel& model, const DateAnchor& anchor) {
  std::vector<int64_t> times(model.fixes.size(), kNoTime);
  // First the times counted from midnight before the first timed fix.
  int64_t day = 0;
  int previous = -1;
  int64_t last = kNoTime;
  for (size_t i = 0; i < model.fixes.size(); ++i) {
    const int second = SecondOfDay(model.fixes[i]);
    if (second < 0) continue;
    if (previous >= 0 && second < previous) ++day;
    previous = second;
    times[i] = (chr::days{day} + chr::seconds{second}).count();
    last = times[i];
  }
  if (last == kNoTime) return times;
  // Then the first fix's midnight: given, or the latest one that leaves the
  // last fix at or before the moment.
  const chr::sys_seconds base =
      anchor.kind == DateAnchor::Kind::kFirstFixDate
          ? chr::sys_days{chr::days{anchor.value}}
          : chr::floor<chr::days>(chr::sys_seconds{chr::seconds{anchor.value - last}});
  for (int64_t& t : times) {
    if (t != kNoTime) t += base.time_since_epoch().count();
  }
  return times;
}
