#include "HtmlReport.h"

#include <algorithm>
#include <ctime>

#include "HtmlCharts.h"
#include "HtmlText.h"
#include "StatusReport.h"

namespace HtmlReport {

namespace {

using HtmlText::Escaped;

constexpr const char* kStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:0 auto;max-width:1240px;padding:8px 16px;"
    "color:#222}h1{font-size:1.4em}h2{font-size:1.15em;margin:.4em 0}h3{font-size:.95em;"
    "margin:.6em 0 .2em}table{border-collapse:collapse;width:100%}th,td{padding:3px 6px;"
    "border-bottom:1px solid #ddd;text-align:left;white-space:nowrap}th{background:#f3f3f3}"
    "td.n{text-align:right}.w{overflow-x:auto}.s{display:inline-block;padding:0 6px;"
    "border-radius:3px;color:#fff;font-weight:600}.c{background:#2e7d32}.x{background:#c62828}"
    ".v{background:#6a1b9a}.l{background:#616161}.b{background:#a15c00}section{border-top:2px "
    "solid #ccc;margin-top:14px}.m{color:#555;margin:.2em 0}.e{color:#b00020;margin:.2em 0}"
    "svg{display:block;width:100%}.st,.rn{height:16px}.dy{height:14px}.st .r{fill:#43a047}"
    ".st .m{fill:#e53935}.st .a{fill:#90a4ae}.dy path{stroke-width:10;stroke-dasharray:9 1}"
    ".rn path{stroke-width:16;stroke-dasharray:16 4}.dy .f,.rn .c{stroke:#2e7d32}.dy .p{stroke:"
    "#fbc02d}.dy .l{stroke:#ef6c00}.dy .z,.rn .x{stroke:#c62828}.dy .k{stroke:#64b5f6}.dy .n{"
    "stroke:#e0e0e0}.rn .p{stroke:#ef6c00}.rn .s{stroke:#757575}.rn .o{stroke:#6a1b9a}.lg{"
    "font-size:.9em}"
    ".lg i{display:inline-block;width:.8em;height:.8em;margin:0 .3em 0 .8em;vertical-align:"
    "middle}ul{margin:.2em 0}@media(max-width:600px){body{padding:4px 8px;font-size:13px}}"
    "@media print{@page{size:A4;margin:12mm}body{max-width:none;font-size:9pt}.w{overflow:"
    "visible}th,td{white-space:normal;padding:1px 3px}section{break-inside:avoid}a{color:"
    "inherit;text-decoration:none}*{-webkit-print-color-adjust:exact;print-color-adjust:exact}}";

// Each legend entry: a swatch colour and its words.
constexpr const char* kLegend =
    "<p class=\"lg\">State:<i class=\"c\"></i>complete<i class=\"x\"></i>failed"
    "<i class=\"v\"></i>never ran<i class=\"l\"></i>locked or inactive<i class=\"b\"></i>cfg "
    "error</p><p class=\"lg\">Coverage:<i style=\"background:#43a047\"></i>received"
    "<i style=\"background:#e53935\"></i>missing<i style=\"background:#90a4ae\"></i>above the "
    "last logged count. Days:<i style=\"background:#2e7d32\"></i>all expected"
    "<i style=\"background:#fbc02d\"></i>half or more<i style=\"background:#ef6c00\"></i>less"
    "<i style=\"background:#c62828\"></i>none<i style=\"background:#64b5f6\"></i>no expected "
    "count<i style=\"background:#e0e0e0\"></i>before the first record. Runs:"
    "<i style=\"background:#2e7d32\"></i>complete<i style=\"background:#c62828\"></i>fatal"
    "<i style=\"background:#ef6c00\"></i>no prompt<i style=\"background:#757575\"></i>stopped"
    "</p>";

struct State {
  char kind;
  std::string words;
};

// The deployment's state in words, and the class that colours it.
State StateOf(const DeploymentStatus& d) {
  if (!d.cfgError.empty()) return {'b', "cfg error"};
  if (!d.Active()) return {'l', d.status == "Locked" ? "locked" : "inactive"};
  if (!d.journal.last) return {'v', "never ran"};
  if (d.LastRunComplete()) return {'c', "complete"};
  return {'x', "failed"};
}

std::string Badge(const State& state) {
  return std::string("<b class=\"s ") + state.kind + "\">" + state.words + "</b>";
}

std::string Figure(const std::optional<int64_t>& n) { return n ? std::to_string(*n) : "-"; }

std::string AgeOf(const std::optional<Journal::Run>& run, int64_t now) {
  if (!run) return "never";
  if (!run->endTime) return "?";
  return StatusReport::Age(now - *run->endTime) + " ago";
}

std::string Id(size_t index) { return "d-" + std::to_string(index); }

// A cell holding one of the figures that --json reports too, under its key.
void Cell(std::string& out, const char* key, const std::string& text) {
  out += "<td class=\"n\" data-k=\"";
  out += key;
  out += "\">";
  HtmlText::Append(out, text);
  out += "</td>";
}

void Row(std::string& out, const DeploymentStatus& d, size_t index, int64_t now) {
  const std::string name = Escaped(d.name);
  out += "<tr data-d=\"" + name + "\"><td><a href=\"#" + Id(index) + "\">" + name +
         "</a></td><td>" + Badge(StateOf(d)) + "</td><td>";
  out += d.cfgError.empty() ? Escaped(d.status.value_or("-")) : "cfg?";
  out += "</td><td>" + Escaped(d.port.value_or("-")) + "</td><td>" +
         Escaped(AgeOf(d.journal.last, now));
  if (d.journal.last) out += " " + Escaped(d.journal.last->outcome);
  out += "</td><td>" + AgeOf(d.journal.lastComplete, now) + "</td>";
  Cell(out, "session_files", std::to_string(d.sessionFiles));
  out += "<td class=\"n\">" + StatusReport::Bytes(d.sessionBytes) + "</td>";
  Cell(out, "missing_records", Figure(d.missingRecords));
  Cell(out, "records_logged", Figure(d.journal.recordsLogged));
  Cell(out, "stored_records", Figure(d.storedRecords));
  Cell(out, "record_conflicts", Figure(d.recordConflicts));
  out += "</tr>";
}

void Problems(std::string& out, const DeploymentStatus& d) {
  std::vector<std::string> lines;
  if (!d.cfgError.empty()) lines.push_back("cfg: " + d.cfgError);
  if (!d.journal.error.empty()) lines.push_back("journal: " + d.journal.error);
  if (!d.rcdError.empty()) lines.push_back("rcd: " + d.rcdError);
  for (size_t i = 0; i < d.rcdWarnings.size() && i < 5; ++i)
    lines.push_back("rcd: " + d.rcdWarnings[i]);
  if (d.rcdWarnings.size() > 5)
    lines.push_back("rcd: " + std::to_string(d.rcdWarnings.size() - 5) + " more skipped tokens");
  if (!d.storeError.empty()) lines.push_back("records: " + d.storeError);
  if (lines.empty()) return;
  out += "<ul class=\"e\">";
  for (const std::string& line : lines) out += "<li>" + Escaped(line) + "</li>";
  out += "</ul>";
}

void CoveragePart(std::string& out, const DeploymentStatus& d) {
  out += "<h3>Record coverage</h3>";
  const std::vector<HtmlCharts::Segment> segments =
      HtmlCharts::Coverage(d.receivedRanges, d.journal.recordsLogged);
  if (segments.empty()) {
    out +=
        "<p class=\"m\">No received ranges: the cfg names no record recovery file, or it "
        "holds none yet.</p>";
  } else {
    out += HtmlCharts::CoverageSvg(segments, d.journal.recordsLogged);
  }
  int64_t received = 0;
  for (const auto& r : d.receivedRanges) received += int64_t{r.max} - r.min + 1;
  out += "<p class=\"m\">records " +
         (segments.empty() ? std::string("-")
                           : HtmlCharts::Grouped(segments.front().first) + " to " +
                                 HtmlCharts::Grouped(segments.back().last)) +
         "; received " + (d.receivedRanges.empty() ? "-" : std::to_string(received)) + " in " +
         std::to_string(d.receivedRanges.size()) +
         (d.receivedRanges.size() == 1 ? " range" : " ranges") +
         "; missing <b data-k=\"missing_records\">" + Figure(d.missingRecords) +
         "</b>; last logged count <b data-k=\"records_logged\">" + Figure(d.journal.recordsLogged) +
         "</b></p>";
}

void DaysPart(std::string& out, const DeploymentStatus& d, const HtmlCharts::Calendar& calendar) {
  out += "<h3>Records per day</h3>";
  if (d.days.empty()) {
    out += "<p class=\"m\">None since " +
           (calendar.days.empty() ? std::string("-") : calendar.days.front()) +
           ": the cfg names no time field, or no record of these days is stored.</p>";
    return;
  }
  out += HtmlCharts::DaysSvg(calendar, HtmlCharts::DayGroups(calendar, d.days, d.recordInterval));
  out += "<p class=\"m\">the last " + std::to_string(calendar.days.size()) + " days, " +
         calendar.days.front() + " to " + calendar.days.back() + "; ";
  out += d.recordInterval && *d.recordInterval > 0
             ? "a record every " + std::to_string(*d.recordInterval) + " s, " +
                   HtmlCharts::Grouped(86400 / *d.recordInterval) + " a day expected"
             : std::string("usual interval unknown");
  out += "</p>";
}

void RunsPart(std::string& out, const DeploymentStatus& d, int64_t now) {
  out += "<h3>Runs</h3>";
  if (!d.journal.exists) {
    out += "<p class=\"m\">No run journal: it never ran.</p>";
    return;
  }
  if (d.journal.recent.empty()) {
    out += "<p class=\"m\">No run in the journal.</p>";
  } else {
    out += HtmlCharts::RunsSvg(HtmlCharts::RunGroups(d.journal.recent), kRuns);
    const size_t n = d.journal.recent.size();
    out += "<p class=\"m\">" +
           (n == 1 ? std::string("the last run") : "the last " + std::to_string(n) + " runs") +
           ", oldest first; last complete " + AgeOf(d.journal.lastComplete, now) + "</p>";
  }
  const Journal::Run* failure = nullptr;
  for (const Journal::Run& run : d.journal.recent)
    if (!run.Complete()) {
      failure = &run;
      break;
    }
  if (failure) {
    std::string what = failure->fatal ? *failure->fatal : "outcome " + failure->outcome;
    if (failure->status) what += " (exit status " + std::to_string(*failure->status) + ")";
    out += "<p class=\"e\">Last failure, " + Escaped(AgeOf(*failure, now)) + ": " + Escaped(what) +
           "</p>";
  }
}

void ExtractionPart(std::string& out, const DeploymentStatus& d) {
  out += "<h3>Last extraction</h3><p class=\"m\">";
  if (!d.storedRecords && d.storeError.empty()) {
    out += "No record store yet: pelox5-extract has not run.</p>";
    return;
  }
  out += "stored <b data-k=\"stored_records\">" + Figure(d.storedRecords) +
         "</b>; conflicts <b data-k=\"record_conflicts\">" + Figure(d.recordConflicts) +
         "</b>; session files not absorbed <b data-k=\"sessions_not_absorbed\">" +
         std::to_string(d.sessionsNotAbsorbed) + "</b>";
  if (d.sessionsNotAbsorbed > 0) out += " (the first: " + Escaped(d.firstNotAbsorbed) + ")";
  out += "</p>";
}

void Section(std::string& out, const DeploymentStatus& d, size_t index, int64_t now,
             const HtmlCharts::Calendar& calendar) {
  out += "<section id=\"" + Id(index) + "\" data-d=\"" + Escaped(d.name) + "\"><h2>" +
         Badge(StateOf(d)) + " " + Escaped(d.name) + "</h2><p class=\"m\">Status " +
         Escaped(d.cfgError.empty() ? d.status.value_or("-") : "unknown") + "; port " +
         Escaped(d.port.value_or("-")) + "; " + std::to_string(d.sessionFiles) +
         " session files, " + StatusReport::Bytes(d.sessionBytes) + "; folder " +
         Escaped(d.folder) + "</p>";
  Problems(out, d);
  CoveragePart(out, d);
  DaysPart(out, d, calendar);
  RunsPart(out, d, now);
  ExtractionPart(out, d);
  out += "</section>";
}

std::string LocalTime(int64_t now) {
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm local{};
  char text[64] = "";
  if (localtime_r(&t, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
  return text;
}

}  // namespace

std::string PageStart(const std::string& heading, int64_t now) {
  const std::string title = Escaped(heading);
  return "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta "
         "http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
         "'unsafe-inline'\"><meta name=\"viewport\" "
         "content=\"width=device-width,initial-scale=1\"><title>" +
         title + ", " + Escaped(LocalTime(now)) + "</title><style>" + kStyle +
         "</style></head><body><h1>" + title + "</h1>";
}

std::string AsOf(int64_t now) { return Escaped(LocalTime(now)); }

Detail PageDetail(int64_t now) {
  Detail detail;
  detail.runs = kRuns;
  detail.ranges = true;
  detail.fromDay = HtmlCharts::LastDays(now, kDays).days.front();
  return detail;
}

std::string Page(const std::vector<DeploymentStatus>& list, int64_t now) {
  // Those needing attention first, each group in the list's order.
  std::vector<size_t> order(list.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_partition(order.begin(), order.end(),
                        [&](size_t i) { return list[i].NeedsAttention(); });
  const size_t attention = static_cast<size_t>(
      std::count_if(list.begin(), list.end(), [](const auto& d) { return d.NeedsAttention(); }));
  const std::string when = Escaped(LocalTime(now));

  std::string out;
  out.reserve(2048 + list.size() * 3072);
  out += PageStart("Pelox 5 deployments", now);
  out += "<p class=\"m\">" + std::to_string(list.size()) +
         (list.size() == 1 ? " deployment" : " deployments") + ", <b data-k=\"attention\">" +
         std::to_string(attention) + "</b> needing attention; as of " + when + "</p>";
  out += kLegend;
  out +=
      "<div class=\"w\"><table><thead><tr><th>Deployment</th><th>State</th><th>Status</th>"
      "<th>Port</th><th>Last run</th><th>Last complete</th><th>Sessions</th><th>Size</th>"
      "<th>Missing</th><th>Logged</th><th>Stored</th><th>Conflicts</th></tr></thead><tbody>";
  for (size_t i : order) Row(out, list[i], i, now);
  out += "</tbody></table></div>";
  const HtmlCharts::Calendar calendar = HtmlCharts::LastDays(now, kDays);
  for (size_t i : order) Section(out, list[i], i, now, calendar);
  out += "</body></html>\n";
  return out;
}

}  // namespace HtmlReport
