// Dates for a log that stores only the UTC time of day of each fix. The fixes
// are in log order, so a time of day earlier than the one before means the
// next UTC day; one anchor then dates them all. A gap of more than 24 hours
// between two fixes cannot be seen this way.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "tracklog/track_model.h"

// A fix that has no time: its stored time is one no clock shows, or no fix
// before or after it gives its day.
inline constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

// "YYYY-MM-DD" as days since 1970-01-01; nothing for any other text or a day
// the calendar does not have (2026-02-29).
std::optional<int64_t> ParseIsoDate(std::string_view text);

// What fixes the dates.
struct DateAnchor {
  enum class Kind {
    kFirstFixDate,  // value: the UTC date of the first timed fix, days since 1970
    kLatestMoment,  // value: a moment, seconds since 1970, at or after the last timed fix
  };
  Kind kind = Kind::kFirstFixDate;
  int64_t value = 0;

  static DateAnchor FirstFixDate(int64_t days) { return {Kind::kFirstFixDate, days}; }
  static DateAnchor LatestMoment(int64_t unixSeconds) { return {Kind::kLatestMoment, unixSeconds}; }
};

// Seconds since 1970-01-01 00:00 UTC of each fix of the model, kNoTime for a
// fix whose time is impossible (it does not move the day either). With a
// moment, the last timed fix lies at or before it, less than a day before.
std::vector<int64_t> DateFixes(const TrackModel& model, const DateAnchor& anchor);
