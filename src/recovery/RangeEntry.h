#pragma once
// One closed range of record numbers; both ends included.

#include <cstdint>

namespace RecordRecoveryUtils {

struct RangeEntry {
  RangeEntry(int32_t min_, int32_t max_) : max(max_), min(min_) {}
  bool operator==(const RangeEntry&) const = default;

  int32_t max;
  int32_t min;
};

}  // namespace RecordRecoveryUtils
