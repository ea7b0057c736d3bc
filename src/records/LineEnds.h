#pragma once
// Where the lines of a session's bytes end. CR and LF each end a line and a run
// of them is one end, so LF, CR LF, CR alone, LF CR and CR CR LF all do, and no
// line-end byte is part of a line. Extraction and the check's pattern trial
// split lines with this one rule.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace Records {

// Finds the line ends of one text in order. Each of CR and LF is looked for
// with memchr and its next place kept, so the text is scanned once for each,
// whatever its line ends are.
class LineEndFinder {
 public:
  explicit LineEndFinder(std::string_view text) : mText(text) {}
  // The first CR or LF at or after `from` (which never goes back); npos when none.
  size_t Next(size_t from) {
    return std::min(Find('\n', mNextLf, from), Find('\r', mNextCr, from));
  }

 private:
  static constexpr size_t kUnknown = std::string_view::npos - 1;
  size_t Find(char c, size_t& next, size_t from) {
    if (next == kUnknown || (next != std::string_view::npos && next < from)) {
      const void* at =
          from < mText.size() ? std::memchr(mText.data() + from, c, mText.size() - from) : nullptr;
      next = at ? static_cast<size_t>(static_cast<const char*>(at) - mText.data())
                : std::string_view::npos;
    }
    return next;
  }
  std::string_view mText;
  size_t mNextLf = kUnknown, mNextCr = kUnknown;
};

// Calls `line(begin, end)` with the positions of each line of `text` that a
// line end closes, in order; the rest after the last line end is no line yet.
// Returns the position after the last line end, 0 when there is none.
template <typename Line>
size_t ForEachLine(std::string_view text, Line line) {
  LineEndFinder ends(text);
  size_t start = 0;
  for (size_t stop; (stop = ends.Next(start)) != std::string_view::npos;) {
    line(start, stop);
    for (start = stop; start < text.size() && (text[start] == '\r' || text[start] == '\n');)
      ++start;
  }
  return start;
}

}  // namespace Records
