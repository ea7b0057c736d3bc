#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/AsciiText.h"

namespace NumberText {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

double LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && AsciiText::IsSpace(text[i])) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  std::string number(text.substr(start, i - start));
  double value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value) ? value
                              : (value > 0 ? std::numeric_limits<double>::max()
                                           : std::numeric_limits<double>::lowest());
}

std::optional<int32_t> LeadingInt32Checked(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && AsciiText::IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{1} << 32) {
      overflow = true;
      value = int64_t{1} << 32;
    }
  }
  if (negative) value = -value;
  if (overflow || value > std::numeric_limits<int32_t>::max() ||
      value < std::numeric_limits<int32_t>::min())
    return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t LeadingInt32(std::string_view text) {
  if (auto value = LeadingInt32Checked(text)) return *value;
  size_t i = 0;
  while (i < text.size() && AsciiText::IsSpace(text[i])) ++i;
  bool negative = i < text.size() && text[i] == '-';
  return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
}

int32_t ClampToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

std::string FormatNumber(double value) {
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
    return std::to_string(static_cast<int64_t>(value));
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace NumberText
