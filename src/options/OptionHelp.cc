// The help text of OptionParser and the text layout operations behind it.

#include <algorithm>
#include <cstdio>

#include "base/AsciiText.h"
#include "options/OptionParser.h"
#include "options/OptionText.h"

namespace {

constexpr int32_t kTotalWidth = 72;
constexpr size_t kKeyColumnWidth = 21;
constexpr size_t kLongKeyText = 20;  // longer key texts put the description below
constexpr size_t kOneLineLimit = 73;
const char kEntryIndent[] = "  ";

// Characters at which a long line may be broken: blanks, controls, "-".
bool IsBreak(char c) { return static_cast<unsigned char>(c) <= ' ' || c == '-'; }

std::string TrimLeadingBlanks(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size() && AsciiText::IsBlank(text[begin])) ++begin;
  return text.substr(begin);
}

std::string TrimTrailingBlanks(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && AsciiText::IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string Join(const std::vector<std::string>& lines, const std::string& separator) {
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += separator;
    joined += lines[i];
  }
  return joined;
}

// Merges lines that continue a long previous line into one paragraph line.
void Reflow(std::vector<std::string>& lines, int64_t width) {
  if (lines.empty()) return;
  auto isShort = [&](const std::string& line) {
    return static_cast<int64_t>(OptionText::CharCount(line)) < width - 20;
  };
  bool previousShort = isShort(lines[0]);
  size_t i = 1;
  while (i < lines.size()) {
    const std::string& current = lines[i];
    bool currentShort = isShort(current);
    if (!previousShort && !current.empty() && static_cast<unsigned char>(current[0]) > ' ' &&
        current[0] != '>' && current[0] != '|') {
      lines[i - 1] += " " + current;
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
    previousShort = currentShort;
  }
}

}  // namespace

std::string OptionParser::HelpText(const std::string& message) const {
  const std::string descriptionIndent = Repeat(" ", 2 + kKeyColumnWidth);
  std::vector<std::string> lines;
  if (!AppName.empty()) {
    lines.push_back(AppDescription.empty() ? AppName
                                           : kEntryIndent + AppName + " - " + AppDescription);
    lines.push_back("");
  }
  lines.push_back(message + ":");

  for (const auto& option : mOptions) {
    bool takesValue = option->Type != Option::BooleanType;
    std::vector<std::string> parts;
    // Appended piece by piece: GCC 12 reports a false -Wrestrict overlap for
    // `"literal" + std::string` when optimising.
    auto keyPart = [&](const std::string& key, char separator) {
      std::string part = KeyWithDashes(key);
      if (takesValue) {
        part += separator;
        part += option->TypeString();
      }
      return part;
    };
    if (!option->ShortKey.empty()) parts.push_back(keyPart(option->ShortKey, ' '));
    if (!option->LongKey.empty()) parts.push_back(keyPart(option->LongKey, '='));
    std::string keyText = Join(parts, ", ");
    std::string description = option->HelpDescription();
    size_t keyLength = OptionText::CharCount(keyText);

    if (keyLength > kLongKeyText || description.find('\n') != std::string::npos) {
      lines.push_back(kEntryIndent + keyText);
      lines.push_back(WrapTextWithIndent(description, kTotalWidth, descriptionIndent));
    } else if (keyLength + OptionText::CharCount(description) < kOneLineLimit) {
      lines.push_back(kEntryIndent + PadRight(keyText, kKeyColumnWidth, " ") + description);
    } else {
      // The first description line continues the key line in place of its indent.
      std::string wrapped = WrapTextWithIndent(description, kTotalWidth, descriptionIndent);
      wrapped.erase(0, std::min(wrapped.size(), descriptionIndent.size()));
      lines.push_back(kEntryIndent + PadRight(keyText, kKeyColumnWidth, " ") + wrapped);
    }
  }

  std::string notes = OptionText::Trim(mAdditionalHelpNotes);
  if (!notes.empty()) {
    lines.push_back("");
    lines.push_back("Notes:");
    lines.push_back(WrapTextWithIndent(notes, kTotalWidth, kEntryIndent));
    lines.push_back("");
  }
  return Join(lines, "\n") + "\n";
}

void OptionParser::ShowHelp(const std::string& message) const {
  std::string text = HelpText(message);
  // Through stdio, so that the text stays in order with whatever the caller has
  // already printed there.
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string OptionParser::PadRight(const std::string& text, int32_t width, const std::string& pad) {
  int64_t length = static_cast<int64_t>(OptionText::CharCount(text));
  if (length >= width || pad.empty()) return text;
  int64_t needed = width - length;
  int64_t padLength = static_cast<int64_t>(OptionText::CharCount(pad));
  std::string filler = Repeat(pad, static_cast<int32_t>((needed + padLength - 1) / padLength));
  std::vector<size_t> starts = OptionText::CharStarts(filler);
  return text + filler.substr(0, static_cast<size_t>(needed) < starts.size()
                                     ? starts[static_cast<size_t>(needed)]
                                     : filler.size());
}

std::string OptionParser::Repeat(const std::string& text, int32_t count) {
  if (count <= 0 || text.empty()) return "";
  if (count == 1) return text;
  size_t target = text.size() * static_cast<size_t>(count);
  std::string result = text;
  while (result.size() < (target + 1) / 2) result += result;
  result += result.substr(0, target - result.size());
  return result;
}

void OptionParser::WrapLines(std::vector<std::string>& lines, int32_t width, bool reflow) {
  size_t limit = static_cast<size_t>(std::max<int32_t>(width, 1));
  if (reflow) Reflow(lines, static_cast<int64_t>(limit));

  // Lines inserted by a break are visited in their turn.
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = TrimTrailingBlanks(lines[i]);
    std::vector<size_t> starts = OptionText::CharStarts(line);
    if (starts.size() <= limit) {
      lines[i] = std::move(line);
      continue;
    }
    // Positions count from 1: the character at position p begins at starts[p - 1].
    size_t position = 0;
    for (size_t p = limit; p >= 1; --p) {
      if (IsBreak(line[starts[p - 1]])) {
        position = p;
        break;
      }
    }
    if (position <= 1) position = limit + 1;
    size_t cut = starts[position - 1];
    lines[i] = TrimLeadingBlanks(line.substr(0, cut));
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                 TrimLeadingBlanks(line.substr(cut)));
  }
}

void OptionParser::WrapLinesWithIndent(std::vector<std::string>& lines, int32_t width,
                                       const std::string& indent) {
  WrapLines(lines, width - static_cast<int32_t>(OptionText::CharCount(indent)), false);
  for (std::string& line : lines) line = indent + line;
}

std::string OptionParser::WrapTextWithIndent(const std::string& text, int32_t width,
                                             const std::string& indent) {
  std::string normalised = OptionText::NormaliseLineEndings(text);
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = normalised.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(normalised.substr(start));
      break;
    }
    lines.push_back(normalised.substr(start, end - start));
    start = end + 1;
  }
  WrapLinesWithIndent(lines, width, indent);
  return Join(lines, "\n");
}
