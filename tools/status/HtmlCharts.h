#pragma once
// The drawings of the status page, as inline SVG: the record coverage strip,
// the records-per-day cells and the run history marks. Neighbouring parts
// that look alike are drawn as one shape with one title, so a page of a
// thousand deployments stays a few megabytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeploymentStatus.h"
#include "journal/JournalTail.h"
#include "recovery/RangeEntry.h"

namespace HtmlCharts {

// One part of the coverage strip: records `first` to `last`, of which
// `received` arrived. Kinds: 'r' all received, 'm' holding missing records
// (counted as the run counts them), 'a' above the controller's last logged
// count (not missing yet).
struct Segment {
  char kind;
  int64_t first, last;
  int64_t received;
  int64_t gaps = 0;  // the missing ranges merged into an 'm' part
};

// From the first received record to the last logged count (or the last
// received record when it is higher or no count is known). Past
// `maxSegments` parts, neighbours too narrow to see are merged.
std::vector<Segment> Coverage(const std::vector<RecordRecoveryUtils::RangeEntry>& received,
                              std::optional<int64_t> logged, size_t maxSegments = 200);
std::string CoverageSvg(const std::vector<Segment>& segments, std::optional<int64_t> logged);

// The last `count` local days ending with the one holding `now`, oldest
// first, and how far into today `now` is (seconds).
struct Calendar {
  std::vector<std::string> days;  // "YYYY-MM-DD"
  int64_t secondsIntoToday = 0;
};
Calendar LastDays(int64_t now, int count);

// Neighbouring days of one kind: 'f' at least 98% of the expected records,
// 'p' at least half, 'l' fewer, 'z' none, 'k' some with no expected count
// known, 'n' before the first day that holds records.
struct DayGroup {
  char kind;
  size_t from, to;  // indices into the calendar's days, both included
  int64_t records = 0, fewest = 0, most = 0;
  double expected = 0;  // over the group's days; 0 when unknown
};
std::vector<DayGroup> DayGroups(const Calendar& calendar, const std::vector<DayCount>& days,
                                std::optional<int64_t> intervalSeconds);
std::string DaysSvg(const Calendar& calendar, const std::vector<DayGroup>& groups);

// Runs in a row with the same outcome, oldest first; `recent` is newest first.
struct RunGroup {
  char kind;        // 'c' complete, 'x' fatal, 'p' no prompt, 's' stopped, 'o' other
  size_t from, to;  // positions, oldest first, both included
  std::vector<const Journal::Run*> runs;
};
std::vector<RunGroup> RunGroups(const std::vector<Journal::Run>& recent);
std::string RunsSvg(const std::vector<RunGroup>& groups, size_t slots);

// "1,234,567".
std::string Grouped(int64_t n);

}  // namespace HtmlCharts
