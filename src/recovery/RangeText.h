#pragma once
// The text form of record ranges, as record recovery files hold them (the
// rules are in RecordLog.h). Parsing never allocates per token.

#include <string>
#include <string_view>
#include <vector>

#include "recovery/RangeEntry.h"

namespace RecordRecoveryUtils {

// Appends the ranges of `text` to `ranges` in file order, skipping what the
// reading rules skip. Not normalised.
void ParseRangeText(std::string_view text, std::vector<RangeEntry>& ranges);

// Appends one "min-max\n" line per range to `out`.
void AppendRangeLines(const std::vector<RangeEntry>& ranges, std::string& out);

}  // namespace RecordRecoveryUtils
