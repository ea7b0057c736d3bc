#pragma once
// One command-line option: its keys, help text, value type and the rules a value
// must meet, plus the value found on the command line. An option object serves
// one parse: nothing resets Value or WasSet.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/Variant.h"

class Option {
 public:
  enum OptionType : int32_t {
    StringType = 0,
    IntegerType = 1,
    DoubleType = 2,
    DateType = 3,
    BooleanType = 4,
    FileType = 5,
    DirectoryType = 6,
  };

  // Sentinel of MinimumNumber and MaximumNumber: no bound.
  static constexpr double kNoBound = -32768.0;

  // Keys may be given with leading dashes; they and surrounding white space are
  // dropped. Throws OptionParserException when both keys are empty, the short key
  // is longer than one character or the long key is exactly one character.
  Option(const std::string& shortKey, const std::string& longKey, const std::string& description,
         OptionType type);
  virtual ~Option() = default;

  // Checks the value against AllowedValues and DisallowedValues (ignoring case),
  // converts it by Type and stores it (appends it when IsArray). Throws
  // OptionInvalidKeyValueException for a refused value and then leaves Value and
  // WasSet as they were. Texts that do not convert are not errors: a DATE keeps
  // the text, a number becomes 0.
  virtual void HandleValue(const std::string& value);
  // Append each value, trimmed. Throw OptionParserException when the other list
  // is already in use.
  virtual void AddAllowedValue(std::initializer_list<std::string> values);
  virtual void AddDisallowedValue(std::initializer_list<std::string> values);

  // Whether the option meets its rules: given when required, and its value (each
  // element, for IsArray) of a valid date, an accessible item, a number within
  // the bounds, as the flags ask.
  bool IsValid() const;
  // Value as text; the elements of an array joined with ", ".
  std::string ValueText() const;
  // "STR", "INTEGER", "DOUBLE", "DATE", "BOOL", "FILE", "DIR"; empty for others.
  std::string TypeString() const;
  // Description followed by the note of allowed or disallowed values.
  std::string HelpDescription() const;

  std::string Description;
  bool IsArray = false;
  bool IsReadableRequired = false;
  bool IsRequired = false;
  bool IsValidDateRequired = false;
  bool IsWriteableRequired = false;
  std::string LongKey;
  double MaximumNumber = kNoBound;
  double MinimumNumber = kNoBound;
  std::string ShortKey;
  OptionType Type = StringType;
  Variant Value;
  bool WasSet = false;
  std::vector<std::string> AllowedValues;
  std::vector<std::string> DisallowedValues;

 private:
  // Whether one stored value (not an array) meets the rules of the type.
  bool IsValidElement(const Variant& value) const;
};
