// Numbers in track files, without printf and its locale.
#include "tracklog/track_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>

namespace {

std::string Printf(double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

// The KML lines must stay as printf's "%f" made them. Catches a short way that
// rounds a near-halfway value otherwise than printf, loses a sign of a value
// that rounds to zero, or drops the leading zeros of the fraction.
TEST(TrackText, Fixed6IsPrintfsF) {
  std::vector<double> values;
  std::istringstream edges(
      "0 -0 5e-7 1.5e-6 -5e-7 1.0000005 2.5e-7 -4e-7 1e-6 183.292712 -259.2927116666667 "
      "1099511.627776 5e12 -1e300 97.123537499999998 30.457426666666667 1e-300");
  for (double v; edges >> v;) values.push_back(v);
  // Halfway cases as the decoder makes them: ten-thousandths of a minute.
  for (int t = 0; t < 6000; ++t) values.push_back(t * 0.0001 * 0.016666666666666666 + 51);
  std::mt19937_64 random(20260301);
  std::uniform_real_distribution<double> any(-400, 400);
  for (int i = 0; i < 200000; ++i) values.push_back(any(random));
  for (const double v : values) {
    TrackText text;
    text.Fixed6(v);
    ASSERT_EQ(text.Text(), Printf(v)) << v;
  }
}

TEST(TrackText, IntWidths) {
  const struct {
    int64_t v;
    int width;
    const char* text;
  } rows[] = {{0, 2, "00"},
              {7, 2, "07"},
              {255, 2, "255"},
              {-5, 2, "-5"},
              {0, 1, "0"},
              {42, 6, "000042"},
              {-9223372036854775807 - 1, 1, "-9223372036854775808"}};
  for (const auto& row : rows) {
    TrackText text;
    text.Int(row.v, row.width);
    EXPECT_EQ(text.Text(), row.text) << row.v;
  }
}

}  // namespace
