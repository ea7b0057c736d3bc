#include "records/TypedRow.h"

namespace Records {

std::vector<ColumnSpec> ColumnsOf(const FieldDefinition& def) {
  std::vector<ColumnSpec> columns;
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const Field& f = def.fields[i];
    columns.push_back({f.name, f.type, f.unit, f.format, "", static_cast<int>(i)});
    if (f.type == FieldType::kTime && !def.zone.empty())
      columns.push_back({f.name + "_utc", FieldType::kText, "", "", f.name, static_cast<int>(i)});
  }
  return columns;
}

void SplitFields(std::string_view line, std::string_view separator,
                 const std::function<void(std::string_view)>& field) {
  size_t start = 0;
  while (true) {
    const size_t stop = line.find(separator, start);
    if (stop == std::string_view::npos) {
      field(line.substr(start));
      return;
    }
    field(line.substr(start, stop - start));
    start = stop + separator.size();
  }
}

int64_t FieldCount(std::string_view line, std::string_view separator) {
  int64_t count = 1;
  if (separator.size() == 1) {
    // memchr, without a compare at each candidate.
    for (size_t at = line.find(separator[0]); at != std::string_view::npos;
         at = line.find(separator[0], at + 1))
      ++count;
    return count;
  }
  for (size_t at = line.find(separator); at != std::string_view::npos;
       at = line.find(separator, at + separator.size()))
    ++count;
  return count;
}

LineTyper::LineTyper(const FieldDefinition& def, const TimeZone::Zone* zone)
    : mDef(def), mZone(def.zone.empty() ? nullptr : zone), mColumns(ColumnsOf(def)) {
  mColumnOfField.assign(def.fields.size(), -1);
  for (size_t c = 0; c < mColumns.size(); ++c) {
    const ColumnSpec& col = mColumns[c];
    if (mColumnOfField[static_cast<size_t>(col.field)] < 0)
      mColumnOfField[static_cast<size_t>(col.field)] = static_cast<int>(c);
    if (col.type == FieldType::kTime && mFirstTime < 0) mFirstTime = static_cast<int>(c);
    if (!col.utcOf.empty() && mFirstUtc < 0) mFirstUtc = static_cast<int>(c);
  }
}

void LineTyper::Type(int64_t number, std::string_view line, const EarlierInstant& earlier,
                     std::vector<TypedValue>& values, std::optional<int64_t>& firstTime,
                     TypingIssues& issues) {
  mFields.clear();
  const std::string_view separator = mDef.separator;
  for (size_t start = 0;;) {
    const size_t stop =
        separator.size() == 1 ? line.find(separator[0], start) : line.find(separator, start);
    if (stop == std::string_view::npos) {
      mFields.push_back(line.substr(start));
      break;
    }
    mFields.push_back(line.substr(start, stop - start));
    start = stop + separator.size();
  }
  const size_t named = mDef.fields.size();
  if (mFields.size() < named) issues.shortLines.Add(number, line);
  if (mFields.size() > named) issues.longLines.Add(number, line);
  values.resize(mColumns.size());
  for (TypedValue& v : values) v.kind = TypedValue::Kind::kNull;
  firstTime.reset();
  bool firstTimeField = true;
  for (size_t i = 0; i < named; ++i) {
    const Field& field = mDef.fields[i];
    const bool isFirstTime = field.type == FieldType::kTime && firstTimeField;
    if (field.type == FieldType::kTime) firstTimeField = false;
    if (i >= mFields.size()) continue;
    const std::string_view text = mFields[i];
    TypedValue& v = values[static_cast<size_t>(mColumnOfField[i])];
    switch (field.type) {
      case FieldType::kText:
        v.kind = TypedValue::Kind::kText;
        v.text.assign(text);
        break;
      case FieldType::kInteger:
        if (std::optional<int64_t> n = ParseInteger(text)) {
          v.kind = TypedValue::Kind::kInteger;
          v.integer = *n;
        } else if (!text.empty()) {
          issues.badValues.Add(number, field.name + ": " + std::string(text));
        }
        break;
      case FieldType::kReal:
        if (std::optional<double> r = ParseReal(text)) {
          v.kind = TypedValue::Kind::kReal;
          v.real = *r;
        } else if (!text.empty()) {
          issues.badValues.Add(number, field.name + ": " + std::string(text));
        }
        break;
      case FieldType::kTime: {
        const std::optional<int64_t> local = ParseTime(text, field.format);
        if (!local) {
          if (!text.empty()) issues.badValues.Add(number, field.name + ": " + std::string(text));
          break;
        }
        v.kind = TypedValue::Kind::kText;
        TimeZone::AssignLocalText(*local, v.text);
        if (!mZone) {
          if (isFirstTime) firstTime = *local;
          break;
        }
        const TimeZone::Resolution r = mZone->FromLocal(*local);
        std::optional<int64_t> utc;
        if (r.count == 1) {
          utc = r.instants[0];
        } else if (r.count == 2) {
          // The repeated hour: the earlier instant, unless the record before
          // this one already lies later within the hour.
          utc = r.instants[0];
          const std::optional<int64_t> before = earlier(static_cast<int>(i));
          if (before && *before >= r.repeatStart && *before<r.repeatEnd&& * before> utc)
            utc = r.instants[1];
        } else {
          issues.nonexistentTimes.Add(number, text);
        }
        if (utc) {
          TypedValue& u = values[static_cast<size_t>(mColumnOfField[i]) + 1];
          u.kind = TypedValue::Kind::kText;
          TimeZone::AssignUtcText(*utc, u.text);
          if (isFirstTime) firstTime = *utc;
        }
        break;
      }
    }
  }
}

}  // namespace Records
