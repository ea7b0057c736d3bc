// The parts of the status page drawn from synthetic data: text escaping, the
// coverage strip against the missing count, records per day and run marks.
// The whole page is checked in a browser by check-status-page.py.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "HtmlCharts.h"
#include "HtmlText.h"
#include "recovery/RangeSet.h"

namespace {

using RecordRecoveryUtils::RangeEntry;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(HtmlTextTest, EverythingComesOutAsCharacters) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"<script>&\"'", "&lt;script&gt;&amp;&quot;&#39;"},
      {"a\x01\x7f"
       "b\nc\td",
       "a  b\nc\td"},
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 kept
      {"x\xff"
       "y\xC3",
       "x\xEF\xBF\xBDy\xEF\xBF\xBD"},  // stray bytes
      {"\xED\xA0\x80 \xC0\xAF",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate, overlong
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlText::Escaped(c.in), c.out) << c.in;
}

TEST(HtmlChartsTest, CoverageAgreesWithTheMissingCount) {
  const struct {
    std::vector<RangeEntry> received;
    std::optional<int64_t> logged;
    std::string kinds;  // the parts, in order
  } cases[] = {
      {{{1, 50}, {60, 80}, {200, 210}}, 120, "rmrma"},
      {{{1, 50}, {60, 80}}, std::nullopt, "rmr"},
      {{{1, 50}}, 70, "rm"},
      {{{100, 200}}, 50, "a"},  // every received record past the logged count
      {{{1, 2147483647}}, 5000000000, "r"},
      {{{1, 10}}, INT64_MIN, "a"},
  };
  for (const auto& c : cases) {
    const std::vector<HtmlCharts::Segment> parts = HtmlCharts::Coverage(c.received, c.logged);
    std::string kinds;
    int64_t missing = 0, received = 0, total = 0;
    for (const auto& p : parts) {
      kinds += p.kind;
      total += p.last - p.first + 1;
      received += p.received;
      if (p.kind != 'a') missing += p.last - p.first + 1 - p.received;
    }
    EXPECT_EQ(kinds, c.kinds);
    EXPECT_EQ(missing, RecordRecoveryUtils::MissingRecordCount(c.received, c.logged)) << kinds;
    int64_t sent = 0;
    for (const auto& r : c.received) sent += int64_t{r.max} - r.min + 1;
    EXPECT_EQ(received, sent) << kinds;
    EXPECT_EQ(total, parts.back().last - parts.front().first + 1) << kinds;  // no overlap
    EXPECT_NE(HtmlCharts::CoverageSvg(parts, c.logged).find("</svg>"), std::string::npos);
  }

  // Thousands of gaps are merged into few parts that keep every count.
  std::vector<RangeEntry> many;
  for (int32_t i = 0; i < 5000; ++i) many.emplace_back(i * 10 + 1, i * 10 + 8);
  const auto parts = HtmlCharts::Coverage(many, 50000, 200);
  EXPECT_LE(parts.size(), 401u);
  int64_t missing = 0, gaps = 0;
  for (const auto& p : parts) {
    missing += p.last - p.first + 1 - p.received;
    gaps += p.gaps;
  }
  EXPECT_EQ(missing, RecordRecoveryUtils::MissingRecordCount(many, 50000));
  EXPECT_EQ(gaps, 5000);
  const std::string svg = HtmlCharts::CoverageSvg(parts, 50000);
  EXPECT_EQ(Count(svg, "<title>"), parts.size());
  EXPECT_NE(svg.find("<title>records 1\u2013250: 200 received, 50 missing in 25 gaps</title>"),
            std::string::npos)
      << svg.substr(0, 400);
}

TEST(HtmlChartsTest, DaysAreColouredByTheExpectedCount) {
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  // 2026-12-10 06:00 UTC: today is a quarter gone.
  const HtmlCharts::Calendar calendar = HtmlCharts::LastDays(1796882400, 5);
  ASSERT_EQ(calendar.days, (std::vector<std::string>{"2026-12-06", "2026-12-07", "2026-12-08",
                                                     "2026-12-09", "2026-12-10"}));
  EXPECT_EQ(calendar.secondsIntoToday, 6 * 3600);

  // One record an hour: 24 a day expected, 6 so far today.
  const std::vector<DayCount> days = {
      {"2026-12-07", 24}, {"2026-12-08", 24}, {"2026-12-09", 10}, {"2026-12-10", 6}};
  const auto groups = HtmlCharts::DayGroups(calendar, days, 3600);
  std::string kinds;
  for (const auto& g : groups) kinds += g.kind;
  EXPECT_EQ(kinds, "nflf");
  EXPECT_EQ(groups[1].records, 48);
  EXPECT_DOUBLE_EQ(groups[1].expected, 48);
  const std::string svg = HtmlCharts::DaysSvg(calendar, groups);
  EXPECT_NE(svg.find("2026-12-07 to 2026-12-08 (2 days): 48 records of 48 expected (100%), 24 a "
                     "day"),
            std::string::npos)
      << svg;
  EXPECT_NE(svg.find("2026-12-09: 10 records of 24 expected (41.7%)"), std::string::npos);
  EXPECT_NE(svg.find("2026-12-10: 6 records of 6 expected (100%)"), std::string::npos);
  // Every day drawn once: the strokes' lengths cover the 5 cells.
  EXPECT_NE(svg.find("d=\"M0 5h9\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("d=\"M10 5h19\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("d=\"M40 5h9\""), std::string::npos) << svg;

  // Without a usual interval, or with a day of none in between.
  std::string unknown;
  for (const auto& g : HtmlCharts::DayGroups(calendar, {{"2026-12-06", 3}, {"2026-12-08", 1}}, {}))
    unknown += g.kind;
  EXPECT_EQ(unknown, "kzkz");
}

TEST(HtmlChartsTest, RunsInARowWithOneOutcomeShareAMark) {
  auto run = [](const std::string& end, const std::string& outcome) {
    Journal::Run r;
    r.end = end;
    r.outcome = outcome;
    r.durationS = outcome == "complete" ? 6.5 : 2.0;
    r.sessionBytes = outcome == "complete" ? 2048 : 0;
    if (outcome == "fatal") r.fatal = "Connect(): <quitting>";
    return r;
  };
  // Newest first, as the journal reader gives them.
  std::vector<Journal::Run> recent = {run("2026-12-10T06:00:00+00:00", "fatal")};
  for (int h = 5; h >= 0; --h)
    recent.push_back(run("2026-12-10T0" + std::to_string(h) + ":00:00+00:00", "complete"));
  recent.push_back(run("2026-12-09T23:00:00+00:00", "no-prompt"));
  const auto groups = HtmlCharts::RunGroups(recent);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].kind, 'p');
  EXPECT_EQ(groups[1].from, 1u);
  EXPECT_EQ(groups[1].to, 6u);
  const std::string svg = HtmlCharts::RunsSvg(groups, 50);
  // One stroke a group, dashed into one mark a run: 1 + 6 + 1.
  EXPECT_NE(svg.find("d=\"M0 8h16\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("d=\"M20 8h116\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("d=\"M140 8h16\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("6 runs complete, 2026-12-10 00:00:00 to 2026-12-10 05:00:00, 6.5 s, 12.0 "
                     "KiB in all"),
            std::string::npos)
      << svg;
  EXPECT_NE(svg.find("2026-12-10 06:00:00 fatal, 2 s, 0 B: Connect(): &lt;quitting&gt;"),
            std::string::npos)
      << svg;
}

}  // namespace
