#include "config/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

const std::array<const char*, kRadioParameterCount> kRadioParameterNames = {
    "SL", "SH", "HP", "ID", "MK", "DT", "RO", "RN", "RR"};

double voltsFromCount(uint16_t count) {
  return count * 0.0064453125;
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The leading decimal number of text (blanks, sign, digits, fraction,
// exponent), without hexadecimal, "inf" or "nan", which are no numbers here;
// 0.0 when there is none. Out-of-range values become infinity or zero.
double LeadingDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t mantissa = i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  double value = 0.0;
  const char* first = text.data() + mantissa;
  const char* last = text.data() + end;
  const auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: the position of the first
    // significant digit plus the exponent tells which.
    long long order = 0;
    const char* p = first;
    long long intDigits = 0;
    for (; p < last && IsDigit(*p); ++p) {
      if (intDigits > 0 || *p != '0') ++intDigits;
    }
    if (intDigits > 0) {
      order = intDigits;
    } else if (p < last && *p == '.') {
      for (++p; p < last && *p == '0'; ++p) --order;
    }
    long long exponent = 0;
    const char* e = std::find_if(first, last, [](char c) { return c == 'e' || c == 'E'; });
    if (e != last) {
      const bool minus = e[1] == '-';
      for (const char* q = e + 1; q < last; ++q) {
        if (IsDigit(*q) && exponent < 1000000000) exponent = exponent * 10 + (*q - '0');
      }
      if (minus) exponent = -exponent;
    }
    value = order + exponent > 0 ? HUGE_VAL : 0.0;
  }
  return negative ? -value : value;
}

}  // namespace

int countFromVoltsText(const std::string& text) {
  // Two separate roundings, as the tracker's counts were always made: for
  // "6.6" the exact product lies just below 1024 and rounds up to it.
  const double scaled = LeadingDecimal(text) * 1024.0;
  const double count = scaled * 0.15151515151515152;
  if (std::isnan(count) || count < 0.0) return 0;
  // A count the ten bits cannot hold becomes the highest one, not a wrapped
  // (and so far lower) threshold.
  if (count >= 1024.0) return 1023;
  return static_cast<int>(count);  // toward zero
}

bool isStorableVoltsText(const std::string& text) {
  // The whole text must be one decimal number, blanks around it allowed:
  // "3.3V" or "" would otherwise become a count nobody typed.
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == text.size() || !IsDigit(text[i])) return false;
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  if (text.find_first_not_of(" \t", i) != std::string::npos) return false;
  const double volts = LeadingDecimal(text);
  return volts >= 0.0 && volts <= kHighestShutdownVolts;
}

void unpackOptionFlags(uint8_t flags, const OptionFlagMembers& members) {
  for (int* member : members) *member = 0;
  for (size_t bit = 0; bit < members.size(); ++bit) {
    if ((flags >> bit) & 1) *members[bit] = 1;
  }
}

uint8_t packOptionFlags(const OptionFlagMembers& members) {
  uint8_t flags = 0;
  for (size_t bit = 0; bit < members.size(); ++bit) {
    if (*members[bit] != 0) flags = static_cast<uint8_t>(flags | (1u << bit));
  }
  return flags;
}

std::array<char, 4> serialDigits(uint32_t serialNumber) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", static_cast<int>(serialNumber));
  return {text[0], text[1], text[2], text[3]};
}

std::string FormatText(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.pop_back();
  return text;
}
