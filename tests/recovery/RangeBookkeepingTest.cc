#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "recovery/RangeSet.h"
#include "recovery/RecordLog.h"

using RecordRecoveryUtils::RangeEntry;
using RecordRecoveryUtils::RecordLog;
using Ranges = std::vector<RangeEntry>;

namespace {

constexpr int32_t kTop = 2147483647;

// A log holding `ranges`, normalised.
RecordLog Normalised(Ranges ranges) {
  RecordLog log("unused.rcd");
  log.receivedRanges = std::move(ranges);
  log.cleanupRanges();
  return log;
}

}  // namespace

TEST(RangeBookkeeping, NormalisationMergesOverlapsAndNeighbours) {
  EXPECT_EQ(Normalised({{1, 5}, {7, 7}, {9, 9}}).receivedRanges, (Ranges{{1, 5}, {7, 7}, {9, 9}}));
  EXPECT_EQ(Normalised({{1, 5}, {4, 8}, {9, 9}}).receivedRanges, (Ranges{{1, 9}}));
  EXPECT_EQ(Normalised({{3, 3}, {4, 6}}).receivedRanges, (Ranges{{3, 6}}));
  EXPECT_EQ(Normalised({{20, 30}, {0, 4}, {22, 25}, {0, 4}, {6, 6}, {31, 31}}).receivedRanges,
            (Ranges{{0, 4}, {6, 6}, {20, 31}}));

  RecordLog log = Normalised({{40, 50}, {10, 12}, {5, 3}});
  EXPECT_EQ(log.receivedRanges, (Ranges{{10, 12}, {40, 50}}));  // the inverted range covers nothing
  EXPECT_EQ(log.mFirstRecord, 10);
  EXPECT_EQ(log.mLastRecord, 50);
}

TEST(RangeBookkeeping, MissingRangesStartFromZeroAndStopAtTheLastRange) {
  EXPECT_EQ(Normalised({{0, 9}, {20, 29}}).missingRanges, (Ranges{{10, 19}}));
  EXPECT_EQ(Normalised({{5, 9}}).missingRanges, (Ranges{{0, 4}}));
  EXPECT_EQ(Normalised({{0, 9}}).missingRanges, Ranges{});
  EXPECT_EQ(Normalised({{5, 9}, {12, 12}, {14, 20}}).missingRanges,
            (Ranges{{0, 4}, {10, 11}, {13, 13}}));

  RecordLog empty("unused.rcd");
  empty.missingRanges = {{1, 2}};
  empty.refreshMissingRangeList();
  EXPECT_TRUE(empty.missingRanges.empty());
}

TEST(RangeBookkeeping, ExtremesOfTheRecordNumbersNeverWrap) {
  RecordLog whole = Normalised({{0, kTop}});
  EXPECT_EQ(whole.receivedRanges, (Ranges{{0, kTop}}));
  EXPECT_TRUE(whole.missingRanges.empty());
  EXPECT_EQ(whole.mLastRecord, kTop);

  RecordLog top = Normalised({{kTop, kTop}, {0, 0}});
  EXPECT_EQ(top.receivedRanges, (Ranges{{0, 0}, {kTop, kTop}}));
  EXPECT_EQ(top.missingRanges, (Ranges{{1, kTop - 1}}));

  EXPECT_EQ(Normalised({{kTop, kTop}}).missingRanges, (Ranges{{0, kTop - 1}}));
  EXPECT_EQ(Normalised({{10, kTop - 1}, {kTop, kTop}}).receivedRanges, (Ranges{{10, kTop}}));
  EXPECT_EQ(Normalised({{0, 2000000000}, {kTop - 7, kTop}}).missingRanges,
            (Ranges{{2000000001, kTop - 8}}));
}

TEST(RangeBookkeeping, NormalisesAMillionShuffledRanges) {
  Ranges ranges;
  for (int32_t i = 0; i < 1000000; ++i) ranges.emplace_back(i * 2000, i * 2000 + 999);
  std::mt19937 random(7);
  std::shuffle(ranges.begin(), ranges.end(), random);
  ranges.emplace_back(0, 0);
  ranges.emplace_back(1000, 1999);  // bridges the first two

  RecordLog log = Normalised(std::move(ranges));
  ASSERT_EQ(log.receivedRanges.size(), 999999u);
  EXPECT_EQ(log.receivedRanges.front(), RangeEntry(0, 2999));
  EXPECT_EQ(log.receivedRanges.back(), RangeEntry(1999998000, 1999998999));
  EXPECT_EQ(log.missingRanges.size(), 999998u);
  EXPECT_EQ(log.missingRanges.front(), RangeEntry(3000, 3999));
}

TEST(RangeBookkeeping, CollectedNumbersComeOutMerged) {
  // Every number from 0 to 99999 but the multiples of 1000, shuffled: the
  // collector merges along the way and must lose nothing doing so.
  std::vector<int32_t> shuffled;
  Ranges thousands;
  for (int32_t n = 0; n < 100000; ++n)
    if (n % 1000 != 0) shuffled.push_back(n);
  for (int32_t n = 0; n < 100000; n += 1000) thousands.emplace_back(n + 1, n + 999);
  std::mt19937 random(11);
  std::shuffle(shuffled.begin(), shuffled.end(), random);
  const std::vector<std::pair<std::vector<int32_t>, Ranges>> cases{
      {{1, 2, 3, 4, 5, 7}, {{1, 5}, {7, 7}}},
      {{5, 4, 3, 1}, {{1, 1}, {3, 5}}},
      {{3, 3, 2, 3, 4}, {{2, 4}}},
      {{kTop - 1, kTop, 0}, {{0, 0}, {kTop - 1, kTop}}},
      {shuffled, thousands},
  };
  for (const auto& [numbers, expected] : cases) {
    RecordRecoveryUtils::RangeCollector collector;
    for (int32_t n : numbers) collector.Add(n);
    EXPECT_EQ(collector.Ranges(), expected) << numbers.size() << " numbers";
  }
}

TEST(RangeBookkeeping, AddRecordExtendsInsertsAndMerges) {
  RecordLog log = Normalised({{0, 9}});
  log.addRecordToRanges(10);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 10}}));

  log = Normalised({{0, 9}});
  log.addRecordToRanges(12);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 9}, {12, 12}}));
  EXPECT_EQ(log.mLastRecord, 12);
  log.addRecordToRanges(11);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 9}, {11, 12}}));
  log.addRecordToRanges(10);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 12}}));
  EXPECT_TRUE(log.missingRanges.empty());

  log = Normalised({{5, 9}, {20, 29}});
  log.addRecordToRanges(4);   // just below the first range
  log.addRecordToRanges(1);   // well below it
  log.addRecordToRanges(15);  // inside a gap
  log.addRecordToRanges(7);   // already there
  log.addRecordToRanges(-3);  // never a record
  EXPECT_EQ(log.receivedRanges, (Ranges{{1, 1}, {4, 9}, {15, 15}, {20, 29}}));
  EXPECT_EQ(log.missingRanges, (Ranges{{0, 0}, {2, 3}, {10, 14}, {16, 19}}));
}

TEST(RangeBookkeeping, AddRecordAtTheEdges) {
  RecordLog empty("unused.rcd");
  empty.addRecordToRanges(0);
  EXPECT_EQ(empty.receivedRanges, (Ranges{{0, 0}}));

  RecordLog other("unused.rcd");
  other.addRecordToRanges(1);
  EXPECT_EQ(other.receivedRanges, (Ranges{{1, 1}}));
  EXPECT_EQ(other.missingRanges, (Ranges{{0, 0}}));

  RecordLog top("unused.rcd");
  top.addRecordToRanges(kTop);
  EXPECT_EQ(top.receivedRanges, (Ranges{{kTop, kTop}}));
  top.addRecordToRanges(kTop);
  EXPECT_EQ(top.receivedRanges.size(), 1u);

  RecordLog below = Normalised({{0, kTop - 1}});
  below.addRecordToRanges(kTop);
  EXPECT_EQ(below.receivedRanges, (Ranges{{0, kTop}}));
  EXPECT_TRUE(below.missingRanges.empty());
}

TEST(RangeBookkeeping, AddRangeCoversAnySpanAtOnce) {
  RecordLog log = Normalised({{5, 9}, {3000000, 3000010}});
  log.addRangeToRanges(0, 2000000000);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 2000000000}}));
  log.addRangeToRanges(2000000002, kTop);
  EXPECT_EQ(log.missingRanges, (Ranges{{2000000001, 2000000001}}));
  log.addRangeToRanges(7, 3);
  log.addRangeToRanges(-5, 3);
  EXPECT_EQ(log.receivedRanges, (Ranges{{0, 2000000000}, {2000000002, kTop}}));
}
