// Asking the controller again for the records that the record log lists as missing.

#include <algorithm>

#include "controller/Controller.h"

void Controller::GetMissingRecords(const RecordRecoveryUtils::RecordLog* log, int32_t requestSize,
                                   int32_t timeout) {
  if (log == nullptr || log->receivedRanges.empty()) {
    Log("WARNING", "GetMissingRecords(): record log not initialized");
    return;
  }
  if (mRecordsLogged < 0) {
    Log("WARNING",
        "GetMissingRecords(): mRecordsLogged has not initialized by a call to controllers 'logs' "
        "cmd");
    return;
  }
  // A request size below 1 would never advance through a range.
  const int64_t size = std::max<int32_t>(1, requestSize);
  for (const RecordRecoveryUtils::RangeEntry& range : log->missingRanges) {
    Log("INFO", "GetMissingRecords() requesting records in range " + std::to_string(range.min) +
                    "-" + std::to_string(range.max));
    // 64-bit so that ranges ending near the Int32 limit cannot wrap.
    int64_t nextmin = range.min;
    while (nextmin <= range.max) {
      const int64_t nextmax = std::min<int64_t>(nextmin + size - 1, range.max);
      const int64_t n2get = nextmax - nextmin + 1;
      if (mRecordsLogged < nextmin) {
        Log("WARNING",
            "GetMissingRecords(): is requesting records beyond last record the controller has in "
            "memory: requested start:" +
                std::to_string(nextmin) + "  lastrecord:" + std::to_string(mRecordsLogged));
        Log("WARNING",
            "GetMissingRecords():your controller's extract.rcd file appears to be out-of-sync "
            "with what is presently on the controller.");
        break;
      }
      Log("INFO", "GetMissingRecords(): nextmin:" + std::to_string(nextmin) +
                      "  nextmax:" + std::to_string(nextmax) + " n2get:" + std::to_string(n2get));
      GetDataByRecordNumber(static_cast<int32_t>(nextmin), static_cast<int32_t>(n2get), timeout);
      nextmin += n2get;
    }
  }
}
