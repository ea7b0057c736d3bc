#include "recovery/RangeText.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "base/AsciiText.h"

namespace RecordRecoveryUtils {

namespace {

bool IsBlankOnly(std::string_view text) {
  for (char c : text)
    if (!AsciiText::IsSpace(c)) return false;
  return true;
}

// Plain decimal digits with white space around them, 0 to 2147483647.
std::optional<int32_t> PlainNumber(std::string_view text) {
  while (!text.empty() && AsciiText::IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && AsciiText::IsSpace(text.back())) text.remove_suffix(1);
  return PlainRecordNumber(text);
}

// An editor's UTF-8 byte-order mark: not part of the first token.
std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

// Adds the range of a plain token N or A-B; false for any other token.
bool ParseToken(std::string_view token, std::vector<RangeEntry>& ranges) {
  size_t dash = token.find('-');
  std::optional<int32_t> min = PlainNumber(token.substr(0, dash));
  std::optional<int32_t> max = min;
  if (dash != std::string_view::npos) max = PlainNumber(token.substr(dash + 1));
  if (!min || !max || *min > *max) return false;
  ranges.emplace_back(*min, *max);
  return true;
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

std::vector<std::string> SkippedTokenWarnings(const SkippedTokens& skipped,
                                              const std::string& fileName) {
  std::vector<std::string> texts;
  for (const UnreadToken& t : skipped.listed)
    texts.push_back("Record recovery file " + fileName + " line " + std::to_string(t.line) + ": '" +
                    t.token + "' is not N or A-B; skipped");
  if (skipped.count > skipped.listed.size())
    texts.push_back("Record recovery file " + fileName + ": " +
                    std::to_string(skipped.count - skipped.listed.size()) +
                    " more tokens that are not N or A-B skipped");
  return texts;
}

void ParseRangeText(std::string_view text, std::vector<RangeEntry>& ranges,
                    SkippedTokens* skipped) {
  text = WithoutByteOrderMark(text);
  size_t line = 1;
  while (!text.empty()) {
    size_t end = text.find_first_of(",\n");
    std::string_view token = text.substr(0, end);
    if (!IsBlankOnly(token) && !ParseToken(token, ranges) && skipped) {
      if (skipped->listed.size() < SkippedTokens::kListed)
        skipped->listed.push_back(UnreadToken{line, std::string(token)});
      ++skipped->count;
    }
    if (end == std::string_view::npos) break;
    if (text[end] == '\n') ++line;
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
