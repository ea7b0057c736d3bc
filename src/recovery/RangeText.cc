#include "recovery/RangeText.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "base/AsciiText.h"
#include "base/NumberText.h"

namespace RecordRecoveryUtils {

namespace {

bool IsBlankOnly(std::string_view text) {
  for (char c : text)
    if (!AsciiText::IsSpace(c)) return false;
  return true;
}

// One token: N or A-B. Adds nothing for blank tokens, tokens with more than
// one "-", numbers beyond the Int32 range, and inverted ranges.
void ParseToken(std::string_view token, std::vector<RangeEntry>& ranges) {
  if (IsBlankOnly(token)) return;
  size_t dash = token.find('-');
  std::string_view first = token.substr(0, dash);
  std::string_view second = first;
  if (dash != std::string_view::npos) {
    second = token.substr(dash + 1);
    if (second.find('-') != std::string_view::npos) return;
  }
  std::optional<int32_t> min = NumberText::LeadingInt32Checked(first);
  std::optional<int32_t> max = NumberText::LeadingInt32Checked(second);
  if (!min || !max || *min > *max) return;
  ranges.emplace_back(*min, *max);
}

// Plain decimal digits with white space around them, 0 to 2147483647.
std::optional<int32_t> PlainNumber(std::string_view text) {
  while (!text.empty() && AsciiText::IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && AsciiText::IsSpace(text.back())) text.remove_suffix(1);
  return PlainRecordNumber(text);
}

bool IsPlainToken(std::string_view token) {
  size_t dash = token.find('-');
  std::optional<int32_t> min = PlainNumber(token.substr(0, dash));
  if (dash == std::string_view::npos) return min.has_value();
  std::optional<int32_t> max = PlainNumber(token.substr(dash + 1));
  return min && max && *min <= *max;
}

}  // namespace

std::optional<int32_t> PlainRecordNumber(std::string_view text) {
  // from_chars would take a leading minus: the first byte must be a digit, and
  // the number must take the whole text.
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<UnreadToken> FirstUnreadToken(std::string_view text) {
  size_t line = 1;
  while (!text.empty()) {
    size_t end = text.find_first_of(",\n");
    std::string_view token = text.substr(0, end);
    if (!IsBlankOnly(token) && !IsPlainToken(token)) return UnreadToken{line, std::string(token)};
    if (end == std::string_view::npos) break;
    if (text[end] == '\n') ++line;
    text.remove_prefix(end + 1);
  }
  return std::nullopt;
}

void ParseRangeText(std::string_view text, std::vector<RangeEntry>& ranges) {
  while (!text.empty()) {
    size_t end = text.find_first_of(",\n");
    ParseToken(text.substr(0, end), ranges);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void AppendRangeLines(const std::vector<RangeEntry>& ranges, std::string& out) {
  char buffer[16];
  for (const RangeEntry& range : ranges) {
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, range.min).ptr);
    out.push_back('-');
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, range.max).ptr);
    out.push_back('\n');
  }
}

}  // namespace RecordRecoveryUtils
