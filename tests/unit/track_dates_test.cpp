// Dating a log that holds only times of day.
#include "tracklog/track_dates.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tracklog/track_text.h"

namespace {

std::string Iso(int64_t t) {
  if (t == kNoTime) return "";
  TrackText text;
  text.IsoTime(t);
  return text.Text();
}

// Catches a wrong day count at leap years, century rules, before 1970 and past
// the years chrono counts (32767).
TEST(TrackDates, IsoTimeOfKnownMoments) {
  const struct {
    int64_t unix;
    const char* iso;
  } rows[] = {{0, "1970-01-01T00:00:00Z"},          {-1, "1969-12-31T23:59:59Z"},
              {951782400, "2000-02-29T00:00:00Z"},  {1709164800 + 86399, "2024-02-29T23:59:59Z"},
              {1772323200, "2026-03-01T00:00:00Z"}, {4107542400, "2100-03-01T00:00:00Z"},
              {-58060800, "1968-02-29T00:00:00Z"},  {1000000000000, "33658-09-27T01:46:40Z"}};
  for (const auto& row : rows) EXPECT_EQ(Iso(row.unix), row.iso) << row.unix;
}

// Catches dates the calendar does not have, and sloppy forms, accepted.
TEST(TrackDates, ParseIsoDate) {
  const struct {
    const char* text;
    int64_t days;  // -1: refused
  } rows[] = {
      {"2026-03-01", 20513}, {"2024-02-29", 19782}, {"1970-01-01", 0},  {"2026-02-29", -1},
      {"2026-13-01", -1},    {"2026-04-31", -1},    {"2026-00-10", -1}, {"2026-1-01", -1},
      {"2026-03-01x", -1},   {"2026/03/01", -1},    {"", -1},           {"+026-03-01", -1},
      {"2000-02-29", 11016}, {"2100-02-29", -1},    {"1900-02-29", -1}, {"9999-12-31", 2932896}};
  for (const auto& row : rows) {
    const std::optional<int64_t> days = ParseIsoDate(row.text);
    if (row.days < 0) {
      EXPECT_FALSE(days) << row.text;
    } else {
      EXPECT_EQ(days.value_or(-1), row.days) << row.text;
    }
  }
}

const int64_t kMarch1 = 20513;  // 2026-03-01, days since 1970

// Catches a day that does not turn at midnight, turns on equal times, is moved
// by an impossible time, or an anchor moment that is not the latest possible
// one at or after the last fix.
TEST(TrackDates, DatesFollowTheLogOrder) {
  const struct {
    const char* what;
    std::vector<std::array<int, 3>> times;  // hours, minutes, seconds of each fix
    DateAnchor anchor;
    std::vector<std::string> expected;  // "" for a fix without a time
  } cases[] = {
      {"midnight walk from a date",
       {{23, 59, 50}, {23, 59, 59}, {0, 0, 9}, {0, 10, 0}},
       DateAnchor::FirstFixDate(kMarch1),
       {"2026-03-01T23:59:50Z", "2026-03-01T23:59:59Z", "2026-03-02T00:00:09Z",
        "2026-03-02T00:10:00Z"}},
      {"midnight walk ending at the moment",
       {{23, 59, 50}, {23, 59, 59}, {0, 0, 9}, {0, 10, 0}},
       DateAnchor::LatestMoment(1772410200),  // 2026-03-02T00:10:00Z
       {"2026-03-01T23:59:50Z", "2026-03-01T23:59:59Z", "2026-03-02T00:00:09Z",
        "2026-03-02T00:10:00Z"}},
      {"moment a second before the last fix",
       {{23, 59, 50}, {0, 10, 0}},
       DateAnchor::LatestMoment(1772410199),
       {"2026-02-28T23:59:50Z", "2026-03-01T00:10:00Z"}},
      {"impossible times neither dated nor moving the day",
       {{10, 0, 0}, {24, 0, 0}, {10, 60, 0}, {10, 0, 60}, {9, 0, 0}, {255, 255, 255}},
       DateAnchor::FirstFixDate(kMarch1),
       {"2026-03-01T10:00:00Z", "", "", "", "2026-03-02T09:00:00Z", ""}},
      {"equal times on one day",
       {{12, 0, 0}, {12, 0, 0}, {12, 0, 1}},
       DateAnchor::FirstFixDate(kMarch1),
       {"2026-03-01T12:00:00Z", "2026-03-01T12:00:00Z", "2026-03-01T12:00:01Z"}},
      {"first fixes without a time",
       {{99, 0, 0}, {23, 0, 0}, {1, 0, 0}},
       DateAnchor::FirstFixDate(19782),  // 2024-02-29
       {"", "2024-02-29T23:00:00Z", "2024-03-01T01:00:00Z"}},
      {"new year",
       {{23, 59, 59}, {0, 0, 0}},
       DateAnchor::LatestMoment(1767225600 + 3600),  // 2026-01-01T01:00:00Z
       {"2025-12-31T23:59:59Z", "2026-01-01T00:00:00Z"}},
      {"no timed fix", {{24, 0, 0}}, DateAnchor::LatestMoment(1772410200), {""}},
      {"moment before 1970",
       {{23, 0, 0}, {1, 0, 0}},
       DateAnchor::LatestMoment(-72000),  // 1969-12-31T04:00:00Z
       {"1969-12-30T23:00:00Z", "1969-12-31T01:00:00Z"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TrackModel model;
    for (const auto& [h, m, s] : c.times) {
      TrackFix fix;
      fix.utcHours = h;
      fix.utcMinutes = m;
      fix.utcSeconds = s;
      model.fixes.push_back(fix);
    }
    std::vector<std::string> dated;
    for (const int64_t t : DateFixes(model, c.anchor)) dated.push_back(Iso(t));
    EXPECT_EQ(dated, c.expected);
  }
}

}  // namespace
