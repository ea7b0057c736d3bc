#pragma once
// Absorbing a deployment's session files into its record store, then adding
// the stored record numbers to its record recovery file.
//
// Each session file is absorbed in one transaction, from where the last run
// stopped to the end of its last whole line: a kill leaves the store as it was
// before or after the whole file. The record recovery file is brought up to
// date after the commits, through the same lock, atomic replace and refusals
// as every other writer; a run killed in between is mended by the next one,
// which finds the file behind the store.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/BaseError.h"
#include "base/Clock.h"
#include "base/DialogueWords.h"
#include "base/TimeZone.h"
#include "records/RecordFields.h"
#include "records/RecordPattern.h"
#include "records/TypedRow.h"

namespace Records {

// The record recovery file cannot be brought up to date; Message says why.
PELOX5_DECLARE_ERROR(RecoveryFileError, BaseError);

struct ExtractionSettings {
  std::string downloadsFolder;
  // The session files are the files of the downloads folder named so.
  std::string sessionPrefix;
  std::string storePath;
  // The record recovery file as the log shows it (a path or file URL); empty
  // when the cfg names none.
  std::string recoveryFile;
  // The controller's last logged count (the run journal's records_logged);
  // none when no run has learnt it. Bounds the records counted as missing.
  std::optional<int64_t> recordsLogged;
  std::string prompt = DialogueWords::kDefaultPrompt;
  const RecordPattern* pattern = nullptr;
  // The fields of the record lines, and the zone loaded for their TimeZone
  // (none without one).
  FieldDefinition fields;
  const TimeZone::Zone* zone = nullptr;
  // Bytes the store's file system keeps free for the next downloads: an
  // extraction that would leave less stores nothing. 0 turns the check off.
  int64_t freeSpaceReserve = 0;
  // The cfg item that sets it, named when the reserve stops an extraction.
  std::string freeSpaceReserveItem;
  // Log lines: severity ("WARNING", "INFO", "DEBUG") and text.
  std::function<void(const std::string&, const std::string&)> log;
};

struct ExtractionSummary {
  int64_t sessionsRead = 0;  // files from which new whole lines were read
  int64_t found = 0;         // record lines among them
  int64_t fresh = 0;         // stored for the first time
  int64_t duplicates = 0;    // same number, same line: not stored again
  int64_t conflicts = 0;     // same number, another line: kept aside
  int64_t stored = 0;        // records in the store afterwards
  int64_t storedConflicts = 0;
  // Records missing from the recovery file (RecordRecoveryUtils::MissingRecordCount).
  std::optional<int64_t> missing;
  int64_t unusableSessions = 0;        // files that could not be read: skipped
  int64_t changedSessions = 0;         // shrunk or changed under what was absorbed: read again
  int64_t sessionsWithoutRecords = 0;  // reply lines read, not one of them a record
  // Typing the new records (and every stored one, when the fields changed):
  // values that are not of their type, lines with fewer or more fields than
  // named, local times that do not exist.
  TypingIssues typing;
  std::optional<int64_t> typedRebuilt;  // records typed again for changed fields
};

// Raises StoreError for the store and RecoveryFileError for the record
// recovery file; what was committed before stays. `clock` dates what is stored.
ExtractionSummary Extract(const ExtractionSettings& settings, Clock& clock);

// Whether a line (without its line end) is part of the dialogue rather than
// data: the prompt, "done", the "logs" reply, "ERROR:" replies and echoed
// commands are never records.
bool IsDialogueLine(std::string_view line, const std::string& prompt);

}  // namespace Records
