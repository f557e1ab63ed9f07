#include "tracklog/track_text.h"

#include <charconv>
#include <chrono>
#include <cmath>

TrackText& TrackText::Int(int64_t v, int width) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
  (void)ec;  // 24 characters hold every int64_t
  const size_t length = static_cast<size_t>(end - digits);
  // "%02d" pads behind the sign: -5 becomes "-5", as printf writes it.
  if (v >= 0 && length < static_cast<size_t>(width)) {
    text_.append(static_cast<size_t>(width) - length, '0');
  }
  text_.append(digits, length);
  return *this;
}

TrackText& TrackText::Fixed6(double v) {
  // Correctly rounded, as glibc's and MinGW's "%f" are, so the same bytes keep
  // giving the same text. Most values take the short way: below 2^40 the
  // product v * 1e6 is off the exact one by less than 2^-13, so unless it lies
  // that close to halfway between two integers, its nearest integer is the
  // exact rounding. The rest go through to_chars.
  const double scaled = v * 1e6;
  if (scaled > -1099511627776.0 && scaled < 1099511627776.0) {
    const double nearest = std::nearbyint(scaled);
    const double off = std::fabs(scaled - nearest);
    if (off < 0.499) {
      const auto units = static_cast<int64_t>(std::fabs(nearest));
      if (std::signbit(v)) text_.push_back('-');
      Int(units / 1000000).Add('.').Int(units % 1000000, 6);
      return *this;
    }
  }
  char digits[400];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, 6);
  if (ec == std::errc()) text_.append(digits, static_cast<size_t>(end - digits));
  return *this;
}

TrackText& TrackText::IsoTime(int64_t unixSeconds) {
  namespace chr = std::chrono;
  // chrono's years end at 32767, but the calendar repeats every 400 years
  // (146097 days): the date is found within the 400 years from 1970 on.
  using Eras = chr::duration<int64_t, std::ratio<int64_t{146097} * 86400>>;
  const chr::sys_seconds moment{chr::seconds{unixSeconds}};
  // The day it falls on, also before 1970.
  const chr::sys_days day = chr::floor<chr::days>(moment);
  const Eras eras = chr::floor<Eras>(day.time_since_epoch());
  const chr::year_month_day date{day - eras};
  const chr::hh_mm_ss time{moment - day};
  Int(static_cast<int>(date.year()) + 400 * eras.count(), 4).Add('-');
  Int(static_cast<unsigned>(date.month()), 2).Add('-');
  Int(static_cast<unsigned>(date.day()), 2).Add('T');
  Int(time.hours().count(), 2).Add(':').Int(time.minutes().count(), 2).Add(':');
  Int(time.seconds().count(), 2).Add('Z');
  return *this;
}

TrackText& TrackText::Xml(std::string_view s) {
  for (const char c : s) {
    switch (c) {
      case '&':
        text_.append("&amp;");
        break;
      case '<':
        text_.append("&lt;");
        break;
      case '>':
        text_.append("&gt;");
        break;
      case '"':
        text_.append("&quot;");
        break;
      default:
        text_.push_back(c);
    }
  }
  return *this;
}
