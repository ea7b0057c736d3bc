#pragma once
// The state of one deployment folder as pelox5-status reports it, gathered
// from its configuration, its run journal, its downloads folder and its record
// recovery file. Nothing is written.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ProjectLocation.h"
#include "journal/JournalTail.h"
#include "records/RecordStore.h"
#include "recovery/RangeEntry.h"

// Records whose first time field falls on one local day ("YYYY-MM-DD").
using DayCount = Records::DayCount;

struct DeploymentStatus {
  std::string name;    // the folder's name in lower case: what -d takes
  std::string folder;  // its path

  // From the configuration: cfgError is "" when it was read, else why not.
  std::string cfgError;
  std::optional<std::string> status;  // the Status item
  std::optional<std::string> port;    // the Port item

  Journal::Tail journal;

  uint64_t sessionFiles = 0;  // downloads/raw.*
  uint64_t sessionBytes = 0;

  // Records missing from the .rcd file (RecordRecoveryUtils::MissingRecordCount,
  // bounded by the journal's record count); none without an
  // ExtractReceivedRecordFile item or a file holding ranges.
  std::optional<int64_t> missingRecords;
  std::string rcdError;                  // why the .rcd could not be read; "" otherwise
  std::vector<std::string> rcdWarnings;  // the .rcd's tokens that reading skipped
  // The .rcd's received ranges, ascending; kept only for the page (Detail).
  std::vector<RecordRecoveryUtils::RangeEntry> receivedRanges;

  // From the record store (records.sqlite); none before the first extraction
  // or when it cannot be read (storeError says why).
  std::optional<int64_t> storedRecords;
  std::optional<int64_t> recordConflicts;
  std::string storeError;
  // Session files the last extraction had to skip, and the first of them with
  // why; 0 when it absorbed every one.
  int64_t sessionsNotAbsorbed = 0;
  std::string firstNotAbsorbed;
  // Records per day, oldest first, from `fromDay` on, and the deployment's
  // usual interval between records; empty without a time field.
  std::vector<DayCount> days;
  std::optional<int64_t> recordInterval;
  // Stored records not yet published to the central database, and since when
  // they wait after a failed publish; none when no central database is
  // configured and nothing was ever published (PublishState.cc).
  std::optional<int64_t> unpublishedRecords;
  std::optional<int64_t> unpublishedSince;

  bool Active() const { return cfgError.empty() && status == "Active"; }
  bool LastRunComplete() const { return journal.last && journal.last->Complete(); }
  // What the exit status counts as a problem: a configuration that cannot be
  // read, or an Active deployment whose last run did not complete (or that
  // never ran). Locked deployments are never a problem.
  bool NeedsAttention() const { return !cfgError.empty() || (Active() && !LastRunComplete()); }
};

// What the page needs beyond the reports' figures: the last `runs` runs of
// each journal, the received ranges, and records per day from `fromDay` on.
struct Detail {
  size_t runs = 0;
  bool ranges = false;
  std::string fromDay;  // "" for no records per day
};

// The deployment folders of `projectFolder` (its sub-folders), sorted by name.
// `only`, when not empty, keeps the one whose lower-cased name equals it.
// Raises ProjectLocation::LocationError when the folder cannot be listed.
std::vector<DeploymentStatus> CollectStatus(const ProjectLocation::Location& location,
                                            const std::string& only, const Detail& detail = {});
