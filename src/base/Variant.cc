#include "base/Variant.h"

#include "base/AsciiText.h"
#include "base/NumberText.h"

std::string Variant::ToText() const {
  if (IsBoolean()) return std::get<bool>(mValue) ? "True" : "False";
  if (IsNumber()) return NumberText::FormatNumber(std::get<double>(mValue));
  if (IsText()) return std::get<std::string>(mValue);
  if (IsDate()) return std::get<DateValue>(mValue).ToText();
  if (IsFolderItem()) return std::get<FolderItem>(mValue).NativePath();
  return "";
}

double Variant::ToDouble() const {
  if (IsNumber()) return std::get<double>(mValue);
  if (IsText()) return NumberText::LeadingNumber(std::get<std::string>(mValue));
  if (IsBoolean()) return std::get<bool>(mValue) ? 1.0 : 0.0;
  return 0.0;
}

int32_t Variant::ToInt32() const {
  if (IsText()) return NumberText::LeadingInt32(std::get<std::string>(mValue));
  return NumberText::ClampToInt32(ToDouble());
}

bool Variant::ToBoolean() const {
  if (IsBoolean()) return std::get<bool>(mValue);
  if (IsNumber()) return std::get<double>(mValue) != 0.0;
  if (IsText()) {
    std::string text = AsciiText::Lower(std::get<std::string>(mValue));
    return text == "y" || text == "yes" || text == "t" || text == "true" || text == "on" ||
           text == "1";
  }
  return false;
}

std::optional<DateValue> Variant::ToDate() const {
  if (IsDate()) return std::get<DateValue>(mValue);
  if (IsText()) return DateValue::Parse(std::get<std::string>(mValue));
  return std::nullopt;
}

std::optional<FolderItem> Variant::ToFolderItem() const {
  if (IsFolderItem()) return std::get<FolderItem>(mValue);
  if (IsText() && !std::get<std::string>(mValue).empty())
    return FolderItem(std::get<std::string>(mValue));
  return std::nullopt;
}

Variant::Array Variant::ToArray() const {
  if (IsArray()) return std::get<Array>(mValue);
  if (IsEmpty()) return {};
  return Array{*this};
}
