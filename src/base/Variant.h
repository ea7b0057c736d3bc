#pragma once
// The system's variant: empty, boolean, number, text, date, file-system item or an
// array of variants. All conversions between these kinds live here.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/DateValue.h"
#include "base/FolderItem.h"

class Variant {
 public:
  using Array = std::vector<Variant>;

  Variant() = default;
  Variant(bool value) : mValue(value) {}
  Variant(int32_t value) : mValue(static_cast<double>(value)) {}
  Variant(double value) : mValue(value) {}
  Variant(std::string value) : mValue(std::move(value)) {}
  Variant(const char* value) : mValue(std::string(value)) {}
  Variant(DateValue value) : mValue(value) {}
  Variant(FolderItem value) : mValue(std::move(value)) {}
  Variant(Array value) : mValue(std::move(value)) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(mValue); }
  bool IsBoolean() const { return std::holds_alternative<bool>(mValue); }
  bool IsNumber() const { return std::holds_alternative<double>(mValue); }
  bool IsText() const { return std::holds_alternative<std::string>(mValue); }
  bool IsDate() const { return std::holds_alternative<DateValue>(mValue); }
  bool IsFolderItem() const { return std::holds_alternative<FolderItem>(mValue); }
  bool IsArray() const { return std::holds_alternative<Array>(mValue); }

  // Text: numbers in decimal ("9600", "2.5"), booleans "True"/"False", dates as
  // "YYYY-MM-DD HH:MM:SS", items by native path, empty for empty and arrays.
  std::string ToText() const;
  // Number: texts by their leading number (0 when none), booleans 1/0, else 0.
  double ToDouble() const;
  // Int32: numbers truncated, texts by their leading integer; clamped, never wrapped.
  int32_t ToInt32() const;
  // Boolean: numbers non-zero; texts "y", "yes", "t", "true", "on", "1" in any case.
  bool ToBoolean() const;
  // Date: itself, or a text that parses as one; none otherwise.
  std::optional<DateValue> ToDate() const;
  // Item: itself, or a non-empty text taken as a path; none otherwise.
  std::optional<FolderItem> ToFolderItem() const;
  // Array: itself; an empty variant gives an empty array; anything else one element.
  Array ToArray() const;

  Array& AsArray() { return std::get<Array>(mValue); }

  bool operator==(const Variant& other) const = default;

 private:
  std::variant<std::monostate, bool, double, std::string, DateValue, FolderItem, Array> mValue;
};
