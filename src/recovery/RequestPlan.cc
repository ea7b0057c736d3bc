#include "recovery/RequestPlan.h"

#include <algorithm>

namespace RecordRecoveryUtils {

int64_t MissingRequestPlan::RequestsIn(const PlannedRange& planned) const {
  const int64_t records = planned.end - planned.range.min;
  return records <= 0 ? 0 : (records + requestSize - 1) / requestSize;
}

RecordRequest MissingRequestPlan::RequestAt(const PlannedRange& planned, int64_t i) const {
  const int64_t first = planned.range.min + i * requestSize;
  const int64_t last = std::min<int64_t>(first + requestSize - 1, planned.range.max);
  return {static_cast<int32_t>(first), static_cast<int32_t>(last - first + 1)};
}

int64_t MissingRequestPlan::RequestCount() const {
  int64_t total = 0;
  for (const PlannedRange& planned : ranges) total += RequestsIn(planned);
  return total;
}

MissingRequestPlan PlanMissingRequests(const RecordLog& log, int32_t recordsLogged,
                                       int32_t requestSize) {
  MissingRequestPlan plan;
  // A request size below 1 would never advance through a range.
  plan.requestSize = std::max<int32_t>(1, requestSize);
  const int64_t size = plan.requestSize;
  for (const RangeEntry& range : log.missingRanges) {
    const bool startsBeyond = range.min > recordsLogged;
    if (startsBeyond && plan.beyondStart >= 0) continue;
    PlannedRange planned{range, range.min, false};
    if (range.min <= range.max) {
      // Requests start at min, min + size, ...; 64-bit so nothing wraps near the
      // Int32 limit. The last start at most recordsLogged decides the end.
      const int64_t lastWanted = std::min<int64_t>(range.max, recordsLogged);
      if (lastWanted >= range.min) {
        const int64_t requests = (lastWanted - range.min) / size + 1;
        planned.end = std::min<int64_t>(range.min + requests * size, int64_t{range.max} + 1);
      }
      if (planned.end <= range.max && plan.beyondStart < 0) {
        plan.beyondStart = planned.end;
        planned.beyond = true;
      }
    }
    plan.ranges.push_back(planned);
  }
  return plan;
}

}  // namespace RecordRecoveryUtils
