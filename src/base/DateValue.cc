#include "base/DateValue.h"

#include <cstdio>

namespace {

bool ReadDigits(std::string_view text, size_t& pos, size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  out = value;
  return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string DateValue::ToText() const {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", Year, Month, Day, Hour,
                Minute, Second);
  return buffer;
}

std::optional<DateValue> DateValue::Parse(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  DateValue d;
  size_t pos = 0;
  if (!ReadDigits(text, pos, 4, d.Year) || !Expect(text, pos, '-') ||
      !ReadDigits(text, pos, 2, d.Month) || !Expect(text, pos, '-') ||
      !ReadDigits(text, pos, 2, d.Day))
    return std::nullopt;
  if (d.Month < 1 || d.Month > 12 || d.Day < 1 || d.Day > DaysInMonth(d.Year, d.Month))
    return std::nullopt;
  if (pos == text.size()) return d;
  if (text[pos] != 'T' && text[pos] != ' ') return std::nullopt;
  ++pos;
  if (!ReadDigits(text, pos, 2, d.Hour) || !Expect(text, pos, ':') ||
      !ReadDigits(text, pos, 2, d.Minute))
    return std::nullopt;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadDigits(text, pos, 2, d.Second)) return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      size_t digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++digits;
      if (digits == 0) return std::nullopt;
    }
  }
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos != text.size()) return std::nullopt;
  if (d.Hour > 23 || d.Minute > 59 || d.Second > 59) return std::nullopt;
  return d;
}
