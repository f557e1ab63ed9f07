#include "tools/cli/utc_time.h"

#include <chrono>
#include <cstdio>

namespace cli {

std::string UtcText(int64_t unixSeconds) {
  int64_t days = unixSeconds / 86400;
  int64_t second = unixSeconds % 86400;
  if (second < 0) second += 86400, --days;
  // Days to a civil date in the proleptic Gregorian calendar, by 400-year eras.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
  const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];  // room for any int64 fields, though dates use 20
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(second / 3600),
                static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60));
  return text;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return UtcText(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace cli
