#pragma once
// The text form of record ranges, as record recovery files hold them (the
// rules are in RecordLog.h). Parsing never allocates per token.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery/RangeEntry.h"

namespace RecordRecoveryUtils {

// Appends the ranges of `text` to `ranges` in file order, skipping what the
// reading rules skip. Not normalised.
void ParseRangeText(std::string_view text, std::vector<RangeEntry>& ranges);

// A token that reading would skip or read as other than it is written, and the
// number of its line (from 1).
struct UnreadToken {
  size_t line;
  std::string token;
};

// The first non-blank token of `text` that is not plainly N or A-B (decimal
// digits only, 0 to 2147483647, A <= B, white space around the numbers
// allowed); none when every token is plain. Rewriting a file drops or alters
// such tokens, so a writer checks for them first.
std::optional<UnreadToken> FirstUnreadToken(std::string_view text);

// A record number written plainly: decimal digits only, nothing around them,
// 0 to 2147483647.
std::optional<int32_t> PlainRecordNumber(std::string_view text);

// Appends one "min-max\n" line per range to `out`.
void AppendRangeLines(const std::vector<RangeEntry>& ranges, std::string& out);

}  // namespace RecordRecoveryUtils
