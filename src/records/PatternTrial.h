#pragma once
// A record pattern tried on the bytes of a session file without storing
// anything: how many of the controller's reply lines it takes as records, and
// the first reply line it does not take.

#include <cstdint>
#include <string>
#include <string_view>

#include "records/RecordPattern.h"

namespace Records {

struct PatternTrial {
  // Lines that are neither empty nor dialogue (prompts, echoed commands, the
  // "logs" reply, "done", error replies): the getdata and getlog replies.
  int64_t replyLines = 0;
  int64_t records = 0;  // reply lines the pattern takes as records
  // The first reply line that is no record, and its number (from 1); 0 when
  // every reply line is one.
  int64_t firstOtherLine = 0;
  std::string firstOther;
};

// Any run of CR and LF bytes ends a line; the last line counts only when a
// line end follows it (it may still be being written).
PatternTrial TryPattern(std::string_view bytes, const RecordPattern& pattern,
                        const std::string& prompt);

}  // namespace Records
