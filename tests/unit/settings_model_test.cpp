// The settings model: how the tracker's bytes become what the window shows
// and back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"

namespace {

// A wrong scale factor or format shows the wrong voltage.
TEST(SettingsModel, VoltsFromCountShowsTwoDecimals) {
  const std::pair<uint16_t, const char*> cases[] = {
      {0, "0.00"}, {512, "3.30"}, {545, "3.51"}, {1023, "6.59"}, {65535, "422.39"}};
  for (const auto& [count, shown] : cases) {
    SCOPED_TRACE(count);
    EXPECT_EQ(FormatText("%4.2f", voltsFromCount(count)), shown);
  }
}

// Each row names the fault it catches in the number reader, the arithmetic
// or the clamp.
TEST(SettingsModel, CountFromVoltsText) {
  const struct {
    std::string text;
    int count;
    const char* fault;
  } cases[] = {
      {"3.5", 543, "wrong factor"},
      {"3.51", 544, "rounded instead of truncated"},
      {"3.3", 512, "one exact product instead of two roundings (gives 511)"},
      {"6.59", 1022, "clamped too early"},
      {"6.6", 1023, "1024 wrapped to 0 instead of clamped"},
      {"7.0", 1023, "wraps instead of clamping"},
      {"-1", 0, "negative wraps to a high count"},
      {"", 0, "empty text is no number"},
      {"  3.5V", 543, "leading blanks or a unit stop the reader"},
      {"+3.5", 543, "plus sign rejected"},
      {".5", 77, "fraction without integer digits rejected"},
      {"5.", 775, "trailing point rejected"},
      {".", 0, "a lone point read as a number"},
      {"3.5e0", 543, "exponent ignored"},
      {"35e-1", 543, "negative exponent ignored"},
      {"3.5e", 543, "dangling exponent spoils the number"},
      {"1e999", 1023, "overflow not clamped high"},
      {"-1e999", 0, "negative overflow not clamped low"},
      {"1e-999", 0, "underflow not zero"},
      {std::string(400, '9'), 1023, "400 digits not clamped high"},
      {"0." + std::string(400, '0') + "1", 0, "a tiny fraction not zero"},
      {"nan", 0, "nan taken as a number"},
      {"inf", 0, "inf taken as a number"},
      {"0x10", 0, "hexadecimal taken as a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20) + ": " + c.fault);
    EXPECT_EQ(countFromVoltsText(c.text), c.count);
  }
}

// A clamped entry reads back as the highest voltage the tracker can hold.
TEST(SettingsModel, ClampedCountReadsBackAsHighestVoltage) {
  EXPECT_EQ(FormatText("%4.2f", voltsFromCount(static_cast<uint16_t>(countFromVoltsText("9")))),
            "6.59");
}

// The window refuses what its Write would store as another voltage. Each row
// names the fault it catches.
TEST(SettingsModel, StorableVoltsText) {
  const struct {
    std::string text;
    bool storable;
    const char* fault;
  } cases[] = {
      {"3.30", true, "an ordinary value refused"},
      {"0", true, "the bottom refused"},
      {"6.59", true, "the top refused (a compare against a rounded double)"},
      {"6.591", false, "above the top taken"},
      {"-0.01", false, "a negative voltage taken"},
      {"", false, "empty text taken for 0 V"},
      {"   ", false, "blanks taken for 0 V"},
      {" 3.3\t", true, "blanks around the number refused"},
      {"3.3V", false, "a unit after the number ignored"},
      {"3 3", false, "a second number ignored"},
      {".5", true, "a fraction without integer digits refused"},
      {"5.", true, "a trailing point refused"},
      {".", false, "a lone point taken"},
      {"+", false, "a lone sign taken"},
      {"35e-1", true, "an exponent refused"},
      {"3e", false, "a dangling exponent ignored"},
      {"1e999", false, "an overflow taken"},
      {"nan", false, "nan taken"},
      {"0x3", false, "hexadecimal taken"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + ": " + c.fault);
    EXPECT_EQ(isStorableVoltsText(c.text), c.storable);
  }
}

// Every voltage a Read can show is taken back by Write unchanged in meaning:
// a bound a hair too tight would refuse the tracker's own value.
TEST(SettingsModel, EveryShownVoltageIsStorable) {
  for (uint16_t count = 0; count < 1024; ++count) {
    const std::string shown = FormatText("%4.2f", voltsFromCount(count));
    ASSERT_TRUE(isStorableVoltsText(shown)) << count << " shows as " << shown;
  }
}

struct FlagMembers {
  int m[8] = {7, 7, 7, 7, 7, 7, 7, 7};  // garbage, so that clearing shows
  OptionFlagMembers Pointers() { return {&m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]}; }
};

// Bits in the wrong order, set bits left unset, or stale members not cleared.
TEST(SettingsModel, UnpackOptionFlagsSetsAndClearsEveryMember) {
  FlagMembers f;
  unpackOptionFlags(0xA5, f.Pointers());
  EXPECT_EQ(std::vector<int>(f.m, f.m + 8), (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1}));
}

// Only a member of exactly 1 counted as set.
TEST(SettingsModel, PackOptionFlagsTakesAnyNonZeroAsSet) {
  FlagMembers f;
  for (int& m : f.m) m = 0;
  f.m[0] = 2;
  f.m[6] = -1;
  EXPECT_EQ(packOptionFlags(f.Pointers()), 0x41);
}

// Packing and unpacking disagree about a bit.
TEST(SettingsModel, OptionFlagsRoundTrip) {
  for (const uint8_t flags : {0x00, 0xFF, 0x40, 0x18, 0xA5, 0x01, 0x80}) {
    SCOPED_TRACE(static_cast<int>(flags));
    FlagMembers f;
    unpackOptionFlags(flags, f.Pointers());
    EXPECT_EQ(packOptionFlags(f.Pointers()), flags);
  }
}

// Not zero-padded, or the last four digits taken instead of the first four.
TEST(SettingsModel, SerialDigitsAreTheFirstFourOfThePaddedNumber) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0000"}, {7, "0007"}, {123, "0123"}, {12345, "1234"}, {65535, "6553"}};
  for (const auto& [serial, digits] : cases) {
    SCOPED_TRACE(serial);
    const std::array<char, 4> d = serialDigits(serial);
    EXPECT_EQ(std::string(d.begin(), d.end()), digits);
  }
}

// A result that does not fit the first buffer cut short or lost.
TEST(SettingsModel, FormatTextReturnsLongResultsWhole) {
  for (const size_t length : {255u, 256u, 257u, 1000u}) {
    SCOPED_TRACE(length);
    const std::string text(length, 'v');
    EXPECT_EQ(FormatText("<%s>", text.c_str()), "<" + text + ">");
  }
}

}  // namespace
