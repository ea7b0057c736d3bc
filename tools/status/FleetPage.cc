#include "FleetPage.h"

#include <algorithm>

#include "HtmlReport.h"
#include "HtmlText.h"
#include "StatusReport.h"

namespace FleetPage {

namespace {

using HtmlText::Escaped;

std::string Cell(const char* key, const std::string& text, bool number = true) {
  return std::string("<td") + (number ? " class=\"n\"" : "") + " data-k=\"" + key + "\">" + text +
         "</td>";
}

}  // namespace

std::string Page(const std::vector<FleetView::FleetDeployment>& list, int64_t now) {
  std::vector<size_t> order(list.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_partition(order.begin(), order.end(), [&](size_t i) { return list[i].missing > 0; });
  const size_t missing = static_cast<size_t>(
      std::count_if(list.begin(), list.end(), [](const auto& d) { return d.missing > 0; }));

  std::string out = HtmlReport::PageStart("Pelox 5 deployments in the central database", now);
  out.reserve(2048 + list.size() * 512);
  out += "<p class=\"m\">" + std::to_string(list.size()) +
         (list.size() == 1 ? " deployment" : " deployments") + ", <b data-k=\"attention\">" +
         std::to_string(missing) + "</b> missing records; as of " + HtmlReport::AsOf(now) + "</p>";
  out +=
      "<p class=\"lg\">State:<i class=\"c\"></i>complete<i class=\"x\"></i>missing records</p>"
      "<div class=\"w\"><table><thead><tr><th>Deployment</th><th>State</th><th>Hosts</th>"
      "<th>Stored</th><th>Missing</th><th>Logged</th><th>Conflicts</th><th>Last publish</th>"
      "</tr></thead><tbody>";
  for (size_t i : order) {
    const FleetView::FleetDeployment& d = list[i];
    std::string hosts;
    for (const std::string& h : d.hosts) hosts += (hosts.empty() ? "" : ", ") + Escaped(h);
    out += "<tr data-deployment=\"" + Escaped(d.name) + "\">" +
           Cell("deployment", Escaped(d.name), false) +
           (d.missing > 0 ? "<td><span class=\"s x\">missing records</span></td>"
                          : "<td><span class=\"s c\">complete</span></td>") +
           Cell("hosts", hosts, false) + Cell("stored_records", std::to_string(d.records)) +
           Cell("missing_records", std::to_string(d.missing)) +
           Cell("records_logged", d.recordsLogged ? std::to_string(*d.recordsLogged) : "-") +
           Cell("record_conflicts", std::to_string(d.conflicts)) +
           Cell("last_publish",
                d.lastPublish ? StatusReport::Age(now - *d.lastPublish) + " ago" : "never", false) +
           "</tr>";
  }
  out += "</tbody></table></div></body></html>\n";
  return out;
}

}  // namespace FleetPage
