#pragma once
// Arithmetic on lists of record-number ranges, in one place: merging them
// into maximal runs (the record log, the extraction and the record store all
// merge through MergeRanges), collecting numbers as ranges, and counting the
// records missing from them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recovery/RangeEntry.h"

namespace RecordRecoveryUtils {

// Replaces `ranges` by the maximal runs of numbers they cover, ascending by
// min: ranges that overlap or touch (one's max + 1 is the other's min) become
// one; a range with min > max is dropped. O(n log n) in the number of ranges,
// whatever their span; ends are compared in 64 bits, so 2147483647 needs no
// sentinel.
void MergeRanges(std::vector<RangeEntry>& ranges);

// Collects record numbers as ranges. Numbers that mostly arrive in order cost
// one range per run; others are merged now and then, so memory follows the
// number of runs, not of numbers.
class RangeCollector {
 public:
  void Add(int32_t number);
  // The numbers added, merged.
  std::vector<RangeEntry> Ranges() const;

 private:
  std::vector<RangeEntry> mRanges;
  size_t mMergedSize = 0;  // the list's size after the last merge
};

// The records missing from `received` (merged, as MergeRanges leaves it): the
// numbers from the lowest received number to `recordsLogged`, the
// controller's last logged count, that are in no received range. Where the
// count is unknown, up to the highest received number. 0 without ranges.
int64_t MissingRecordCount(const std::vector<RangeEntry>& received,
                           std::optional<int64_t> recordsLogged);

}  // namespace RecordRecoveryUtils
