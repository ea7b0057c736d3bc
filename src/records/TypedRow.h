#pragma once
// Splitting a record line into its fields and typing them: the values of the
// typed table's columns for one record, and the counts of what did not fit.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/TimeZone.h"
#include "records/RecordFields.h"

namespace Records {

// Values that could not be typed, by kind, over a run: how many, and the first.
struct TypingIssue {
  int64_t count = 0;
  int64_t firstNumber = 0;
  std::string firstText;
  void Add(int64_t number, std::string_view text) {
    if (count++ == 0) {
      firstNumber = number;
      firstText = std::string(text.substr(0, 120));
    }
  }
};

struct TypingIssues {
  TypingIssue badValues;         // a value that is not of its field's type: NULL
  TypingIssue shortLines;        // fewer fields than named: the rest NULL
  TypingIssue longLines;         // more fields than named: the rest left out
  TypingIssue nonexistentTimes;  // in the gap of a change to summer time: no UTC
};

// One column's value as it is stored.
struct TypedValue {
  enum class Kind { kNull, kInteger, kReal, kText } kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

// The typed table's columns after "number" for a definition that names its
// fields: each field, and after each time its "_utc" column when there is a
// zone.
struct ColumnSpec {
  std::string name;
  FieldType type;
  std::string unit, format, utcOf;
  int field;  // index of the field it comes from
};
std::vector<ColumnSpec> ColumnsOf(const FieldDefinition& def);

// Calls `field` with each field of `line` in order.
void SplitFields(std::string_view line, std::string_view separator,
                 const std::function<void(std::string_view)>& field);
// How many fields `line` has.
int64_t FieldCount(std::string_view line, std::string_view separator);

class LineTyper {
 public:
  // `zone` is needed when the definition names one; it must outlive the typer.
  LineTyper(const FieldDefinition& def, const TimeZone::Zone* zone);

  // The UTC instant of the time field (by index of the fields) of the nearest
  // record before `number` that has one; asked only for a local time of the
  // repeated hour, which takes its later instant when the earlier one would
  // come before that record's instant within the hour.
  using EarlierInstant = std::function<std::optional<int64_t>(int field)>;

  // The values of `line`'s columns into `values` (resized to the columns);
  // `firstTime` is the first time field's instant (UTC with a zone, else the
  // local time as CivilSeconds), none when it has none.
  void Type(int64_t number, std::string_view line, const EarlierInstant& earlier,
            std::vector<TypedValue>& values, std::optional<int64_t>& firstTime,
            TypingIssues& issues);

  const std::vector<ColumnSpec>& Columns() const { return mColumns; }
  // The position among the columns of the first time field, and of its UTC
  // column; -1 when there is none.
  int FirstTimeColumn() const { return mFirstTime; }
  int FirstUtcColumn() const { return mFirstUtc; }
  // The fields of the line typed last.
  int64_t FieldsOfLast() const { return static_cast<int64_t>(mFields.size()); }

 private:
  const FieldDefinition& mDef;
  const TimeZone::Zone* mZone;
  std::vector<ColumnSpec> mColumns;
  std::vector<int> mColumnOfField;  // the first column of each field
  int mFirstTime = -1, mFirstUtc = -1;
  std::vector<std::string_view> mFields;
};

}  // namespace Records
