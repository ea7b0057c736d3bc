#include "FleetView.h"

#include <map>
#include <nlohmann/json.hpp>

#include "StatusReport.h"
#include "central/CentralSchema.h"
#include "config/JsonDocument.h"
#include "recovery/RangeSet.h"

namespace FleetView {

namespace {}  // namespace

std::vector<FleetDeployment> Collect(Central::Connection& db) {
  std::vector<FleetDeployment> list;
  if (!Central::HasSchema(db)) return list;
  const Central::Result rows = db.Exec(
      "SELECT d.id, d.name, d.records, d.conflicts, d.records_logged, "
      "extract(epoch FROM d.last_published_at)::bigint, "
      "(SELECT coalesce(json_agg(h.host ORDER BY h.host), '[]') FROM deployment_hosts h "
      "WHERE h.deployment = d.id) FROM deployments d ORDER BY d.name");
  std::map<int64_t, size_t> byId;
  for (int i = 0; i < rows.Rows(); ++i) {
    FleetDeployment d;
    d.name = rows.Text(i, 1);
    d.records = rows.Int(i, 2);
    d.conflicts = rows.Int(i, 3);
    if (!rows.Null(i, 4)) d.recordsLogged = rows.Int(i, 4);
    if (!rows.Null(i, 5)) d.lastPublish = rows.Int(i, 5);
    for (const auto& host : nlohmann::json::parse(rows.Text(i, 6)))
      d.hosts.push_back(host.get<std::string>());
    byId[rows.Int(i, 0)] = list.size();
    list.push_back(std::move(d));
  }
  // The number ranges give the missing records without reading the records.
  const Central::Result ranges =
      db.Exec("SELECT deployment, first, last FROM record_ranges ORDER BY deployment, first");
  std::map<int64_t, std::vector<RecordRecoveryUtils::RangeEntry>> held;
  for (int i = 0; i < ranges.Rows(); ++i)
    held[ranges.Int(i, 0)].emplace_back(static_cast<int32_t>(ranges.Int(i, 1)),
                                        static_cast<int32_t>(ranges.Int(i, 2)));
  for (const auto& [id, r] : held) {
    auto at = byId.find(id);
    if (at == byId.end()) continue;
    list[at->second].missing =
        RecordRecoveryUtils::MissingRecordCount(r, list[at->second].recordsLogged);
  }
  return list;
}

std::string Text(const std::vector<FleetDeployment>& list, int64_t now) {
  using Row = std::vector<std::string>;
  std::vector<Row> rows{
      {"DEPLOYMENT", "HOSTS", "STORED", "MISSING", "LOGGED", "CONFLICTS", "LAST PUBLISH"}};
  for (const FleetDeployment& d : list) {
    std::string hosts;
    for (const std::string& h : d.hosts)
      hosts += (hosts.empty() ? "" : ",") + StatusReport::OneLine(h);
    rows.push_back({StatusReport::OneLine(d.name), hosts.empty() ? "-" : hosts,
                    std::to_string(d.records), std::to_string(d.missing),
                    d.recordsLogged ? std::to_string(*d.recordsLogged) : "-",
                    std::to_string(d.conflicts),
                    d.lastPublish ? StatusReport::Age(now - *d.lastPublish) + " ago" : "never"});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const Row& row : rows)
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  std::string out;
  for (const Row& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      std::string cell = row[i];
      if (i + 1 < row.size()) cell.resize(width[i] + 2, ' ');
      line += cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string Json(const std::vector<FleetDeployment>& list, int64_t now) {
  using json = nlohmann::ordered_json;
  json array = json::array();
  for (const FleetDeployment& d : list) {
    array.push_back(
        {{"deployment", d.name},
         {"hosts", d.hosts},
         {"stored_records", d.records},
         {"missing_records", d.missing},
         {"records_logged", d.recordsLogged ? json(*d.recordsLogged) : json(nullptr)},
         {"record_conflicts", d.conflicts},
         {"last_publish", d.lastPublish ? json(*d.lastPublish) : json(nullptr)},
         {"last_publish_age_s", d.lastPublish ? json(now - *d.lastPublish) : json(nullptr)}});
  }
  return JsonDocument::ReportText(array);
}

std::string Prometheus(const std::vector<FleetDeployment>& list) {
  struct Gauge {
    const char* name;
    const char* help;
    std::optional<int64_t> (*value)(const FleetDeployment&);
  };
  static const Gauge gauges[] = {
      {"pelox5_central_stored_records", "Records of the deployment in the central database.",
       [](const FleetDeployment& d) -> std::optional<int64_t> { return d.records; }},
      {"pelox5_central_missing_records",
       "Records missing from the central database up to the controller's last logged count.",
       [](const FleetDeployment& d) -> std::optional<int64_t> { return d.missing; }},
      {"pelox5_central_record_conflicts",
       "Record numbers published again with a different line, kept in the conflicts table.",
       [](const FleetDeployment& d) -> std::optional<int64_t> { return d.conflicts; }},
      {"pelox5_central_hosts", "Hosts that published the deployment.",
       [](const FleetDeployment& d) -> std::optional<int64_t> {
         return static_cast<int64_t>(d.hosts.size());
       }},
      {"pelox5_central_last_publish_time_seconds",
       "Time of the deployment's last publish, in unix seconds; absent before the first.",
       [](const FleetDeployment& d) { return d.lastPublish; }},
  };
  std::string out;
  for (const Gauge& gauge : gauges) {
    StatusReport::AppendGauge(out, gauge.name, gauge.help, list, gauge.value);
  }
  return out;
}

}  // namespace FleetView
