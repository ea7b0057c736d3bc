// The rules that keep a RecordLog's received ranges normalised and derive the
// first and last record and the missing ranges from them.

#include <algorithm>
#include <cstdint>

#include "recovery/RangeSet.h"
#include "recovery/RecordLog.h"

namespace RecordRecoveryUtils {

bool RecordLog::isInRange(int32_t record) const {
  for (const RangeEntry& range : receivedRanges)
    if (range.min <= record && record <= range.max) return true;
  return false;
}

void RecordLog::refreshMinMaxRangeValues() {
  if (receivedRanges.empty()) return;
  int32_t first = 2147483647;
  int32_t last = -1;
  for (const RangeEntry& range : receivedRanges) {
    first = std::min(first, range.min);
    last = std::max(last, range.max);
  }
  mFirstRecord = first;
  mLastRecord = last;
}

// Replaces the list by the maximal runs of record numbers that its ranges
// cover (MergeRanges), then derives the first and last record and the gaps.
void RecordLog::cleanupRanges() {
  if (receivedRanges.empty()) return;
  refreshMinMaxRangeValues();
  MergeRanges(receivedRanges);
  refreshMinMaxRangeValues();
  refreshMissingRangeList();
}

// On a normalised list: the gap before the first range, counted from record 0,
// and every gap between two ranges; nothing after the last range.
void RecordLog::refreshMissingRangeList() {
  missingRanges.clear();
  if (receivedRanges.empty()) return;
  int64_t next = 0;
  const size_t count = receivedRanges.size();
  for (size_t i = 0; i < count; ++i) {
    const RangeEntry& entry = receivedRanges[i];
    if (next < entry.min) {
      missingRanges.emplace_back(static_cast<int32_t>(next), entry.min - 1);
      next = int64_t{entry.max} + 1;
    } else if (i + 1 < count && next <= entry.max) {
      const RangeEntry& following = receivedRanges[i + 1];
      int64_t gapMin = int64_t{entry.max} + 1;
      if (gapMin <= int64_t{following.min} - 1)
        missingRanges.emplace_back(static_cast<int32_t>(gapMin), following.min - 1);
      next = int64_t{following.max} + 1;
    }
  }
}

// REQUIRES: the list is normalised, as readRCD and every call here leave it.
void RecordLog::addRecordToRanges(int32_t record) {
  if (record < 0 || isInRange(record)) return;
  if (receivedRanges.empty()) {
    receivedRanges.emplace_back(record, record);
    cleanupRanges();
    return;
  }
  const int64_t afterLast = int64_t{mLastRecord} + 1;
  if (record == afterLast) {
    receivedRanges.back().max = record;
    mLastRecord = record;
    cleanupRanges();
    return;
  }
  if (record > afterLast) {
    receivedRanges.emplace_back(record, record);
    mLastRecord = record;
    cleanupRanges();
    return;
  }
  for (size_t i = 0; i < receivedRanges.size(); ++i) {
    RangeEntry& entry = receivedRanges[i];
    if (int64_t{record} == int64_t{entry.min} - 1) {
      entry.min = record;
    } else if (record < entry.min) {
      receivedRanges.emplace_back(record, record);  // may reallocate: entry is not used after
    } else if (int64_t{record} == int64_t{entry.max} + 1) {
      entry.max = record;
    } else {
      continue;
    }
    cleanupRanges();
    return;
  }
  // Not reached on a normalised list: a record below the last range's max that
  // no range holds is next to or below some range.
}

void RecordLog::addRangeToRanges(int32_t min, int32_t max) {
  if (min < 0 || min > max) return;
  receivedRanges.emplace_back(min, max);
  cleanupRanges();
}

}  // namespace RecordRecoveryUtils
