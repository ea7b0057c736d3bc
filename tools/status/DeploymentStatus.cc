#include "DeploymentStatus.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "PublishState.h"
#include "base/AsciiText.h"
#include "base/FolderItem.h"
#include "config/DeploymentAccess.h"
#include "config/DeploymentLayout.h"
#include "config/DeploymentSettings.h"
#include "config/ProjectLocation.h"
#include "records/RecordStore.h"
#include "recovery/RangeSet.h"
#include "recovery/RangeText.h"
#include "recovery/RecordLog.h"

namespace {

// A text item of the configuration; none when absent or not a text or number.
std::optional<std::string> CfgText(const Configuration& cfg, const std::string& name) {
  try {
    return cfg.GetText(name);
  } catch (const ConfigurationException&) {
    return std::nullopt;
  }
}

// The run's message as one line of the report.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Reads the configuration as the download run does, and checks what the run
// checks before it would touch the port: that it names this deployment and
// has a Status. Returns the record recovery file the cfg names.
std::optional<std::string> ReadConfig(DeploymentStatus& d,
                                      const ProjectLocation::Location& location,
                                      const DeploymentPaths& paths) {
  DeploymentAccess::Options options;
  options.requireActive = false;  // a Locked deployment is reported as Locked
  try {
    DeploymentAccess::Deployment deployment =
        DeploymentAccess::Load(location, paths, d.name, options);
    d.port = CfgText(deployment.cfg, "Port");
    d.status = DeploymentSettings::Status(deployment.cfg);
    return deployment.RecordRecoveryFile();
  } catch (const DeploymentAccess::CfgError& e) {
    d.cfgError = Trimmed(e.detail.empty() ? e.Message : e.detail);
  } catch (const BaseError& e) {
    d.cfgError = Trimmed(e.Message);
  }
  return std::nullopt;
}

void CountSessions(DeploymentStatus& d, const DeploymentPaths& paths) {
  FolderItem downloads = paths.Downloads();
  if (!downloads.IsFolder()) return;
  for (const FolderItem& item : downloads.Children()) {
    if (item.Name().rfind(DeploymentLayout::kSessionPrefix, 0) != 0) continue;
    struct stat st {};
    if (::stat(item.NativePath().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    ++d.sessionFiles;
    d.sessionBytes += static_cast<uint64_t>(st.st_size);
  }
}

// The records missing from the record recovery file, as pelox5-extract counts
// them, read as the run reads the file.
void CountMissing(DeploymentStatus& d, const std::string& rcdFile, bool keepRanges) {
  const std::optional<std::string> path = RecordRecoveryUtils::RecordLogPath(rcdFile);
  if (!path) {
    d.rcdError = "not a usable file URL: " + rcdFile;
    return;
  }
  RecordRecoveryUtils::RecordLog log(*path);
  if (!log.readRCD()) {
    d.rcdError = rcdFile + ": " + log.ReadFailure();
    return;
  }
  d.rcdWarnings = RecordRecoveryUtils::SkippedTokenWarnings(log.Skipped(), *path);
  if (log.receivedRanges.empty()) return;  // the run skips recovery then
  // Bounded by the controller's last logged count: records past it are not
  // missing yet, the controller has not logged them.
  d.missingRecords =
      RecordRecoveryUtils::MissingRecordCount(log.receivedRanges, d.journal.recordsLogged);
  if (keepRanges) d.receivedRanges = std::move(log.receivedRanges);
}

// The counts the record store keeps; read-only, so a store being written is
// read as of its last commit.
// With `fromDay`, also the records per day from that day on and the usual
// interval between records, which the store keeps when the cfg names a time field.
void CountStored(DeploymentStatus& d, const DeploymentPaths& paths, const std::string& fromDay) {
  try {
    std::optional<Records::RecordStore> store =
        Records::RecordStore::OpenForReading(paths.RecordStore().NativePath());
    if (!store) return;
    const Records::StoreCounts counts = store->Counts();
    d.storedRecords = counts.records;
    d.recordConflicts = counts.conflicts;
    const Records::ExtractionOutcome outcome = store->ReadOutcome();
    d.sessionsNotAbsorbed = outcome.skippedSessions;
    d.firstNotAbsorbed = outcome.firstSkipped;
    NotePublishing(d, *store);
    if (!fromDay.empty()) {
      d.days = store->RecordDays(fromDay);
      d.recordInterval = store->RecordInterval();
    }
  } catch (const Records::StoreError& e) {
    d.storeError = e.Message;
  }
}

}  // namespace

std::vector<DeploymentStatus> CollectStatus(const ProjectLocation::Location& location,
                                            const std::string& only, const Detail& detail) {
  const std::string& projectFolder = location.projectFolder;
  FolderItem root(projectFolder);
  if (!root.Exists())
    throw ProjectLocation::LocationError("project folder " + projectFolder + " does not exist");
  if (!root.IsFolder())
    throw ProjectLocation::LocationError("project folder " + projectFolder + " is not a folder");
  std::vector<FolderItem> children = root.Children();
  if (root.LastErrorCode() != 0)
    throw ProjectLocation::LocationError("project folder " + projectFolder +
                                         " cannot be listed (error " +
                                         std::to_string(root.LastErrorCode()) + ")");

  std::vector<DeploymentStatus> result;
  for (const FolderItem& item : children) {
    if (!item.IsFolder()) continue;
    // Hidden folders (".git", ".trash") are not deployments unless asked for.
    if (only.empty() && item.Name().rfind('.', 0) == 0) continue;
    DeploymentStatus d;
    d.name = AsciiText::Lower(item.Name());
    if (!only.empty() && d.name != only) continue;
    d.folder = item.NativePath();
    const DeploymentPaths paths = DeploymentAccess::PathsOf(location, item);
    std::optional<std::string> rcd = ReadConfig(d, location, paths);
    d.journal = Journal::ReadTail(paths.RunJournal().NativePath(), detail.runs);
    CountSessions(d, paths);
    if (rcd) CountMissing(d, *rcd, detail.ranges);
    CountStored(d, paths, detail.fromDay);
    result.push_back(std::move(d));
  }
  std::sort(result.begin(), result.end(), [](const DeploymentStatus& a, const DeploymentStatus& b) {
    return a.name != b.name ? a.name < b.name : a.folder < b.folder;
  });
  return result;
}
