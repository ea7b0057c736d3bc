#include "ExtractCommand.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>

#include "CentralPublish.h"
#include "CsvExport.h"
#include "app/LogLevel.h"
#include "base/DateValue.h"
#include "base/TimeZone.h"
#include "base/WriteAll.h"
#include "central/DatabaseSetting.h"
#include "config/Configuration.h"
#include "config/DeploymentAccess.h"
#include "config/DeploymentLayout.h"
#include "config/DeploymentSettings.h"
#include "config/JsonDocument.h"
#include "config/ProjectLocation.h"
#include "journal/JournalTail.h"
#include "options/ArgWalk.h"
#include "ports/PortSourceUtils.h"
#include "records/Extraction.h"
#include "records/RecordStore.h"
#include "recovery/RangeText.h"

namespace ExtractCommand {

namespace {

constexpr int kDone = 0;
constexpr int kError = 1;
constexpr int kUsage = 2;

struct Options {
  std::string deployment;
  std::string logLevel = "WARNING";
  bool lines = false;
  bool json = false;
  bool csv = false;
  bool units = false;
  bool help = false;
  std::optional<int32_t> from, to;
  // --since and --until as the typed table's text, and whether they are UTC.
  std::string since, until;
  std::optional<bool> utc;
  std::optional<std::string> database;  // --database: overrides RecordDatabase
  std::string hostName;
};

// A record number given on the command line: 0 to 2147483647.
int32_t RecordNumber(const std::string& option, const std::string& text) {
  std::optional<int32_t> n = RecordRecoveryUtils::PlainRecordNumber(text);
  if (!n || text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError{option + " needs a record number from 0 to 2147483647, not \"" + text + "\""};
  return *n;
}

// An ISO 8601 time on the command line: local without a zone, UTC with "Z";
// a date alone is its midnight.
void TimeBound(const std::string& option, const std::string& text, std::string& bound,
               std::optional<bool>& utc) {
  const size_t end = text.find_last_not_of(' ');
  const bool z = end != std::string::npos && (text[end] == 'Z' || text[end] == 'z');
  const std::optional<DateValue> date = DateValue::Parse(text);
  if (!date || (!z && text.find_first_of("+Zz") != std::string::npos))
    throw UsageError{option +
                     " needs a time such as 2026-01-01, 2026-01-01T06:40:00 (local) or "
                     "2026-01-01T05:40:00Z (UTC), not \"" +
                     text + "\""};
  if (utc && *utc != z)
    throw UsageError{"--since and --until take both local times or both UTC times (with Z)"};
  utc = z;
  bound = date->ToText();
  if (z) bound = bound.substr(0, 10) + "T" + bound.substr(11) + "Z";
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  ArgWalk<UsageError> walk(args);
  while (walk.Next()) {
    const std::string& arg = walk.Name();
    if (arg == "-h" || arg == "--help" || arg == "-?") {
      walk.NoValue();
      o.help = true;
    } else if (arg == "-d" || arg == "--deployment") {
      o.deployment = walk.Value();
      if (o.deployment.empty()) throw UsageError{arg + " needs a deployment name"};
    } else if (arg == "-l" || arg == "--loglevel") {
      o.logLevel = walk.Value();
      if (LogLevel::Rank(o.logLevel).rank == 0)
        throw UsageError{arg + " takes FATAL, WARNING, INFO or DEBUG, not \"" + o.logLevel + "\""};
    } else if (arg == "--lines") {
      walk.NoValue();
      o.lines = true;
    } else if (arg == "--json") {
      walk.NoValue();
      o.json = true;
    } else if (arg == "--csv") {
      walk.NoValue();
      o.csv = true;
    } else if (arg == "--units") {
      walk.NoValue();
      o.units = true;
    } else if (arg == "--since") {
      TimeBound(arg, walk.Value(), o.since, o.utc);
    } else if (arg == "--until") {
      TimeBound(arg, walk.Value(), o.until, o.utc);
    } else if (arg == "--database") {
      o.database = walk.Value();
    } else if (arg == "--host-name") {
      o.hostName = walk.Value();
      if (o.hostName.empty()) throw UsageError{arg + " needs a name"};
    } else if (arg == "--from") {
      o.from = RecordNumber(arg, walk.Value());
    } else if (arg == "--to") {
      o.to = RecordNumber(arg, walk.Value());
    } else {
      throw UsageError{"unexpected argument \"" + walk.Given() + "\""};
    }
  }
  if (o.help) return o;
  if (o.deployment.empty()) throw UsageError{"-d NAME is required"};
  if ((o.from || o.to) && !o.lines && !o.csv)
    throw UsageError{"--from and --to go with --lines or --csv"};
  if (o.json && o.lines) throw UsageError{"--json and --lines exclude each other"};
  if (o.csv && (o.lines || o.json)) throw UsageError{"--csv excludes --lines and --json"};
  if ((o.units || o.utc) && !o.csv) throw UsageError{"--units, --since and --until go with --csv"};
  return o;
}

// Log lines as the download tool writes them, on standard error. Keeps the
// first FATAL text, which a JSON summary that cannot be given reports instead.
class Log {
 public:
  explicit Log(const std::string& level) : mRank(LogLevel::Rank(level).rank) {}
  void operator()(const std::string& severity, const std::string& text) const {
    const LogLevel::Ranked message = LogLevel::Rank(severity);
    if (message.rank == kFatalRank && !mFirstFatal) mFirstFatal = text;
    if (message.rank > mRank) return;
    WriteAll(STDERR_FILENO, PortSourceUtils::now() + ": (" + message.name + ") : " + text + "\n");
  }
  const std::optional<std::string>& FirstFatal() const { return mFirstFatal; }

 private:
  static constexpr int kFatalRank = 1;
  int mRank;
  mutable std::optional<std::string> mFirstFatal;
};

// Finds the deployment and reads its cfg as the download run does; none after
// a FATAL line. A Locked deployment is extracted too, and, unlike a download, an
// extraction creates no project folder.
std::optional<DeploymentAccess::Deployment> FindDeployment(const std::string& name,
                                                           const Log& log) {
  DeploymentAccess::Options options;
  options.requireActive = false;
  // The run's progress lines are this program's details.
  options.log = [&log](const std::string&, const std::string& text) { log("INFO", text); };
  try {
    return DeploymentAccess::Open(ProjectLocation::Find(), name, options);
  } catch (const DeploymentAccess::CfgError& e) {
    if (e.cause == DeploymentAccess::CfgError::Cause::kUnreadable) log("FATAL", e.detail);
    log("FATAL", e.Message);
  } catch (const BaseError& e) {
    // The location, the project or deployment folder, the Name item.
    log("FATAL", e.Message);
  }
  return std::nullopt;
}

int Emit(const std::string& text) {
  if (int err = WriteAll(STDOUT_FILENO, text); err != 0) {
    WriteAll(STDERR_FILENO,
             std::string("pelox5-extract: cannot write the output: ") + std::strerror(err) + "\n");
    return kError;
  }
  return kDone;
}

int PrintLines(const std::string& storePath, const Options& o) {
  std::optional<Records::RecordStore> store = Records::RecordStore::OpenForReading(storePath);
  if (!store) return kDone;  // nothing absorbed yet: no lines
  std::string text;
  int status = kDone;
  store->ForEachLine(o.from.value_or(0), o.to.value_or(INT32_MAX),
                     [&](int64_t, std::string_view line) {
                       text.append(line);
                       text += '\n';
                       if (text.size() >= (size_t{1} << 20) && status == kDone) {
                         status = Emit(text);
                         text.clear();
                       }
                     });
  if (status != kDone) return status;
  return Emit(text);
}

int PrintCsv(const std::string& storePath, const Options& o) {
  std::optional<Records::RecordStore> store = Records::RecordStore::OpenForReading(storePath);
  CsvExport::Request request;
  request.units = o.units;
  request.from = o.from.value_or(0);
  request.to = o.to.value_or(INT32_MAX);
  request.since = o.since;
  request.until = o.until;
  request.utc = o.utc.value_or(false);
  int err = 0;
  switch (CsvExport::Write(store ? &*store : nullptr, request, STDOUT_FILENO, err)) {
    case CsvExport::Outcome::kWritten:
    case CsvExport::Outcome::kReaderGone:  // the reader chose to stop
      return kDone;
    case CsvExport::Outcome::kWriteFailed:
      WriteAll(STDERR_FILENO, std::string("pelox5-extract: cannot write the output: ") +
                                  std::strerror(err) + "\n");
      return kError;
    case CsvExport::Outcome::kNoTimeField:
      WriteAll(STDERR_FILENO,
               "pelox5-extract: --since and --until need a time field, and the record fields "
               "(RecordFields in deployment.cfg, as last extracted) name none\n");
      return kUsage;
    case CsvExport::Outcome::kNoUtcColumn:
      WriteAll(STDERR_FILENO,
               "pelox5-extract: a UTC time (with Z) needs the cfg item TimeZone, and the "
               "records were extracted without one; give a local time (without Z)\n");
      return kUsage;
  }
  return kError;
}

// The record fields the cfg names; none after a FATAL line. `zone` receives
// the zone of TimeZone when it names one.
std::optional<Records::FieldDefinition> ReadFields(const Configuration& cfg,
                                                   std::optional<TimeZone::Zone>& zone,
                                                   const Log& log) {
  const std::optional<std::vector<Records::FieldItem>> items =
      DeploymentSettings::RecordFieldItems(cfg);
  const std::string separator =
      DeploymentSettings::Text(cfg, DeploymentSettings::kRecordFieldSeparatorKey)
          .value_or(Records::kDefaultSeparator);
  const std::string zoneName =
      DeploymentSettings::Text(cfg, DeploymentSettings::kTimeZoneKey).value_or("");
  std::string error;
  std::optional<Records::FieldDefinition> def =
      Records::MakeFieldDefinition(items, separator, zoneName, error);
  if (!def) {
    log("FATAL", "Invalid record fields in deployment.cfg: " + error);
    return std::nullopt;
  }
  if (!zoneName.empty()) {
    zone = TimeZone::Zone::Load(zoneName, error);
    if (!zone) {
      log("FATAL", "Invalid TimeZone in deployment.cfg: " + error);
      return std::nullopt;
    }
  }
  return def;
}

std::string Number(const std::optional<int64_t>& n, const char* none) {
  return n ? std::to_string(*n) : none;
}

std::string SummaryLine(const Records::ExtractionSummary& s, const std::string& rcd) {
  return std::to_string(s.sessionsRead) + " session files read, " + std::to_string(s.found) +
         " records found: " + std::to_string(s.fresh) + " new, " + std::to_string(s.duplicates) +
         " duplicates, " + std::to_string(s.conflicts) + " conflicts; " + std::to_string(s.stored) +
         " stored; missing: " + Number(s.missing, "-") +
         (rcd.empty() ? " (no record recovery file)" : " in " + rcd) + "\n";
}

// The central part of the summary: one more line, or one more member.
std::string CentralLine(const CentralSummary& c) {
  if (!c.ok)
    return "central database (" + c.database + "): not published; " + std::to_string(c.waiting) +
           " records wait to be published\n";
  return "central database (" + c.database + "): " + std::to_string(c.sent) +
         " records sent: " + std::to_string(c.fresh) + " new, " + std::to_string(c.conflicts) +
         " conflicts\n";
}

std::string CentralJson(const CentralSummary& c) {
  nlohmann::ordered_json j{
      {"database", c.database},
      {"published", c.ok},
      {"sent", c.sent},
      {"new", c.fresh},
      {"conflicts", c.conflicts},
      {"waiting", c.waiting},
      {"waiting_since",
       c.waitingSince ? nlohmann::ordered_json(*c.waitingSince) : nlohmann::ordered_json(nullptr)},
      {"error", c.ok ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(c.error)}};
  return j.dump();
}

std::string SummaryJson(const Records::ExtractionSummary& s,
                        const std::optional<CentralSummary>& central) {
  return "{\"sessions_read\": " + std::to_string(s.sessionsRead) +
         ", \"records_found\": " + std::to_string(s.found) +
         ", \"new\": " + std::to_string(s.fresh) +
         ", \"duplicates\": " + std::to_string(s.duplicates) +
         ", \"conflicts\": " + std::to_string(s.conflicts) +
         ", \"stored\": " + std::to_string(s.stored) +
         ", \"stored_conflicts\": " + std::to_string(s.storedConflicts) +
         ", \"missing\": " + Number(s.missing, "null") +
         ", \"unusable_sessions\": " + std::to_string(s.unusableSessions) +
         ", \"changed_sessions\": " + std::to_string(s.changedSessions) +
         ", \"sessions_without_records\": " + std::to_string(s.sessionsWithoutRecords) +
         ", \"bad_values\": " + std::to_string(s.typing.badValues.count) +
         ", \"short_lines\": " + std::to_string(s.typing.shortLines.count) +
         ", \"long_lines\": " + std::to_string(s.typing.longLines.count) +
         ", \"nonexistent_times\": " + std::to_string(s.typing.nonexistentTimes.count) +
         ", \"typed_rebuilt\": " + Number(s.typedRebuilt, "null") +
         (central ? ", \"central\": " + CentralJson(*central) : std::string()) + "}\n";
}

}  // namespace

std::string HelpText() {
  return R"(Usage: pelox5-extract -d NAME [-l LEVEL] [--json] [--database CONNINFO]
                      [--host-name NAME]
       pelox5-extract -d NAME --lines [--from N] [--to M]
       pelox5-extract -d NAME --csv [--units] [--from N] [--to M] [--since T] [--until T]

Absorbs the record lines of the deployment's session files (downloads/raw.*)
into its record store, records.sqlite in the deployment folder, each record
once, by number, as received; then adds the stored record numbers to the
record recovery file that the cfg item ExtractReceivedRecordFile names, so the
next download asks only for what is still missing. Prints one summary line.

  -d, --deployment NAME  the deployment, found as pelox5-download finds it
  -l, --loglevel LEVEL   FATAL | WARNING | INFO | DEBUG (default WARNING)
      --json             the summary as one JSON object
      --lines            print the stored record lines in record-number order
      --csv              print the typed records as CSV (RFC 4180, CR LF line ends)
      --units            with --csv, a second row of units under the column names
      --from N, --to M   only records N to M (with --lines or --csv)
      --since T, --until T  with --csv, only records whose first time field lies
                         from T to T, both included; T in ISO 8601: a local time
                         (2026-01-01 or 2026-01-01T06:40:00), or UTC with Z
      --database CONNINFO  publish to this central PostgreSQL database (a
                         libpq connection string) instead of the one the
                         preference RecordDatabase names; "" publishes nowhere
      --host-name NAME   the host name the central rows show (default: the
                         system's host name)
  -h, --help             this text

A line is a record when it matches the cfg item RecordPattern, a
Perl-compatible regular expression whose first capture group is the record
number; by default ^[A-Za-z]?([0-9]+)[,; \t] (an optional letter, the number,
then a comma, semicolon, blank or tab).

The cfg item RecordFields names the fields of a record line (split by
RecordFieldSeparator, default ","), TimeZone the zone of the controller's
clock; the extraction keeps them typed in the table typed_records.

With a central database, every stored record not published yet is published
to it after the local part, and the numbers it holds for the deployment are
added to the record recovery file. When it cannot be reached, the local part
stands, a WARNING says how many records wait, and the next run publishes them.

Exit status: 0 when all was absorbed (and published; or the CSV was written, or
its reader went away); 1 on an error (cfg, pattern, store, record recovery file,
a session file that could not be read, a session whose replies hold no record,
a central database that did not take what waits); 2 on a bad command line.
)";
}

namespace {

// The extraction after the command line: the summary (or the lines) on
// standard output, every failure a FATAL line.
int Absorb(const Options& o, const Log& log, Clock& clock) {
  std::optional<DeploymentAccess::Deployment> d = FindDeployment(o.deployment, log);
  if (!d) return kError;
  const std::string storePath = d->paths.RecordStore().NativePath();
  try {
    if (o.lines) return PrintLines(storePath, o);
    if (o.csv) return PrintCsv(storePath, o);

    const std::string patternText =
        DeploymentSettings::Text(d->cfg, DeploymentSettings::kRecordPatternKey)
            .value_or(Records::kDefaultRecordPattern);
    std::string error;
    std::optional<Records::RecordPattern> pattern =
        Records::RecordPattern::Compile(patternText, error);
    if (!pattern) {
      log("FATAL", error);
      return kError;
    }
    Records::ExtractionSettings settings;
    settings.downloadsFolder = d->paths.Downloads().NativePath();
    settings.sessionPrefix = DeploymentLayout::kSessionPrefix;
    settings.storePath = storePath;
    settings.prompt = DeploymentSettings::Prompt(d->cfg);
    settings.pattern = &*pattern;
    std::optional<TimeZone::Zone> zone;
    std::optional<Records::FieldDefinition> fields = ReadFields(d->cfg, zone, log);
    if (!fields) return kError;
    settings.fields = std::move(*fields);
    settings.zone = zone ? &*zone : nullptr;
    const DeploymentSettings::NumericSetting& reserve =
        DeploymentSettings::kExtractFreeSpaceReserveMB;
    settings.freeSpaceReserve = int64_t{DeploymentSettings::Number(d->cfg, reserve)} << 20;
    settings.freeSpaceReserveItem = reserve.key;
    settings.log = std::cref(log);
    if (std::optional<std::string> rcd = d->RecordRecoveryFile()) {
      settings.recoveryFile = *rcd;
      // The controller's last logged count bounds the missing records, as in
      // pelox5-status.
      settings.recordsLogged = Journal::ReadTail(d->paths.RunJournal().NativePath()).recordsLogged;
    } else {
      log("WARNING",
          " Config file is missing the ExtractReceivedRecordFile item. The record recovery "
          "file is not updated.");
    }

    // Read before anything is written, so that a bad value stops the run early.
    const std::optional<std::string> conninfo = Central::RecordDatabase(o.database);
    Records::ExtractionSummary summary = Records::Extract(settings, clock);
    std::optional<CentralSummary> central;
    if (conninfo) {
      CentralRequest request;
      request.conninfo = *conninfo;
      request.deployment = d->cfg.GetText("Name");
      request.host = HostName(o.hostName);
      request.storePath = storePath;
      request.recoveryFile = settings.recoveryFile;
      request.recordsLogged = settings.recordsLogged;
      request.log = std::cref(log);
      central = PublishToCentral(request, clock);
      if (central->missing) summary.missing = central->missing;
    }
    const int status = Emit(o.json ? SummaryJson(summary, central)
                                   : SummaryLine(summary, settings.recoveryFile) +
                                         (central ? CentralLine(*central) : std::string()));
    // A file skipped, or read without one record: not all was absorbed; nor
    // is it when the central database could not take what waits.
    return summary.unusableSessions > 0 || summary.sessionsWithoutRecords > 0 ||
                   (central && !central->ok)
               ? kError
               : status;
  } catch (const ConfigurationException& e) {
    log("FATAL", e.Message);
  } catch (const DeploymentSettings::SettingError& e) {
    log("FATAL", e.Message);
  } catch (const Records::StoreError& e) {
    log("FATAL", e.Message);
  } catch (const Central::SettingError& e) {
    log("FATAL", e.Message);
  } catch (const Records::RecoveryFileError& e) {
    log("FATAL", "Record recovery file: " + e.Message);
  }
  return kError;
}

}  // namespace

int Run(const std::vector<std::string>& args, Clock& clock) {
  std::string fault;
  const std::optional<Options> parsed = ParseArgs(args, Parse, fault);
  if (!parsed) {
    WriteAll(STDERR_FILENO, "pelox5-extract: " + fault + "\nTry \"pelox5-extract --help\".\n");
    return kUsage;
  }
  const Options& o = *parsed;
  if (o.help) return Emit(HelpText());
  const Log log(o.logLevel);
  if (!o.json) return Absorb(o, log, clock);
  // With --json standard output holds one JSON document whatever fails: the
  // summary, or {"error": the first FATAL text}.
  std::optional<std::string> error;
  try {
    const int status = Absorb(o, log, clock);
    error = log.FirstFatal();
    if (status != kError || !error) return status;
  } catch (const std::exception& e) {
    WriteAll(STDERR_FILENO, std::string("pelox5-extract: ") + e.what() + "\n");
    error = e.what();
  }
  (void)Emit(JsonDocument::ReportText(nlohmann::json{{"error", *error}}, -1));
  return kError;
}

}  // namespace ExtractCommand
