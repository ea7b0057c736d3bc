#pragma once
// The three forms of pelox5-status's report. `now` is the time, in unix
// seconds, that ages are counted from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeploymentStatus.h"

namespace StatusReport {

// A header and one line per deployment; `colour` adds ANSI colours to the
// outcome (green complete, red failed or never ran, yellow locked or broken).
std::string Text(const std::vector<DeploymentStatus>& list, int64_t now, bool colour);

// A JSON array with one object per deployment, ending with a line feed.
std::string Json(const std::vector<DeploymentStatus>& list, int64_t now);

// The node exporter's textfile format: HELP and TYPE lines, then one gauge
// sample per deployment, labelled deployment="NAME".
std::string Prometheus(const std::vector<DeploymentStatus>& list);

// Control characters of a configuration's or journal's text would break the
// one-line layout (or drive the terminal): they are shown as blanks.
std::string OneLine(std::string text);

// A deployment name as a Prometheus label value: escaped, and with its bytes
// above ASCII shown as "?" when it is not UTF-8, which would void the whole page.
std::string LabelValue(const std::string& name);

// One gauge: its HELP and TYPE lines, then a sample, labelled
// deployment="NAME", for each item (with a `name` member) that has a value.
template <class Item, class ValueOf>
void AppendGauge(std::string& out, const char* gauge, const char* help,
                 const std::vector<Item>& items, ValueOf valueOf) {
  out += std::string("# HELP ") + gauge + " " + help + "\n";
  out += std::string("# TYPE ") + gauge + " gauge\n";
  for (const Item& item : items) {
    const std::optional<int64_t> value = valueOf(item);
    if (!value) continue;
    out += std::string(gauge) + "{deployment=\"" + LabelValue(item.name) + "\"} " +
           std::to_string(*value) + "\n";
  }
}

// "42s", "17m", "5h", "3d": an age in its largest sensible unit.
std::string Age(int64_t seconds);

// "512 B", "1.5 KiB", "2.0 MiB": a size as the text view shows it.
std::string Bytes(uint64_t n);

}  // namespace StatusReport
