#pragma once
// pelox5-status's page: one self-contained HTML file (inline CSS and SVG, no
// script, nothing fetched) with the fleet table, then a section per
// deployment with its record coverage, records per day, run history and last
// extraction. Its figures are those of the text and JSON reports.

#include <cstdint>
#include <string>
#include <vector>

#include "DeploymentStatus.h"

namespace HtmlReport {

// What CollectStatus needs to gather for the page.
inline constexpr size_t kRuns = 50;
inline constexpr int kDays = 90;
Detail PageDetail(int64_t now);

// The page's head (style and policy included) and its heading, as of `now`;
// and `now` as the page shows it. Shared with the central fleet's page.
std::string PageStart(const std::string& heading, int64_t now);
std::string AsOf(int64_t now);

// The page for `list` as of `now` (unix seconds; days are local days).
std::string Page(const std::vector<DeploymentStatus>& list, int64_t now);

}  // namespace HtmlReport
