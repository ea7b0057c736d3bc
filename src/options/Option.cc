#include "options/Option.h"

#include <algorithm>
#include <utility>

#include "base/AsciiText.h"
#include "base/NumberText.h"
#include "options/OptionExceptions.h"
#include "options/OptionParser.h"
#include "options/OptionText.h"

namespace {

std::string StripLeadingDashes(std::string key) {
  while (!key.empty() && key.front() == '-') key = OptionText::Trim(key.substr(1));
  return key;
}

bool ContainsNoCase(const std::vector<std::string>& list, const std::string& value) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& item) {
    return AsciiText::EqualsIgnoringCase(item, value);
  });
}

bool IsTrueText(const std::string& value) {
  for (const char* word : {"y", "yes", "t", "true", "on", "1"}) {
    if (AsciiText::EqualsIgnoringCase(value, word)) return true;
  }
  return false;
}

std::string ValueNote(const char* opening, const std::vector<std::string>& values) {
  std::string note = std::string(opening) + "`";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) note += "', `";
    note += values[i];
  }
  return note + "']";
}

}  // namespace

Option::Option(const std::string& shortKey, const std::string& longKey,
               const std::string& description, OptionType type) {
  std::string shortText = StripLeadingDashes(OptionText::Trim(shortKey));
  std::string longText = StripLeadingDashes(OptionText::Trim(longKey));
  if (shortText.empty() && longText.empty())
    throw OptionParserException(1, "Option must specify at least one key.");
  if (OptionText::CharCount(shortText) > 1)
    throw OptionParserException(
        1, "Short Key is optional but may only be one character: " + shortText);
  if (OptionText::CharCount(longText) == 1)
    throw OptionParserException(
        1, "Long Key is optional but must be more than one character: " + longText);
  ShortKey = shortText;
  LongKey = longText;
  Description = OptionText::NormaliseLineEndings(OptionText::Trim(description));
  Type = type;
}

void Option::HandleValue(const std::string& value) {
  if (!AllowedValues.empty() && !ContainsNoCase(AllowedValues, value))
    throw OptionInvalidKeyValueException(1, "The key value is not allowed: " + value);
  if (!DisallowedValues.empty() && ContainsNoCase(DisallowedValues, value))
    throw OptionInvalidKeyValueException(1, "The key value is dissallowed: " + value);

  Variant converted;
  switch (Type) {
    case BooleanType:
      converted = value.empty() || IsTrueText(value);
      break;
    case DateType:
      if (auto date = DateValue::Parse(value)) {
        converted = *date;
      } else {
        converted = value;
      }
      break;
    case DirectoryType:
    case FileType:
      if (!value.empty()) converted = OptionParser::GetRelativeFolderItem(value);
      break;
    case DoubleType:
    case IntegerType:
      converted = NumberText::LeadingNumber(value);
      break;
    case StringType:
      converted = value;
      break;
    default:
      WasSet = true;
      return;
  }

  if (!IsArray) {
    Value = std::move(converted);
  } else if (WasSet && Value.IsArray()) {
    Value.AsArray().push_back(std::move(converted));
  } else {
    Value = Variant::Array{std::move(converted)};
  }
  WasSet = true;
}

void Option::AddAllowedValue(std::initializer_list<std::string> values) {
  if (!DisallowedValues.empty())
    throw OptionParserException(1, "You cannot set both allowed values and disallowed values");
  for (const std::string& value : values) AllowedValues.push_back(OptionText::Trim(value));
}

void Option::AddDisallowedValue(std::initializer_list<std::string> values) {
  if (!AllowedValues.empty())
    throw OptionParserException(1, "You cannot set both disallowed values and allowed values");
  for (const std::string& value : values) DisallowedValues.push_back(OptionText::Trim(value));
}

bool Option::IsValid() const {
  if (IsRequired && !WasSet) return false;
  if (!IsRequired && !WasSet) return true;
  if (Value.IsArray()) {
    Variant::Array values = Value.ToArray();
    return std::all_of(values.begin(), values.end(),
                       [&](const Variant& element) { return IsValidElement(element); });
  }
  return IsValidElement(Value);
}

bool Option::IsValidElement(const Variant& value) const {
  switch (Type) {
    case DateType:
      return !(IsValidDateRequired && !value.IsDate());
    case FileType:
    case DirectoryType: {
      auto item = value.IsFolderItem() ? value.ToFolderItem() : std::nullopt;
      if (IsReadableRequired && (!item || !item->IsReadable())) return false;
      if (IsWriteableRequired && (!item || !item->IsWriteable())) return false;
      return true;
    }
    case IntegerType:
    case DoubleType: {
      double number = value.ToDouble();
      if (MinimumNumber != kNoBound && MinimumNumber > number) return false;
      if (MaximumNumber != kNoBound && number > MaximumNumber) return false;
      return true;
    }
    default:
      return true;
  }
}

std::string Option::ValueText() const {
  if (!Value.IsArray()) return Value.ToText();
  std::string text;
  for (const Variant& element : Value.ToArray()) {
    if (!text.empty()) text += ", ";
    text += element.ToText();
  }
  return text;
}

std::string Option::TypeString() const {
  switch (Type) {
    case StringType:
      return "STR";
    case IntegerType:
      return "INTEGER";
    case DoubleType:
      return "DOUBLE";
    case DateType:
      return "DATE";
    case BooleanType:
      return "BOOL";
    case FileType:
      return "FILE";
    case DirectoryType:
      return "DIR";
  }
  return "";
}

std::string Option::HelpDescription() const {
  std::string text = Description;
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict overlap
  // for `"literal" + std::string`.
  if (!AllowedValues.empty()) {
    text += ' ';
    text += ValueNote("[can be: ", AllowedValues);
  }
  if (!DisallowedValues.empty()) {
    text += ' ';
    text += ValueNote("[may not be: ", DisallowedValues);
  }
  return text;
}
