#include "options/OptionText.h"

#include "base/AsciiText.h"

namespace OptionText {

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

std::vector<size_t> CharStarts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 0 || !IsContinuation(static_cast<unsigned char>(text[i]))) starts.push_back(i);
  }
  return starts;
}

size_t CharCount(std::string_view text) { return CharStarts(text).size(); }

std::vector<std::string> Characters(std::string_view text) {
  std::vector<size_t> starts = CharStarts(text);
  std::vector<std::string> chars;
  for (size_t i = 0; i < starts.size(); ++i) {
    size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
    chars.emplace_back(text.substr(starts[i], end - starts[i]));
  }
  return chars;
}

int32_t CharCode(std::string_view text) {
  if (text.empty()) return -1;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0x80             ? 1
                  : (lead & 0xE0) == 0xC0 ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 0;
  if (length <= 1 || text.size() < length) return lead;
  int32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(byte(i))) return lead;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  return code;
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && AsciiText::IsSpace(text[begin])) ++begin;
  while (end > begin && AsciiText::IsSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string NormaliseLineEndings(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace OptionText
