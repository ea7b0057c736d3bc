#pragma once
// The getlog requests that ask a controller again for the records a record log
// lists as missing: computed once, without a port, so the download run and a
// maintenance tool show exactly the same plan.

#include <cstdint>
#include <string>
#include <vector>

#include "base/DialogueWords.h"
#include "recovery/RangeEntry.h"
#include "recovery/RecordLog.h"

namespace RecordRecoveryUtils {

// "getlog first count".
// RecordRequestSize, the most records one request asks for: its default and the
// values a deployment may set.
inline constexpr int32_t kDefaultRequestSize = 30;
inline constexpr int32_t kMaxRequestSize = 1000000;

struct RecordRequest {
  int32_t first = 0;
  int32_t count = 0;
  bool operator==(const RecordRequest&) const = default;
  // The controller command that asks for these records: "getlog F C".
  std::string Command() const {
    return std::string(DialogueWords::kGetLog) + " " + std::to_string(first) + " " +
           std::to_string(count);
  }
};

// One missing range as far as it is asked for.
struct PlannedRange {
  RangeEntry range;
  // One past the last record asked for; range.min when none is.
  int64_t end = 0;
  // The walk met the controller's count in this range: the place to warn.
  bool beyond = false;
};

struct MissingRequestPlan {
  int32_t requestSize = 1;
  std::vector<PlannedRange> ranges;
  // The first request start past the controller's count, -1 when none.
  int64_t beyondStart = -1;

  int64_t RequestsIn(const PlannedRange& planned) const;
  // Request i (0 <= i < RequestsIn) of a range.
  RecordRequest RequestAt(const PlannedRange& planned, int64_t i) const;
  int64_t RequestCount() const;
};

// Walks log.missingRanges in order, cutting each into requests of at most
// requestSize records (at least 1), as long as a request's first record is at
// most recordsLogged. The range where a request would start past recordsLogged
// is marked `beyond` (once); a range that starts past it after that is left out,
// so a long list of ranges beyond the count costs no requests and no log lines.
// Holds O(ranges) memory however many requests there are.
MissingRequestPlan PlanMissingRequests(const RecordLog& log, int32_t recordsLogged,
                                       int32_t requestSize);

}  // namespace RecordRecoveryUtils
