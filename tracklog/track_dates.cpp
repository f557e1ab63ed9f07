#include "tracklog/track_dates.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Rounds towards minus infinity, also for moments before 1970.
int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

// The civil calendar by days of 400-year eras, which repeat exactly.
int64_t DaysFromCivil(const CivilDate& date) {
  const int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const int64_t era = FloorDiv(y, 400);
  const int64_t yearOfEra = y - era * 400;
  const int64_t monthFromMarch = (date.month + 9) % 12;
  const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + date.day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::optional<int64_t> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int digits[8];
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 4 || i == 7) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    digits[n++] = text[i] - '0';
  }
  const CivilDate date{digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3],
                       digits[4] * 10 + digits[5], digits[6] * 10 + digits[7]};
  if (date.month < 1 || date.month > 12 || date.day < 1) return std::nullopt;
  const int64_t days = DaysFromCivil(date);
  // A day past the month's end comes back as another date.
  const CivilDate back = CivilFromDays(days);
  if (back.year != date.year || back.month != date.month || back.day != date.day) {
    return std::nullopt;
  }
  return days;
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
    times[i] = day * kSecondsPerDay + second;
    last = times[i];
  }
  if (last == kNoTime) return times;
  // Then the first fix's midnight: given, or the latest one that leaves the
  // last fix at or before the moment.
  const int64_t base = anchor.kind == DateAnchor::Kind::kFirstFixDate
                           ? anchor.value * kSecondsPerDay
                           : FloorDiv(anchor.value - last, kSecondsPerDay) * kSecondsPerDay;
  for (int64_t& t : times) {
    if (t != kNoTime) t += base;
  }
  return times;
}
