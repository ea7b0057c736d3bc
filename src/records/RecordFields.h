#pragma once
// The fields of a record line as the cfg names them ("RecordFields",
// "RecordFieldSeparator", "TimeZone"): their names, types, units and time
// formats, checked once so that typing a line cannot fail.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Records {

enum class FieldType { kInteger, kReal, kText, kTime };

// One entry of "RecordFields" as written: a name alone leaves the rest empty.
struct FieldItem {
  std::string name, type, unit, format;
};

struct Field {
  std::string name;
  FieldType type = FieldType::kText;
  std::string unit;
  std::string format;  // of a time; kDefaultTimeFormat when the entry names none
};

inline constexpr const char* kDefaultTimeFormat = "%Y-%m-%d %H:%M:%S";
inline constexpr const char* kDefaultSeparator = ",";

struct FieldDefinition {
  // Empty: the fields are field1 to fieldN, text, N the most fields a stored
  // line has.
  std::vector<Field> fields;
  std::string separator = kDefaultSeparator;
  std::string zone;  // "" when the cfg names none

  bool Named() const { return !fields.empty(); }
  // One text that differs whenever the typed table would differ.
  std::string Canonical() const;
};

// The SQL type name and the cfg word of a field type.
const char* SqlType(FieldType type);
const char* TypeWord(FieldType type);

// Checks the items; none with `error` (what is wrong, without the fix) for an
// empty list, a name that is not plain (a letter or "_", then letters, digits
// and "_") or repeated (letter case aside, "number" and the "_utc" columns
// included), an unknown type, a unit or format on the wrong type, a format
// that does not parse, or an empty separator. The zone is taken as given.
std::optional<FieldDefinition> MakeFieldDefinition(
    const std::optional<std::vector<FieldItem>>& items, const std::string& separator,
    const std::string& zone, std::string& error);

// A time format: "" when it parses (every directive known, a full date and
// each part once), else why not.
std::string CheckTimeFormat(std::string_view format);

// The civil time `text` holds in `format` (a format CheckTimeFormat takes),
// as CivilSeconds; none when the text does not match it or names no real date.
std::optional<int64_t> ParseTime(std::string_view text, std::string_view format);

// Whole numbers with an optional sign; reals as strtod reads them, finite,
// without blanks around. The value as SQLite keeps it.
std::optional<int64_t> ParseInteger(std::string_view text);
std::optional<double> ParseReal(std::string_view text);

}  // namespace Records
