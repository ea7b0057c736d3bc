#include "CentralPublish.h"

#include <unistd.h>

#include <climits>

#include "central/CentralDatabase.h"
#include "central/ConnectionName.h"
#include "central/Publisher.h"
#include "records/Extraction.h"
#include "records/RecordStore.h"
#include "recovery/RangeSet.h"
#include "recovery/RecordLogAdd.h"

namespace ExtractCommand {

namespace {

std::string LocalText(int64_t seconds) {
  const std::tm local = Clock::LocalTimeOf(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// Adds the central numbers to the record recovery file, as the local ones.
std::optional<int64_t> AddCentralNumbers(
    const CentralRequest& request, const std::vector<RecordRecoveryUtils::RangeEntry>& ranges) {
  if (request.recoveryFile.empty()) return std::nullopt;
  RecordRecoveryUtils::RecordLog log(request.recoveryFile);
  // A file that holds them all already is not written again.
  if (log.readRCD()) {
    std::vector<RecordRecoveryUtils::RangeEntry> all = log.receivedRanges;
    all.insert(all.end(), ranges.begin(), ranges.end());
    RecordRecoveryUtils::MergeRanges(all);
    if (all == log.receivedRanges)
      return RecordRecoveryUtils::MissingRecordCount(log.receivedRanges, request.recordsLogged);
  }
  const RecordRecoveryUtils::AddOutcome added =
      RecordRecoveryUtils::AddToRecordLog(request.recoveryFile, ranges, log);
  if (!added.ok) throw Records::RecoveryFileError(added.error);
  return RecordRecoveryUtils::MissingRecordCount(log.receivedRanges, request.recordsLogged);
}

}  // namespace

std::string HostName(const std::string& given) {
  if (!given.empty()) return given;
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || !*name) return "localhost";
  return name;
}

CentralSummary PublishToCentral(const CentralRequest& request, Clock& clock) {
  CentralSummary summary;
  std::optional<Central::ConnectionParts> parts = Central::ParseConnection(request.conninfo);
  summary.database = parts ? parts->name : "an unreadable connection string";
  Records::RecordStore store = Records::RecordStore::OpenForWriting(request.storePath);
  std::optional<Central::PublishOutcome> outcome;
  try {
    Central::Connection db = Central::Connection::Open(request.conninfo, "pelox5-extract");
    Central::PublishSettings settings;
    settings.deployment = request.deployment;
    settings.host = request.host;
    settings.recordsLogged = request.recordsLogged;
    outcome = Central::Publish(db, store, settings);
  } catch (const Central::CentralError& e) {
    summary.error = e.Message;
  }
  summary.waiting = Central::Count(Central::Unpublished(store));
  summary.waitingSince = store.UnpublishedSince();
  if (!outcome) {
    if (summary.waiting > 0 && !summary.waitingSince) {
      summary.waitingSince = clock.WallSeconds();
      store.SetUnpublishedSince(summary.waitingSince);
    }
    request.log("WARNING", summary.error);
    if (summary.waiting > 0)
      request.log("WARNING", std::to_string(summary.waiting) +
                                 " records wait to be published to the central database since " +
                                 LocalText(*summary.waitingSince) +
                                 "; the next run publishes them");
    return summary;
  }
  if (summary.waitingSince) {
    store.SetUnpublishedSince(std::nullopt);
    summary.waitingSince.reset();
  }
  summary.ok = true;
  summary.sent = outcome->sent;
  summary.fresh = outcome->records;
  summary.conflicts = outcome->conflicts;
  summary.missing = AddCentralNumbers(request, outcome->centralRanges);
  request.log("INFO", "Published " + std::to_string(outcome->records) +
                          " new records to the central database (" + summary.database + ")");
  return summary;
}

}  // namespace ExtractCommand
