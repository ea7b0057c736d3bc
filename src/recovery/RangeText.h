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

// A token that reading skips, and the number of its line (from 1).
struct UnreadToken {
  size_t line;
  std::string token;
};

// The tokens one reading skipped: the first kListed of them, and how many in all.
struct SkippedTokens {
  static constexpr size_t kListed = 20;
  std::vector<UnreadToken> listed;
  size_t count = 0;
};

// Appends the ranges of `text` to `ranges` in file order. A UTF-8 byte-order
// mark at its start is ignored, blank tokens add nothing, and every other token
// that is not plainly N or A-B (plain decimal digits, 0 to 2147483647, A <= B,
// blanks around the numbers allowed) is skipped and, with
// `skipped`, counted there. Not normalised.
void ParseRangeText(std::string_view text, std::vector<RangeEntry>& ranges,
                    SkippedTokens* skipped = nullptr);

// One text per skipped token, naming `fileName`, the line and the token (the
// first SkippedTokens::kListed of them, then one that counts the rest); none
// when nothing was skipped. Every program that reads the file warns with these.
std::vector<std::string> SkippedTokenWarnings(const SkippedTokens& skipped,
                                              const std::string& fileName);

// A record number written plainly: decimal digits only, nothing around them,
// 0 to 2147483647.
std::optional<int32_t> PlainRecordNumber(std::string_view text);

// Appends one "min-max\n" line per range to `out`.
void AppendRangeLines(const std::vector<RangeEntry>& ranges, std::string& out);

}  // namespace RecordRecoveryUtils
