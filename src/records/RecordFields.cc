#include "records/RecordFields.h"

#include <charconv>
#include <cmath>
#include <set>

#include "base/TimeZone.h"

namespace Records {

namespace {

bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::optional<FieldType> TypeOf(const std::string& word) {
  if (word.empty() || word == "text") return FieldType::kText;
  if (word == "integer") return FieldType::kInteger;
  if (word == "real") return FieldType::kReal;
  if (word == "time") return FieldType::kTime;
  return std::nullopt;
}

// The parts of a time a directive fills, and the widest number it takes.
enum Part { kYear, kShortYear, kMonth, kDay, kHour, kMinute, kSecond, kParts };

struct Directive {
  char letter;
  Part part;
  int width;
};
constexpr Directive kDirectives[] = {{'Y', kYear, 4},   {'y', kShortYear, 2}, {'m', kMonth, 2},
                                     {'d', kDay, 2},    {'e', kDay, 2},       {'H', kHour, 2},
                                     {'M', kMinute, 2}, {'S', kSecond, 2}};

// %F and %T stand for their long forms.
std::string Expanded(std::string_view format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'F') {
      out += "%Y-%m-%d";
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'T') {
      out += "%H:%M:%S";
      ++i;
    } else {
      out += format[i];
      if (format[i] == '%' && i + 1 < format.size()) out += format[++i];
    }
  }
  return out;
}

const Directive* Find(char letter) {
  for (const Directive& d : kDirectives)
    if (d.letter == letter) return &d;
  return nullptr;
}

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

const char* SqlType(FieldType type) {
  switch (type) {
    case FieldType::kInteger:
      return "INTEGER";
    case FieldType::kReal:
      return "REAL";
    case FieldType::kText:
    case FieldType::kTime:
      break;
  }
  return "TEXT";
}

const char* TypeWord(FieldType type) {
  switch (type) {
    case FieldType::kInteger:
      return "integer";
    case FieldType::kReal:
      return "real";
    case FieldType::kTime:
      return "time";
    case FieldType::kText:
      break;
  }
  return "text";
}

std::string FieldDefinition::Canonical() const {
  // Lengths before each text keep any byte of a name, unit or format apart.
  auto put = [](std::string& out, const std::string& text) {
    out += std::to_string(text.size()) + ":" + text + ";";
  };
  std::string out = "fields-1;";
  put(out, separator);
  put(out, zone);
  for (const Field& f : fields) {
    put(out, f.name);
    put(out, TypeWord(f.type));
    put(out, f.unit);
    put(out, f.format);
  }
  return out;
}

std::string CheckTimeFormat(std::string_view format) {
  const std::string expanded = Expanded(format);
  bool seen[kParts] = {};
  for (size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] != '%') continue;
    if (++i == expanded.size()) return "it ends in a lone \"%\"";
    if (expanded[i] == '%') continue;
    const Directive* d = Find(expanded[i]);
    if (!d)
      return std::string("\"%") + expanded[i] + "\" is not one of %Y %y %m %d %e %H %M %S %F %T %%";
    const bool year = d->part == kYear || d->part == kShortYear;
    if (seen[d->part] || (year && (seen[kYear] || seen[kShortYear])))
      return std::string("\"%") + expanded[i] + "\" repeats a part of the time";
    seen[d->part] = true;
  }
  if (!(seen[kYear] || seen[kShortYear]) || !seen[kMonth] || !seen[kDay])
    return "it names no full date (a year, %m and %d)";
  return "";
}

std::optional<int64_t> ParseTime(std::string_view text, std::string_view format) {
  // Most formats have nothing to expand: no copy for them.
  std::string copy;
  if (format.find("%F") != std::string_view::npos || format.find("%T") != std::string_view::npos) {
    copy = Expanded(format);
    format = copy;
  }
  const std::string_view expanded = format;
  int values[kParts] = {0, -1, 1, 1, 0, 0, 0};
  size_t at = 0;
  for (size_t i = 0; i < expanded.size(); ++i) {
    const char c = expanded[i];
    if (c != '%' || i + 1 == expanded.size() || expanded[i + 1] == '%') {
      if (c == '%') ++i;
      if (at >= text.size() || text[at] != c) return std::nullopt;
      ++at;
      continue;
    }
    const Directive* d = Find(expanded[++i]);
    if (!d) return std::nullopt;
    if (d->letter == 'e' && at < text.size() && text[at] == ' ') ++at;  // space-padded day
    int value = 0, digits = 0;
    while (digits < d->width && at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || (d->part == kYear && digits != 4)) return std::nullopt;
    values[d->part] = value;
  }
  if (at != text.size()) return std::nullopt;
  int year = values[kYear];
  if (values[kShortYear] >= 0) year = values[kShortYear] + (values[kShortYear] < 69 ? 2000 : 1900);
  const int month = values[kMonth], day = values[kDay];
  if (month < 1 || month > 12 || day < 1 || day > DaysIn(year, month) || values[kHour] > 23 ||
      values[kMinute] > 59 || values[kSecond] > 59)
    return std::nullopt;
  return TimeZone::CivilSeconds(year, month, day, values[kHour], values[kMinute], values[kSecond]);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || (text[0] == '-' && text.size() == 1) || text[0] == '+') return std::nullopt;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

namespace {

// Decimals of at most 15 digits without an exponent are exact as an integer
// over a power of ten, and one division of exact doubles rounds correctly.
std::optional<double> FastDecimal(std::string_view text) {
  static const double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = text[0] == '-';
  if (negative) text.remove_prefix(1);
  int64_t mantissa = 0;
  int digits = 0, decimals = -1;
  for (char c : text) {
    if (c == '.') {
      if (decimals >= 0) return std::nullopt;
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9' || ++digits > 15) return std::nullopt;
    mantissa = mantissa * 10 + (c - '0');
    if (decimals >= 0) ++decimals;
  }
  if (digits == 0) return std::nullopt;
  const double value = static_cast<double>(mantissa) / kPowers[decimals > 0 ? decimals : 0];
  return negative ? -value : value;
}

}  // namespace

std::optional<double> ParseReal(std::string_view text) {
  // Digits, a point and an exponent only: no blanks, hexadecimal, "inf" or "nan".
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if ((c < '0' || c > '9') && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E')
      return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  if (std::optional<double> fast = FastDecimal(text)) return fast;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<FieldDefinition> MakeFieldDefinition(
    const std::optional<std::vector<FieldItem>>& items, const std::string& separator,
    const std::string& zone, std::string& error) {
  FieldDefinition def;
  def.separator = separator;
  def.zone = zone;
  if (separator.empty()) {
    error = "RecordFieldSeparator is empty";
    return std::nullopt;
  }
  if (!items) return def;
  if (items->empty()) {
    error = "RecordFields names no field";
    return std::nullopt;
  }
  std::set<std::string> taken{"number"};
  for (size_t i = 0; i < items->size(); ++i) {
    const FieldItem& item = (*items)[i];
    const std::string where = "RecordFields entry " + std::to_string(i + 1);
    if (!PlainName(item.name)) {
      error = where + ": \"" + item.name +
              "\" is not a plain name (a letter or \"_\", then letters, digits and \"_\", at "
              "most 64)";
      return std::nullopt;
    }
    const std::optional<FieldType> type = TypeOf(item.type);
    if (!type) {
      error = where + " (" + item.name + "): type \"" + item.type +
              "\" is not one of integer, real, text, time";
      return std::nullopt;
    }
    Field field{item.name, *type, item.unit, item.format};
    if (*type == FieldType::kTime) {
      if (field.format.empty()) field.format = kDefaultTimeFormat;
      if (std::string why = CheckTimeFormat(field.format); !why.empty()) {
        error =
            where + " (" + item.name + "): format \"" + field.format + "\" does not parse: " + why;
        return std::nullopt;
      }
    } else if (!item.format.empty()) {
      error = where + " (" + item.name + "): a format goes only with type time";
      return std::nullopt;
    }
    std::vector<std::string> columns{Lower(item.name)};
    if (*type == FieldType::kTime && !zone.empty()) columns.push_back(Lower(item.name) + "_utc");
    for (const std::string& column : columns) {
      if (!taken.insert(column).second) {
        error = where + ": the column \"" + column +
                "\" is already taken (by \"number\", another field or a time's _utc column; "
                "letter case does not count)";
        return std::nullopt;
      }
    }
    def.fields.push_back(std::move(field));
  }
  return def;
}

}  // namespace Records
