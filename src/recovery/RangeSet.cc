#include "recovery/RangeSet.h"

#include <algorithm>

namespace RecordRecoveryUtils {

void MergeRanges(std::vector<RangeEntry>& ranges) {
  std::erase_if(ranges, [](const RangeEntry& range) { return range.min > range.max; });
  auto byMin = [](const RangeEntry& a, const RangeEntry& b) { return a.min < b.min; };
  if (!std::is_sorted(ranges.begin(), ranges.end(), byMin))
    std::sort(ranges.begin(), ranges.end(), byMin);
  size_t runs = 0;
  for (const RangeEntry& range : ranges) {
    if (runs > 0 && int64_t{range.min} <= int64_t{ranges[runs - 1].max} + 1) {
      RangeEntry& run = ranges[runs - 1];
      run.max = std::max(run.max, range.max);
    } else {
      ranges[runs++] = range;
    }
  }
  ranges.resize(runs, RangeEntry(0, 0));
}

void RangeCollector::Add(int32_t number) {
  if (!mRanges.empty()) {
    RangeEntry& last = mRanges.back();
    if (int64_t{number} == int64_t{last.max} + 1) {
      last.max = number;
      return;
    }
    if (last.min <= number && number <= last.max) return;
  }
  mRanges.emplace_back(number, number);
  if (mRanges.size() >= 2 * mMergedSize + 64) {
    MergeRanges(mRanges);
    mMergedSize = mRanges.size();
  }
}

std::vector<RangeEntry> RangeCollector::Ranges() const {
  std::vector<RangeEntry> ranges = mRanges;
  MergeRanges(ranges);
  return ranges;
}

int64_t MissingRecordCount(const std::vector<RangeEntry>& received,
                           std::optional<int64_t> recordsLogged) {
  if (received.empty()) return 0;
  const int64_t first = received.front().min;
  // No record is numbered beyond 2147483647, whatever count a journal holds.
  const int64_t last =
      recordsLogged ? std::min<int64_t>(*recordsLogged, INT32_MAX) : received.back().max;
  if (last < first) return 0;
  int64_t present = 0;
  for (const RangeEntry& range : received) {
    if (range.min > last) break;
    present += std::min<int64_t>(range.max, last) - range.min + 1;
  }
  return last - first + 1 - present;
}

}  // namespace RecordRecoveryUtils
