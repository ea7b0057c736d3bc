#include "records/PatternTrial.h"

#include "records/Extraction.h"
#include "records/LineEnds.h"

namespace Records {

PatternTrial TryPattern(std::string_view bytes, const RecordPattern& pattern,
                        const std::string& prompt) {
  PatternTrial trial;
  int64_t lineNumber = 0;
  ForEachLine(bytes, [&](size_t begin, size_t stop) {
    const std::string_view line = bytes.substr(begin, stop - begin);
    ++lineNumber;
    if (line.empty() || IsDialogueLine(line, prompt)) return;
    ++trial.replyLines;
    if (pattern.Number(line)) {
      ++trial.records;
    } else if (trial.firstOtherLine == 0) {
      trial.firstOtherLine = lineNumber;
      trial.firstOther = std::string(line);
    }
  });
  return trial;
}

}  // namespace Records
