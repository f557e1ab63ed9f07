// Building the text of track files in a buffer, with '.' as the decimal point
// whatever the C library's locale says (a desktop may set one with a comma),
// and no allocation once the buffer has grown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TrackText {
 public:
  void Reserve(size_t bytes) { text_.reserve(bytes); }
  void Clear() { text_.clear(); }
  const std::string& Text() const { return text_; }

  TrackText& Add(std::string_view s) {
    text_.append(s);
    return *this;
  }
  TrackText& Add(char c) {
    text_.push_back(c);
    return *this;
  }
  // As "%d", or "%02d" with width 2 (zeros ahead of a number below the width).
  TrackText& Int(int64_t v, int width = 1);
  // As "%f": six digits after the point.
  TrackText& Fixed6(double v);
  // "YYYY-MM-DDThh:mm:ssZ" of seconds since 1970-01-01 00:00 UTC.
  TrackText& IsoTime(int64_t unixSeconds);
  // s with &, <, >, " escaped for XML text and attributes.
  TrackText& Xml(std::string_view s);

 private:
  std::string text_;
};
