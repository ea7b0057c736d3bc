#include "records/PatternTrial.h"

#include "records/Extraction.h"

namespace Records {

PatternTrial TryPattern(std::string_view bytes, const RecordPattern& pattern,
                        const std::string& prompt) {
  PatternTrial trial;
  int64_t lineNumber = 0;
  size_t start = 0;
  for (;;) {
    const size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) break;
    const std::string_view line = bytes.substr(start, end - start);
    // A run of line-end bytes is one line end.
    start = bytes.find_first_not_of("\r\n", end);
    if (start == std::string_view::npos) start = bytes.size();
    ++lineNumber;
    if (line.empty() || IsDialogueLine(line, prompt)) continue;
    ++trial.replyLines;
    if (pattern.Number(line)) {
      ++trial.records;
    } else if (trial.firstOtherLine == 0) {
      trial.firstOtherLine = lineNumber;
      trial.firstOther = std::string(line);
    }
  }
  return trial;
}

}  // namespace Records
