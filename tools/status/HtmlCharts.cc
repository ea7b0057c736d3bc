#include "HtmlCharts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <unordered_map>

#include "HtmlText.h"
#include "StatusReport.h"

namespace HtmlCharts {

namespace {

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string s = text;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s;
}

std::string Span(int64_t first, int64_t last) {
  return first == last ? Grouped(first) : Grouped(first) + "\u2013" + Grouped(last);
}

std::string SegmentTitle(const Segment& s, std::optional<int64_t> logged) {
  const int64_t count = s.last - s.first + 1;
  std::string title = "records " + Span(s.first, s.last) + ": ";
  switch (s.kind) {
    case 'r':
      return title + "received (" + Grouped(count) + ")";
    case 'a':
      return title + "above the last logged count (" + Grouped(logged.value_or(0)) + "), " +
             Grouped(s.received) + " received";
    default:
      if (s.received == 0 && s.gaps <= 1) return title + "missing (" + Grouped(count) + ")";
      return title + Grouped(s.received) + " received, " + Grouped(count - s.received) +
             " missing in " + Grouped(s.gaps) + (s.gaps == 1 ? " gap" : " gaps");
  }
}

void Shape(std::string& out, const char* element, const std::string& geometry, char kind,
           const std::string& title) {
  out += '<';
  out += element;
  out += " class=\"";
  out += kind;
  out += "\" ";
  out += geometry;
  out += "><title>";
  HtmlText::Append(out, title);
  out += "</title></";
  out += element;
  out += '>';
}

// The journal's time of a run as "YYYY-MM-DD HH:MM:SS", as it was written.
std::string RunTime(const Journal::Run& run) {
  std::string t = (run.end.empty() ? run.start : run.end).substr(0, 19);
  if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
  return t.empty() ? "time unknown" : t;
}

std::string RunLine(const Journal::Run& run) {
  std::string line = RunTime(run) + " " + run.outcome;
  line += run.durationS ? ", " + Fixed(*run.durationS) + " s" : ", duration unknown";
  if (run.sessionBytes)
    line +=
        ", " + StatusReport::Bytes(static_cast<uint64_t>(std::max<int64_t>(0, *run.sessionBytes)));
  if (run.fatal) line += ": " + run.fatal->substr(0, 120);
  return line;
}

std::string GroupTitle(const RunGroup& g) {
  if (g.runs.size() <= 3) {
    std::string title;
    for (const Journal::Run* run : g.runs) title += (title.empty() ? "" : "\n") + RunLine(*run);
    return title;
  }
  double shortest = -1, longest = -1;
  int64_t bytes = 0;
  for (const Journal::Run* run : g.runs) {
    if (run->durationS) {
      shortest = shortest < 0 ? *run->durationS : std::min(shortest, *run->durationS);
      longest = std::max(longest, *run->durationS);
    }
    bytes += std::max<int64_t>(0, run->sessionBytes.value_or(0));
  }
  std::string title = Grouped(static_cast<int64_t>(g.runs.size())) + " runs " +
                      g.runs.front()->outcome + ", " + RunTime(*g.runs.front()) + " to " +
                      RunTime(*g.runs.back());
  if (shortest >= 0)
    title += ", " +
             (shortest == longest ? Fixed(shortest) : Fixed(shortest) + "\u2013" + Fixed(longest)) +
             " s";
  title += ", " + StatusReport::Bytes(static_cast<uint64_t>(bytes)) + " in all";
  return title;
}

char RunKind(const std::string& outcome) {
  if (outcome == RunJournalFormat::Outcome::kComplete) return 'c';
  if (outcome == RunJournalFormat::Outcome::kFatal) return 'x';
  if (outcome == RunJournalFormat::Outcome::kNoPrompt) return 'p';
  if (outcome == RunJournalFormat::Outcome::kStopped) return 's';
  return 'o';
}

}  // namespace

std::string Grouped(int64_t n) {
  // The magnitude in unsigned arithmetic: -INT64_MIN does not fit an int64_t.
  const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  std::string digits = std::to_string(magnitude);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::vector<Segment> Coverage(const std::vector<RecordRecoveryUtils::RangeEntry>& received,
                              std::optional<int64_t> logged, size_t maxSegments) {
  if (received.empty()) return {};
  const int64_t first = received.front().min;
  const int64_t lastReceived = received.back().max;
  // As the missing count: bounded by the logged count, no record past INT32_MAX.
  // A count below the first record (a journal's odd value) leaves every record above it.
  const int64_t limit =
      std::max(first - 1, logged ? std::min<int64_t>(*logged, INT32_MAX) : lastReceived);
  const int64_t end = std::max(limit, lastReceived);

  // Parts narrower than one of `maxSegments` equal steps are merged, as they
  // come, when there may be more parts than that (a range and a gap each).
  const bool merge = 2 * received.size() + 1 > maxSegments;
  const int64_t step =
      merge ? std::max<int64_t>(1, (limit - first + 1) / static_cast<int64_t>(maxSegments)) : 0;
  std::vector<Segment> out;
  std::optional<Segment> pending;
  auto flush = [&] {
    if (pending) out.push_back(*pending);
    pending.reset();
  };
  auto add = [&](const Segment& s) {
    if (s.last - s.first + 1 >= step) {
      flush();
      out.push_back(s);
      return;
    }
    if (!pending) {
      pending = s;
    } else {
      pending->last = s.last;
      pending->received += s.received;
      pending->gaps += s.gaps;
      if (s.kind == 'm') pending->kind = 'm';
    }
    if (pending->last - pending->first + 1 >= step) flush();
  };

  int64_t pos = first;
  int64_t above = 0;  // received records past the limit
  for (const RecordRecoveryUtils::RangeEntry& r : received) {
    if (r.max > limit) above += r.max - std::max<int64_t>(r.min, limit + 1) + 1;
    if (r.min > limit) continue;
    if (r.min > pos) add({'m', pos, r.min - 1, 0, 1});
    const int64_t last = std::min<int64_t>(r.max, limit);
    add({'r', r.min, last, last - r.min + 1});
    pos = last + 1;
  }
  if (pos <= limit) add({'m', pos, limit, 0, 1});
  flush();
  if (end > limit) out.push_back({'a', std::max(first, limit + 1), end, above});
  return out;
}

std::string CoverageSvg(const std::vector<Segment>& segments, std::optional<int64_t> logged) {
  if (segments.empty()) return "";
  const int64_t first = segments.front().first;
  const double span = static_cast<double>(segments.back().last - first + 1);
  std::string out = "<svg class=\"st\" viewBox=\"0 0 1000 16\" preserveAspectRatio=\"none\">";
  // Received parts first: a missing part drawn over them stays visible however narrow.
  for (int pass = 0; pass < 2; ++pass) {
    for (const Segment& s : segments) {
      if ((s.kind == 'r') != (pass == 0)) continue;
      const double x = static_cast<double>(s.first - first) * 1000 / span;
      double w = static_cast<double>(s.last - s.first + 1) * 1000 / span;
      if (s.kind == 'm') w = std::max(w, 2.0);
      Shape(out, "rect",
            "x=\"" + Fixed(x) + "\" width=\"" + Fixed(std::max(w, 0.1)) + "\" height=\"16\"",
            s.kind, SegmentTitle(s, logged));
    }
  }
  return out + "</svg>";
}

Calendar LastDays(int64_t now, int count) {
  Calendar calendar;
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm local{};
  if (!localtime_r(&t, &local)) return calendar;
  calendar.secondsIntoToday = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  for (int back = count - 1; back >= 0; --back) {
    // Noon of the civil date, counted in UTC, so no zone's shift skips a day.
    std::tm day{};
    day.tm_year = local.tm_year;
    day.tm_mon = local.tm_mon;
    day.tm_mday = local.tm_mday - back;
    day.tm_hour = 12;
    const std::time_t noon = timegm(&day);
    std::tm civil{};
    gmtime_r(&noon, &civil);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", civil.tm_year + 1900, civil.tm_mon + 1,
                  civil.tm_mday);
    calendar.days.push_back(text);
  }
  return calendar;
}

std::vector<DayGroup> DayGroups(const Calendar& calendar, const std::vector<DayCount>& days,
                                std::optional<int64_t> intervalSeconds) {
  std::unordered_map<std::string, int64_t> counts;
  std::string firstDay;
  for (const DayCount& d : days) {
    counts[d.day] += d.records;
    if (d.records > 0 && (firstDay.empty() || d.day < firstDay)) firstDay = d.day;
  }
  const bool expectKnown = intervalSeconds && *intervalSeconds > 0;
  std::vector<DayGroup> groups;
  for (size_t i = 0; i < calendar.days.size(); ++i) {
    const std::string& day = calendar.days[i];
    auto it = counts.find(day);
    const int64_t records = it == counts.end() ? 0 : it->second;
    // Today is expected only as far as it has gone.
    const double seconds =
        i + 1 == calendar.days.size()
            ? static_cast<double>(std::max<int64_t>(calendar.secondsIntoToday, 1))
            : 86400.0;
    const double expected = expectKnown ? seconds / static_cast<double>(*intervalSeconds) : 0;
    char kind;
    if (firstDay.empty() || day < firstDay) {
      kind = 'n';
    } else if (records == 0) {
      kind = 'z';
    } else if (!expectKnown) {
      kind = 'k';
    } else {
      const double share = static_cast<double>(records) / std::max(expected, 1.0);
      kind = share >= 0.98 ? 'f' : share >= 0.5 ? 'p' : 'l';
    }
    if (!groups.empty() && groups.back().kind == kind) {
      DayGroup& g = groups.back();
      g.to = i;
      g.records += records;
      g.fewest = std::min(g.fewest, records);
      g.most = std::max(g.most, records);
      g.expected += expected;
    } else {
      groups.push_back({kind, i, i, records, records, records, expected});
    }
  }
  return groups;
}

std::string DaysSvg(const Calendar& calendar, const std::vector<DayGroup>& groups) {
  const size_t count = calendar.days.size();
  std::string out = "<svg class=\"dy\" viewBox=\"0 0 " + std::to_string(count * 10) +
                    " 10\" preserveAspectRatio=\"none\">";
  for (const DayGroup& g : groups) {
    // One stroke, dashed into one cell a day.
    const size_t n = g.to - g.from + 1;
    const std::string d = "M" + std::to_string(g.from * 10) + " 5h" + std::to_string(n * 10 - 1);
    std::string title = calendar.days[g.from];
    if (n > 1) title += " to " + calendar.days[g.to] + " (" + std::to_string(n) + " days)";
    title += ": ";
    if (g.kind == 'n') {
      title += "before the first record";
    } else {
      title += Grouped(g.records) + (g.records == 1 ? " record" : " records");
      if (g.expected > 0)
        title += " of " + Grouped(static_cast<int64_t>(g.expected + 0.5)) + " expected (" +
                 Fixed(100.0 * static_cast<double>(g.records) / g.expected) + "%)";
      if (n > 1)
        title += ", " +
                 (g.fewest == g.most ? Grouped(g.fewest)
                                     : Grouped(g.fewest) + "\u2013" + Grouped(g.most)) +
                 " a day";
    }
    Shape(out, "path", "d=\"" + d + "\"", g.kind, title);
  }
  return out + "</svg>";
}

std::vector<RunGroup> RunGroups(const std::vector<Journal::Run>& recent) {
  std::vector<RunGroup> groups;
  for (size_t pos = 0; pos < recent.size(); ++pos) {
    const Journal::Run& run = recent[recent.size() - 1 - pos];
    const char kind = RunKind(run.outcome);
    if (groups.empty() || groups.back().kind != kind ||
        groups.back().runs.front()->outcome != run.outcome) {
      groups.push_back({kind, pos, pos, {}});
    }
    groups.back().to = pos;
    groups.back().runs.push_back(&run);
  }
  return groups;
}

std::string RunsSvg(const std::vector<RunGroup>& groups, size_t slots) {
  std::string out = "<svg class=\"rn\" viewBox=\"0 0 " + std::to_string(slots * 20) +
                    " 16\" preserveAspectRatio=\"none\">";
  for (const RunGroup& g : groups) {
    // One stroke, dashed into one mark a run.
    const std::string d =
        "M" + std::to_string(g.from * 20) + " 8h" + std::to_string((g.to - g.from + 1) * 20 - 4);
    Shape(out, "path", "d=\"" + d + "\"", g.kind, GroupTitle(g));
  }
  return out + "</svg>";
}

}  // namespace HtmlCharts
