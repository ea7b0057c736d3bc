#pragma once
// What the tools need from a deployment's run journal (runs.jsonl, one JSON
// object per line, appended by each download run), read from the end of the
// file only: the last run, the end of the last complete run, and the latest
// "records_logged" value, and on request the last few runs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/RunJournalFormat.h"

namespace Journal {

// The reader goes back at most this far from the end of the file; what lies
// before is not looked at (a complete run older than that shows as none).
inline constexpr uint64_t kMaxReadBack = 8u << 20;

struct Run {
  std::string start, end;          // the texts of the line, "" when absent
  std::optional<int64_t> endTime;  // "end" (else "start") as unix seconds
  std::string outcome;             // one of RunJournalFormat::Outcome
  bool Complete() const { return outcome == RunJournalFormat::Outcome::kComplete; }
  std::optional<int64_t> status;
  std::optional<std::string> fatal;
  std::optional<double> durationS;      // "duration_s"
  std::optional<int64_t> sessionBytes;  // "session_bytes"
};

struct Tail {
  bool exists = false;  // false: no journal, the deployment never ran
  std::string error;    // why the journal could not be read; "" when it could
  std::optional<Run> last;
  std::optional<Run> lastComplete;
  std::optional<int64_t> recordsLogged;
  std::vector<Run> recent;  // the last runs asked for, newest first
};

// Reads `path` backwards in blocks until the three items (and `recentRuns`
// runs) are found, the start of the file, or kMaxReadBack. Lines that are not
// a JSON object with a text "outcome" (a damaged line, a line still being
// written) are skipped.
Tail ReadTail(const std::string& path, size_t recentRuns = 0);

// Seconds since 1970-01-01 UTC of an ISO 8601 time "YYYY-MM-DDTHH:MM:SS" with
// optional fraction and a "Z" or "+HH:MM"/"-HH:MM" offset (none means UTC).
std::optional<int64_t> ParseTime(const std::string& text);

}  // namespace Journal
