// Asking the controller again for the records that the record log lists as missing.

#include "controller/Controller.h"
#include "ports/PortSourceExceptions.h"
#include "recovery/RequestPlan.h"

using PortSourceUtils::PortSourceException;
using PortSourceUtils::TimeoutException;

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
  const RecordRecoveryUtils::MissingRequestPlan plan =
      RecordRecoveryUtils::PlanMissingRequests(*log, mRecordsLogged, requestSize);
  int64_t left = plan.RequestCount();
  for (const RecordRecoveryUtils::PlannedRange& planned : plan.ranges) {
    Log("INFO", "GetMissingRecords() requesting records in range " +
                    std::to_string(planned.range.min) + "-" + std::to_string(planned.range.max));
    const int64_t requests = plan.RequestsIn(planned);
    for (int64_t i = 0; i < requests; ++i) {
      const RecordRecoveryUtils::RecordRequest request = plan.RequestAt(planned, i);
      Log("INFO", "GetMissingRecords(): nextmin:" + std::to_string(request.first) +
                      "  nextmax:" + std::to_string(int64_t{request.first} + request.count - 1) +
                      " n2get:" + std::to_string(request.count));
      --left;
      // A controller that has gone is not asked for the rest of the list.
      const auto rest = [left] { return "; " + std::to_string(left) + " requests left"; };
      ReceiveResult r;
      try {
        r = RequestRecords(request.first, request.count, timeout);
      } catch (const PortSourceException& e) {
        throw PortSourceException("GetMissingRecords(): " + request.Command() +
                                  " failed: " + e.Message + rest());
      }
      PromptCode(r);
      if (r.gotPrompt) continue;
      const std::string line = request.Command();
      if (r.portError) {
        throw PortSourceException("GetMissingRecords(): port error after " + line +
                                  ", LastErrorCode:" + std::to_string(PortErrorCode()) + rest());
      }
      if (!r.overBound.empty()) {
        throw TimeoutException("GetMissingRecords(): " + r.overBound + " after " + line + rest());
      }
      throw TimeoutException("GetMissingRecords(): no reply to " + line + rest());
    }
    if (planned.beyond) {
      Log("WARNING",
          "GetMissingRecords(): is requesting records beyond last record the controller has in "
          "memory: requested start:" +
              std::to_string(plan.beyondStart) + "  lastrecord:" + std::to_string(mRecordsLogged));
      Log("WARNING",
          "GetMissingRecords():your controller's extract.rcd file appears to be out-of-sync "
          "with what is presently on the controller.");
    }
  }
}
