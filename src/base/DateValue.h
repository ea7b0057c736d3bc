#pragma once
// A calendar date with an optional time of day, and the parser behind DATE
// option values.

#include <optional>
#include <string>
#include <string_view>

struct DateValue {
  int Year = 0, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;

  // "YYYY-MM-DD HH:MM:SS".
  std::string ToText() const;
  bool operator==(const DateValue&) const = default;

  // Accepts ISO 8601 dates: YYYY-MM-DD, optionally followed by "T" or a blank and
  // HH:MM or HH:MM:SS (fractions of a second and a trailing "Z" are ignored).
  // Surrounding blanks are allowed. Nothing else parses; the date must exist.
  static std::optional<DateValue> Parse(std::string_view text);
};
