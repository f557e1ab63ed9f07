#include "tracklog/track_text.h"

#include <charconv>

#include "tracklog/track_dates.h"

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
  // giving the same text.
  char digits[400];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, 6);
  if (ec == std::errc()) text_.append(digits, static_cast<size_t>(end - digits));
  return *this;
}

TrackText& TrackText::IsoTime(int64_t unixSeconds) {
  int64_t days = unixSeconds / 86400;
  int64_t second = unixSeconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  Int(date.year, 4).Add('-').Int(date.month, 2).Add('-').Int(date.day, 2).Add('T');
  Int(second / 3600, 2).Add(':').Int(second / 60 % 60, 2).Add(':').Int(second % 60, 2).Add('Z');
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
