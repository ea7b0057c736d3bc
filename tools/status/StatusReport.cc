#include "StatusReport.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "config/JsonDocument.h"

namespace StatusReport {

namespace {

constexpr const char* kGreen = "\033[32m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kYellow = "\033[33m";
constexpr const char* kReset = "\033[0m";

std::string AgeOf(const std::optional<Journal::Run>& run, int64_t now) {
  if (!run) return "never";
  if (!run->endTime) return "?";
  return Age(now - *run->endTime) + " ago";
}

// The colour of the last-run cell.
const char* Colour(const DeploymentStatus& d) {
  if (!d.cfgError.empty() || !d.Active()) return kYellow;
  return d.LastRunComplete() ? kGreen : kRed;
}

// Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF),
// as the JSON writer checks it.
bool IsUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

std::string Optional(const std::optional<int64_t>& n) { return n ? std::to_string(*n) : "-"; }

}  // namespace

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

std::string LabelValue(const std::string& name) {
  const bool valid = IsUtf8(name);
  std::string label;
  for (char c : name) {
    if (!valid && static_cast<unsigned char>(c) >= 0x80) c = '?';
    if (c == '\\' || c == '"') label += '\\';
    if (c == '\n') {
      label += "\\n";
      continue;
    }
    label += c;
  }
  return label;
}

std::string Bytes(uint64_t n) {
  if (n < 1024) return std::to_string(n) + " B";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(n) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string Age(int64_t seconds) {
  if (seconds < 0) seconds = 0;  // a clock set back: no negative ages
  if (seconds < 120) return std::to_string(seconds) + "s";
  if (seconds < 120 * 60) return std::to_string(seconds / 60) + "m";
  if (seconds < 48 * 3600) return std::to_string(seconds / 3600) + "h";
  return std::to_string(seconds / 86400) + "d";
}

std::string Text(const std::vector<DeploymentStatus>& list, int64_t now, bool colour) {
  using Row = std::vector<std::string>;
  std::vector<Row> rows{{"DEPLOYMENT", "STATUS", "PORT", "LAST RUN", "LAST COMPLETE", "SESSIONS",
                         "SIZE", "MISSING", "LOGGED", "STORED", "CONFLICTS"}};
  // Only where a central database is in use.
  const bool publishing = std::any_of(list.begin(), list.end(), [](const DeploymentStatus& d) {
    return d.unpublishedRecords.has_value();
  });
  if (publishing) rows[0].push_back("UNPUBLISHED");
  std::vector<std::string> notes{""};
  for (const DeploymentStatus& d : list) {
    std::string lastRun = AgeOf(d.journal.last, now);
    if (d.journal.last) {
      lastRun += ' ';
      lastRun += OneLine(d.journal.last->outcome);
    }
    rows.push_back({OneLine(d.name), d.cfgError.empty() ? OneLine(d.status.value_or("-")) : "cfg?",
                    OneLine(d.port.value_or("-")), lastRun, AgeOf(d.journal.lastComplete, now),
                    std::to_string(d.sessionFiles), Bytes(d.sessionBytes),
                    Optional(d.missingRecords), Optional(d.journal.recordsLogged),
                    Optional(d.storedRecords), Optional(d.recordConflicts)});
    if (publishing) rows.back().push_back(Optional(d.unpublishedRecords));
    std::string note;
    auto add = [&note](const std::string& text) { note += "  " + OneLine(text); };
    if (!d.cfgError.empty()) add("cfg: " + d.cfgError);
    if (!d.journal.error.empty()) add("journal: " + d.journal.error);
    if (!d.rcdError.empty()) add("rcd: " + d.rcdError);
    if (!d.storeError.empty()) add("records: " + d.storeError);
    if (d.unpublishedSince)
      add("central: records wait to be published since " + Age(now - *d.unpublishedSince) + " ago");
    if (d.sessionsNotAbsorbed > 0)
      add("records: the last extraction skipped " + std::to_string(d.sessionsNotAbsorbed) +
          " session files (" + d.firstNotAbsorbed + ")");
    notes.push_back(note);
  }

  std::vector<size_t> width(rows[0].size(), 0);
  for (const Row& row : rows)
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  std::string out;
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (size_t i = 0; i < rows[r].size(); ++i) {
      std::string cell = rows[r][i];
      if (i + 1 < rows[r].size()) cell.resize(width[i] + 2, ' ');
      if (colour && r > 0 && i == 3) cell = Colour(list[r - 1]) + cell + kReset;
      line += cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + notes[r] + "\n";
  }
  return out;
}

std::string Json(const std::vector<DeploymentStatus>& list, int64_t now) {
  using json = nlohmann::ordered_json;
  auto runJson = [now](const std::optional<Journal::Run>& run) -> json {
    if (!run) return nullptr;
    json r{{"start", run->start},
           {"end", run->end},
           {"age_s", run->endTime ? json(now - *run->endTime) : json(nullptr)},
           {"outcome", run->outcome},
           {"status", run->status ? json(*run->status) : json(nullptr)},
           {"fatal", run->fatal ? json(*run->fatal) : json(nullptr)}};
    return r;
  };
  auto orNull = [](const auto& value) -> json { return value ? json(*value) : json(nullptr); };
  auto textOrNull = [](const std::string& text) -> json {
    return text.empty() ? json(nullptr) : json(text);
  };
  json array = json::array();
  for (const DeploymentStatus& d : list) {
    array.push_back({{"deployment", d.name},
                     {"folder", d.folder},
                     {"status", orNull(d.status)},
                     {"cfg_error", textOrNull(d.cfgError)},
                     {"port", orNull(d.port)},
                     {"last_run", runJson(d.journal.last)},
                     {"last_complete", runJson(d.journal.lastComplete)},
                     {"session_files", d.sessionFiles},
                     {"session_bytes", d.sessionBytes},
                     {"missing_records", orNull(d.missingRecords)},
                     {"records_logged", orNull(d.journal.recordsLogged)},
                     {"journal_error", textOrNull(d.journal.error)},
                     {"rcd_error", textOrNull(d.rcdError)},
                     {"stored_records", orNull(d.storedRecords)},
                     {"record_conflicts", orNull(d.recordConflicts)},
                     {"records_error", textOrNull(d.storeError)},
                     {"sessions_not_absorbed", d.sessionsNotAbsorbed},
                     {"needs_attention", d.NeedsAttention()}});
    if (d.unpublishedRecords) {
      array.back()["unpublished_records"] = *d.unpublishedRecords;
      array.back()["unpublished_since"] = orNull(d.unpublishedSince);
    }
  }
  return JsonDocument::ReportText(array);
}

std::string Prometheus(const std::vector<DeploymentStatus>& list) {
  struct Gauge {
    const char* name;
    const char* help;
    std::optional<int64_t> (*value)(const DeploymentStatus&);
  };
  static const Gauge gauges[] = {
      {"pelox5_deployment_active", "1 when the deployment's Status item is Active, else 0.",
       [](const DeploymentStatus& d) -> std::optional<int64_t> { return d.Active() ? 1 : 0; }},
      {"pelox5_last_run_status",
       "Exit status of the last download run (0 complete); -1 when it never ran.",
       [](const DeploymentStatus& d) -> std::optional<int64_t> {
         if (!d.journal.last) return -1;
         if (d.journal.last->status) return *d.journal.last->status;
         return d.LastRunComplete() ? 0 : 1;
       }},
      {"pelox5_last_success_time_seconds",
       "End of the last complete download run, in unix seconds; 0 when there was none.",
       [](const DeploymentStatus& d) -> std::optional<int64_t> {
         if (!d.journal.lastComplete) return 0;
         return d.journal.lastComplete->endTime.value_or(0);
       }},
      {"pelox5_missing_records",
       "Records missing from the record recovery file's ranges (absent without ranges).",
       [](const DeploymentStatus& d) { return d.missingRecords; }},
      {"pelox5_records_logged",
       "Records logged by the controller, as the latest run that asked reported it.",
       [](const DeploymentStatus& d) { return d.journal.recordsLogged; }},
      {"pelox5_stored_records",
       "Records in the deployment's record store (absent before the first extraction).",
       [](const DeploymentStatus& d) { return d.storedRecords; }},
      {"pelox5_record_conflicts",
       "Record numbers received again with a different line, kept aside in the record store.",
       [](const DeploymentStatus& d) { return d.recordConflicts; }},
      {"pelox5_unpublished_records",
       "Stored records not yet published to the central database (absent without one).",
       [](const DeploymentStatus& d) { return d.unpublishedRecords; }},
      {"pelox5_session_bytes", "Total size of the deployment's raw session files, in bytes.",
       [](const DeploymentStatus& d) -> std::optional<int64_t> {
         return static_cast<int64_t>(d.sessionBytes);
       }},
  };

  std::string out;
  for (const Gauge& gauge : gauges) {
    // A gauge that only a central database gives is left out without one.
    if (std::string_view(gauge.name) == "pelox5_unpublished_records" &&
        std::none_of(list.begin(), list.end(),
                     [](const DeploymentStatus& d) { return d.unpublishedRecords.has_value(); }))
      continue;
    AppendGauge(out, gauge.name, gauge.help, list, gauge.value);
  }
  return out;
}

}  // namespace StatusReport
