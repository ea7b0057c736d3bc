#pragma once
// Reading the leading decimal number of a text, as operators' files and the
// controller's replies need it. Nothing here throws or wraps.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace NumberText {

// Value of the leading decimal number (optional blanks, sign, digits, optional
// fraction and exponent), 0 when the text does not begin with one.
double LeadingNumber(std::string_view text);

// Leading integer (optional blanks and sign, then digits) as Int32; 0 when there
// is none. Values beyond the Int32 range are clamped to it, never wrapped.
int32_t LeadingInt32(std::string_view text);

// Same as LeadingInt32 but tells whether the digits fit: nullopt when they do not.
// Text without digits gives 0.
std::optional<int32_t> LeadingInt32Checked(std::string_view text);

// Double to Int32 by truncation toward zero, clamped to the Int32 range; NaN gives 0.
int32_t ClampToInt32(double value);

// Decimal text of a double: integral values without a fraction ("9600"),
// others in the shortest form that reads back to the same value.
std::string FormatNumber(double value);

}  // namespace NumberText
