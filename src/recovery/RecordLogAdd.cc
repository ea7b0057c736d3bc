#include "recovery/RecordLogAdd.h"

#include <optional>

#include "base/AtomicFile.h"
#include "recovery/RecordLogLock.h"

namespace RecordRecoveryUtils {

AddOutcome AddToRecordLog(const std::string& name, const std::vector<RangeEntry>& additions,
                          RecordLog& log, std::chrono::milliseconds patience) {
  AddOutcome outcome;
  // Writers wait for each other from before the read to after the write, so
  // no one's records are lost.
  std::optional<FolderLock> lock;
  if (std::optional<std::string> path = RecordLogPath(name)) {
    lock = FolderLock::Take(*path, patience, outcome.error);
    if (!lock) return outcome;
    // A writer killed before its rename left its temporary file; with the
    // lock held, no other writer's is in the folder.
    AtomicFile::RemoveLeftovers(*path);
  }
  log = RecordLog(name);
  if (!log.readRCD()) {
    outcome.error = name + " cannot be read (" + log.ReadFailure() + ")";
    outcome.report = log.FailureText();
    return outcome;
  }
  // A rewrite would drop the tokens reading skipped.
  if (!log.Skipped().listed.empty()) {
    const UnreadToken& unread = log.Skipped().listed.front();
    outcome.error = name + " line " + std::to_string(unread.line) + " holds '" + unread.token +
                    "', which is not N or A-B; the file is left as it is";
    return outcome;
  }
  // All at once, then one normalisation: the cost stays O(n log n) however
  // many ranges are added.
  for (const RangeEntry& range : additions)
    if (range.min >= 0 && range.min <= range.max) log.receivedRanges.push_back(range);
  log.cleanupRanges();
  if (!log.writeRCD()) {
    outcome.error = log.ChangedMeanwhile()
                        ? name +
                              " was changed meanwhile and now holds a token that is not N or "
                              "A-B; the file is left as it is"
                        : name + " cannot be written; the old file is unchanged";
    outcome.report = log.FailureText();
    return outcome;
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace RecordRecoveryUtils
