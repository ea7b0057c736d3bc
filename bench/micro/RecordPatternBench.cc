// The record pattern's engine: PCRE2 (as pelox5-extract uses it, through
// Records::RecordPattern) against std::regex, on session-like lines, with the
// default pattern and with a user pattern that is not anchored.

#include <benchmark/benchmark.h>

#include <regex>
#include <string>
#include <vector>

#include "records/RecordPattern.h"

namespace {

constexpr const char* kUnanchored = "2026-[0-9-]+ [0-9:]+,([0-9]+)\\.";
// std::regex has no \t in a bracket the same way; the same set written out.
constexpr const char* kDefaultStd = "^[A-Za-z]?([0-9]+)[,; \t]";

const std::vector<std::string>& Lines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> out;
    char line[160];
    for (int n = 1; n <= 10000; ++n) {
      std::snprintf(line, sizeof line,
                    "R%06d,2026-01-01 %02d:%02d:00,%d.%02d,%d.%02d,%d,padding to a hundred bytes",
                    n, (n / 60) % 24, n % 60, n % 100, n % 97, n % 10, n % 89, n % 1000);
      out.emplace_back(line);
    }
    return out;
  }();
  return lines;
}

void Pcre2(benchmark::State& state, const char* pattern) {
  std::string error;
  auto compiled = Records::RecordPattern::Compile(pattern, error);
  if (!compiled) state.SkipWithError(error.c_str());
  int64_t found = 0;
  for (auto _ : state)
    for (const std::string& line : Lines()) found += compiled->Number(line).has_value();
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Lines().size()));
}

void StdRegex(benchmark::State& state, const char* pattern) {
  const std::regex re(pattern, std::regex::ECMAScript | std::regex::optimize);
  int64_t found = 0;
  std::cmatch m;
  for (auto _ : state)
    for (const std::string& line : Lines())
      found += std::regex_search(line.data(), line.data() + line.size(), m, re) && m[1].matched;
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Lines().size()));
}

BENCHMARK_CAPTURE(Pcre2, default_pattern, Records::kDefaultRecordPattern);
BENCHMARK_CAPTURE(StdRegex, default_pattern, kDefaultStd);
BENCHMARK_CAPTURE(Pcre2, unanchored, kUnanchored);
BENCHMARK_CAPTURE(StdRegex, unanchored, kUnanchored);

}  // namespace

BENCHMARK_MAIN();
