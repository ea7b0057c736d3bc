#pragma once
// Adding received records to a record recovery file, the one way every writer
// does it: under the folder lock, from a fresh read to the atomic replace, and
// refusing a file that a rewrite would damage.

#include <chrono>
#include <string>
#include <vector>

#include "recovery/RangeEntry.h"
#include "recovery/RecordLog.h"

namespace RecordRecoveryUtils {

// How long an add waits for another writer of the same folder.
inline constexpr std::chrono::milliseconds kAddLockPatience{30000};

struct AddOutcome {
  bool ok = false;
  // Why the file was left as it is, in one line ("" when ok).
  std::string error;
  // The record log's own report of a failed read or write (its FailureText),
  // for a caller that shows it; "" otherwise.
  std::string report;
};

// Marks `additions` received in the record log `name` (a path or file URL;
// the file may not exist yet) and replaces the file atomically. Refuses,
// leaving the file as it is, when the folder cannot be locked within
// `patience`, when the file cannot be read, or when it holds a token that is
// not N or A-B. `log` holds the file's ranges after the additions.
AddOutcome AddToRecordLog(const std::string& name, const std::vector<RangeEntry>& additions,
                          RecordLog& log, std::chrono::milliseconds patience = kAddLockPatience);

}  // namespace RecordRecoveryUtils
