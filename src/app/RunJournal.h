#pragma once
// The run journal: one line of JSON per run, appended to "runs.jsonl" in the
// deployment's folder, so that monitoring reads how each run ended without
// reading its log. Keys (journal/RunJournalFormat.h) keep the order below;
// absent values are null.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "journal/RunJournalFormat.h"

struct RunRecord {
  std::string deployment;  // the deployment folder's name
  std::time_t start = 0;   // wall-clock start and end of the run
  std::time_t end = 0;
  double durationSeconds = 0;  // measured on a monotonic clock
  int32_t status = 0;
  std::string outcome;                 // one of RunJournalFormat::Outcome
  std::optional<std::string> fatal;    // the text of the run's first FATAL line
  std::optional<std::string> session;  // the session file's name
  uint64_t sessionBytes = 0;
  std::optional<std::string> port;
  std::string version;
  std::optional<int64_t> recordsLogged;  // from the controller's "logs" reply
  std::optional<int64_t> nextDownload;
  int32_t getdataRequests = 0;
  int32_t getlogRequests = 0;
  int64_t recordsRequested = 0;
};

namespace RunJournal {

// Local time with its UTC offset: "2026-12-09T18:04:54+00:00".
std::string IsoTime(std::time_t t);

// The record as one line of JSON ending with a line feed. Bytes that are not
// valid UTF-8 are replaced, so the line is always valid JSON.
std::string Line(const RunRecord& record);

// Appends `line` to the file at `path` (created when missing) under an
// exclusive lock, so that lines of runs side by side never mix. When the line
// cannot be written whole, the file is cut back to its size before, so it only
// ever holds whole lines. Returns 0, kNotRegular for a FIFO or device
// (refused without blocking or touching it), or the errno of the failure.
int Append(const std::string& path, const std::string& line);

inline constexpr int kNotRegular = -1;

// What a failure that Append returned means, for a log line.
std::string FailureText(int err);

}  // namespace RunJournal
